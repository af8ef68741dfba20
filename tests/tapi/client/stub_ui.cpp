// A stub UI module for the UI routing tests. Each TUISPI function sends one
// block through the callback it was given (the object its call names, a
// request number of its own) and writes a journal line with what came back:
// "<function> <object type>:<object ID> -> <callback result> <block text>".
// The test keeps the module loaded, takes the journal (StubUiTakeJournal) and
// sets what the install and remove dialogs return (StubUiSetResults).
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/codepage.h"
#include "platform/export.h"
#include "tapi/tuispi.h"

namespace {

// The block fake_ui_provider.cpp answers (it has the same).
struct Block {
  DWORD request;
  char text[124];
};

std::mutex g_m;
std::string g_journal;
LONG g_installResult = 0;
LONG g_removeResult = 0;

void ask(TUISPIDLLCALLBACK callback, const std::string& function, DWORD_PTR objectId, DWORD objectType,
         DWORD request) {
  Block block{};
  block.request = request;
  const LONG rc = callback(objectId, objectType, &block, sizeof block);
  block.text[sizeof block.text - 1] = 0;
  char line[256];
  std::snprintf(line, sizeof line, "%s %u:%u -> %ld %s\n", function.c_str(), static_cast<unsigned>(objectType),
                static_cast<unsigned>(objectId), static_cast<long>(rc), block.text);
  std::lock_guard lock(g_m);
  g_journal += line;
}

}  // namespace

extern "C" {

TK_EXPORT LONG TUISPI_providerConfig(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND, DWORD dwPermanentProviderID) {
  ask(lpfnUIDLLCallback, "providerConfig", dwPermanentProviderID, TUISPIDLL_OBJECT_PROVIDERID, 1);
  return 0;
}

TK_EXPORT LONG TUISPI_lineConfigDialog(TUISPIDLLCALLBACK lpfnUIDLLCallback, DWORD dwDeviceID, HWND,
                                       LPCWSTR lpszDeviceClass) {
  ask(lpfnUIDLLCallback, "lineConfigDialog(" + (lpszDeviceClass ? platform::wideToUtf8(lpszDeviceClass) : "") + ")",
      dwDeviceID, TUISPIDLL_OBJECT_LINEID, 2);
  return 0;
}

TK_EXPORT LONG TUISPI_providerInstall(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND, DWORD dwPermanentProviderID) {
  ask(lpfnUIDLLCallback, "providerInstall", dwPermanentProviderID, TUISPIDLL_OBJECT_PROVIDERID, 3);
  std::lock_guard lock(g_m);
  return g_installResult;
}

TK_EXPORT LONG TUISPI_providerRemove(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND, DWORD dwPermanentProviderID) {
  ask(lpfnUIDLLCallback, "providerRemove", dwPermanentProviderID, TUISPIDLL_OBJECT_PROVIDERID, 4);
  std::lock_guard lock(g_m);
  return g_removeResult;
}

// The journal so far, and a fresh one from now on.
TK_EXPORT void StubUiTakeJournal(char* buffer, size_t size) {
  std::lock_guard lock(g_m);
  std::snprintf(buffer, size, "%s", g_journal.c_str());
  g_journal.clear();
}

TK_EXPORT void StubUiSetResults(LONG install, LONG remove) {
  std::lock_guard lock(g_m);
  g_installResult = install;
  g_removeResult = remove;
}

}  // extern "C"
