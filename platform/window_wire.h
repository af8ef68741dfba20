#pragma once
// How window messages travel between processes. Each process with windows
// listens on a Unix stream socket <runtime>/wnd/<pid>.sock. A sending thread
// keeps its connection to a process (window_connection.h) and writes one
// request at a time on it (header, then for WM_COPYDATA the block); the
// receiving process answers each with one reply: at once for a posted message
// (queued or not), after the window procedure returned for a sent one, and
// keeps the connection for the next request. A connection that ends without
// a reply means the message was not handled (the process or thread is gone):
// result 0. A receiver may end an idle connection at any time; the sender
// then finds it ended on its next write, before anything was delivered.
#include <cstdint>
#include <string>

namespace platform::wnd {

constexpr uint32_t kRequestMagic = 0x4D574B54;  // "TKWM"
constexpr uint32_t kReplyMagic = 0x52574B54;    // "TKWR"
constexpr uint32_t kRequestPost = 1;
constexpr uint32_t kRequestSend = 2;
constexpr uint32_t kFlagCopyData = 1;  // a WM_COPYDATA block follows the header
// Largest WM_COPYDATA block accepted; a larger request is refused unread.
constexpr uint32_t kMaximumCopyData = 64u * 1024 * 1024;

struct WireRequest {
  uint32_t magic = kRequestMagic;
  uint32_t kind = 0;
  uint64_t window = 0;
  uint32_t message = 0;
  uint32_t flags = 0;
  uint64_t wParam = 0;
  int64_t lParam = 0;
  uint64_t copyDataTag = 0;  // dwData
  uint32_t copyDataSize = 0;
  uint32_t reserved = 0;
};
static_assert(sizeof(WireRequest) == 56);

struct WireReply {
  uint32_t magic = kReplyMagic;
  uint32_t handled = 0;  // 1: queued (post) or handled (send)
  int64_t result = 0;
};
static_assert(sizeof(WireReply) == 16);

// The socket of a process under a runtime folder.
std::string socketPath(const std::string& runtimeDir, uint32_t processId);

// Creates the listening socket of this process under runtimeDir (an old
// file of that name is removed first); -1 on failure.
int listenAt(const std::string& path);
// A connection to a process's socket; -1 when nobody listens there.
int connectTo(const std::string& path);

// Blocking full write; false on failure or when the peer is gone (no SIGPIPE).
bool sendAll(int fd, const void* data, size_t size);
// Reads exactly size bytes, waiting at most timeoutMs overall (-1: no limit);
// false on end of connection, error or time-out.
bool receiveAll(int fd, void* data, size_t size, int timeoutMs);

}  // namespace platform::wnd
