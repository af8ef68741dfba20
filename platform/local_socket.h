#pragma once
// A local stream connection between processes of one machine, named by a
// path under the root's runtime folder (a Unix-domain socket here; a named
// pipe would do on Windows). The telephony service listens on one and every
// application connects to it.
//
// The listener creates its socket file with owner-only permissions (0600),
// replacing a stale file that nobody serves, and refuses a path another
// listener still serves (ERROR_ALREADY_EXISTS). A connection knows the
// process ID of its peer, as the system reports it.
//
// Sends go out whole or not at all as far as the caller can tell (a partial
// send is continued; an error ends the connection); a receive returns what
// one read delivers. shutdownBoth() from another thread wakes a receive or
// wait that blocks on the connection. Error numbers are Windows' (see
// platform/win_error.h): ERROR_FILE_NOT_FOUND 2 when nobody listens at the
// path, ERROR_ACCESS_DENIED 5, ERROR_BROKEN_PIPE 109 when the peer went,
// ERROR_ALREADY_EXISTS 183, ERROR_INVALID_PARAMETER 87 for a path too long
// for a socket address, ERROR_TIMEOUT 1460.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

class LocalConnection {
 public:
  LocalConnection() = default;
  ~LocalConnection();
  LocalConnection(LocalConnection&& other) noexcept;
  LocalConnection& operator=(LocalConnection&& other) noexcept;
  LocalConnection(const LocalConnection&) = delete;
  LocalConnection& operator=(const LocalConnection&) = delete;

  // Connects to the listener at path; an invalid connection on failure, with
  // the error number in *error (when given).
  static LocalConnection connect(const std::string& path, int* error = nullptr);

  bool valid() const { return fd_ >= 0; }
  // Every byte, or false on an error (its number in *error). Never raises
  // SIGPIPE. A peer that does not read for timeoutMs (kInfinite: no limit)
  // makes it fail with ERROR_TIMEOUT 1460; part of the bytes may have gone
  // then, so the connection is of no further use.
  bool send(const void* data, size_t count, int* error = nullptr, uint32_t timeoutMs = 0xFFFFFFFFu);
  // Sends as many of count bytes as the connection takes at once, without
  // waiting: the number sent (0 when it takes none now), -1 on an error. For
  // a server that serves every client on one thread and keeps the rest of a
  // message for later, so a client that does not read holds nobody up.
  long sendSome(const void* data, size_t count, int* error = nullptr);
  // Bytes read (at most capacity), 0 when the peer closed, -1 on an error.
  long receive(void* buffer, size_t capacity, int* error = nullptr);
  // True when a receive would not block (data, end of stream or an error);
  // false when nothing came within timeoutMs (kInfinite waits).
  bool waitReadable(uint32_t timeoutMs);
  // The peer's process ID; 0 when unknown.
  uint32_t peerProcessId() const;
  // Ends sending and receiving; a blocked receive or wait returns.
  void shutdownBoth();
  void close();

  // For a poll loop of the platform's own (LocalPoller); not for callers
  // above the platform.
  int nativeHandle() const { return fd_; }

 private:
  explicit LocalConnection(int fd) : fd_(fd) {}
  friend class LocalListener;
  int fd_ = -1;
};

class LocalListener {
 public:
  LocalListener() = default;
  // Closes the listener and removes its socket file.
  ~LocalListener();
  LocalListener(LocalListener&& other) noexcept;
  LocalListener& operator=(LocalListener&& other) noexcept;
  LocalListener(const LocalListener&) = delete;
  LocalListener& operator=(const LocalListener&) = delete;

  // Listens at path (its folder must exist), mode 0600.
  static LocalListener listen(const std::string& path, int* error = nullptr);
  bool valid() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }
  // The next connection, or an invalid one when none came within timeoutMs
  // (kInfinite waits) or on an error.
  LocalConnection accept(uint32_t timeoutMs, int* error = nullptr);
  void close();

  int nativeHandle() const { return fd_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// Waits on a listener, any number of connections and a wake-up that other
// threads trigger: the loop of a server that serves every client on one
// thread. Not thread-safe except wake(), which any thread may call.
class LocalPoller {
 public:
  LocalPoller();
  ~LocalPoller();
  LocalPoller(const LocalPoller&) = delete;
  LocalPoller& operator=(const LocalPoller&) = delete;

  struct Ready {
    bool woken = false;                 // wake() was called since the last wait
    bool listenerReady = false;         // accept() will not block
    std::vector<size_t> readable;       // indexes into the connections given
  };
  // Waits up to timeoutMs until the listener (may be null) can accept, one
  // of the connections is readable (data, end or error) or wake() was
  // called. Invalid connections in the list are ignored.
  Ready wait(const LocalListener* listener, const std::vector<const LocalConnection*>& connections,
             uint32_t timeoutMs);
  void wake();

 private:
  int wakeFd_ = -1;
};

}  // namespace platform
