#include "tests/support/raw_tcp_ping_pong.h"

#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/tcp_socket.h"

namespace tktest {

bool ReadExactly(platform::TcpSocket& socket, uint8_t* buffer, size_t count) {
  for (size_t got = 0; got < count;) {
    if (!socket.waitReadable(5000)) return false;
    long n = socket.receive(buffer + got, count - got);
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

std::vector<double> RawTcpRoundTrips(int count, size_t size) {
  std::vector<double> micros;
  auto listener = platform::TcpListener::listen("127.0.0.1", 0);
  if (!listener.valid()) return micros;
  std::thread echo([&] {
    platform::TcpSocket peer = listener.accept(5000);
    std::vector<uint8_t> buffer(size);
    for (int i = 0; i < count && ReadExactly(peer, buffer.data(), size); ++i) peer.send(buffer.data(), size);
  });
  platform::TcpSocket socket = platform::TcpSocket::connect("127.0.0.1", listener.port());
  std::vector<uint8_t> block(size, 'b'), answer(size);
  micros.reserve(static_cast<size_t>(count));
  for (int i = 0; socket.valid() && i < count; ++i) {
    auto start = std::chrono::steady_clock::now();
    if (socket.send(block.data(), size) < 0 || !ReadExactly(socket, answer.data(), size)) break;
    micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  socket = platform::TcpSocket();
  echo.join();
  if (micros.size() != static_cast<size_t>(count)) micros.clear();
  return micros;
}

}  // namespace tktest
