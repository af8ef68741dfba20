#pragma once
// An empty registry for every test case of a suite whose name begins with
// "Registry" (the others, e.g. those that start child processes, which could
// not clean up after themselves, run without).
//
// Under Wine (and on a real machine) the registry is shared by every test and
// every program, and the tests of the other backend expect an empty store
// per case. Before each case the predefined roots HKEY_CURRENT_USER and
// HKEY_LOCAL_MACHINE of this process are redirected with RegOverridePredefKey
// to two fresh keys below the real HKEY_CURRENT_USER
// "Software\TkTest\<case>.<pid>"; after the case they are restored and that
// key is deleted. The redirection is per process: a child process sees the
// real roots.
#include <string>

namespace tktest {

// The real HKEY_CURRENT_USER path of the current case's sandbox, with the
// keys "HKCU" and "HKLM" below it; empty outside a case.
std::wstring registrySandboxPath();

// True under Wine (which lacks a few things real Windows has).
bool runningUnderWine();

}  // namespace tktest
