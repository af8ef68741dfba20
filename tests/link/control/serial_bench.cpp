// Benchmark: the serial link's block goodput and round trip over the whole
// path client -> VNL2D32 -> VNL2C64 -> pseudo-terminal -> tksim and back,
// with tksim pacing the line at the baud rate, against the bound that the
// line rate sets with one I-frame outstanding at a time:
//
//   goodput     each block is an I-frame of 10 + n bytes out and an RR of 6
//               bytes back before the next may go: baud / (10 * (16 + n))
//               blocks per second. tksim takes the blocks without answering.
//   round trip  the block out and its echo (which carries the
//               acknowledgement) back: 2 * (10 + n) * 10 / baud seconds.
//               tksim echoes.
//
//   serial_bench [--baud N] [--sizes N,N...] [--seconds S]
//
// It runs under a temporary root folder of its own and removes it at the end.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/root.h"
#include "platform/window.h"
#include "tests/link/api/vnl2_client.h"
#include "tests/link/control/loopback_link.h"
#include "tests/link/control/tksim_peer.h"
#include "tests/support/round_trips.h"
#include "tests/support/test_root.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kCti = 0x20;
// Blocks a client may have on their way before it waits: the link's
// transmit queue holds 20, and a block it refuses would be lost.
constexpr long kInFlight = 12;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "serial_bench: %s\n", what.c_str());
  std::exit(1);
}

// Serves the thread's messages for up to ms.
void Pump(uint32_t ms) {
  if (platform::msgWaitForMultiple({}, ms) == platform::kWaitTimeout) return;
  platform::Message message;
  while (platform::peekMessage(message)) platform::dispatchMessage(message);
}

struct Goodput {
  double blocksPerSecond;
  double bound;
};

// Blocks out as fast as the link takes them, for about `seconds`; tksim
// counts what arrived.
Goodput MeasureGoodput(tktest::Vnl2Functions& vnl2, tktest::TksimPeer& tksim, size_t size, double seconds,
                       double baud) {
  const double bound = baud / (10.0 * (16.0 + static_cast<double>(size)));
  const long blocks = std::max(20L, static_cast<long>(bound * seconds));
  const long before = tksim.StatusCounter("blocks-received");
  if (before < 0) Fail("tksim's status has no blocks-received counter");
  std::vector<char> block(size, 'g');
  long sent = 0, arrived = 0;
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::duration<double>(seconds * 4 + 10);
  while (arrived < blocks) {
    while (sent < blocks && sent - arrived < kInFlight) {
      if (vnl2.send(kCti, block.data(), static_cast<uint32_t>(size)) != 1) Fail("VNL2_SendData failed");
      ++sent;
    }
    Pump(2);
    arrived = tksim.StatusCounter("blocks-received") - before;
    if (Clock::now() > deadline) Fail("the blocks did not all arrive in time");
  }
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  return {static_cast<double>(blocks) / took, bound};
}

// One block out, its echo back, `count` times.
tktest::Figures MeasureRoundTrips(tktest::Vnl2Functions& vnl2, size_t size, int count) {
  std::vector<char> block(size, 'r'), answer(4096);
  return tktest::Measure(count, [&] {
    if (vnl2.send(kCti, block.data(), static_cast<uint32_t>(size)) != 1) Fail("VNL2_SendData failed");
    for (int waited = 0;; ++waited) {
      int32_t n = vnl2.receive(kCti, answer.data(), static_cast<uint32_t>(answer.size()));
      if (n == static_cast<int32_t>(size)) return;
      if (n != 0) Fail("a block came back changed");
      if (waited > 5000) Fail("no echo within 5 s");
      Pump(1);
    }
  });
}

std::vector<size_t> ParseSizes(const std::string& text) {
  std::vector<size_t> sizes;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    char* end = nullptr;
    unsigned long value = std::strtoul(item.c_str(), &end, 10);
    if (item.empty() || *end != '\0' || value < 1 || value > 2038) Fail("--sizes takes sizes from 1 to 2038");
    sizes.push_back(value);
  }
  return sizes;
}

}  // namespace

int main(int argc, char** argv) {
  std::string baud = "115200";
  std::vector<size_t> sizes{64, 1024};
  double seconds = 3;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--baud" && i + 1 < argc) {
      baud = argv[++i];
    } else if (arg == "--sizes" && i + 1 < argc) {
      sizes = ParseSizes(argv[++i]);
    } else if (arg == "--seconds" && i + 1 < argc) {
      seconds = std::clamp(std::atof(argv[++i]), 0.5, 600.0);
    } else {
      std::printf("usage: serial_bench [--baud N] [--sizes N,N... (1..2038)] [--seconds S]\n");
      return arg == "--help" ? 0 : 2;
    }
  }
  const double rate = std::atof(baud.c_str());
  std::string root = tktest::makeTempDir("serial-bench-");
  setenv("TK_ROOT", root.c_str(), 1);
  tktest::InstallLinkControl(TK_VNL2C64_PATH);

  int status = 0;
  {
    tktest::TksimPeer tksim;
    if (!tksim.StartSerial({"--baud", baud, "--quiet"})) Fail("tksim did not start on a pseudo-terminal");
    if (!tktest::WriteSerialLinkConfiguration(5, tksim.serialPath())) Fail("cannot write the link configuration");
    tktest::Vnl2Functions vnl2;
    if (!vnl2.Load(TK_VNL2D32_PATH)) Fail("cannot load VNL2D32");
    if (vnl2.open(kCti) != 1) Fail("VNL2_OpenConnection failed: the serial link did not come up");
    tktest::NotificationWindow window;
    if (vnl2.enable(kCti, window.handle()) == 0) Fail("VNL2_EnableNotification failed");

    std::printf("serial link at %s baud, paced by tksim, one I-frame outstanding\n", baud.c_str());
    std::printf("%6s  %-10s %12s %12s %8s\n", "bytes", "figure", "measured", "line bound", "share");
    for (size_t size : sizes) {
      if (tksim.Command("stop-echo").rfind("ok", 0) != 0) Fail("tksim refused 'stop-echo'");
      Goodput goodput = MeasureGoodput(vnl2, tksim, size, seconds, rate);
      std::printf("%6zu  %-10s %9.1f /s %9.1f /s %7.1f%%\n", size, "goodput", goodput.blocksPerSecond, goodput.bound,
                  100.0 * goodput.blocksPerSecond / goodput.bound);
      if (tksim.Command("start-echo").rfind("ok", 0) != 0) Fail("tksim refused 'start-echo'");
      const double roundTripBound = 2.0 * (10.0 + static_cast<double>(size)) * 10.0 / rate * 1e6;
      const int count = std::max(5, static_cast<int>(seconds * 1e6 / roundTripBound));
      tktest::Figures trips = MeasureRoundTrips(vnl2, size, count);
      std::printf("%6zu  %-10s %9.0f us %9.0f us %7.1f%%\n", size, "round trip", trips.medianMicros, roundTripBound,
                  100.0 * roundTripBound / trips.medianMicros);
      std::printf("%6zu  %-10s %9.0f B/s\n", size, "payload", goodput.blocksPerSecond * static_cast<double>(size));
    }
    vnl2.close(kCti);
    tktest::EndLinkControlProcesses();
    vnl2.Unload();
  }
  tktest::removeTree(root);
  return status;
}
