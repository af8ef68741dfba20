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
#include <deque>
#include <functional>
#include <mutex>
#include <string_view>

#include "platform/module.h"
#include "platform/thread.h"
#include "platform/wait.h"
#include "tapi/tapi.h"
#include "tapi/tspi.h"

namespace {

constexpr std::string_view kBehaviour = FAKE_PROVIDER_BEHAVIOUR;

ASYNC_COMPLETION g_complete = nullptr;
LINEEVENT g_lineCreate = nullptr;
HPROVIDER g_provider = nullptr;
LINEEVENT g_lineEvent = nullptr;
HTAPILINE g_htLine = nullptr;
HTAPICALL g_htCall = nullptr;  // written by TAPI through LINE_NEWCALL

std::mutex g_m;
std::deque<std::function<void()>> g_work;
platform::Event g_wake(platform::Event::Reset::Auto);
bool g_stop = false;
platform::Thread* g_worker = nullptr;
platform::Thread* g_lingering = nullptr;  // the worker left running after shutdown

void post(std::function<void()> job) {
  {
    std::lock_guard lock(g_m);
    g_work.push_back(std::move(job));
  }
  g_wake.set();
}

void workerLoop() {
  for (;;) {
    g_wake.wait(5000);
    std::deque<std::function<void()>> jobs;
    bool stop;
    {
      std::lock_guard lock(g_m);
      jobs.swap(g_work);
      stop = g_stop;
    }
    for (auto& job : jobs) job();
    if (stop) return;
  }
}

// Announces one more line, as a provider does after a configuration change.
void announceLine() { g_lineCreate(nullptr, nullptr, LINE_CREATE, reinterpret_cast<DWORD_PTR>(g_provider), 7, 0); }

// Before the module is unloaded, a worker left running must have ended.
bool moduleEntry(platform::ModuleHandle, uint32_t reason) {
  if (reason == platform::kDllProcessDetach && g_lingering) {
    g_lingering->join();
    delete g_lingering;
    g_lingering = nullptr;
  }
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
  g_stop = false;
  g_worker = new platform::Thread;
  g_worker->start(workerLoop, "fake worker");
  if (kBehaviour != "call_inside") post(announceLine);
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_providerShutdown(DWORD, DWORD) {
  {
    std::lock_guard lock(g_m);
    g_stop = true;
  }
  if (kBehaviour == "after_shutdown") {
    // Leaves a completion behind that the worker delivers once we returned.
    post([] {
      platform::sleepMs(50);
      g_complete(999, 0);
    });
    g_lingering = g_worker;  // left running on purpose
    g_worker = nullptr;
    return 0;
  }
  g_wake.set();
  g_worker->join();
  delete g_worker;
  g_worker = nullptr;
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
