// The user's decimal point on Windows comes from the regional settings
// (LOCALE_SDECIMAL), which the provider puts into a call's charging text.
// The case changes the user's setting and restores it, so it runs under
// Wine only (its prefix belongs to the build folder), never on a user's
// real Windows.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/user_locale.h"
#include "provider/vnl/call_state_tables.h"

namespace {

bool underWine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

TEST(UserLocaleWin, TheDecimalPointIsTheRegionalSettingsOne) {
  wchar_t saved[8] = {};
  ASSERT_GT(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, saved, 8), 0);
  char savedAnsi[16] = {};
  WideCharToMultiByte(CP_ACP, 0, saved, -1, savedAnsi, sizeof savedAnsi, nullptr, nullptr);
  EXPECT_EQ(platform::userDecimalPoint(), std::string(savedAnsi));
  if (!underWine()) GTEST_SKIP() << "changes the user's regional settings: run under Wine only";

  struct Restore {
    const wchar_t* value;
    ~Restore() { SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, value); }
  } restore{saved};
  for (const wchar_t* separator : {L",", L"."}) {
    ASSERT_TRUE(SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator));
    const std::string expected = separator[0] == L',' ? "," : ".";
    EXPECT_EQ(platform::userDecimalPoint(), expected);
    EXPECT_EQ(kvarsp::EnvironmentDecimalPoint(), expected);
  }
}

}  // namespace
