#pragma once
// The connections a thread keeps for window messages to other processes
// (sender side; the wire format is in window_wire.h).
//
// In: the socket path of the target process and an exchange (write one
// request, read its one reply). Out: whether the exchange went through.
// Threads: every thread has its own set of connections (thread_local), so
// nothing here is shared or locked. A thread keeps one idle connection per
// target process for its next message; a connection is leased to one
// exchange at a time, so a message sent while the thread already waits for a
// reply from the same process (a nested send, served inside the wait) gets
// a connection of its own, never a second request on the busy one. The
// connections are closed when the thread ends, forgotten by a child after
// fork(), and opened close-on-exec.
//
// A kept connection the other side has ended (the process is gone, or its
// receiver dropped the idle connection to make room) fails on the write of
// the next request: nothing was delivered, so the request goes once more on
// a new connection. Once a request is written, a missing reply means "not
// handled"; that connection is closed.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace platform::wnd {

enum class ExchangeResult {
  Done,        // the reply was read; the connection is fit for the next request
  NotWritten,  // the request could not be written (the peer is gone); nothing was delivered
  Failed,      // the request was written but no proper reply came
};

// Runs exchange on a connection of the calling thread to path; false when no
// connection could be made or the exchange did not end with Done.
bool exchangeOnConnection(const std::string& path, const std::function<ExchangeResult(int fd)>& exchange);

// Writes head and then body (may be empty) in as few writes as the socket
// allows. NotWritten when the peer has ended the connection before all was
// taken (an incomplete request is dropped by the receiver); Failed on any
// other error or the send time-out.
ExchangeResult writeRequest(int fd, const void* head, size_t headSize, const void* body, size_t bodySize);
// A peer that does not answer within this time is taken as stuck (it
// answers a post at once, and a sent message once its reply has started).
constexpr int kReplyTimeoutMs = 10000;
// Reads exactly size bytes of a reply, waiting at most kReplyTimeoutMs per
// read; false on end of connection, error or time-out.
bool readReply(int fd, void* data, size_t size);

// The calling thread's open connections (idle or busy), for tests.
size_t threadConnectionCount();

}  // namespace platform::wnd
