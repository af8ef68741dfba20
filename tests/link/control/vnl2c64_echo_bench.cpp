// Benchmark: blocks per second and the median round trip of a block from a
// client through VNL2D32 and VNL2C64 over a loopback TCP connection to the
// simulated exchange (tksim, echo engine) and back, measured in the same run
// as a raw loopback TCP ping-pong and a ping-pong of tagged frames straight
// with tksim.
//
//   vnl2c64_echo_bench [--blocks N] [--size BYTES]
//
// It runs under a temporary root folder of its own and removes it at the end.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "link/common/link_config.h"
#include "platform/root.h"
#include "platform/tcp_socket.h"
#include "platform/window.h"
#include "tests/link/api/vnl2_client.h"
#include "tests/link/control/tksim_peer.h"
#include "tests/support/raw_tcp_ping_pong.h"
#include "tests/support/round_trips.h"
#include "tests/support/test_root.h"

namespace {

using tktest::Figures;
using tktest::Measure;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "vnl2c64_echo_bench: %s\n", what);
  std::exit(1);
}


// Plain bytes to an echoing thread over loopback TCP.
Figures RawTcpPingPong(int blocks, size_t size) {
  auto begin = tktest::BenchClock::now();
  std::vector<double> micros = tktest::RawTcpRoundTrips(blocks, size);
  if (micros.empty()) Fail("raw ping-pong over loopback failed");
  return tktest::Summarise(std::move(micros), tktest::BenchClock::now() - begin);
}

// Tagged frames straight to tksim, which echoes them.
Figures TksimPingPong(int blocks, size_t size, uint16_t port) {
  platform::TcpSocket socket = platform::TcpSocket::connect("127.0.0.1", port);
  if (!socket.valid()) Fail("cannot connect to tksim");
  std::vector<uint8_t> frame{0xC5, static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)};
  frame.resize(3 + size, 'b');
  std::vector<uint8_t> answer(frame.size());
  Figures figures = Measure(blocks, [&] {
    if (socket.send(frame.data(), frame.size()) < 0 || !tktest::ReadExactly(socket, answer.data(), answer.size()))
      Fail("tksim ping-pong broke");
  });
  socket.shutdownBoth();
  return figures;
}

// A client of VNL2D32: send, wait for VNL2_DATA_IND, receive.
Figures Vnl2c64Echo(int blocks, size_t size) {
  tktest::Vnl2Functions vnl2;
  if (!vnl2.Load(TK_VNL2D32_PATH)) Fail("cannot load VNL2D32");
  if (vnl2.open(0x20) != 1) Fail("VNL2_OpenConnection failed");
  tktest::NotificationWindow window;
  if (vnl2.enable(0x20, window.handle()) == 0) Fail("VNL2_EnableNotification failed");
  std::vector<char> block(size, 'b'), answer(4096);
  Figures figures = Measure(blocks, [&] {
    if (vnl2.send(0x20, block.data(), static_cast<uint32_t>(size)) != 1) Fail("VNL2_SendData failed");
    for (;;) {
      int32_t n = vnl2.receive(0x20, answer.data(), static_cast<uint32_t>(answer.size()));
      if (n == static_cast<int32_t>(size)) return;
      if (n != 0) Fail("a block came back changed");
      if (platform::msgWaitForMultiple({}, 5000) == platform::kWaitTimeout) Fail("no answer within 5 s");
      platform::Message message;
      while (platform::peekMessage(message)) platform::dispatchMessage(message);
    }
  });
  vnl2.close(0x20);
  vnl2.Unload();
  return figures;
}

void Print(const char* name, const Figures& f) {
  std::printf("%-28s: %9.0f blocks/s, median round trip %7.1f us\n", name, f.blocksPerSecond, f.medianMicros);
}

}  // namespace

int main(int argc, char** argv) {
  int blocks = 5000;
  size_t size = 64;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--blocks" && i + 1 < argc) {
      blocks = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--size" && i + 1 < argc) {
      size = std::clamp<size_t>(std::strtoul(argv[++i], nullptr, 0), 1, 2048);
    } else {
      std::printf("usage: vnl2c64_echo_bench [--blocks N] [--size BYTES (1..2048)]\n");
      return arg == "--help" ? 0 : 2;
    }
  }
  std::string root = tktest::makeTempDir("vnl2c64-bench-");
  setenv("TK_ROOT", root.c_str(), 1);
  platform::ensureDirectory(platform::systemDir());
  std::filesystem::create_symlink(TK_VNL2C64_PATH, platform::systemDir() + "/vnl2c64");

  int status = 0;
  {
    tktest::TksimPeer tksim;
    if (!tksim.Start({"--keepalive-ms", "0", "--quiet"})) Fail("tksim did not start");
    LinkConfig config;
    DefaultLinkConfiguration(&config);
    std::strcpy(config.Link, "LAN/USB");
    std::strcpy(config.TapiSvrIpAddr, "127.0.0.1");
    config.TapiSvrIpPort = tksim.port();
    config.Keepalive = 0;
    if (!SaveLinkConfiguration(config)) Fail("cannot write the link configuration");

    std::printf("%d blocks of %zu bytes\n", blocks, size);
    Figures raw = RawTcpPingPong(blocks, size);
    Print("raw loopback TCP ping-pong", raw);
    Figures direct = TksimPingPong(blocks, size, tksim.port());
    Print("tagged frames with tksim", direct);
    if (!tksim.WaitEvent("disconnected")) status = 1;
    Figures link = Vnl2c64Echo(blocks, size);
    Print("VNL2D32 + VNL2C64 + tksim", link);
    std::printf("%-28s: %9.2f x round trip, %.2f x throughput\n", "ratio (VNL2C64 path / raw)",
                link.medianMicros / raw.medianMicros, link.blocksPerSecond / raw.blocksPerSecond);
  }
  tktest::removeTree(root);
  return status;
}
