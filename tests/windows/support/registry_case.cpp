// See registry_case.h.
#include "tests/windows/support/registry_case.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace tktest {
namespace {

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

HKEY makeKey(const std::wstring& path) {
  HKEY key = nullptr;
  const LONG rc =
      RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) {
    fprintf(stderr, "registry case: cannot create %ls (error %ld)\n", path.c_str(), rc);
    std::abort();
  }
  return key;
}

}  // namespace

RegistryCase::RegistryCase() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string name = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name() : "none";
  path_ = L"Software\\TkTest\\" + widen(name) + L"." + std::to_wstring(GetCurrentProcessId());
  RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());  // left over from a crashed run
  HKEY user = makeKey(path_ + L"\\HKCU");
  HKEY machine = makeKey(path_ + L"\\HKLM");
  if (RegOverridePredefKey(HKEY_CURRENT_USER, user) != ERROR_SUCCESS ||
      RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine) != ERROR_SUCCESS) {
    fprintf(stderr, "registry case: RegOverridePredefKey failed\n");
    std::abort();
  }
  RegCloseKey(user);  // Windows keeps its own handles of the keys
  RegCloseKey(machine);
}

RegistryCase::~RegistryCase() {
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
  RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\TkTest");  // fails while other runs use it
}

}  // namespace tktest
