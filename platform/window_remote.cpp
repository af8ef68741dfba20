#include "platform/window_remote.h"

#include <poll.h>

#include <cerrno>

#include "platform/root.h"
#include "platform/window_connection.h"
#include "platform/window_handle.h"
#include "platform/window_table.h"
#include "platform/window_wire.h"

namespace platform::wnd {
namespace {

// The socket of the process that owns the window, under this process's runtime folder.
std::string ownerPath(WindowHandle window) { return socketPath(runtimeDir(), handleProcessId(window)); }

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

// A reply read whole and of the right kind leaves the connection fit for the next request.
ExchangeResult readReplyOn(int fd, WireReply& reply) {
  return readReply(fd, &reply, sizeof reply) && reply.magic == kReplyMagic ? ExchangeResult::Done
                                                                           : ExchangeResult::Failed;
}

// Waits for the answer on fd while serving the messages other threads and
// processes send to the calling thread, so that two threads sending to each
// other do not wait for each other forever. A message sent from inside that
// to the same process goes on a connection of its own (window_connection.h).
ExchangeResult awaitReply(int fd, WireReply& reply) {
  auto queue = currentQueue();
  int wake = queue->sentWakeDescriptor();
  for (;;) {
    queue->drainSentWake();
    handleSentMessages(*queue);
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
    int r = poll(fds, wake >= 0 ? 2 : 1, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      return ExchangeResult::Failed;
    }
    if (fds[0].revents) return readReplyOn(fd, reply);
  }
}

}  // namespace

bool remotePost(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  WireRequest request = requestFor(kRequestPost, window, message, wParam, lParam);
  WireReply reply;
  bool ok = exchangeOnConnection(ownerPath(window), [&](int fd) {
    ExchangeResult written = writeRequest(fd, &request, sizeof request, nullptr, 0);
    return written == ExchangeResult::Done ? readReplyOn(fd, reply) : written;
  });
  return ok && replyHandled(reply);
}

LResult remoteSend(WindowHandle window, uint32_t message, WParam wParam, LParam lParam, const CopyDataView& block) {
  WireRequest request = requestFor(kRequestSend, window, message, wParam, lParam);
  if (block.present) {
    request.flags = kFlagCopyData;
    request.lParam = 0;
    request.copyDataTag = block.tag;
    request.copyDataSize = static_cast<uint32_t>(block.bytes.size());
  }
  WireReply reply;
  bool ok = exchangeOnConnection(ownerPath(window), [&](int fd) {
    ExchangeResult written = writeRequest(fd, &request, sizeof request, block.bytes.data(), block.bytes.size());
    return written == ExchangeResult::Done ? awaitReply(fd, reply) : written;
  });
  return ok && replyHandled(reply) ? static_cast<LResult>(reply.result) : 0;
}

}  // namespace platform::wnd
