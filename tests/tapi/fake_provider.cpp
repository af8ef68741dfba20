// A tiny provider plug-in for the harness tests. It is built in several
// variants (FAKE_PROVIDER_BEHAVIOUR) that keep or break the TSPI contract
// in one way each:
//   good           completes each request once from its own worker thread
//   complete_twice completes each TSPI_lineDrop request twice
//   call_inside    completes TSPI_lineDrop from inside the TSPI call
//   after_shutdown keeps its worker running and completes after shutdown
//   never_complete accepts TSPI_lineDrop and never completes it
// TSPI_providerInit makes the worker announce a line with LINE_CREATE;
// TSPI_lineOpen makes it announce a new call with LINE_NEWCALL and
// then report LINE_CALLSTATE OFFERING on the htCall TAPI wrote back.
#include <string_view>

#include "platform/module.h"
#include "platform/thread.h"
#include "tapi/tapi.h"
#include "tapi/tspi.h"
#include "tests/tapi/fake_worker.h"

namespace {

constexpr std::string_view kBehaviour = FAKE_PROVIDER_BEHAVIOUR;

ASYNC_COMPLETION g_complete = nullptr;
LINEEVENT g_lineCreate = nullptr;
HPROVIDER g_provider = nullptr;
LINEEVENT g_lineEvent = nullptr;
HTAPILINE g_htLine = nullptr;
HTAPICALL g_htCall = nullptr;  // written by TAPI through LINE_NEWCALL

tktest::FakeWorker g_worker;

void post(std::function<void()> job) { g_worker.Post(std::move(job)); }

// Announces one more line, as a provider does after a configuration change.
void announceLine() { g_lineCreate(nullptr, nullptr, LINE_CREATE, reinterpret_cast<DWORD_PTR>(g_provider), 7, 0); }

// Before the module is unloaded, a worker left running must have ended.
bool moduleEntry(platform::ModuleHandle, uint32_t reason) {
  if (reason == platform::kDllProcessDetach) g_worker.Join();
  return true;
}

}  // namespace

TK_DLL_MAIN(moduleEntry)

extern "C" TK_EXPORT LONG TSPI_providerEnumDevices(DWORD, LPDWORD lpdwNumLines, LPDWORD lpdwNumPhones,
                                                   HPROVIDER hProvider, LINEEVENT lpfnLineCreateProc, PHONEEVENT) {
  *lpdwNumLines = 1;
  *lpdwNumPhones = 0;
  g_lineCreate = lpfnLineCreateProc;
  g_provider = hProvider;
  if (kBehaviour == "call_inside") announceLine();
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_providerInit(DWORD, DWORD, DWORD, DWORD, DWORD_PTR, DWORD_PTR,
                                            ASYNC_COMPLETION lpfnCompletionProc, LPDWORD lpdwTSPIOptions) {
  *lpdwTSPIOptions = LINETSPIOPTION_NONREENTRANT;
  g_complete = lpfnCompletionProc;
  g_worker.Start("fake worker");
  if (kBehaviour != "call_inside") post(announceLine);
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_providerShutdown(DWORD, DWORD) {
  if (kBehaviour == "after_shutdown") {
    // Leaves a completion behind that the worker delivers once we returned;
    // the worker is left running on purpose.
    post([] {
      platform::sleepMs(50);
      g_complete(999, 0);
    });
    g_worker.Stop(false);
    return 0;
  }
  g_worker.Stop();
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_lineOpen(DWORD, HTAPILINE htLine, LPHDRVLINE lphdLine, DWORD, LINEEVENT lpfnEventProc) {
  g_htLine = htLine;
  g_lineEvent = lpfnEventProc;
  *lphdLine = reinterpret_cast<HDRVLINE>(htLine);
  post([] {
    g_lineEvent(g_htLine, nullptr, LINE_NEWCALL, 1, reinterpret_cast<DWORD_PTR>(&g_htCall), 0);
    g_lineEvent(g_htLine, g_htCall, LINE_CALLSTATE, LINECALLSTATE_OFFERING, 0, LINEMEDIAMODE_INTERACTIVEVOICE);
  });
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_lineDrop(DRV_REQUESTID dwRequestID, HDRVCALL, LPCSTR, DWORD) {
  if (kBehaviour == "call_inside") {
    g_complete(dwRequestID, 0);
    return static_cast<LONG>(dwRequestID);
  }
  if (kBehaviour == "never_complete") return static_cast<LONG>(dwRequestID);
  post([dwRequestID] {
    g_complete(dwRequestID, 0);
    if (kBehaviour == "complete_twice") g_complete(dwRequestID, 0);
  });
  return static_cast<LONG>(dwRequestID);
}

extern "C" TK_EXPORT LONG TSPI_lineAnswer(DRV_REQUESTID, HDRVCALL, LPCSTR, DWORD) {
  // Refuses at once; a refused request must never be completed.
  return LINEERR_INVALCALLSTATE;
}
