// A small provider plug-in for the telephony host tests. It reports two
// lines and announces a third with LINE_CREATE (temporary ID 0x55) from its
// worker thread once initialised; TSPI_providerCreateLineDevice binds it.
// LINEDEVCAPS carries the name "Fake line <device ID>", which fits only when
// the caller offers more than the fixed part. TSPI_lineOpen hands out hdLine
// 0x700 + device ID and reports LINE_LINEDEVSTATE OPEN from the worker.
// TSPI_providerShutdown refuses while a line is still open, and
// TSPI_providerInit while the provider is initialised already.
//
// Two functions misbehave on purpose, for the tests of fault handling:
// TSPI_lineDevSpecificFeature completes its request twice, and
// TSPI_lineSetCurrentLocation sends an event for an htLine nobody opened.
// TSPI_lineDevSpecific is a well-behaved asynchronous function.
#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "platform/module.h"
#include "tests/tapi/fake_worker.h"
#include "tapi/tapi.h"
#include "tapi/tspi.h"

namespace {

constexpr DWORD kReportedLines = 2;
constexpr DWORD_PTR kAnnouncedTempId = 0x55;
constexpr uintptr_t kHdLineBase = 0x700;

ASYNC_COMPLETION g_complete = nullptr;
LINEEVENT g_lineCreate = nullptr;
HPROVIDER g_provider = nullptr;

std::mutex g_m;  // guards the line state below and the work queue
bool g_created = false;
DWORD g_createdId = 0;
struct Line {
  HTAPILINE htLine;
  LINEEVENT eventProc;
};
std::map<DWORD, Line> g_open;  // by device ID

tktest::FakeWorker g_worker;

void post(std::function<void()> job) { g_worker.Post(std::move(job)); }

bool validDevice(DWORD deviceId) {
  std::lock_guard lock(g_m);
  return deviceId < kReportedLines || (g_created && deviceId == g_createdId);
}

std::u16string lineName(DWORD deviceId) {
  std::string digits = std::to_string(deviceId);
  return u"Fake line " + std::u16string(digits.begin(), digits.end());
}

}  // namespace

extern "C" TK_EXPORT LONG TSPI_providerEnumDevices(DWORD, LPDWORD lpdwNumLines, LPDWORD lpdwNumPhones,
                                                   HPROVIDER hProvider, LINEEVENT lpfnLineCreateProc, PHONEEVENT) {
  *lpdwNumLines = kReportedLines;
  *lpdwNumPhones = 0;
  g_lineCreate = lpfnLineCreateProc;
  g_provider = hProvider;
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_providerInit(DWORD, DWORD, DWORD, DWORD, DWORD_PTR, DWORD_PTR,
                                            ASYNC_COMPLETION lpfnCompletionProc, LPDWORD lpdwTSPIOptions) {
  *lpdwTSPIOptions = LINETSPIOPTION_NONREENTRANT;
  // One initialisation at a time: a host that never shut us down shows here.
  if (g_worker.Running()) return LINEERR_OPERATIONFAILED;
  g_complete = lpfnCompletionProc;
  {
    std::lock_guard lock(g_m);
    g_created = false;
    g_open.clear();
  }
  g_worker.Start("fake lines");
  post([] {
    g_lineCreate(nullptr, nullptr, LINE_CREATE, reinterpret_cast<DWORD_PTR>(g_provider), kAnnouncedTempId, 0);
  });
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_providerShutdown(DWORD, DWORD) {
  {
    std::lock_guard lock(g_m);
    if (!g_open.empty()) return LINEERR_OPERATIONFAILED;
  }
  g_worker.Stop();
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_providerCreateLineDevice(DWORD_PTR dwTempID, DWORD dwDeviceID) {
  std::lock_guard lock(g_m);
  if (dwTempID != kAnnouncedTempId || g_created) return LINEERR_OPERATIONFAILED;
  g_created = true;
  g_createdId = dwDeviceID;
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_lineNegotiateTSPIVersion(DWORD dwDeviceID, DWORD dwLowVersion, DWORD dwHighVersion,
                                                        LPDWORD lpdwTSPIVersion) {
  if (dwDeviceID != 0xFFFFFFFF && !validDevice(dwDeviceID)) return LINEERR_BADDEVICEID;
  *lpdwTSPIVersion = 0x10003;
  if (dwLowVersion > 0x20000 || dwHighVersion < 0x10003) return LINEERR_INCOMPATIBLEAPIVERSION;
  *lpdwTSPIVersion = std::min<DWORD>(dwHighVersion, 0x20000);
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_lineGetDevCaps(DWORD dwDeviceID, DWORD, DWORD, LPLINEDEVCAPS lpLineDevCaps) {
  if (lpLineDevCaps->dwTotalSize < sizeof(LINEDEVCAPS)) return LINEERR_STRUCTURETOOSMALL;
  if (!validDevice(dwDeviceID)) return LINEERR_BADDEVICEID;
  const std::u16string name = lineName(dwDeviceID);
  const auto nameBytes = static_cast<DWORD>((name.size() + 1) * sizeof(char16_t));
  lpLineDevCaps->dwNeededSize = sizeof(LINEDEVCAPS) + nameBytes;
  lpLineDevCaps->dwUsedSize = sizeof(LINEDEVCAPS);
  lpLineDevCaps->dwStringFormat = STRINGFORMAT_UNICODE;
  lpLineDevCaps->dwNumAddresses = 1;
  lpLineDevCaps->dwLineNameSize = 0;
  lpLineDevCaps->dwLineNameOffset = 0;
  if (lpLineDevCaps->dwTotalSize >= lpLineDevCaps->dwNeededSize) {
    auto* text = reinterpret_cast<char16_t*>(reinterpret_cast<BYTE*>(lpLineDevCaps) + sizeof(LINEDEVCAPS));
    std::copy(name.c_str(), name.c_str() + name.size() + 1, text);
    lpLineDevCaps->dwLineNameSize = nameBytes;
    lpLineDevCaps->dwLineNameOffset = sizeof(LINEDEVCAPS);
    lpLineDevCaps->dwUsedSize = lpLineDevCaps->dwNeededSize;
  }
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_lineOpen(DWORD dwDeviceID, HTAPILINE htLine, LPHDRVLINE lphdLine, DWORD,
                                        LINEEVENT lpfnEventProc) {
  if (!validDevice(dwDeviceID)) return LINEERR_BADDEVICEID;
  {
    std::lock_guard lock(g_m);
    if (g_open.count(dwDeviceID)) return LINEERR_RESOURCEUNAVAIL;
    g_open[dwDeviceID] = Line{htLine, lpfnEventProc};
  }
  *lphdLine = reinterpret_cast<HDRVLINE>(kHdLineBase + dwDeviceID);
  post([htLine, lpfnEventProc] { lpfnEventProc(htLine, nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_OPEN, 0, 0); });
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_lineClose(HDRVLINE hdLine) {
  const auto device = static_cast<DWORD>(reinterpret_cast<uintptr_t>(hdLine) - kHdLineBase);
  std::lock_guard lock(g_m);
  return g_open.erase(device) ? 0 : LINEERR_INVALLINEHANDLE;
}

extern "C" TK_EXPORT LONG TSPI_lineDevSpecific(DRV_REQUESTID dwRequestID, HDRVLINE, DWORD, HDRVCALL, LPVOID, DWORD) {
  post([dwRequestID] { g_complete(dwRequestID, 0); });
  return static_cast<LONG>(dwRequestID);
}

extern "C" TK_EXPORT LONG TSPI_lineDevSpecificFeature(DRV_REQUESTID dwRequestID, HDRVLINE, DWORD, LPVOID, DWORD) {
  post([dwRequestID] {
    g_complete(dwRequestID, 0);
    g_complete(dwRequestID, 0);
  });
  return static_cast<LONG>(dwRequestID);
}

extern "C" TK_EXPORT LONG TSPI_lineSetCurrentLocation(DWORD) {
  LINEEVENT eventProc = nullptr;
  {
    std::lock_guard lock(g_m);
    if (!g_open.empty()) eventProc = g_open.begin()->second.eventProc;
  }
  if (!eventProc) return LINEERR_OPERATIONFAILED;
  post([eventProc] {
    eventProc(reinterpret_cast<HTAPILINE>(uintptr_t{0xBAD0}), nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_OTHER, 0, 0);
  });
  return 0;
}
