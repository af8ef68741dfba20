#include "platform/window_connection.h"

#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <vector>

#include "platform/window_wire.h"

namespace platform::wnd {
namespace {

// Idle connections a thread keeps at most; beyond that the one unused
// longest is closed (a nested send leaves a second connection to a process).
constexpr size_t kMaximumIdle = 8;

// Counts fork()s, so that a child does not write into its parent's connections.
std::atomic<uint64_t> g_forkGeneration{0};

void countFork() { g_forkGeneration.fetch_add(1, std::memory_order_relaxed); }

struct Lease {
  int fd = -1;
  uint64_t id = 0;
  bool reused = false;
};

class ThreadConnections {
 public:
  ThreadConnections() : generation_(g_forkGeneration.load(std::memory_order_relaxed)) {}
  ~ThreadConnections() {
    for (const Entry& e : entries_) close(e.fd);
  }
  ThreadConnections(const ThreadConnections&) = delete;
  ThreadConnections& operator=(const ThreadConnections&) = delete;

  // The idle connection to path used last, or (fresh, or none idle) a new
  // one; fd -1 when nobody listens there.
  Lease lease(const std::string& path, bool fresh) {
    forgetAfterFork();
    Lease lease;
    if (!fresh) {
      Entry* best = nullptr;
      for (Entry& e : entries_) {
        if (!e.busy && e.path == path && (!best || e.lastUse > best->lastUse)) best = &e;
      }
      if (best) {
        best->busy = true;
        lease.fd = best->fd;
        lease.id = best->id;
        lease.reused = true;
        return lease;
      }
    }
    int fd = connectTo(path);
    if (fd < 0) return lease;
    // Bounds the wait for a reply that has begun (and for a post's receipt).
    timeval timeout{kReplyTimeoutMs / 1000, (kReplyTimeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    Entry e;
    e.path = path;
    e.fd = fd;
    e.id = ++serial_;
    e.busy = true;
    entries_.push_back(std::move(e));
    lease.fd = fd;
    lease.id = serial_;
    return lease;
  }

  // Ends a lease: the connection waits for the next message (keep), or is closed.
  void giveBack(const Lease& lease, bool keep) {
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.id == lease.id; });
    if (it == entries_.end()) return;
    if (!keep || it->inherited) {
      close(it->fd);
      entries_.erase(it);
      return;
    }
    it->busy = false;
    it->lastUse = ++serial_;
    trimIdle();
  }

  size_t count() const { return entries_.size(); }

 private:
  struct Entry {
    std::string path;
    int fd = -1;
    uint64_t id = 0;
    uint64_t lastUse = 0;
    bool busy = false;
    bool inherited = false;  // from before a fork(): closed once its lease ends
  };

  void forgetAfterFork() {
    uint64_t now = g_forkGeneration.load(std::memory_order_relaxed);
    if (now == generation_) return;
    generation_ = now;
    // The parent's idle connections are of no use here; closing our copies
    // leaves the parent's open. One still leased further up this thread's
    // stack is closed when that lease ends.
    std::erase_if(entries_, [](Entry& e) {
      if (e.busy) {
        e.inherited = true;
        return false;
      }
      close(e.fd);
      return true;
    });
  }

  void trimIdle() {
    for (;;) {
      size_t idle = 0;
      auto oldest = entries_.end();
      for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->busy) continue;
        ++idle;
        if (oldest == entries_.end() || it->lastUse < oldest->lastUse) oldest = it;
      }
      if (idle <= kMaximumIdle) return;
      close(oldest->fd);
      entries_.erase(oldest);
    }
  }

  std::vector<Entry> entries_;
  uint64_t serial_ = 0;
  uint64_t generation_;
};

// The calling thread's connections. Kept through a thread-specific key
// rather than a thread_local object, so that they are closed when the thread
// ends while messages sent later in the end of the thread or the process
// (other destructors) still find a usable, if new, set.
pthread_key_t connectionsKey() {
  static const pthread_key_t key = [] {
    pthread_key_t k;
    pthread_key_create(&k, [](void* p) { delete static_cast<ThreadConnections*>(p); });
    pthread_atfork(nullptr, nullptr, countFork);
    return k;
  }();
  return key;
}

ThreadConnections& threadConnections() {
  pthread_key_t key = connectionsKey();
  auto* connections = static_cast<ThreadConnections*>(pthread_getspecific(key));
  if (!connections) {
    connections = new ThreadConnections;
    pthread_setspecific(key, connections);
  }
  return *connections;
}

}  // namespace

bool exchangeOnConnection(const std::string& path, const std::function<ExchangeResult(int fd)>& exchange) {
  ThreadConnections& connections = threadConnections();
  bool fresh = false;
  for (;;) {
    Lease lease = connections.lease(path, fresh);
    if (lease.fd < 0) return false;
    ExchangeResult result = exchange(lease.fd);
    connections.giveBack(lease, result == ExchangeResult::Done);
    if (result == ExchangeResult::Done) return true;
    // A kept connection found ended: once more on a new connection.
    if (result != ExchangeResult::NotWritten || !lease.reused) return false;
    fresh = true;
  }
}

ExchangeResult writeRequest(int fd, const void* head, size_t headSize, const void* body, size_t bodySize) {
  iovec parts[2] = {{const_cast<void*>(head), headSize}, {const_cast<void*>(body), bodySize}};
  iovec* part = parts;
  size_t count = bodySize > 0 ? 2 : 1;
  while (count > 0) {
    msghdr message{};
    message.msg_iov = part;
    message.msg_iovlen = count;
    ssize_t n = sendmsg(fd, &message, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EPIPE || errno == ECONNRESET)) return ExchangeResult::NotWritten;
    if (n <= 0) return ExchangeResult::Failed;
    auto done = static_cast<size_t>(n);
    while (count > 0 && done >= part->iov_len) {
      done -= part->iov_len;
      ++part;
      --count;
    }
    if (count > 0) {
      part->iov_base = static_cast<char*>(part->iov_base) + done;
      part->iov_len -= done;
    }
  }
  return ExchangeResult::Done;
}

bool readReply(int fd, void* data, size_t size) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyTimeoutMs);
  char* p = static_cast<char*>(data);
  while (size > 0) {
    // A blocking read bounded by the connection's receive time-out.
    ssize_t n = recv(fd, p, size, MSG_WAITALL);
    if (n < 0 && errno == EINTR && std::chrono::steady_clock::now() < deadline) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

size_t threadConnectionCount() { return threadConnections().count(); }

}  // namespace platform::wnd
