#pragma once
// An empty registry for one test case: while the object lives, the predefined roots HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE of this
// process are redirected (RegOverridePredefKey) to two fresh keys below the
// real HKEY_CURRENT_USER "Software\TkTest\<suite>.<case>.<pid>". The
// redirection is per process, so it covers every DLL the test loads (the
// dialogs' modules read and write through the same advapi32), and the Wine
// prefix's own registry is left alone.
#include <string>

namespace tktest {

class RegistryCase {
 public:
  RegistryCase();
  ~RegistryCase();
  RegistryCase(const RegistryCase&) = delete;
  RegistryCase& operator=(const RegistryCase&) = delete;

  // The real HKEY_CURRENT_USER path of the case's keys "HKCU" and "HKLM".
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

}  // namespace tktest
