#pragma once
// The TAPI 2.x service provider interface: the callbacks TAPI hands a provider
// and the entry points a provider exports. These are declarations only; the
// provider defines (and exports) the entry points it implements, and TAPI looks
// them up by name.
//
// Wide strings are UTF-16 (LPCWSTR = const char16_t*). Pointer-sized
// parameters (DWORD_PTR) are as wide as a pointer: 8 bytes in the 64-bit
// interface, 4 in the 32-bit one (KVARSP32). Entry points and
// callbacks use TAPI's calling convention, TK_WINAPI (WINAPI, CALLBACK):
// __stdcall on x86 Windows, the one convention elsewhere.
#include <type_traits>

#include "platform/export.h"
#include "tapi/tapi_constants.h"
#include "tapi/tapi_structs.h"
#include "tapi/tapi_types.h"

// --- Callbacks from the provider to TAPI -----------------------------------------

// Reports the result of an asynchronous request: 0 or a (negative) LINEERR_.
typedef void (TK_WINAPI* ASYNC_COMPLETION)(DRV_REQUESTID dwRequestID, LONG lResult);

// Reports a line event (dwMsg is LINE_...); htCall is null for line-wide events.
typedef void (TK_WINAPI* LINEEVENT)(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1,
                                   DWORD_PTR dwParam2, DWORD_PTR dwParam3);

// Reports a phone event (dwMsg is PHONE_...).
typedef void (TK_WINAPI* PHONEEVENT)(HTAPIPHONE htPhone, DWORD dwMsg, DWORD_PTR dwParam1, DWORD_PTR dwParam2,
                                    DWORD_PTR dwParam3);

// Lets a provider's UI module talk to the provider itself; dwObjectType is a
// TUISPIDLL_OBJECT_ value saying what dwObjectID names.
typedef LONG (TK_WINAPI* TUISPIDLLCALLBACK)(DWORD_PTR dwObjectID, DWORD dwObjectType, LPVOID lpParams, DWORD dwSize);

extern "C" {

// --- Provider set-up and tear-down -------------------------------------------------

LONG TK_WINAPI TSPI_providerInit(DWORD dwTSPIVersion, DWORD dwPermanentProviderID, DWORD dwLineDeviceIDBase,
                                 DWORD dwPhoneDeviceIDBase, DWORD_PTR dwNumLines, DWORD_PTR dwNumPhones,
                                 ASYNC_COMPLETION lpfnCompletionProc, LPDWORD lpdwTSPIOptions);
LONG TK_WINAPI TSPI_providerShutdown(DWORD dwTSPIVersion, DWORD dwPermanentProviderID);
LONG TK_WINAPI TSPI_providerEnumDevices(DWORD dwPermanentProviderID, LPDWORD lpdwNumLines, LPDWORD lpdwNumPhones,
                                        HPROVIDER hProvider, LINEEVENT lpfnLineCreateProc,
                                        PHONEEVENT lpfnPhoneCreateProc);
LONG TK_WINAPI TSPI_providerCreateLineDevice(DWORD_PTR dwTempID, DWORD dwDeviceID);
LONG TK_WINAPI TSPI_providerCreatePhoneDevice(DWORD_PTR dwTempID, DWORD dwDeviceID);
LONG TK_WINAPI TSPI_providerFreeDialogInstance(HDRVDIALOGINSTANCE hdDlgInst);
LONG TK_WINAPI TSPI_providerGenericDialogData(DWORD_PTR dwObjectID, DWORD dwObjectType, LPVOID lpParams, DWORD dwSize);
LONG TK_WINAPI TSPI_providerUIIdentify(LPWSTR lpszUIDLLName);
// Called by TAPI 1.x only; TAPI 2.x uses the TUISPI_ functions of the UI module.
LONG TK_WINAPI TSPI_providerConfig(HWND hwndOwner, DWORD dwPermanentProviderID);
LONG TK_WINAPI TSPI_providerInstall(HWND hwndOwner, DWORD dwPermanentProviderID);
LONG TK_WINAPI TSPI_providerRemove(HWND hwndOwner, DWORD dwPermanentProviderID);

// --- Line devices, addresses and calls -----------------------------------------------

LONG TK_WINAPI TSPI_lineAccept(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG TK_WINAPI TSPI_lineAddToConference(DRV_REQUESTID dwRequestID, HDRVCALL hdConfCall, HDRVCALL hdConsultCall);
LONG TK_WINAPI TSPI_lineAnswer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG TK_WINAPI TSPI_lineBlindTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress,
                                      DWORD dwCountryCode);
LONG TK_WINAPI TSPI_lineClose(HDRVLINE hdLine);
LONG TK_WINAPI TSPI_lineCloseCall(HDRVCALL hdCall);
LONG TK_WINAPI TSPI_lineCompleteCall(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPDWORD lpdwCompletionID,
                                     DWORD dwCompletionMode, DWORD dwMessageID);
LONG TK_WINAPI TSPI_lineCompleteTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, HDRVCALL hdConsultCall,
                                         HTAPICALL htConfCall, LPHDRVCALL lphdConfCall, DWORD dwTransferMode);
LONG TK_WINAPI TSPI_lineConditionalMediaDetection(HDRVLINE hdLine, DWORD dwMediaModes, LPLINECALLPARAMS lpCallParams);
LONG TK_WINAPI TSPI_lineDevSpecific(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD dwAddressID, HDRVCALL hdCall,
                                    LPVOID lpParams, DWORD dwSize);
LONG TK_WINAPI TSPI_lineDevSpecificFeature(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD dwFeature, LPVOID lpParams,
                                           DWORD dwSize);
LONG TK_WINAPI TSPI_lineDial(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode);
LONG TK_WINAPI TSPI_lineDrop(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG TK_WINAPI TSPI_lineDropOnClose(HDRVCALL hdCall);
LONG TK_WINAPI TSPI_lineDropNoOwner(HDRVCALL hdCall);
LONG TK_WINAPI TSPI_lineForward(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD bAllAddresses, DWORD dwAddressID,
                                LPLINEFORWARDLIST lpForwardList, DWORD dwNumRingsNoAnswer, HTAPICALL htConsultCall,
                                LPHDRVCALL lphdConsultCall, LPLINECALLPARAMS lpCallParams);
LONG TK_WINAPI TSPI_lineGatherDigits(HDRVCALL hdCall, DWORD dwEndToEndID, DWORD dwDigitModes, LPWSTR lpsDigits,
                                     DWORD dwNumDigits, LPCWSTR lpszTerminationDigits, DWORD dwFirstDigitTimeout,
                                     DWORD dwInterDigitTimeout);
LONG TK_WINAPI TSPI_lineGenerateDigits(HDRVCALL hdCall, DWORD dwEndToEndID, DWORD dwDigitMode, LPCWSTR lpszDigits,
                                       DWORD dwDuration);
LONG TK_WINAPI TSPI_lineGenerateTone(HDRVCALL hdCall, DWORD dwEndToEndID, DWORD dwToneMode, DWORD dwDuration,
                                     DWORD dwNumTones, LPLINEGENERATETONE lpTones);
LONG TK_WINAPI TSPI_lineGetAddressCaps(DWORD dwDeviceID, DWORD dwAddressID, DWORD dwTSPIVersion, DWORD dwExtVersion,
                                       LPLINEADDRESSCAPS lpAddressCaps);
LONG TK_WINAPI TSPI_lineGetAddressID(HDRVLINE hdLine, LPDWORD lpdwAddressID, DWORD dwAddressMode, LPCWSTR lpsAddress,
                                     DWORD dwSize);
LONG TK_WINAPI TSPI_lineGetAddressStatus(HDRVLINE hdLine, DWORD dwAddressID, LPLINEADDRESSSTATUS lpAddressStatus);
LONG TK_WINAPI TSPI_lineGetCallAddressID(HDRVCALL hdCall, LPDWORD lpdwAddressID);
LONG TK_WINAPI TSPI_lineGetCallInfo(HDRVCALL hdCall, LPLINECALLINFO lpCallInfo);
LONG TK_WINAPI TSPI_lineGetCallStatus(HDRVCALL hdCall, LPLINECALLSTATUS lpCallStatus);
LONG TK_WINAPI TSPI_lineGetDevCaps(DWORD dwDeviceID, DWORD dwTSPIVersion, DWORD dwExtVersion,
                                   LPLINEDEVCAPS lpLineDevCaps);
LONG TK_WINAPI TSPI_lineGetDevConfig(DWORD dwDeviceID, LPVARSTRING lpDeviceConfig, LPCWSTR lpszDeviceClass);
LONG TK_WINAPI TSPI_lineGetExtensionID(DWORD dwDeviceID, DWORD dwTSPIVersion, LPLINEEXTENSIONID lpExtensionID);
LONG TK_WINAPI TSPI_lineGetIcon(DWORD dwDeviceID, LPCWSTR lpszDeviceClass, LPHICON lphIcon);
LONG TK_WINAPI TSPI_lineGetID(HDRVLINE hdLine, DWORD dwAddressID, HDRVCALL hdCall, DWORD dwSelect,
                              LPVARSTRING lpDeviceID, LPCWSTR lpszDeviceClass, HANDLE hTargetProcess);
LONG TK_WINAPI TSPI_lineGetLineDevStatus(HDRVLINE hdLine, LPLINEDEVSTATUS lpLineDevStatus);
LONG TK_WINAPI TSPI_lineGetNumAddressIDs(HDRVLINE hdLine, LPDWORD lpdwNumAddressIDs);
LONG TK_WINAPI TSPI_lineHold(DRV_REQUESTID dwRequestID, HDRVCALL hdCall);
LONG TK_WINAPI TSPI_lineMakeCall(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, HTAPICALL htCall, LPHDRVCALL lphdCall,
                                 LPCWSTR lpszDestAddress, DWORD dwCountryCode, LPLINECALLPARAMS lpCallParams);
LONG TK_WINAPI TSPI_lineMonitorDigits(HDRVCALL hdCall, DWORD dwDigitModes);
LONG TK_WINAPI TSPI_lineMonitorMedia(HDRVCALL hdCall, DWORD dwMediaModes);
LONG TK_WINAPI TSPI_lineMonitorTones(HDRVCALL hdCall, DWORD dwToneListID, LPLINEMONITORTONE lpToneList,
                                     DWORD dwNumEntries);
LONG TK_WINAPI TSPI_lineNegotiateExtVersion(DWORD dwDeviceID, DWORD dwTSPIVersion, DWORD dwLowVersion,
                                            DWORD dwHighVersion, LPDWORD lpdwExtVersion);
LONG TK_WINAPI TSPI_lineNegotiateTSPIVersion(DWORD dwDeviceID, DWORD dwLowVersion, DWORD dwHighVersion,
                                             LPDWORD lpdwTSPIVersion);
LONG TK_WINAPI TSPI_lineOpen(DWORD dwDeviceID, HTAPILINE htLine, LPHDRVLINE lphdLine, DWORD dwTSPIVersion,
                             LINEEVENT lpfnEventProc);
LONG TK_WINAPI TSPI_linePark(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, DWORD dwParkMode, LPCWSTR lpszDirAddress,
                             LPVARSTRING lpNonDirAddress);
LONG TK_WINAPI TSPI_linePickup(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD dwAddressID, HTAPICALL htCall,
                               LPHDRVCALL lphdCall, LPCWSTR lpszDestAddress, LPCWSTR lpszGroupID);
LONG TK_WINAPI TSPI_linePrepareAddToConference(DRV_REQUESTID dwRequestID, HDRVCALL hdConfCall, HTAPICALL htConsultCall,
                                               LPHDRVCALL lphdConsultCall, LPLINECALLPARAMS lpCallParams);
LONG TK_WINAPI TSPI_lineRedirect(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress,
                                 DWORD dwCountryCode);
LONG TK_WINAPI TSPI_lineReleaseUserUserInfo(DRV_REQUESTID dwRequestID, HDRVCALL hdCall);
LONG TK_WINAPI TSPI_lineRemoveFromConference(DRV_REQUESTID dwRequestID, HDRVCALL hdCall);
LONG TK_WINAPI TSPI_lineSecureCall(DRV_REQUESTID dwRequestID, HDRVCALL hdCall);
LONG TK_WINAPI TSPI_lineSelectExtVersion(HDRVLINE hdLine, DWORD dwExtVersion);
LONG TK_WINAPI TSPI_lineSendUserUserInfo(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo,
                                         DWORD dwSize);
LONG TK_WINAPI TSPI_lineSetAppSpecific(HDRVCALL hdCall, DWORD dwAppSpecific);
LONG TK_WINAPI TSPI_lineSetCallData(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPVOID lpCallData, DWORD dwSize);
LONG TK_WINAPI TSPI_lineSetCallParams(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, DWORD dwBearerMode, DWORD dwMinRate,
                                      DWORD dwMaxRate, LPLINEDIALPARAMS lpDialParams);
LONG TK_WINAPI TSPI_lineSetCallQualityOfService(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPVOID lpSendingFlowspec,
                                                DWORD dwSendingFlowspecSize, LPVOID lpReceivingFlowspec,
                                                DWORD dwReceivingFlowspecSize);
LONG TK_WINAPI TSPI_lineSetCallTreatment(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, DWORD dwTreatment);
LONG TK_WINAPI TSPI_lineSetCurrentLocation(DWORD dwLocation);
LONG TK_WINAPI TSPI_lineSetDefaultMediaDetection(HDRVLINE hdLine, DWORD dwMediaModes);
LONG TK_WINAPI TSPI_lineSetDevConfig(DWORD dwDeviceID, LPVOID lpDeviceConfig, DWORD dwSize, LPCWSTR lpszDeviceClass);
LONG TK_WINAPI TSPI_lineSetLineDevStatus(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD dwStatusToChange,
                                         DWORD fStatus);
LONG TK_WINAPI TSPI_lineSetMediaControl(HDRVLINE hdLine, DWORD dwAddressID, HDRVCALL hdCall, DWORD dwSelect,
                                        LPLINEMEDIACONTROLDIGIT lpDigitList, DWORD dwDigitNumEntries,
                                        LPLINEMEDIACONTROLMEDIA lpMediaList, DWORD dwMediaNumEntries,
                                        LPLINEMEDIACONTROLTONE lpToneList, DWORD dwToneNumEntries,
                                        LPLINEMEDIACONTROLCALLSTATE lpCallStateList, DWORD dwCallStateNumEntries);
LONG TK_WINAPI TSPI_lineSetMediaMode(HDRVCALL hdCall, DWORD dwMediaMode);
LONG TK_WINAPI TSPI_lineSetStatusMessages(HDRVLINE hdLine, DWORD dwLineStates, DWORD dwAddressStates);
LONG TK_WINAPI TSPI_lineSetTerminal(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD dwAddressID, HDRVCALL hdCall,
                                    DWORD dwSelect, DWORD dwTerminalModes, DWORD dwTerminalID, DWORD bEnable);
LONG TK_WINAPI TSPI_lineSetupConference(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, HDRVLINE hdLine,
                                        HTAPICALL htConfCall, LPHDRVCALL lphdConfCall, HTAPICALL htConsultCall,
                                        LPHDRVCALL lphdConsultCall, DWORD dwNumParties, LPLINECALLPARAMS lpCallParams);
LONG TK_WINAPI TSPI_lineSetupTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, HTAPICALL htConsultCall,
                                      LPHDRVCALL lphdConsultCall, LPLINECALLPARAMS lpCallParams);
LONG TK_WINAPI TSPI_lineSwapHold(DRV_REQUESTID dwRequestID, HDRVCALL hdActiveCall, HDRVCALL hdHeldCall);
LONG TK_WINAPI TSPI_lineUncompleteCall(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD dwCompletionID);
LONG TK_WINAPI TSPI_lineUnhold(DRV_REQUESTID dwRequestID, HDRVCALL hdCall);
LONG TK_WINAPI TSPI_lineUnpark(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD dwAddressID, HTAPICALL htCall,
                               LPHDRVCALL lphdCall, LPCWSTR lpszDestAddress);

}  // extern "C"

// The TAPI 2 signatures, as TAPI calls them through its function pointers.
static_assert(std::is_same_v<ASYNC_COMPLETION, void (TK_WINAPI*)(DRV_REQUESTID, LONG)>);
static_assert(
    std::is_same_v<LINEEVENT, void (TK_WINAPI*)(HTAPILINE, HTAPICALL, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR)>);
static_assert(std::is_same_v<PHONEEVENT, void (TK_WINAPI*)(HTAPIPHONE, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR)>);
static_assert(std::is_same_v<TUISPIDLLCALLBACK, LONG (TK_WINAPI*)(DWORD_PTR, DWORD, LPVOID, DWORD)>);
static_assert(std::is_same_v<decltype(&TSPI_providerInit), LONG (TK_WINAPI*)(DWORD, DWORD, DWORD, DWORD, DWORD_PTR,
                                                                            DWORD_PTR, ASYNC_COMPLETION, LPDWORD)>);
static_assert(std::is_same_v<decltype(&TSPI_providerShutdown), LONG (TK_WINAPI*)(DWORD, DWORD)>);
static_assert(std::is_same_v<decltype(&TSPI_providerEnumDevices),
                             LONG (TK_WINAPI*)(DWORD, LPDWORD, LPDWORD, HPROVIDER, LINEEVENT, PHONEEVENT)>);
static_assert(std::is_same_v<decltype(&TSPI_providerCreateLineDevice), LONG (TK_WINAPI*)(DWORD_PTR, DWORD)>);
static_assert(
    std::is_same_v<decltype(&TSPI_providerGenericDialogData), LONG (TK_WINAPI*)(DWORD_PTR, DWORD, LPVOID, DWORD)>);
static_assert(std::is_same_v<decltype(&TSPI_providerUIIdentify), LONG (TK_WINAPI*)(LPWSTR)>);
static_assert(std::is_same_v<decltype(&TSPI_providerConfig), LONG (TK_WINAPI*)(HWND, DWORD)>);
static_assert(
    std::is_same_v<decltype(&TSPI_lineOpen), LONG (TK_WINAPI*)(DWORD, HTAPILINE, LPHDRVLINE, DWORD, LINEEVENT)>);
static_assert(
    std::is_same_v<decltype(&TSPI_lineMakeCall),
                   LONG (TK_WINAPI*)(DRV_REQUESTID, HDRVLINE, HTAPICALL, LPHDRVCALL, LPCWSTR, DWORD, LPLINECALLPARAMS)>);
static_assert(std::is_same_v<decltype(&TSPI_lineGetID),
                             LONG (TK_WINAPI*)(HDRVLINE, DWORD, HDRVCALL, DWORD, LPVARSTRING, LPCWSTR, HANDLE)>);
static_assert(std::is_same_v<decltype(&TSPI_lineGatherDigits),
                             LONG (TK_WINAPI*)(HDRVCALL, DWORD, DWORD, LPWSTR, DWORD, LPCWSTR, DWORD, DWORD)>);
static_assert(std::is_same_v<decltype(&TSPI_lineForward),
                             LONG (TK_WINAPI*)(DRV_REQUESTID, HDRVLINE, DWORD, DWORD, LPLINEFORWARDLIST, DWORD,
                                              HTAPICALL, LPHDRVCALL, LPLINECALLPARAMS)>);
static_assert(std::is_same_v<decltype(&TSPI_lineDrop), LONG (TK_WINAPI*)(DRV_REQUESTID, HDRVCALL, LPCSTR, DWORD)>);
static_assert(std::is_same_v<decltype(&TSPI_lineGetDevCaps), LONG (TK_WINAPI*)(DWORD, DWORD, DWORD, LPLINEDEVCAPS)>);
static_assert(std::is_same_v<decltype(&TSPI_lineGetCallInfo), LONG (TK_WINAPI*)(HDRVCALL, LPLINECALLINFO)>);
static_assert(std::is_same_v<decltype(&TSPI_lineSetMediaControl),
                             LONG (TK_WINAPI*)(HDRVLINE, DWORD, HDRVCALL, DWORD, LPLINEMEDIACONTROLDIGIT, DWORD,
                                              LPLINEMEDIACONTROLMEDIA, DWORD, LPLINEMEDIACONTROLTONE, DWORD,
                                              LPLINEMEDIACONTROLCALLSTATE, DWORD)>);
static_assert(std::is_same_v<decltype(&TSPI_lineSetupConference),
                             LONG (TK_WINAPI*)(DRV_REQUESTID, HDRVCALL, HDRVLINE, HTAPICALL, LPHDRVCALL, HTAPICALL,
                                              LPHDRVCALL, DWORD, LPLINECALLPARAMS)>);
static_assert(
    std::is_same_v<decltype(&TSPI_lineSetLineDevStatus), LONG (TK_WINAPI*)(DRV_REQUESTID, HDRVLINE, DWORD, DWORD)>);
