// See registry_sandbox.h. Installed for the whole program by a static
// object, before the test main runs any case.
#include "tests/windows/platform_registry/registry_sandbox.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace tktest {
namespace {

std::wstring g_path;

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

HKEY makeKey(const wchar_t* name) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, (g_path + L"\\" + name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) {
    fprintf(stderr, "registry sandbox: cannot create %ls (error %ld)\n", name, rc);
    std::abort();
  }
  return key;
}

class RegistrySandbox : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo& info) override {
    if (std::string_view(info.test_suite_name()).rfind("Registry", 0) != 0) return;
    g_path = L"Software\\TkTest\\" + widen(std::string(info.test_suite_name()) + "." + info.name()) + L"." +
             std::to_wstring(GetCurrentProcessId());
    RegDeleteTreeW(HKEY_CURRENT_USER, g_path.c_str());  // left over from a crashed run
    // Both keys are made below the real HKEY_CURRENT_USER, then both roots
    // are redirected (Windows keeps its own handles of the keys).
    HKEY user = makeKey(L"HKCU");
    HKEY machine = makeKey(L"HKLM");
    if (RegOverridePredefKey(HKEY_CURRENT_USER, user) != ERROR_SUCCESS ||
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine) != ERROR_SUCCESS) {
      fprintf(stderr, "registry sandbox: RegOverridePredefKey failed\n");
      std::abort();
    }
    RegCloseKey(user);
    RegCloseKey(machine);
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    if (g_path.empty()) return;
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegDeleteTreeW(HKEY_CURRENT_USER, g_path.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\TkTest");  // fails while other runs use it
    g_path.clear();
  }
};

struct Install {
  Install() { ::testing::UnitTest::GetInstance()->listeners().Append(new RegistrySandbox); }
} g_install;

}  // namespace

std::wstring registrySandboxPath() { return g_path; }

bool runningUnderWine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

}  // namespace tktest
