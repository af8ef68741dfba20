// The TSPI entry points of line devices (open, close, capabilities, status
// and settings) and the provider-level entries that only identify or
// acknowledge. Each writes its call, its outputs and its result to the TAPI
// trace and leaves the work to the provider's line operations; out of memory
// inside one is its result LINEERR_NOMEM.
#include <iterator>
#include <string>

#include "platform/codepage.h"
#include "platform/export.h"
#include "provider/line_device_structs.h"
#include "provider/provider.h"
#include "provider/provider_instance.h"
#include "provider/tapi_dump.h"
#include "provider/tspi_trace.h"
#include "provider/tspi_versions.h"
#include "tapi/tspi.h"

namespace {

using kvarsp::LineVersionOf;
using kvarsp::LogResult;
using kvarsp::NoThrow;
using kvarsp::TapiFamily;
using kvarsp::TapiFlagWord;
using kvarsp::TapiValueName;
using kvarsp::TheProvider;
using kvarsp::traceTapi;
using kvarsp::TraceHandle;
using kvarsp::TracePointer;
using kvarsp::TraceOutputDump;
using kvarsp::TraceText;
using kvarsp::ValueColumn;

// The part of the provider these entry points call.
kvarsp::LineOperations& LineOps() { return TheProvider().lineOps; }

// The name of the configuration dialog's library.
constexpr char16_t kUiLibraryName[] = u"KVARUI.DLL";

}  // namespace

extern "C" {

TK_EXPORT LONG TK_WINAPI TSPI_lineOpen(DWORD dwDeviceID, HTAPILINE htLine, LPHDRVLINE lphdLine, DWORD dwTSPIVersion,
                                       LINEEVENT lpfnEventProc) {
  return NoThrow("TSPI_lineOpen()", [&] {
    traceTapi(
        "TSPI_lineOpen\n  (\n  dwDeviceID = %u\n  htLine = 0x%zx\n  lphdLine = 0x%016zX\n"
        "  dwTSPIVersion = 0x%08x\n  lpfnEventProc = 0x%016zX\n  )",
        dwDeviceID, TraceHandle(htLine), TracePointer(lphdLine), dwTSPIVersion, TracePointer(lpfnEventProc));
    LONG result = LineOps().LineOpen(dwDeviceID, htLine, lphdLine, dwTSPIVersion, lpfnEventProc);
    if (result == 0 && lphdLine) traceTapi("TSPI_lineOpen() output: *lphdLine = 0x%zx", TraceHandle(*lphdLine));
    return LogResult("TSPI_lineOpen()", result);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineClose(HDRVLINE hdLine) {
  return NoThrow("TSPI_lineClose()", [&] {
    traceTapi("TSPI_lineClose\n  (\n  hdLine = 0x%zx\n  )", TraceHandle(hdLine));
    return LogResult("TSPI_lineClose()", LineOps().LineClose(hdLine));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineGetDevCaps(DWORD dwDeviceID, DWORD dwTSPIVersion, DWORD dwExtVersion,
                                             LPLINEDEVCAPS lpLineDevCaps) {
  return NoThrow("TSPI_lineGetDevCaps()", [&] {
    traceTapi(
        "TSPI_lineGetDevCaps\n  (\n  dwDeviceID = %u\n  dwTSPIVersion = 0x%08x\n  dwExtVersion = 0x%08x\n"
        "  lpLineDevCaps = 0x%016zX\n  )",
        dwDeviceID, dwTSPIVersion, dwExtVersion, TracePointer(lpLineDevCaps));
    LONG result = LineOps().GetDevCaps(dwDeviceID, dwTSPIVersion, dwExtVersion, lpLineDevCaps);
    if (result == 0) {
      TraceOutputDump("TSPI_lineGetDevCaps()",
                      [&] { return kvarsp::DumpLineDevCaps("lpLineDevCaps", lpLineDevCaps, dwTSPIVersion); });
    }
    return LogResult("TSPI_lineGetDevCaps()", result);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineGetAddressCaps(DWORD dwDeviceID, DWORD dwAddressID, DWORD dwTSPIVersion,
                                                 DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps) {
  return NoThrow("TSPI_lineGetAddressCaps()", [&] {
    traceTapi(
        "TSPI_lineGetAddressCaps\n  (\n  dwDeviceID = %u\n  dwAddressID = %u\n  dwTSPIVersion = 0x%08x\n"
        "  dwExtVersion = 0x%08x\n  lpAddressCaps = 0x%016zX\n  )",
        dwDeviceID, dwAddressID, dwTSPIVersion, dwExtVersion, TracePointer(lpAddressCaps));
    LONG result = LineOps().GetAddressCaps(dwDeviceID, dwAddressID, dwTSPIVersion, dwExtVersion, lpAddressCaps);
    if (result == 0) {
      TraceOutputDump("TSPI_lineGetAddressCaps()",
                      [&] { return kvarsp::DumpLineAddressCaps("lpAddressCaps", lpAddressCaps, dwTSPIVersion); });
    }
    return LogResult("TSPI_lineGetAddressCaps()", result);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineGetAddressID(HDRVLINE hdLine, LPDWORD lpdwAddressID, DWORD dwAddressMode,
                                               LPCWSTR lpsAddress, DWORD dwSize) {
  return NoThrow("TSPI_lineGetAddressID()", [&] {
    // The address need not be terminated within dwSize; only that much is shown.
    const std::u16string address(kvarsp::WideTextWithin(lpsAddress, dwSize));
    traceTapi(
        "TSPI_lineGetAddressID\n  (\n  hdLine = 0x%zx\n  lpdwAddressID = 0x%016zX\n  dwAddressMode = %s\n"
        "  lpsAddress = \"%s\"\n  dwSize = %u\n  )",
        TraceHandle(hdLine), TracePointer(lpdwAddressID), TapiValueName(TapiFamily::LineAddressMode, dwAddressMode),
        platform::wideToUtf8(address).c_str(), dwSize);
    LONG result = LineOps().GetAddressID(hdLine, lpdwAddressID, dwAddressMode, lpsAddress, dwSize);
    if (result == 0) traceTapi("TSPI_lineGetAddressID() output: *lpdwAddressID = %u", *lpdwAddressID);
    return LogResult("TSPI_lineGetAddressID()", result);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineGetAddressStatus(HDRVLINE hdLine, DWORD dwAddressID,
                                                   LPLINEADDRESSSTATUS lpAddressStatus) {
  return NoThrow("TSPI_lineGetAddressStatus()", [&] {
    traceTapi("TSPI_lineGetAddressStatus\n  (\n  hdLine = 0x%zx\n  dwAddressID = %u\n  lpAddressStatus = 0x%016zX\n  )",
              TraceHandle(hdLine), dwAddressID, TracePointer(lpAddressStatus));
    LONG result = LineOps().GetAddressStatus(hdLine, dwAddressID, lpAddressStatus);
    if (result == 0) {
      TraceOutputDump("TSPI_lineGetAddressStatus()", [&] {
        return kvarsp::DumpLineAddressStatus("lpAddressStatus", lpAddressStatus, LineVersionOf(hdLine));
      });
    }
    return LogResult("TSPI_lineGetAddressStatus()", result);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineGetNumAddressIDs(HDRVLINE hdLine, LPDWORD lpdwNumAddressIDs) {
  return NoThrow("TSPI_lineGetNumAddressIDs()", [&] {
    traceTapi("TSPI_lineGetNumAddressIDs\n  (\n  hdLine = 0x%zx\n  lpdwNumAddressIDs = 0x%016zX\n  )",
              TraceHandle(hdLine), TracePointer(lpdwNumAddressIDs));
    LONG result = LineOps().GetNumAddressIDs(hdLine, lpdwNumAddressIDs);
    if (result == 0) traceTapi("TSPI_lineGetNumAddressIDs() output: *lpdwNumAddressIDs = %u", *lpdwNumAddressIDs);
    return LogResult("TSPI_lineGetNumAddressIDs()", result);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineGetLineDevStatus(HDRVLINE hdLine, LPLINEDEVSTATUS lpLineDevStatus) {
  return NoThrow("TSPI_lineGetLineDevStatus()", [&] {
    traceTapi("TSPI_lineGetLineDevStatus\n  (\n  hdLine = 0x%zx\n  lpLineDevStatus = 0x%016zX\n  )",
              TraceHandle(hdLine), TracePointer(lpLineDevStatus));
    LONG result = LineOps().GetLineDevStatus(hdLine, lpLineDevStatus);
    if (result == 0) {
      TraceOutputDump("TSPI_lineGetLineDevStatus()", [&] {
        return kvarsp::DumpLineDevStatus("lpLineDevStatus", lpLineDevStatus, LineVersionOf(hdLine));
      });
    }
    return LogResult("TSPI_lineGetLineDevStatus()", result);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineSetLineDevStatus(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD dwStatusToChange,
                                                   DWORD fStatus) {
  return NoThrow("TSPI_lineSetLineDevStatus()", [&] {
    traceTapi(
        "TSPI_lineSetLineDevStatus\n  (\n  dwRequestID = 0x%08x\n  hdLine = 0x%zx\n  dwStatusToChange = %s\n"
        "  fStatus = %u\n  )",
        dwRequestID, TraceHandle(hdLine),
        TapiFlagWord(TapiFamily::LineDevStatusFlags, dwStatusToChange, ValueColumn("dwStatusToChange")).c_str(),
        fStatus);
    return LogResult("TSPI_lineSetLineDevStatus()",
                     LineOps().SetLineDevStatus(dwRequestID, hdLine, dwStatusToChange, fStatus));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineSetStatusMessages(HDRVLINE hdLine, DWORD dwLineStates, DWORD dwAddressStates) {
  return NoThrow("TSPI_lineSetStatusMessages()", [&] {
    traceTapi("TSPI_lineSetStatusMessages\n  (\n  hdLine = 0x%zx\n  dwLineStates = %s\n  dwAddressStates = %s\n  )",
              TraceHandle(hdLine),
              TapiFlagWord(TapiFamily::LineDevState, dwLineStates, ValueColumn("dwLineStates")).c_str(),
              TapiFlagWord(TapiFamily::LineAddressState, dwAddressStates, ValueColumn("dwAddressStates")).c_str());
    return LogResult("TSPI_lineSetStatusMessages()",
                     LineOps().SetStatusMessages(hdLine, dwLineStates, dwAddressStates));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineSetDefaultMediaDetection(HDRVLINE hdLine, DWORD dwMediaModes) {
  return NoThrow("TSPI_lineSetDefaultMediaDetection()", [&] {
    traceTapi("TSPI_lineSetDefaultMediaDetection\n  (\n  hdLine = 0x%zx\n  dwMediaModes = %s\n  )", TraceHandle(hdLine),
              TapiFlagWord(TapiFamily::LineMediaMode, dwMediaModes, ValueColumn("dwMediaModes")).c_str());
    return LogResult("TSPI_lineSetDefaultMediaDetection()", LineOps().SetDefaultMediaDetection(hdLine, dwMediaModes));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineConditionalMediaDetection(HDRVLINE hdLine, DWORD dwMediaModes,
                                                            LPLINECALLPARAMS lpCallParams) {
  return NoThrow("TSPI_lineConditionalMediaDetection()", [&] {
    traceTapi(
        "TSPI_lineConditionalMediaDetection\n  (\n  hdLine = 0x%zx\n  dwMediaModes = %s\n"
        "  lpCallParams = 0x%016zX\n  )",
        TraceHandle(hdLine), TapiFlagWord(TapiFamily::LineMediaMode, dwMediaModes, ValueColumn("dwMediaModes")).c_str(),
        TracePointer(lpCallParams));
    return LogResult("TSPI_lineConditionalMediaDetection()",
                     LineOps().ConditionalMediaDetection(hdLine, dwMediaModes, lpCallParams));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineGetID(HDRVLINE hdLine, DWORD dwAddressID, HDRVCALL hdCall, DWORD dwSelect,
                                        LPVARSTRING lpDeviceID, LPCWSTR lpszDeviceClass, HANDLE hTargetProcess) {
  return NoThrow("TSPI_lineGetID()", [&] {
    traceTapi(
        "TSPI_lineGetID\n  (\n  hdLine = 0x%zx\n  dwAddressID = %u\n  hdCall = 0x%zx\n  dwSelect = %s\n"
        "  lpDeviceID = 0x%016zX\n  lpszDeviceClass = \"%s\"\n  hTargetProcess = 0x%zx\n  )",
        TraceHandle(hdLine), dwAddressID, TraceHandle(hdCall), TapiValueName(TapiFamily::LineCallSelect, dwSelect),
        TracePointer(lpDeviceID), TraceText(lpszDeviceClass).c_str(), TraceHandle(hTargetProcess));
    LONG result = LineOps().GetID(hdLine, dwAddressID, hdCall, dwSelect, lpDeviceID, lpszDeviceClass);
    if (result == 0) {
      TraceOutputDump("TSPI_lineGetID()",
                      [&] { return kvarsp::DumpVarString("lpDeviceID", lpDeviceID, kvarsp::kTspiVersionHigh); });
    }
    return LogResult("TSPI_lineGetID()", result);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineGetIcon(DWORD dwDeviceID, LPCWSTR lpszDeviceClass, LPHICON lphIcon) {
  return NoThrow("TSPI_lineGetIcon()", [&] {
    traceTapi("TSPI_lineGetIcon\n  (\n  dwDeviceID = %u\n  lpszDeviceClass = \"%s\"\n  lphIcon = 0x%016zX\n  )",
              dwDeviceID, TraceText(lpszDeviceClass).c_str(), TracePointer(lphIcon));
    LONG result = LineOps().GetIcon(dwDeviceID, lphIcon);
    if (result == 0) traceTapi("TSPI_lineGetIcon() output: *lphIcon = 0x%zx", TraceHandle(*lphIcon));
    return LogResult("TSPI_lineGetIcon()", result);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_providerUIIdentify(LPWSTR lpszUIDLLName) {
  return NoThrow("TSPI_providerUIIdentify()", [&] {
    traceTapi("TSPI_providerUIIdentify\n  (\n  lpszUIDLLName = 0x%016zX\n  )", TracePointer(lpszUIDLLName));
    if (!lpszUIDLLName) return LogResult("TSPI_providerUIIdentify()", LINEERR_INVALPOINTER);
    std::char_traits<char16_t>::copy(lpszUIDLLName, kUiLibraryName, std::size(kUiLibraryName));
    traceTapi("TSPI_providerUIIdentify() output: lpszUIDLLName = \"%s\"", TraceText(lpszUIDLLName).c_str());
    return LogResult("TSPI_providerUIIdentify()", 0);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_providerConfig(HWND hwndOwner, DWORD dwPermanentProviderID) {
  return NoThrow("TSPI_providerConfig()", [&] {
    traceTapi("TSPI_providerConfig\n  (\n  hwndOwner = 0x%zx\n  dwPermanentProviderID = %u\n  )",
              TraceHandle(hwndOwner), dwPermanentProviderID);
    // The configuration runs through the UI library's TUISPI_providerConfig.
    return LogResult("TSPI_providerConfig()", 0);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_providerInstall(HWND hwndOwner, DWORD dwPermanentProviderID) {
  return NoThrow("TSPI_providerInstall()", [&] {
    traceTapi("TSPI_providerInstall\n  (\n  hwndOwner = 0x%zx\n  dwPermanentProviderID = %u\n  )",
              TraceHandle(hwndOwner), dwPermanentProviderID);
    return LogResult("TSPI_providerInstall()", 0);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_providerRemove(HWND hwndOwner, DWORD dwPermanentProviderID) {
  return NoThrow("TSPI_providerRemove()", [&] {
    traceTapi("TSPI_providerRemove\n  (\n  hwndOwner = 0x%zx\n  dwPermanentProviderID = %u\n  )",
              TraceHandle(hwndOwner), dwPermanentProviderID);
    return LogResult("TSPI_providerRemove()", 0);
  });
}

}  // extern "C"
