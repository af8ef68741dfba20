// The TSPI entry points of the provider plug-in. The process-wide provider
// state is created when the plug-in is loaded and destroyed when it is
// unloaded. Every entry point writes its call, its outputs and its result to
// the TAPI trace. Nothing throws across the module boundary: out of memory
// inside an entry point is its result LINEERR_NOMEM.
#include "common/trace_file.h"
#include "platform/export.h"
#include "platform/module.h"
#include "provider/provider.h"
#include "provider/provider_instance.h"
#include "provider/tspi_trace.h"
#include "provider/vnl/layer2_binding.h"
#include "provider/vnl/vnl_client.h"
#include "tapi/tspi.h"

namespace {

// The trace files' writer and its named mutexes exist from library load on
// and outlive the provider, whose shut-down at unload still writes records.
[[maybe_unused]] const bool traceWriterCreated = (ProcessTraceWriter(), true);

// The layer-2 binding, the protocol client over it and the provider, tied
// together before anything can call in. The plug-in may go without a final
// TSPI_providerShutdown or with a dialog's link load not undone: both
// threads stop before any of the three is destroyed, the link interface
// thread first (it reports to the client and the provider and queues
// events), then the provider's event thread.
struct ProviderInstance {
  kvarsp::Layer2Binding layer2;
  kvarsp::VnlClient client{layer2};
  kvarsp::Provider provider{client};
  ProviderInstance() {
    kvarsp::ProviderState& state = provider.state;
    client.Attach(state.lock, state.config, state.calls, [&state] { return state.session.permanentProviderId; });
  }
  ~ProviderInstance() {
    layer2.UnloadAll();
    provider.state.events.Stop();
  }
  ProviderInstance(const ProviderInstance&) = delete;
  ProviderInstance& operator=(const ProviderInstance&) = delete;
};
ProviderInstance instance;
kvarsp::ProviderLifecycle& lifecycle = instance.provider.lifecycle;
kvarsp::DialogRequests& dialog = instance.provider.dialog;

platform::ModuleHandle moduleHandle = nullptr;
int attachCount = 0;

bool providerDllMain(platform::ModuleHandle module, uint32_t reason) {
  if (reason == platform::kDllProcessAttach) {
    if (attachCount++ == 0) moduleHandle = module;
  } else if (reason == platform::kDllProcessDetach) {
    if (attachCount > 0 && --attachCount == 0) moduleHandle = nullptr;
  }
  return true;
}

}  // namespace

kvarsp::Provider& kvarsp::TheProvider() { return instance.provider; }

TK_DLL_MAIN(providerDllMain)

using kvarsp::LogResult;
using kvarsp::NoThrow;
using kvarsp::TapiFamily;
using kvarsp::TapiValueName;
using kvarsp::traceTapi;
using kvarsp::TraceHandle;
using kvarsp::TracePointer;

extern "C" {

TK_EXPORT LONG TK_WINAPI TSPI_providerEnumDevices(DWORD dwPermanentProviderID, LPDWORD lpdwNumLines,
                                                  LPDWORD lpdwNumPhones, HPROVIDER hProvider,
                                                  LINEEVENT lpfnLineCreateProc, PHONEEVENT lpfnPhoneCreateProc) {
  return NoThrow("TSPI_providerEnumDevices()", [&] {
    traceTapi(
        "TSPI_providerEnumDevices\n  (\n  dwPermanentProviderID = %u\n  lpdwNumLines = 0x%016zX\n"
        "  lpdwNumPhones = 0x%016zX\n  hProvider = 0x%zx\n  lpfnLineCreateProc = 0x%016zX\n"
        "  lpfnPhoneCreateProc = 0x%016zX\n  )",
        dwPermanentProviderID, TracePointer(lpdwNumLines), TracePointer(lpdwNumPhones), TraceHandle(hProvider),
        TracePointer(lpfnLineCreateProc), TracePointer(lpfnPhoneCreateProc));
    LONG result =
        lifecycle.EnumDevices(dwPermanentProviderID, lpdwNumLines, lpdwNumPhones, hProvider, lpfnLineCreateProc);
    if (result == 0 && lpdwNumLines) traceTapi("TSPI_providerEnumDevices() output: *lpdwNumLines = %u", *lpdwNumLines);
    if (result == 0 && lpdwNumPhones)
      traceTapi("TSPI_providerEnumDevices() output: *lpdwNumPhones = %u", *lpdwNumPhones);
    return LogResult("TSPI_providerEnumDevices()", result);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_providerInit(DWORD dwTSPIVersion, DWORD dwPermanentProviderID, DWORD dwLineDeviceIDBase,
                                           DWORD dwPhoneDeviceIDBase, DWORD_PTR dwNumLines, DWORD_PTR dwNumPhones,
                                           ASYNC_COMPLETION lpfnCompletionProc, LPDWORD lpdwTSPIOptions) {
  return NoThrow("TSPI_providerInit()", [&] {
    traceTapi(
        "TSPI_providerInit\n  (\n  dwTSPIVersion = 0x%08x\n  dwPermanentProviderID = %u\n"
        "  dwLineDeviceIDBase = %u\n  dwPhoneDeviceIDBase = %u\n  dwNumLines = %zu\n  dwNumPhones = %zu\n"
        "  lpfnCompletionProc = 0x%016zX\n  lpdwTSPIOptions = 0x%016zX\n  )",
        dwTSPIVersion, dwPermanentProviderID, dwLineDeviceIDBase, dwPhoneDeviceIDBase, TraceHandle(dwNumLines),
        TraceHandle(dwNumPhones), TracePointer(lpfnCompletionProc), TracePointer(lpdwTSPIOptions));
    LONG result = lifecycle.Init(dwTSPIVersion, dwPermanentProviderID, dwLineDeviceIDBase, dwNumLines,
                                 lpfnCompletionProc, lpdwTSPIOptions);
    if (result == 0 && lpdwTSPIOptions)
      traceTapi("TSPI_providerInit() output: *lpdwTSPIOptions = 0x%08x", *lpdwTSPIOptions);
    return LogResult("TSPI_providerInit()", result);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_providerShutdown(DWORD dwTSPIVersion, DWORD dwPermanentProviderID) {
  return NoThrow("TSPI_providerShutdown()", [&] {
    traceTapi("TSPI_providerShutdown\n  (\n  dwTSPIVersion = 0x%08x\n  dwPermanentProviderID = %u\n  )", dwTSPIVersion,
              dwPermanentProviderID);
    return LogResult("TSPI_providerShutdown()", lifecycle.Shutdown(dwTSPIVersion, dwPermanentProviderID));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_providerCreateLineDevice(DWORD_PTR dwTempID, DWORD dwDeviceID) {
  return NoThrow("TSPI_providerCreateLineDevice()", [&] {
    traceTapi("TSPI_providerCreateLineDevice\n  (\n  dwTempID = %zu\n  dwDeviceID = %u\n  )", TraceHandle(dwTempID),
              dwDeviceID);
    return LogResult("TSPI_providerCreateLineDevice()", lifecycle.CreateLineDevice(dwTempID, dwDeviceID));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineNegotiateTSPIVersion(DWORD dwDeviceID, DWORD dwLowVersion, DWORD dwHighVersion,
                                                       LPDWORD lpdwTSPIVersion) {
  return NoThrow("TSPI_lineNegotiateTSPIVersion()", [&] {
    traceTapi(
        "TSPI_lineNegotiateTSPIVersion\n  (\n  dwDeviceID = %u\n  dwLowVersion = 0x%08x\n  dwHighVersion = 0x%08x\n"
        "  lpdwTSPIVersion = 0x%016zX\n  )",
        dwDeviceID, dwLowVersion, dwHighVersion, TracePointer(lpdwTSPIVersion));
    LONG result = lifecycle.NegotiateTspiVersion(dwDeviceID, dwLowVersion, dwHighVersion, lpdwTSPIVersion);
    if (result == 0) traceTapi("TSPI_lineNegotiateTSPIVersion() output: *lpdwTSPIVersion = 0x%08x", *lpdwTSPIVersion);
    return LogResult("TSPI_lineNegotiateTSPIVersion()", result);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_providerGenericDialogData(DWORD_PTR dwObjectID, DWORD dwObjectType, LPVOID lpParams,
                                                        DWORD dwSize) {
  return NoThrow("TSPI_providerGenericDialogData()", [&] {
    traceTapi(
        "TSPI_providerGenericDialogData\n  (\n  dwObjectID = 0x%zx\n  dwObjectType = %s\n  lpParams = 0x%016zX\n"
        "  dwSize = %u\n  )",
        TraceHandle(dwObjectID), TapiValueName(TapiFamily::TuispiDllObject, dwObjectType), TracePointer(lpParams),
        dwSize);
    return LogResult("TSPI_providerGenericDialogData()",
                     dialog.GenericDialogData(dwObjectID, dwObjectType, lpParams, dwSize));
  });
}

}  // extern "C"
