#include "platform/window_remote.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/root.h"
#include "platform/window_handle.h"
#include "platform/window_table.h"
#include "platform/window_wire.h"

namespace platform::wnd {
namespace {

// The receiving process answers a post at once; this only bounds a peer
// that is stopped or stuck.
constexpr int kPostAnswerTimeoutMs = 10000;

int connectToOwner(WindowHandle window) {
  return connectTo(socketPath(runtimeDir(), handleProcessId(window)));
}

WireRequest requestFor(uint32_t kind, WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  WireRequest request;
  request.kind = kind;
  request.window = handleValue(window);
  request.message = message;
  request.wParam = static_cast<uint64_t>(wParam);
  request.lParam = static_cast<int64_t>(lParam);
  return request;
}

bool replyHandled(const WireReply& reply) { return reply.magic == kReplyMagic && reply.handled == 1; }

// Waits for the answer on fd while serving the messages other threads and
// processes send to the calling thread, so that two threads sending to each
// other do not wait for each other forever.
bool awaitReply(int fd, WireReply& reply) {
  auto queue = currentQueue();
  int wake = queue->sentWakeDescriptor();
  for (;;) {
    queue->drainSentWake();
    handleSentMessages(*queue);
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
    int r = poll(fds, wake >= 0 ? 2 : 1, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[0].revents) return receiveAll(fd, &reply, sizeof reply, kPostAnswerTimeoutMs);
  }
}

}  // namespace

bool remotePost(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  int fd = connectToOwner(window);
  if (fd < 0) return false;
  WireRequest request = requestFor(kRequestPost, window, message, wParam, lParam);
  WireReply reply;
  bool ok = sendAll(fd, &request, sizeof request) && receiveAll(fd, &reply, sizeof reply, kPostAnswerTimeoutMs) &&
            replyHandled(reply);
  close(fd);
  return ok;
}

LResult remoteSend(WindowHandle window, uint32_t message, WParam wParam, LParam lParam, const CopyDataView& block) {
  int fd = connectToOwner(window);
  if (fd < 0) return 0;
  WireRequest request = requestFor(kRequestSend, window, message, wParam, lParam);
  if (block.present) {
    request.flags = kFlagCopyData;
    request.lParam = 0;
    request.copyDataTag = block.tag;
    request.copyDataSize = static_cast<uint32_t>(block.bytes.size());
  }
  WireReply reply;
  bool ok = sendAll(fd, &request, sizeof request) &&
            (block.bytes.empty() || sendAll(fd, block.bytes.data(), block.bytes.size())) && awaitReply(fd, reply) &&
            replyHandled(reply);
  close(fd);
  return ok ? static_cast<LResult>(reply.result) : 0;
}

}  // namespace platform::wnd
