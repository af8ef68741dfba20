// The TSPI entry points of the provider plug-in. The process-wide provider
// state is created when the plug-in is loaded and destroyed when it is
// unloaded.
#include "platform/export.h"
#include "platform/module.h"
#include "provider/provider.h"
#include "provider/vnl/layer2_binding.h"
#include "tapi/tspi.h"

namespace {

kvarsp::Layer2Binding layer2;
kvarsp::Provider provider(layer2);

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

TK_DLL_MAIN(providerDllMain)

extern "C" {

TK_EXPORT LONG TSPI_providerEnumDevices(DWORD dwPermanentProviderID, LPDWORD lpdwNumLines, LPDWORD lpdwNumPhones,
                                        HPROVIDER hProvider, LINEEVENT lpfnLineCreateProc, PHONEEVENT) {
  return provider.EnumDevices(dwPermanentProviderID, lpdwNumLines, lpdwNumPhones, hProvider, lpfnLineCreateProc);
}

TK_EXPORT LONG TSPI_providerInit(DWORD dwTSPIVersion, DWORD dwPermanentProviderID, DWORD dwLineDeviceIDBase,
                                 DWORD, DWORD_PTR dwNumLines, DWORD_PTR, ASYNC_COMPLETION lpfnCompletionProc,
                                 LPDWORD lpdwTSPIOptions) {
  return provider.Init(dwTSPIVersion, dwPermanentProviderID, dwLineDeviceIDBase, dwNumLines, lpfnCompletionProc,
                       lpdwTSPIOptions);
}

TK_EXPORT LONG TSPI_providerShutdown(DWORD dwTSPIVersion, DWORD dwPermanentProviderID) {
  return provider.Shutdown(dwTSPIVersion, dwPermanentProviderID);
}

TK_EXPORT LONG TSPI_providerCreateLineDevice(DWORD_PTR dwTempID, DWORD dwDeviceID) {
  return provider.CreateLineDevice(dwTempID, dwDeviceID);
}

TK_EXPORT LONG TSPI_lineNegotiateTSPIVersion(DWORD dwDeviceID, DWORD dwLowVersion, DWORD dwHighVersion,
                                             LPDWORD lpdwTSPIVersion) {
  return provider.NegotiateTspiVersion(dwDeviceID, dwLowVersion, dwHighVersion, lpdwTSPIVersion);
}

TK_EXPORT LONG TSPI_providerGenericDialogData(DWORD_PTR dwObjectID, DWORD dwObjectType, LPVOID lpParams,
                                              DWORD dwSize) {
  return provider.GenericDialogData(dwObjectID, dwObjectType, lpParams, dwSize);
}

}  // extern "C"
