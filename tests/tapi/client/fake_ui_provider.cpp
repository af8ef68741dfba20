// A provider plug-in with a UI module, for the UI routing tests. One line
// (hdLine 0x900), no calls and no threads of its own.
// TSPI_providerUIIdentify names the stub UI module (stubui.so) in the
// folder of this plug-in, by path. TSPI_providerGenericDialogData answers
// the stub's block: it writes into the block's text which provider got it
// (its permanent ID), whether it was started, and the object and request
// it was sent, so the test sees that the block went all the way and back.
#include <cstdio>
#include <string>

#include "platform/codepage.h"
#include "platform/export.h"
#include "platform/module.h"
#include "tapi/tapi.h"
#include "tapi/tspi.h"

namespace {

// The stub UI module's block (stub_ui.cpp has the same).
struct Block {
  DWORD request;
  char text[124];
};

constexpr uintptr_t kHdLine = 0x900;
DWORD g_providerId = 0;
bool g_started = false;
bool g_open = false;

}  // namespace

extern "C" TK_EXPORT LONG TSPI_providerEnumDevices(DWORD, LPDWORD lpdwNumLines, LPDWORD lpdwNumPhones, HPROVIDER,
                                                   LINEEVENT, PHONEEVENT) {
  *lpdwNumLines = 1;
  *lpdwNumPhones = 0;
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_providerInit(DWORD, DWORD dwPermanentProviderID, DWORD, DWORD, DWORD_PTR, DWORD_PTR,
                                            ASYNC_COMPLETION, LPDWORD lpdwTSPIOptions) {
  *lpdwTSPIOptions = 0;
  g_providerId = dwPermanentProviderID;
  g_started = true;
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_providerShutdown(DWORD, DWORD) {
  g_started = false;
  return g_open ? LINEERR_OPERATIONFAILED : 0;
}

extern "C" TK_EXPORT LONG TSPI_lineNegotiateTSPIVersion(DWORD dwDeviceID, DWORD dwLowVersion, DWORD dwHighVersion,
                                                        LPDWORD lpdwTSPIVersion) {
  if (dwDeviceID != 0 && dwDeviceID != 0xFFFFFFFF) return LINEERR_BADDEVICEID;
  if (dwLowVersion > 0x20000 || dwHighVersion < 0x10003) return LINEERR_INCOMPATIBLEAPIVERSION;
  *lpdwTSPIVersion = dwHighVersion < 0x20000 ? dwHighVersion : 0x20000;
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_lineOpen(DWORD dwDeviceID, HTAPILINE, LPHDRVLINE lphdLine, DWORD, LINEEVENT) {
  if (dwDeviceID != 0) return LINEERR_BADDEVICEID;
  if (g_open) return LINEERR_RESOURCEUNAVAIL;
  g_open = true;
  *lphdLine = reinterpret_cast<HDRVLINE>(kHdLine);
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_lineClose(HDRVLINE hdLine) {
  if (reinterpret_cast<uintptr_t>(hdLine) != kHdLine || !g_open) return LINEERR_INVALLINEHANDLE;
  g_open = false;
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_providerUIIdentify(LPWSTR lpszUIDLLName) {
  std::string path = platform::moduleFileName(platform::moduleFromAddress(reinterpret_cast<const void*>(
      &TSPI_providerUIIdentify)));
  path = path.substr(0, path.rfind('/') + 1) + "stubui.so";
  const std::u16string name = platform::utf8ToWide(path);
  if (name.size() >= 260) return LINEERR_OPERATIONFAILED;  // TAPI's buffer holds MAX_PATH characters
  name.copy(lpszUIDLLName, name.size());
  lpszUIDLLName[name.size()] = 0;
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_providerGenericDialogData(DWORD_PTR dwObjectID, DWORD dwObjectType, LPVOID lpParams,
                                                         DWORD dwSize) {
  if (lpParams == nullptr || dwSize < sizeof(Block)) return LINEERR_INVALPARAM;
  auto* block = static_cast<Block*>(lpParams);
  std::snprintf(block->text, sizeof block->text, "provider %u %s: object %u:%u request %u",
                static_cast<unsigned>(g_providerId), g_started ? "started" : "not started",
                static_cast<unsigned>(dwObjectType), static_cast<unsigned>(dwObjectID),
                static_cast<unsigned>(block->request));
  return 0;
}
