#pragma once
// The user's number format, as the system's locale settings give it.
//
// Linux: the locale the environment names (LC_ALL, LC_NUMERIC, LANG), read
// without changing the process's global locale; "." when the environment
// names none or one that is not installed.
// Windows: the decimal separator of the user's regional settings
// (LOCALE_SDECIMAL of the user default locale), in the ANSI code page;
// "." when it cannot be read.
#include <string>

namespace platform {

std::string userDecimalPoint();

}  // namespace platform
