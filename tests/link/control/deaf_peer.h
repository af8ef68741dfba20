#pragma once
// A TCP peer on loopback for the LAN link's tests that stops taking bytes:
// its receive buffer is as small as the system allows and it never reads
// unless told, so that whatever is sent to it soon blocks the sender. It
// can push bytes itself without ever blocking, to learn when the other end
// has stopped reading too.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tktest {

class DeafPeer {
 public:
  DeafPeer();  // listening on 127.0.0.1, a free port
  ~DeafPeer();
  DeafPeer(const DeafPeer&) = delete;
  DeafPeer& operator=(const DeafPeer&) = delete;

  bool listening() const { return listener_ >= 0; }
  uint16_t port() const { return port_; }
  // Takes the one connection; false when none came within the time.
  bool Accept(uint32_t timeoutMs = 10000);
  // True once bytes from the other end wait to be read.
  bool WaitReadable(uint32_t timeoutMs = 10000);

  // Sends `bytes` again and again, without blocking, until the other end
  // has taken none of them for quietMs (it no longer reads) or maxCopies
  // went out. True when it stopped reading.
  bool SendUntilUnread(const std::vector<uint8_t>& bytes, size_t maxCopies, uint32_t quietMs);

  // Closes the connection (a send blocked on it at the other end fails).
  void Hangup();

 private:
  int Unsent() const;  // bytes sent here that the other end has not taken

  int listener_ = -1;
  int connection_ = -1;
  uint16_t port_ = 0;
};

}  // namespace tktest
