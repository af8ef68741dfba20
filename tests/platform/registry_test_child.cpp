// A second process for the registry tests. It works under the TK_ROOT it
// inherits and reports on standard output:
//   write-values KEY PREFIX COUNT   prints "ready", waits for the file
//       <TK_ROOT>/go, then sets COUNT REG_DWORD values PREFIX0.. (value i is
//       i) under HKEY_CURRENT_USER\KEY and prints "done"
//   dump ROOT KEY NAME              prints "<type> <hex bytes>" of a value
//   dump-ansi ROOT KEY NAME SIZE    reads a value with regQueryValueExA into a
//       buffer of SIZE bytes; prints "<result> <type> <size> <hex bytes>"
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/registry.h"
#include "platform/root.h"

namespace {

using namespace platform;

int usage() {
  std::fprintf(stderr, "usage: registry_test_child write-values|dump|dump-ansi ...\n");
  return 2;
}

RegKeyHandle rootOf(const std::string& name) { return name == "HKLM" ? kHkeyLocalMachine : kHkeyCurrentUser; }

std::string hex(const uint8_t* data, size_t size) {
  std::string out;
  char byte[3];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(byte, sizeof byte, "%02x", data[i]);
    out += byte;
  }
  return out;
}

int failed(const char* what, long rc) {
  std::printf("error %s %ld %s\n", what, rc, registryLastError().c_str());
  return 1;
}

int writeValues(const std::string& key, const std::string& prefix, int count) {
  std::printf("ready\n");
  std::fflush(stdout);
  auto go = std::filesystem::path(rootDir()) / "go";
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!std::filesystem::exists(go)) {
    if (std::chrono::steady_clock::now() > deadline) return failed("no go", 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  RegKeyHandle handle = nullptr;
  if (long rc = regCreateKeyExA(kHkeyCurrentUser, key, &handle, nullptr); rc != kErrorSuccess) {
    return failed("create", rc);
  }
  for (int i = 0; i < count; ++i) {
    auto value = static_cast<uint32_t>(i);
    std::string name = prefix + std::to_string(i);
    long rc = regSetValueExA(handle, name, kRegDword, reinterpret_cast<const uint8_t*>(&value), sizeof value);
    if (rc != kErrorSuccess) return failed("set", rc);
  }
  regCloseKey(handle);
  std::printf("done\n");
  return 0;
}

int dump(const std::string& root, const std::string& key, const std::string& name) {
  RegKeyHandle handle = nullptr;
  if (long rc = regOpenKeyEx(rootOf(root), utf8ToWide(key), &handle); rc != kErrorSuccess) return failed("open", rc);
  uint32_t type = 0;
  uint32_t size = 0;
  if (long rc = regQueryValueEx(handle, utf8ToWide(name), &type, nullptr, &size); rc != kErrorSuccess) {
    return failed("size", rc);
  }
  std::vector<uint8_t> data(size);
  if (long rc = regQueryValueEx(handle, utf8ToWide(name), &type, data.data(), &size); rc != kErrorSuccess) {
    return failed("query", rc);
  }
  std::printf("%u %s\n", type, hex(data.data(), size).c_str());
  regCloseKey(handle);
  return 0;
}

int dumpAnsi(const std::string& root, const std::string& key, const std::string& name, uint32_t bufferSize) {
  RegKeyHandle handle = nullptr;
  if (long rc = regOpenKeyEx(rootOf(root), utf8ToWide(key), &handle); rc != kErrorSuccess) return failed("open", rc);
  uint32_t type = 0;
  uint32_t size = bufferSize;
  std::vector<uint8_t> data(bufferSize);
  long rc = regQueryValueExA(handle, utf8ToAnsi(name), &type, data.data(), &size);
  size_t shown = rc == kErrorSuccess ? size : 0;
  std::printf("%ld %u %u %s\n", rc, type, size, hex(data.data(), shown).c_str());
  regCloseKey(handle);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 4 && args[0] == "write-values") return writeValues(args[1], args[2], std::stoi(args[3]));
  if (args.size() == 4 && args[0] == "dump") return dump(args[1], args[2], args[3]);
  if (args.size() == 5 && args[0] == "dump-ansi") {
    return dumpAnsi(args[1], args[2], args[3], static_cast<uint32_t>(std::stoul(args[4])));
  }
  return usage();
}
