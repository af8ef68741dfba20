// A second process for the process and shared memory tests. Each command does
// one small thing and reports through a file, standard output or its exit
// code. Every wait is bounded, so a child left behind by a failed test ends
// by itself.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/module.h"
#include "platform/process.h"
#include "platform/root.h"
#include "platform/shared_memory.h"
#include "platform/thread.h"

namespace {

using Clock = std::chrono::steady_clock;

// The areas as shared_memory_test.cpp lays them out: "map" areas start with a
// u32 marker and are initialised with a byte pattern; "count" areas hold a
// u32 total and a u32 number of finished parties, initially zero.
constexpr size_t kCountAreaSize = 8;

std::vector<std::byte> initialPattern(size_t size) {
  std::vector<std::byte> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::byte>((i * 31 + 7) & 0xFF);
  return bytes;
}

std::atomic_ref<uint32_t> word(const platform::SharedMemory& area, size_t index) {
  return std::atomic_ref<uint32_t>(static_cast<uint32_t*>(area.data())[index]);
}

int usage() {
  std::fprintf(stderr,
               "usage: process_test_child COMMAND\n"
               "  report FILE ARGS...        write command line, name, id, root and arguments to FILE\n"
               "  wait-file FILE CODE        exit with CODE once FILE exists (99 after 30 s)\n"
               "  abort                      end by SIGABRT\n"
               "  spawn-waiter PIDFILE FILE  start \"wait-file FILE 0\", write its id to PIDFILE, exit\n"
               "  map NAME SIZE VALUE        map the area, print what it holds, write VALUE, stay 60 s\n"
               "  count NAME N GOFILE PARTIES  once GOFILE exists, map the area and count N times;\n"
               "                             print the total once PARTIES processes are done\n");
  return 2;
}

bool waitForFile(const std::string& path, std::chrono::seconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!std::filesystem::exists(path)) {
    if (Clock::now() >= deadline) return false;
    platform::sleepMs(1);
  }
  return true;
}

// Writes a file completely before it appears under its name.
void publishFile(const std::string& path, const std::string& text) {
  std::string temp = path + ".tmp";
  std::ofstream(temp, std::ios::binary) << text;
  std::filesystem::rename(temp, path);
}

int report(int argc, char** argv) {
  std::string text = "line=" + platform::commandLine() + "\n";
  text += "base=" + platform::programBaseName() + "\n";
  text += "pid=" + std::to_string(platform::currentProcessId()) + "\n";
  text += "pgid=" + std::to_string(::getpgrp()) + "\n";
  text += "root=" + platform::rootDir() + "\n";
  for (int i = 0; i < argc; ++i) text += "arg=" + std::string(argv[i]) + "\n";
  publishFile(argv[2], text);
  return 0;
}

int spawnWaiter(const std::string& pidFile, const std::string& releaseFile) {
  std::string self = platform::moduleFileName(nullptr);
  std::string error;
  auto waiter = platform::createProcess(self, "waiter wait-file \"" + releaseFile + "\" 0", &error);
  if (!waiter) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  publishFile(pidFile, std::to_string(waiter->id()));
  return 0;  // the waiter goes on running without us
}

int mapAndHold(const std::string& name, size_t size, uint32_t value) {
  std::vector<std::byte> initial = initialPattern(size);
  platform::SharedMemory area(name, size, initial);
  if (!area.valid()) {
    std::printf("failed %s\n", area.error().c_str());
    return 1;
  }
  std::printf("created=%d marker=%u\n", area.created() ? 1 : 0, word(area, 0).load());
  word(area, 0).store(value);
  std::printf("written\n");
  std::fflush(stdout);
  platform::sleepMs(60000);  // the test kills us long before
  return 0;
}

int count(const std::string& name, int times, const std::string& goFile, uint32_t parties) {
  if (!waitForFile(goFile, std::chrono::seconds(30))) return 99;
  platform::SharedMemory area(name, kCountAreaSize);
  if (!area.valid()) {
    std::printf("failed %s\n", area.error().c_str());
    return 1;
  }
  for (int i = 0; i < times; ++i) word(area, 0).fetch_add(1);
  word(area, 1).fetch_add(1);
  // Stay mapped until every party has counted, so the area lives throughout.
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (word(area, 1).load() < parties && Clock::now() < deadline) platform::sleepMs(1);
  std::printf("created=%d total=%u\n", area.created() ? 1 : 0, word(area, 0).load());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string cmd = argv[1];
  if (cmd == "report" && argc >= 3) return report(argc, argv);
  if (cmd == "wait-file" && argc == 4) {
    return waitForFile(argv[2], std::chrono::seconds(30)) ? std::atoi(argv[3]) : 99;
  }
  if (cmd == "abort" && argc == 2) std::abort();
  if (cmd == "spawn-waiter" && argc == 4) return spawnWaiter(argv[2], argv[3]);
  if (cmd == "map" && argc == 5) {
    return mapAndHold(argv[2], std::strtoul(argv[3], nullptr, 10),
                      static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)));
  }
  if (cmd == "count" && argc == 6) {
    return count(argv[2], std::atoi(argv[3]), argv[4], static_cast<uint32_t>(std::atoi(argv[5])));
  }
  return usage();
}
