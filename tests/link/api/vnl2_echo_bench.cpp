// Benchmark: blocks per second and the median round trip of a block from a
// client through VNL2D32 to the link control process and back (the test
// control program echoes every block), against a raw Unix-socket ping-pong
// between two processes measured in the same run.
//
//   vnl2_echo_bench [--blocks N] [--size BYTES]
//
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
#include <string>
#include <vector>

#include "link/api/vnl2_entry_table.h"
#include "platform/module.h"
#include "platform/root.h"
#include "platform/window.h"
#include "tests/support/round_trips.h"

namespace {

using Clock = tktest::BenchClock;

using tktest::Figures;
using tktest::Summarise;

Figures RawSocketPingPong(int blocks, size_t size) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) std::exit(1);
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
    if (write(fds[0], block.data(), size) != static_cast<ssize_t>(size)) std::exit(1);
    size_t got = 0;
    while (got < size) {
      ssize_t n = read(fds[0], answer.data() + got, size - got);
      if (n <= 0) std::exit(1);
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
    std::fprintf(stderr, "cannot load VNL2D32: %s\n", platform::lastModuleError().c_str());
    std::exit(1);
  }
  vnl2::Entries api;
  if (const char* missing = vnl2::Bind(library,
                                       {vnl2::Entry::OpenConnection, vnl2::Entry::CloseConnection,
                                        vnl2::Entry::SendData, vnl2::Entry::ReceiveData},
                                       api)) {
    std::fprintf(stderr, "VNL2D32 lacks %s\n", missing);
    std::exit(1);
  }
  if (api.openConnection(0x20) != 1) {
    std::fprintf(stderr, "VNL2_OpenConnection failed\n");
    std::exit(1);
  }
  std::vector<char> block(size, 'b'), answer(4096);
  std::vector<double> micros;
  auto begin = Clock::now();
  for (int i = 0; i < blocks; ++i) {
    auto start = Clock::now();
    if (api.sendData(0x20, block.data(), static_cast<uint32_t>(size)) != 1) std::exit(1);
    // The echo is queued before the send returns.
    if (api.receiveData(0x20, answer.data(), static_cast<uint32_t>(answer.size())) != static_cast<int32_t>(size)) std::exit(1);
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  auto total = Clock::now() - begin;
  api.closeConnection(0x20);
  platform::freeLibrary(library);
  return Summarise(micros, total);
}

}  // namespace

int main(int argc, char** argv) {
  int blocks = 20000;
  size_t size = 64;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--blocks" && i + 1 < argc) {
      blocks = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--size" && i + 1 < argc) {
      size = std::clamp<size_t>(std::strtoul(argv[++i], nullptr, 0), 1, 2048);
    } else {
      std::printf("usage: vnl2_echo_bench [--blocks N] [--size BYTES (1..2048)]\n");
      return arg == "--help" ? 0 : 2;
    }
  }
  char pattern[] = "/tmp/vnl2-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
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
  std::printf("ratio (VNL2D32 / raw)     : %9.2f x round trip, %.2f x throughput\n",
              vnl2.medianMicros / raw.medianMicros, vnl2.blocksPerSecond / raw.blocksPerSecond);
  std::filesystem::remove_all(root);
  return 0;
}
