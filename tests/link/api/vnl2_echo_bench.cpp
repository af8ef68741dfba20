// Benchmark: blocks per second and the median round trip of a block from a
// client through VNL2D32 to the link control process and back (the test
// control program echoes every block), against a raw Unix-socket ping-pong
// between two processes measured in the same run, with the ratio of the
// median round trips against the target (<= 2 x raw).
//
//   vnl2_echo_bench [--blocks N] [--size BYTES] [--summary FILE]
//
// With --summary the figures are also appended to FILE, one tab-separated
// line each (bench/bench_summary.h), for `make bench`.
// It runs under a temporary root folder of its own and removes it at the end.
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_summary.h"
#include "link/api/vnl2_entry_table.h"
#include "platform/module.h"
#include "platform/root.h"
#include "platform/window.h"
#include "tests/support/round_trips.h"

namespace {

using Clock = tktest::BenchClock;

using tktest::Figures;
using tktest::Summarise;

// The VNL2D32 echo's median round trip at most this many times the raw one.
constexpr double kRoundTripTarget = 2;

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "vnl2_echo_bench: %s\n", what);
  std::exit(1);
}

Figures RawSocketPingPong(int blocks, size_t size) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) Die("cannot make a Unix socket pair");
  pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    std::vector<char> buffer(size);
    for (int i = 0; i < blocks; ++i) {
      size_t got = 0;
      while (got < size) {
        ssize_t n = read(fds[1], buffer.data() + got, size - got);
        if (n <= 0) _exit(1);
        got += static_cast<size_t>(n);
      }
      if (write(fds[1], buffer.data(), size) != static_cast<ssize_t>(size)) _exit(1);
    }
    _exit(0);
  }
  close(fds[1]);
  std::vector<char> block(size, 'b'), answer(size);
  std::vector<double> micros;
  auto begin = Clock::now();
  for (int i = 0; i < blocks; ++i) {
    auto start = Clock::now();
    if (write(fds[0], block.data(), size) != static_cast<ssize_t>(size)) Die("raw ping-pong: write failed");
    size_t got = 0;
    while (got < size) {
      ssize_t n = read(fds[0], answer.data() + got, size - got);
      if (n <= 0) Die("raw ping-pong: the echoing process went away");
      got += static_cast<size_t>(n);
    }
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  auto total = Clock::now() - begin;
  close(fds[0]);
  waitpid(child, nullptr, 0);
  return Summarise(micros, total);
}

Figures Vnl2Echo(int blocks, size_t size) {
  platform::ModuleHandle library = platform::loadLibrary(TK_VNL2D32_PATH);
  if (!library) {
    std::fprintf(stderr, "vnl2_echo_bench: cannot load VNL2D32: %s\n", platform::lastModuleError().c_str());
    std::exit(1);
  }
  vnl2::Entries api;
  if (const char* missing = vnl2::Bind(library,
                                       {vnl2::Entry::OpenConnection, vnl2::Entry::CloseConnection,
                                        vnl2::Entry::SendData, vnl2::Entry::ReceiveData},
                                       api)) {
    std::fprintf(stderr, "vnl2_echo_bench: VNL2D32 lacks %s\n", missing);
    std::exit(1);
  }
  if (api.openConnection(0x20) != 1) {
    std::fprintf(stderr, "vnl2_echo_bench: VNL2_OpenConnection failed\n");
    std::exit(1);
  }
  std::vector<char> block(size, 'b'), answer(4096);
  std::vector<double> micros;
  auto begin = Clock::now();
  for (int i = 0; i < blocks; ++i) {
    auto start = Clock::now();
    if (api.sendData(0x20, block.data(), static_cast<uint32_t>(size)) != 1) Die("VNL2_SendData failed");
    // The echo is queued before the send returns.
    if (api.receiveData(0x20, answer.data(), static_cast<uint32_t>(answer.size())) != static_cast<int32_t>(size))
      Die("VNL2_ReceiveData did not return the echoed block");
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  auto total = Clock::now() - begin;
  api.closeConnection(0x20);
  platform::freeLibrary(library);
  return Summarise(micros, total);
}

constexpr char kUsage[] =
    "usage: vnl2_echo_bench [--blocks N] [--size BYTES] [--summary FILE]\n"
    "Round trips of blocks through VNL2D32 to a link control program that echoes them, against a raw\n"
    "Unix-socket ping-pong between two processes in the same run; target: median <= 2 x raw.\n"
    "  --blocks N      blocks timed in each part (default 20000)\n"
    "  --size BYTES    bytes per block, 1..2048 (default 64)\n"
    "  --summary FILE  also append the figures to FILE, one tab-separated line each:\n"
    "                  figure, measured, raw baseline, ratio, target, met\n"
    "  --help          this text\n"
    "Exit code 0 done (whether or not the target is met), 1 failed, 2 usage.\n";

int UsageError(const std::string& problem) {
  std::fprintf(stderr, "vnl2_echo_bench: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

// A whole number low..high from text, nothing when it is none.
std::optional<unsigned long> Number(const char* text, unsigned long low, unsigned long high) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (*text < '0' || *text > '9' || *end != '\0' || value < low || value > high) return std::nullopt;
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  int blocks = 20000;
  size_t size = 64;
  std::string summary;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") return std::printf("%s", kUsage) < 0 ? 1 : 0;
    if (arg != "--blocks" && arg != "--size" && arg != "--summary") return UsageError("unknown option " + arg);
    if (i + 1 >= argc) return UsageError(arg + " needs a value");
    const char* value = argv[++i];
    if (arg == "--summary") {
      if (*value == '\0') return UsageError("--summary needs a file name");
      summary = value;
    } else if (arg == "--blocks") {
      const auto n = Number(value, 1, 10000000);
      if (!n) return UsageError("--blocks '" + std::string(value) + "' is no whole number 1..10000000");
      blocks = static_cast<int>(*n);
    } else {
      const auto n = Number(value, 1, 2048);
      if (!n) return UsageError("--size '" + std::string(value) + "' is no whole number 1..2048");
      size = *n;
    }
  }
  char pattern[] = "/tmp/vnl2-bench-XXXXXX";
  if (!mkdtemp(pattern)) Die("cannot make a temporary root folder in /tmp");
  std::string root = pattern;
  setenv("TK_ROOT", root.c_str(), 1);
  platform::ensureDirectory(platform::systemDir());
  std::filesystem::create_symlink(TK_FAKE_CONTROL_PROGRAM, platform::systemDir() + "/vnl2c64");

  std::printf("%d blocks of %zu bytes\n", blocks, size);
  Figures raw = RawSocketPingPong(blocks, size);
  std::printf("raw Unix socket ping-pong : %9.0f blocks/s, median round trip %7.1f us\n", raw.blocksPerSecond,
              raw.medianMicros);
  Figures vnl2 = Vnl2Echo(blocks, size);
  std::printf("VNL2D32 echo              : %9.0f blocks/s, median round trip %7.1f us\n", vnl2.blocksPerSecond,
              vnl2.medianMicros);
  const double ratio = vnl2.medianMicros / raw.medianMicros;
  const bool met = ratio <= kRoundTripTarget;
  std::printf("ratio (VNL2D32 / raw)     : %9.2f x round trip, %.2f x throughput\n", ratio,
              vnl2.blocksPerSecond / raw.blocksPerSecond);
  std::printf("target                    : median round trip <= %.0f x raw: %s\n", kRoundTripTarget,
              benchsummary::Verdict(met));
  std::filesystem::remove_all(root);

  using benchsummary::Text;
  benchsummary::Row row;
  row.figure = Text("VNL2D32 block echo (%zu bytes), median round trip", size);
  row.measured = Text("%.1f us", vnl2.medianMicros);
  row.raw = Text("%.1f us", raw.medianMicros);
  row.ratio = Text("%.2f x", ratio);
  row.target = Text("<= %.0f x raw", kRoundTripTarget);
  row.met = benchsummary::Verdict(met);
  bool written = benchsummary::Append(summary, row);
  row.figure = Text("VNL2D32 block echo (%zu bytes), blocks/s", size);
  row.measured = Text("%.0f blocks/s", vnl2.blocksPerSecond);
  row.raw = Text("%.0f blocks/s", raw.blocksPerSecond);
  row.ratio = Text("%.2f x", vnl2.blocksPerSecond / raw.blocksPerSecond);
  row.target = "-";
  row.met = "-";
  written = benchsummary::Append(summary, row) && written;
  if (!written) {
    std::fprintf(stderr, "vnl2_echo_bench: cannot append to the summary file %s\n", summary.c_str());
    return 1;
  }
  return 0;
}
