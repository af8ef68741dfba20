#include "platform/window_receiver.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
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
constexpr auto kDefaultIdleLimit = std::chrono::milliseconds(10000);
// At most this many connections are kept at the same time.
constexpr size_t kDefaultMaximumConnections = 256;

std::atomic<size_t> g_maximumConnections{kDefaultMaximumConnections};
std::atomic<int64_t> g_idleLimitMs{kDefaultIdleLimit.count()};

// One accepted connection. The receiver thread reads the requests; a sent
// message waiting for its window's thread holds a share too and writes its
// reply from there. The descriptor is closed when both are done with it, so
// a reply never goes to a descriptor number that was closed and reused.
class Channel {
 public:
  explicit Channel(int fd) : fd_(fd) {}
  ~Channel() { close(fd_); }
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;
  int fd() const { return fd_; }
  // The sender reads one reply per request before it writes the next, so
  // the 16 bytes always find room in the socket buffer.
  void reply(bool handled, LResult result) const {
    WireReply reply;
    reply.handled = handled ? 1 : 0;
    reply.result = result;
    [[maybe_unused]] ssize_t n = send(fd_, &reply, sizeof reply, MSG_NOSIGNAL | MSG_DONTWAIT);
  }

 private:
  const int fd_;
};

// Answers a sent message on its connection; dropped unanswered (the thread
// or its queue ended), it tells the sender that the message was not handled.
class SocketReply : public ReplyTarget {
 public:
  explicit SocketReply(std::shared_ptr<Channel> channel) : channel_(std::move(channel)) {}
  ~SocketReply() override {
    if (channel_) channel_->reply(false, 0);
  }
  void answer(LResult result) override {
    if (!channel_) return;
    channel_->reply(true, result);
    channel_.reset();
  }

 private:
  std::shared_ptr<Channel> channel_;
};

struct Connection {
  std::shared_ptr<Channel> channel;
  uint64_t listener = 0;  // the serial of the listener that accepted it
  WireRequest header;
  size_t headerBytes = 0;
  std::vector<std::byte> block;
  std::chrono::steady_clock::time_point deadline;  // while a request is incomplete
  uint64_t lastUse = 0;                            // for choosing the idle one to end
  bool ending = false;  // shut for reading: it ends once what was sent before is read

  bool midRequest() const { return headerBytes > 0; }
  int fd() const { return channel->fd(); }
};

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

// Hands a complete request to the thread that owns its window.
void route(Connection& c, uint32_t processId) {
  const WireRequest& h = c.header;
  WindowHandle window = handleFromValue(h.window);
  auto record = handleProcessId(window) == processId ? findWindowRecord(window) : std::nullopt;
  if (!record) {
    c.channel->reply(false, 0);
    return;
  }
  if (h.kind == kRequestPost) {
    Message m{window, h.message, static_cast<WParam>(h.wParam), static_cast<LParam>(h.lParam)};
    // The receipt goes out before the owning thread can take the message:
    // handling it may end this process at once (WM_CLOSE), and the sender
    // must not take the closed connection for a refusal.
    Channel* channel = c.channel.get();
    bool queued = h.message != kWmCopyData && record->owner->post(m, [channel] { channel->reply(true, 0); });
    if (!queued) channel->reply(false, 0);
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
  sent->reply = std::make_unique<SocketReply>(c.channel);
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
        uint32_t processId = ownProcessId();
        std::thread([this, processId] { run(processId); }).detach();
      } catch (...) {
        close(fd);
        unlink(path.c_str());
        return false;
      }
      started_ = true;
    }
    listeners_[runtimeDir] = Listener{fd, path, 1, ++listenerSerial_};
    wakeLocked();
    return true;
  }

  void release(const std::string& runtimeDir) {
    std::lock_guard lock(mutex_);
    auto it = listeners_.find(runtimeDir);
    if (it == listeners_.end() || --it->second.refs > 0) return;
    unlink(it->second.path.c_str());
    // Closed by the receiver thread, which polls it; the connections it
    // accepted end too, so that senders find the process gone from there.
    retired_.push_back(Retired{it->second.fd, it->second.serial});
    listeners_.erase(it);
    wakeLocked();
  }

 private:
  struct Listener {
    int fd;
    std::string path;
    int refs;
    uint64_t serial;
  };
  struct Retired {
    int fd;
    uint64_t serial;
  };

  void wakeLocked() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
  }

  void run(uint32_t processId) {
    processId_ = processId;
    std::vector<pollfd> fds;
    std::vector<uint64_t> listenerSerials;
    for (;;) {
      int wakeFd;
      fds.clear();
      listenerSerials.clear();
      {
        std::lock_guard lock(mutex_);
        for (const Retired& r : retired_) {
          close(r.fd);
          for (Connection& c : connections_) {
            if (c.listener == r.serial) endConnection(c);
          }
        }
        retired_.clear();
        wakeFd = wakeFd_;
        fds.push_back(pollfd{wakeFd, POLLIN, 0});
        for (const auto& [dir, listener] : listeners_) {
          fds.push_back(pollfd{listener.fd, POLLIN, 0});
          listenerSerials.push_back(listener.serial);
        }
      }
      size_t listenerCount = listenerSerials.size();
      auto now = std::chrono::steady_clock::now();
      int timeoutMs = -1;
      for (const Connection& c : connections_) {
        fds.push_back(pollfd{c.fd(), POLLIN, 0});
        if (!c.midRequest()) continue;
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
      now = std::chrono::steady_clock::now();
      size_t kept = 0;
      for (size_t i = 0; i < connections_.size(); ++i) {
        Connection& c = connections_[i];
        bool keep = fds[1 + listenerCount + i].revents ? readFrom(c) : true;
        if (keep && c.midRequest() && now >= c.deadline) keep = false;
        if (keep) {
          if (kept != i) connections_[kept] = std::move(c);
          ++kept;
        }
      }
      connections_.resize(kept);
      for (size_t i = 0; i < listenerCount; ++i) {
        if (fds[1 + i].revents & POLLIN) acceptFrom(fds[1 + i].fd, listenerSerials[i]);
      }
    }
  }

  void acceptFrom(int listenFd, uint64_t listenerSerial) {
    for (;;) {
      int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return;
      }
      if (!makeRoom()) {
        close(fd);  // the sender sees the connection end: not delivered
        continue;
      }
      Connection c;
      c.channel = std::make_shared<Channel>(fd);
      c.listener = listenerSerial;
      c.lastUse = ++uses_;
      connections_.push_back(std::move(c));
    }
  }

  // Below the limit, or an idle connection ended to get there; false when
  // every connection is in the middle of a request.
  bool makeRoom() {
    size_t limit = g_maximumConnections.load(std::memory_order_relaxed);
    for (;;) {
      size_t open = 0;
      Connection* oldestIdle = nullptr;
      for (Connection& c : connections_) {
        if (c.ending) continue;
        ++open;
        if (!c.midRequest() && (!oldestIdle || c.lastUse < oldestIdle->lastUse)) oldestIdle = &c;
      }
      if (open < limit) return true;
      if (!oldestIdle) return false;
      endConnection(*oldestIdle);
    }
  }

  // Stops the sender's further writes at once (they fail: not delivered);
  // a request it wrote before is still read and answered, then the
  // connection ends at its end of data.
  static void endConnection(Connection& c) {
    if (c.ending) return;
    c.ending = true;
    shutdown(c.fd(), SHUT_RD);
  }

  // Reads what has arrived and hands on every complete request; false when
  // the connection ended or carries something else.
  bool readFrom(Connection& c) {
    for (;;) {
      ssize_t n = recv(c.fd(), scratch_.data(), scratch_.size(), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
      if (n == 0) return false;
      if (!take(c, scratch_.data(), static_cast<size_t>(n))) return false;
      if (c.midRequest()) {
        c.deadline = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(g_idleLimitMs.load(std::memory_order_relaxed));
      }
      // A short read took all there was; poll tells when more comes.
      if (static_cast<size_t>(n) < scratch_.size()) return true;
    }
  }

  // Feeds received bytes into the request being read; false on a request
  // this receiver does not take.
  bool take(Connection& c, const std::byte* bytes, size_t size) {
    while (size > 0) {
      size_t n;
      if (c.headerBytes < sizeof c.header) {
        n = std::min(size, sizeof c.header - c.headerBytes);
        std::memcpy(reinterpret_cast<std::byte*>(&c.header) + c.headerBytes, bytes, n);
        c.headerBytes += n;
        if (c.headerBytes == sizeof c.header && !headerAcceptable(c.header)) return false;
      } else {
        n = std::min(size, c.header.copyDataSize - c.block.size());
        c.block.insert(c.block.end(), bytes, bytes + n);
      }
      bytes += n;
      size -= n;
      if (c.headerBytes == sizeof c.header && c.block.size() == c.header.copyDataSize) {
        route(c, processId_);
        c.headerBytes = 0;
        c.block = {};
        c.lastUse = ++uses_;
      }
    }
    return true;
  }

  std::mutex mutex_;
  std::map<std::string, Listener> listeners_;
  std::vector<Retired> retired_;
  uint64_t listenerSerial_ = 0;
  int wakeFd_ = -1;
  bool started_ = false;

  // The receiver thread's own.
  std::vector<Connection> connections_;
  std::vector<std::byte> scratch_ = std::vector<std::byte>(65536);
  uint64_t uses_ = 0;
  uint32_t processId_ = 0;
};

// Never destroyed: its thread runs until the process ends.
Receiver& receiver() {
  static Receiver* r = new Receiver;
  return *r;
}

}  // namespace

bool acquireReceiver(const std::string& runtimeDir) { return receiver().acquire(runtimeDir); }
void releaseReceiver(const std::string& runtimeDir) { receiver().release(runtimeDir); }

void setReceiverLimits(size_t maximumConnections, std::chrono::milliseconds idleLimit) {
  g_maximumConnections.store(maximumConnections, std::memory_order_relaxed);
  g_idleLimitMs.store(idleLimit.count(), std::memory_order_relaxed);
}

void resetReceiverLimits() { setReceiverLimits(kDefaultMaximumConnections, kDefaultIdleLimit); }

}  // namespace platform::wnd
