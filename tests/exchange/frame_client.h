#pragma once
// The client end of a LAN link for tests, playing the control process:
// connects over loopback, sends raw bytes and reads them back with deadlines.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "exchange/hex_text.h"
#include "platform/tcp_socket.h"

namespace exchangetest {

using Bytes = std::vector<uint8_t>;

inline Bytes Hex(const std::string& text) { return exchange::ParseHex(text).value(); }

class FrameClient {
 public:
  bool Connect(uint16_t port) {
    socket_ = platform::TcpSocket::connect("127.0.0.1", port);
    return socket_.valid();
  }
  void Close() { socket_.close(); }

  bool Send(const Bytes& bytes) { return socket_.send(bytes.data(), bytes.size()) == static_cast<long>(bytes.size()); }
  bool SendHex(const std::string& hex) { return Send(Hex(hex)); }

  // What one receive delivers, waiting at most timeoutMs; empty on time-out
  // or at the end of the stream (Ended() tells which).
  Bytes ReceiveOnce(uint32_t timeoutMs = 10000) {
    if (!socket_.waitReadable(timeoutMs)) return {};
    uint8_t buffer[65536];
    long n = socket_.receive(buffer, sizeof buffer);
    if (n <= 0) {
      ended_ = true;
      return {};
    }
    return Bytes(buffer, buffer + n);
  }

  // Exactly count bytes, or what came before the deadline or the end.
  Bytes ReceiveExactly(size_t count, uint32_t timeoutMs = 10000) {
    Bytes bytes;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < count && !ended_) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      if (!socket_.waitReadable(static_cast<uint32_t>(left.count()))) break;
      uint8_t buffer[4096];
      long n = socket_.receive(buffer, std::min(sizeof buffer, count - bytes.size()));
      if (n <= 0) {
        ended_ = true;
        break;
      }
      bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
  }

  // True when the peer closes within timeoutMs (any data before is skipped).
  bool WaitClosed(uint32_t timeoutMs = 10000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!ended_) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      ReceiveOnce(static_cast<uint32_t>(left.count()));
    }
    return true;
  }

  bool Ended() const { return ended_; }

 private:
  platform::TcpSocket socket_;
  bool ended_ = false;
};

}  // namespace exchangetest
