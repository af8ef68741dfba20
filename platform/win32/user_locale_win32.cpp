// The user's decimal point on Windows: LOCALE_SDECIMAL of the user default
// locale (the regional settings), converted to the ANSI code page, since
// the texts it goes into are ANSI. The C++ library of MinGW-w64 knows only
// the "C" locale, so std::locale("") cannot tell it here. No state.
#include <windows.h>

#include "platform/user_locale.h"

namespace platform {

std::string userDecimalPoint() {
  wchar_t wide[8] = {};  // the system allows at most 3 characters and the terminator
  const int length = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, wide, static_cast<int>(std::size(wide)));
  if (length <= 1) return ".";
  char ansi[32] = {};
  const int bytes = WideCharToMultiByte(CP_ACP, 0, wide, length - 1, ansi, sizeof ansi, nullptr, nullptr);
  if (bytes <= 0) return ".";
  return std::string(ansi, static_cast<size_t>(bytes));
}

}  // namespace platform
