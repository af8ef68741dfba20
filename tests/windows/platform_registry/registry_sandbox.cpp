// See registry_sandbox.h. Installed for the whole program by a static
// object, before the test main runs any case.
#include "tests/windows/platform_registry/registry_sandbox.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

#include "tests/windows/support/registry_case.h"

namespace tktest {
namespace {

std::optional<RegistryCase> g_case;

class RegistrySandbox : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo& info) override {
    if (std::string_view(info.test_suite_name()).rfind("Registry", 0) == 0) g_case.emplace();
  }
  void OnTestEnd(const ::testing::TestInfo&) override { g_case.reset(); }
};

struct Install {
  Install() { ::testing::UnitTest::GetInstance()->listeners().Append(new RegistrySandbox); }
} g_install;

}  // namespace

std::wstring registrySandboxPath() { return g_case ? g_case->path() : std::wstring(); }

bool runningUnderWine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

}  // namespace tktest
