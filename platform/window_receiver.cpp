#include "platform/window_receiver.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/root.h"
#include "platform/window_handle.h"
#include "platform/window_table.h"
#include "platform/window_wire.h"

namespace platform::wnd {
namespace {

// A sender that stops half-way through its request is dropped after this.
constexpr auto kIdleLimit = std::chrono::seconds(10);
// At most this many requests are read at the same time.
constexpr size_t kMaximumConnections = 256;

// Answers a sent message on its connection; closing it unanswered tells the
// sender that the message was not handled.
class SocketReply : public ReplyTarget {
 public:
  explicit SocketReply(int fd) : fd_(fd) {}
  ~SocketReply() override {
    if (fd_ >= 0) close(fd_);
  }
  void answer(LResult result) override {
    if (fd_ < 0) return;
    WireReply reply;
    reply.handled = 1;
    reply.result = result;
    // 16 bytes into an unused connection: the socket buffer takes them at once.
    [[maybe_unused]] ssize_t n = send(fd_, &reply, sizeof reply, MSG_NOSIGNAL | MSG_DONTWAIT);
    close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

struct Connection {
  int fd = -1;
  WireRequest header;
  size_t headerBytes = 0;
  std::vector<std::byte> block;
  std::chrono::steady_clock::time_point deadline;
};

void answerNow(int fd, bool handled) {
  WireReply reply;
  reply.handled = handled ? 1 : 0;
  [[maybe_unused]] ssize_t n = send(fd, &reply, sizeof reply, MSG_NOSIGNAL | MSG_DONTWAIT);
  close(fd);
}

bool headerAcceptable(const WireRequest& h) {
  if (h.magic != kRequestMagic) return false;
  if (h.kind != kRequestPost && h.kind != kRequestSend) return false;
  if ((h.flags & ~kFlagCopyData) != 0) return false;
  if (h.copyDataSize > kMaximumCopyData) return false;
  if (!(h.flags & kFlagCopyData) && h.copyDataSize != 0) return false;
  // A copy-data block is only ever sent, never posted.
  if ((h.flags & kFlagCopyData) && (h.kind != kRequestSend || h.message != kWmCopyData)) return false;
  return true;
}

// Hands a complete request to the thread that owns its window; takes the connection.
void route(Connection& c) {
  const WireRequest& h = c.header;
  WindowHandle window = handleFromValue(h.window);
  auto record = handleProcessId(window) == ownProcessId() ? findWindowRecord(window) : std::nullopt;
  if (!record) {
    answerNow(c.fd, false);
    return;
  }
  if (h.kind == kRequestPost) {
    Message m{window, h.message, static_cast<WParam>(h.wParam), static_cast<LParam>(h.lParam)};
    // The receipt goes out before the owning thread can take the message:
    // handling it may end this process at once (WM_CLOSE), and the sender
    // must not take the closed connection for a refusal.
    int fd = c.fd;
    bool queued = h.message != kWmCopyData && record->owner->post(m, [fd] { answerNow(fd, true); });
    if (!queued) answerNow(fd, false);
    return;
  }
  auto sent = std::make_unique<SentMessage>();
  sent->window = window;
  sent->message = h.message;
  sent->wParam = static_cast<WParam>(h.wParam);
  sent->lParam = static_cast<LParam>(h.lParam);
  if (h.flags & kFlagCopyData) {
    sent->carriesCopyData = true;
    sent->copyDataTag = static_cast<uintptr_t>(h.copyDataTag);
    sent->copyData = std::move(c.block);
  } else if (h.message == kWmCopyData) {
    sent->lParam = 0;  // a pointer of another process means nothing here
  }
  sent->reply = std::make_unique<SocketReply>(c.fd);
  record->owner->deliverSent(std::move(sent));
}

class Receiver {
 public:
  bool acquire(const std::string& runtimeDir) {
    std::lock_guard lock(mutex_);
    if (auto it = listeners_.find(runtimeDir); it != listeners_.end()) {
      ++it->second.refs;
      return true;
    }
    if (!ensureDirectory(runtimeDir + "/wnd")) return false;
    if (wakeFd_ < 0) {
      wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
      if (wakeFd_ < 0) return false;
    }
    std::string path = socketPath(runtimeDir, ownProcessId());
    int fd = listenAt(path);
    if (fd < 0) return false;
    if (!started_) {
      try {
        std::thread([this] { run(); }).detach();
      } catch (...) {
        close(fd);
        unlink(path.c_str());
        return false;
      }
      started_ = true;
    }
    listeners_[runtimeDir] = Listener{fd, path, 1};
    wakeLocked();
    return true;
  }

  void release(const std::string& runtimeDir) {
    std::lock_guard lock(mutex_);
    auto it = listeners_.find(runtimeDir);
    if (it == listeners_.end() || --it->second.refs > 0) return;
    unlink(it->second.path.c_str());
    retired_.push_back(it->second.fd);  // closed by the receiver thread, which polls it
    listeners_.erase(it);
    wakeLocked();
  }

 private:
  struct Listener {
    int fd;
    std::string path;
    int refs;
  };

  void wakeLocked() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
  }

  void run() {
    std::vector<Connection> connections;
    std::vector<pollfd> fds;
    for (;;) {
      int wakeFd;
      size_t listenerCount;
      fds.clear();
      {
        std::lock_guard lock(mutex_);
        for (int fd : retired_) close(fd);
        retired_.clear();
        wakeFd = wakeFd_;
        fds.push_back(pollfd{wakeFd, POLLIN, 0});
        for (const auto& [dir, listener] : listeners_) fds.push_back(pollfd{listener.fd, POLLIN, 0});
        listenerCount = listeners_.size();
      }
      auto now = std::chrono::steady_clock::now();
      int timeoutMs = -1;
      for (const Connection& c : connections) {
        fds.push_back(pollfd{c.fd, POLLIN, 0});
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(c.deadline - now).count() + 1;
        int ms = static_cast<int>(left < 0 ? 0 : left);
        if (timeoutMs < 0 || ms < timeoutMs) timeoutMs = ms;
      }
      if (poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR) continue;

      if (fds[0].revents & POLLIN) {
        uint64_t count;
        [[maybe_unused]] ssize_t n = read(wakeFd, &count, sizeof count);
      }
      // Reads before accepting, so that indexes into fds stay valid.
      std::vector<Connection> remaining;
      now = std::chrono::steady_clock::now();
      for (size_t i = 0; i < connections.size(); ++i) {
        Connection& c = connections[i];
        short events = fds[1 + listenerCount + i].revents;
        int state = events ? readFrom(c) : 0;  // 1 complete, -1 dropped
        if (state > 0) {
          route(c);
        } else if (state < 0 || now >= c.deadline) {
          close(c.fd);
        } else {
          remaining.push_back(std::move(c));
        }
      }
      connections.swap(remaining);
      for (size_t i = 0; i < listenerCount; ++i) {
        if (fds[1 + i].revents & POLLIN) acceptFrom(fds[1 + i].fd, connections);
      }
    }
  }

  static void acceptFrom(int listenFd, std::vector<Connection>& connections) {
    for (;;) {
      int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return;
      }
      if (connections.size() >= kMaximumConnections) {
        close(fd);  // the sender sees the connection end: not delivered
        continue;
      }
      Connection c;
      c.fd = fd;
      c.deadline = std::chrono::steady_clock::now() + kIdleLimit;
      connections.push_back(std::move(c));
    }
  }

  // Reads what has arrived: 1 when the request is complete, 0 for more to
  // come, -1 when the connection ended or carries something else.
  static int readFrom(Connection& c) {
    for (;;) {
      ssize_t n;
      if (c.headerBytes < sizeof c.header) {
        n = recv(c.fd, reinterpret_cast<char*>(&c.header) + c.headerBytes, sizeof c.header - c.headerBytes, 0);
        if (n > 0) {
          c.headerBytes += static_cast<size_t>(n);
          if (c.headerBytes == sizeof c.header && !headerAcceptable(c.header)) return -1;
        }
      } else {
        size_t want = c.header.copyDataSize - c.block.size();
        if (want == 0) return 1;
        char buffer[65536];
        n = recv(c.fd, buffer, std::min(want, sizeof buffer), 0);
        if (n > 0) {
          auto* bytes = reinterpret_cast<const std::byte*>(buffer);
          c.block.insert(c.block.end(), bytes, bytes + n);
        }
      }
      if (n > 0) {
        c.deadline = std::chrono::steady_clock::now() + kIdleLimit;
        if (c.headerBytes == sizeof c.header && c.block.size() == c.header.copyDataSize) return 1;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
      return -1;
    }
  }

  std::mutex mutex_;
  std::map<std::string, Listener> listeners_;
  std::vector<int> retired_;
  int wakeFd_ = -1;
  bool started_ = false;
};

// Never destroyed: its thread runs until the process ends.
Receiver& receiver() {
  static Receiver* r = new Receiver;
  return *r;
}

}  // namespace

bool acquireReceiver(const std::string& runtimeDir) { return receiver().acquire(runtimeDir); }
void releaseReceiver(const std::string& runtimeDir) { receiver().release(runtimeDir); }

}  // namespace platform::wnd
