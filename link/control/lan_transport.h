#pragma once
// The LAN link's transport (a LinkTransport, see link_protocol.h): the TCP
// connection to the exchange, with the link log lines of its operations.
// Bytes in and out only; the tagged frames are the LanLink core's.
//
// Used from two threads: the receive thread reads, the window thread sends
// and closes, and both send under the host's link lock. Its send lock keeps
// whole sends apart; Close does not take it. A send can block for as long
// as the peer takes no bytes, and Close must still end the connection then:
// the shut-down wakes the blocked send, which fails. A send the peer takes
// no byte of for the send time limit fails as well and closes the
// connection itself (part of a frame may have gone out: the stream is
// broken), so that no thread, not even the only one that could close, stays
// blocked in it. After Close no byte goes out, and a later send fails with
// kWsaNotConnected.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "link/control/link_protocol.h"
#include "platform/tcp_socket.h"

class LanTransport final : public LinkTransport {
 public:
  LanTransport() = default;
  ~LanTransport() override;
  LanTransport(const LanTransport&) = delete;
  LanTransport& operator=(const LanTransport&) = delete;

  // Connects to a dotted IPv4 address (OpenSocket): 1 connected, 0 failed
  // (with the socket error number in *error when given). sendLimitMs: the
  // send time limit (0: none).
  int Open(const char* address, uint16_t port, int* error = nullptr, uint32_t sendLimitMs = 0);

  // One receive (ReceiveSocket); 0 on close or failure.
  int Receive(uint8_t* buffer, size_t capacity) override;
  // One whole send (SendSocket): the count, 0 on failure.
  int Send(const uint8_t* data, size_t count) override;
  // Shuts the connection down in both directions and waits 20 ms, which
  // lets the shut-down reach the peer first (CloseSocket). Also while
  // another thread's send is blocked: that send fails.
  void Close() override;
  // Frees the socket once no thread uses it any more.
  void Release() override;

 private:
  platform::TcpSocket socket_;
  std::mutex sendLock_;  // held through one whole send
  std::mutex stateLock_;  // never held while waiting for the peer
  bool open_ = false;
  bool shutDown_ = false;  // Close was called: the end of the stream is ours
  uint32_t sendLimitMs_ = 0;
};
