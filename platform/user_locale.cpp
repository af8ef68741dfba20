// The user's decimal point on Linux: the numpunct facet of the locale the
// environment names (see user_locale.h). Windows: win32/user_locale_win32.cpp.
#include "platform/user_locale.h"

#include <exception>
#include <locale>

namespace platform {

std::string userDecimalPoint() {
  try {
    const std::locale environment("");
    return std::string(1, std::use_facet<std::numpunct<char>>(environment).decimal_point());
  } catch (const std::exception&) {
    return ".";
  }
}

}  // namespace platform
