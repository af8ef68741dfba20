#pragma once
// setenv and unsetenv for the Linux tests of the dialog layer built for
// Windows (force-included into them): MinGW-w64 has _putenv_s only.
#include <cstdlib>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (overwrite == 0 && std::getenv(name) != nullptr) return 0;
  return _putenv_s(name, value);
}
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }
