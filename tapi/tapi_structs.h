#pragma once
// TAPI 2.x structures with the byte layout of 64-bit Windows.
//
// Members are exactly those of TAPI 2.x, in TAPI's order; members that TAPI
// 3.x appended (such as LINEDEVCAPS.PermanentLineGuid or the address-type
// members of LINECALLPARAMS and LINECALLINFO) are left out, so sizeof gives
// the fixed part that a 2.x provider fills in. The variable part (strings,
// lists) follows the fixed part in the caller's buffer and is found through
// the dw...Size / dw...Offset pairs, offsets counted from the structure start.
//
// Windows declares these structures with 1-byte packing. All of them except
// LINEINITIALIZEEXPARAMS consist of 2- and 4-byte members only and have no
// padding, so natural alignment gives the same bytes and keeps their members
// safely addressable; LINEINITIALIZEEXPARAMS, which holds a handle after four
// DWORDs and ends in a DWORD, is packed explicitly. The static_asserts below
// pin down every size and the offsets that depend on nested structures.
#include <cstddef>

#include "tapi/tapi_types.h"

// --- Time --------------------------------------------------------------------

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;  // 0 = Sunday
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};
using PSYSTEMTIME = SYSTEMTIME*;
using LPSYSTEMTIME = SYSTEMTIME*;

// --- Variable-length string --------------------------------------------------

struct VARSTRING {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwStringFormat;  // STRINGFORMAT_
  DWORD dwStringSize;
  DWORD dwStringOffset;
};
using LPVARSTRING = VARSTRING*;

// --- Dialling timing (all in milliseconds) -----------------------------------

struct LINEDIALPARAMS {
  DWORD dwDialPause;
  DWORD dwDialSpeed;
  DWORD dwDigitDuration;
  DWORD dwWaitForDialtone;
};
using LPLINEDIALPARAMS = LINEDIALPARAMS*;

// --- Call parameters for making, setting up or forwarding a call -------------

struct LINECALLPARAMS {
  DWORD dwTotalSize;
  DWORD dwBearerMode;
  DWORD dwMinRate;
  DWORD dwMaxRate;
  DWORD dwMediaMode;
  DWORD dwCallParamFlags;
  DWORD dwAddressMode;
  DWORD dwAddressID;
  LINEDIALPARAMS DialParams;
  DWORD dwOrigAddressSize;
  DWORD dwOrigAddressOffset;
  DWORD dwDisplayableAddressSize;
  DWORD dwDisplayableAddressOffset;
  DWORD dwCalledPartySize;
  DWORD dwCalledPartyOffset;
  DWORD dwCommentSize;
  DWORD dwCommentOffset;
  DWORD dwUserUserInfoSize;
  DWORD dwUserUserInfoOffset;
  DWORD dwHighLevelCompSize;
  DWORD dwHighLevelCompOffset;
  DWORD dwLowLevelCompSize;
  DWORD dwLowLevelCompOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
  // TAPI 2.0
  DWORD dwPredictiveAutoTransferStates;
  DWORD dwTargetAddressSize;
  DWORD dwTargetAddressOffset;
  DWORD dwSendingFlowspecSize;
  DWORD dwSendingFlowspecOffset;
  DWORD dwReceivingFlowspecSize;
  DWORD dwReceivingFlowspecOffset;
  DWORD dwDeviceClassSize;
  DWORD dwDeviceClassOffset;
  DWORD dwDeviceConfigSize;
  DWORD dwDeviceConfigOffset;
  DWORD dwCallDataSize;
  DWORD dwCallDataOffset;
  DWORD dwNoAnswerTimeout;
  DWORD dwCallingPartyIDSize;
  DWORD dwCallingPartyIDOffset;
};
using LPLINECALLPARAMS = LINECALLPARAMS*;

// --- Call forwarding ---------------------------------------------------------

struct LINEFORWARD {
  DWORD dwForwardMode;  // LINEFORWARDMODE_
  DWORD dwCallerAddressSize;
  DWORD dwCallerAddressOffset;
  DWORD dwDestCountryCode;
  DWORD dwDestAddressSize;
  DWORD dwDestAddressOffset;
};
using LPLINEFORWARD = LINEFORWARD*;

// Holds dwNumEntries LINEFORWARD entries; the one declared here is the first,
// further ones follow it directly (8 + 24 * dwNumEntries bytes in all).
struct LINEFORWARDLIST {
  DWORD dwTotalSize;
  DWORD dwNumEntries;
  LINEFORWARD ForwardList[1];
};
using LPLINEFORWARDLIST = LINEFORWARDLIST*;

// --- Line device capabilities ------------------------------------------------

struct LINEDEVCAPS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwProviderInfoSize;
  DWORD dwProviderInfoOffset;
  DWORD dwSwitchInfoSize;
  DWORD dwSwitchInfoOffset;
  DWORD dwPermanentLineID;
  DWORD dwLineNameSize;
  DWORD dwLineNameOffset;
  DWORD dwStringFormat;
  DWORD dwAddressModes;
  DWORD dwNumAddresses;
  DWORD dwBearerModes;
  DWORD dwMaxRate;
  DWORD dwMediaModes;
  DWORD dwGenerateToneModes;
  DWORD dwGenerateToneMaxNumFreq;
  DWORD dwGenerateDigitModes;
  DWORD dwMonitorToneMaxNumFreq;
  DWORD dwMonitorToneMaxNumEntries;
  DWORD dwMonitorDigitModes;
  DWORD dwGatherDigitsMinTimeout;
  DWORD dwGatherDigitsMaxTimeout;
  DWORD dwMedCtlDigitMaxListSize;
  DWORD dwMedCtlMediaMaxListSize;
  DWORD dwMedCtlToneMaxListSize;
  DWORD dwMedCtlCallStateMaxListSize;
  DWORD dwDevCapFlags;
  DWORD dwMaxNumActiveCalls;
  DWORD dwAnswerMode;
  DWORD dwRingModes;
  DWORD dwLineStates;
  DWORD dwUUIAcceptSize;
  DWORD dwUUIAnswerSize;
  DWORD dwUUIMakeCallSize;
  DWORD dwUUIDropSize;
  DWORD dwUUISendUserUserInfoSize;
  DWORD dwUUICallInfoSize;
  LINEDIALPARAMS MinDialParams;
  LINEDIALPARAMS MaxDialParams;
  LINEDIALPARAMS DefaultDialParams;
  DWORD dwNumTerminals;
  DWORD dwTerminalCapsSize;
  DWORD dwTerminalCapsOffset;
  DWORD dwTerminalTextEntrySize;
  DWORD dwTerminalTextSize;
  DWORD dwTerminalTextOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
  DWORD dwLineFeatures;  // TAPI 1.4
  // TAPI 2.0
  DWORD dwSettableDevStatus;
  DWORD dwDeviceClassesSize;
  DWORD dwDeviceClassesOffset;
};
using LPLINEDEVCAPS = LINEDEVCAPS*;

// --- Address capabilities ----------------------------------------------------

struct LINEADDRESSCAPS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwLineDeviceID;
  DWORD dwAddressSize;
  DWORD dwAddressOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
  DWORD dwAddressSharing;
  DWORD dwAddressStates;
  DWORD dwCallInfoStates;
  DWORD dwCallerIDFlags;
  DWORD dwCalledIDFlags;
  DWORD dwConnectedIDFlags;
  DWORD dwRedirectionIDFlags;
  DWORD dwRedirectingIDFlags;
  DWORD dwCallStates;
  DWORD dwDialToneModes;
  DWORD dwBusyModes;
  DWORD dwSpecialInfo;
  DWORD dwDisconnectModes;
  DWORD dwMaxNumActiveCalls;
  DWORD dwMaxNumOnHoldCalls;
  DWORD dwMaxNumOnHoldPendingCalls;
  DWORD dwMaxNumConference;
  DWORD dwMaxNumTransConf;
  DWORD dwAddrCapFlags;
  DWORD dwCallFeatures;
  DWORD dwRemoveFromConfCaps;
  DWORD dwRemoveFromConfState;
  DWORD dwTransferModes;
  DWORD dwParkModes;
  DWORD dwForwardModes;
  DWORD dwMaxForwardEntries;
  DWORD dwMaxSpecificEntries;
  DWORD dwMinFwdNumRings;
  DWORD dwMaxFwdNumRings;
  DWORD dwMaxCallCompletions;
  DWORD dwCallCompletionConds;
  DWORD dwCallCompletionModes;
  DWORD dwNumCompletionMessages;
  DWORD dwCompletionMsgTextEntrySize;
  DWORD dwCompletionMsgTextSize;
  DWORD dwCompletionMsgTextOffset;
  DWORD dwAddressFeatures;  // TAPI 1.4
  // TAPI 2.0
  DWORD dwPredictiveAutoTransferStates;
  DWORD dwNumCallTreatments;
  DWORD dwCallTreatmentListSize;
  DWORD dwCallTreatmentListOffset;
  DWORD dwDeviceClassesSize;
  DWORD dwDeviceClassesOffset;
  DWORD dwMaxCallDataSize;
  DWORD dwCallFeatures2;
  DWORD dwMaxNoAnswerTimeout;
  DWORD dwConnectedModes;
  DWORD dwOfferingModes;
  DWORD dwAvailableMediaModes;
};
using LPLINEADDRESSCAPS = LINEADDRESSCAPS*;

// --- Address status ----------------------------------------------------------

struct LINEADDRESSSTATUS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwNumInUse;
  DWORD dwNumActiveCalls;
  DWORD dwNumOnHoldCalls;
  DWORD dwNumOnHoldPendCalls;
  DWORD dwAddressFeatures;
  DWORD dwNumRingsNoAnswer;
  DWORD dwForwardNumEntries;
  DWORD dwForwardSize;  // the LINEFORWARD entries, 24 bytes each
  DWORD dwForwardOffset;
  DWORD dwTerminalModesSize;
  DWORD dwTerminalModesOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
};
using LPLINEADDRESSSTATUS = LINEADDRESSSTATUS*;

// --- Line device status ------------------------------------------------------

struct LINEDEVSTATUS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwNumOpens;
  DWORD dwOpenMediaModes;
  DWORD dwNumActiveCalls;
  DWORD dwNumOnHoldCalls;
  DWORD dwNumOnHoldPendCalls;
  DWORD dwLineFeatures;
  DWORD dwNumCallCompletions;
  DWORD dwRingMode;
  DWORD dwSignalLevel;
  DWORD dwBatteryLevel;
  DWORD dwRoamMode;
  DWORD dwDevStatusFlags;
  DWORD dwTerminalModesSize;
  DWORD dwTerminalModesOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
  // TAPI 2.0
  DWORD dwAvailableMediaModes;
  DWORD dwAppInfoSize;
  DWORD dwAppInfoOffset;
};
using LPLINEDEVSTATUS = LINEDEVSTATUS*;

// --- Call information --------------------------------------------------------

struct LINECALLINFO {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  HLINE hLine;  // 32 bits, see tapi_types.h
  DWORD dwLineDeviceID;
  DWORD dwAddressID;
  DWORD dwBearerMode;
  DWORD dwRate;
  DWORD dwMediaMode;
  DWORD dwAppSpecific;
  DWORD dwCallID;
  DWORD dwRelatedCallID;
  DWORD dwCallParamFlags;
  DWORD dwCallStates;
  DWORD dwMonitorDigitModes;
  DWORD dwMonitorMediaModes;
  LINEDIALPARAMS DialParams;
  DWORD dwOrigin;
  DWORD dwReason;
  DWORD dwCompletionID;
  DWORD dwNumOwners;
  DWORD dwNumMonitors;
  DWORD dwCountryCode;
  DWORD dwTrunk;
  DWORD dwCallerIDFlags;
  DWORD dwCallerIDSize;
  DWORD dwCallerIDOffset;
  DWORD dwCallerIDNameSize;
  DWORD dwCallerIDNameOffset;
  DWORD dwCalledIDFlags;
  DWORD dwCalledIDSize;
  DWORD dwCalledIDOffset;
  DWORD dwCalledIDNameSize;
  DWORD dwCalledIDNameOffset;
  DWORD dwConnectedIDFlags;
  DWORD dwConnectedIDSize;
  DWORD dwConnectedIDOffset;
  DWORD dwConnectedIDNameSize;
  DWORD dwConnectedIDNameOffset;
  DWORD dwRedirectionIDFlags;
  DWORD dwRedirectionIDSize;
  DWORD dwRedirectionIDOffset;
  DWORD dwRedirectionIDNameSize;
  DWORD dwRedirectionIDNameOffset;
  DWORD dwRedirectingIDFlags;
  DWORD dwRedirectingIDSize;
  DWORD dwRedirectingIDOffset;
  DWORD dwRedirectingIDNameSize;
  DWORD dwRedirectingIDNameOffset;
  DWORD dwAppNameSize;
  DWORD dwAppNameOffset;
  DWORD dwDisplayableAddressSize;
  DWORD dwDisplayableAddressOffset;
  DWORD dwCalledPartySize;
  DWORD dwCalledPartyOffset;
  DWORD dwCommentSize;
  DWORD dwCommentOffset;
  DWORD dwDisplaySize;
  DWORD dwDisplayOffset;
  DWORD dwUserUserInfoSize;
  DWORD dwUserUserInfoOffset;
  DWORD dwHighLevelCompSize;
  DWORD dwHighLevelCompOffset;
  DWORD dwLowLevelCompSize;
  DWORD dwLowLevelCompOffset;
  DWORD dwChargingInfoSize;
  DWORD dwChargingInfoOffset;
  DWORD dwTerminalModesSize;
  DWORD dwTerminalModesOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
  // TAPI 2.0
  DWORD dwCallTreatment;
  DWORD dwCallDataSize;
  DWORD dwCallDataOffset;
  DWORD dwSendingFlowspecSize;
  DWORD dwSendingFlowspecOffset;
  DWORD dwReceivingFlowspecSize;
  DWORD dwReceivingFlowspecOffset;
};
using LPLINECALLINFO = LINECALLINFO*;

// --- Call status -------------------------------------------------------------

struct LINECALLSTATUS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwCallState;      // LINECALLSTATE_
  DWORD dwCallStateMode;  // the state's sub-mode, e.g. LINEDISCONNECTMODE_
  DWORD dwCallPrivilege;
  DWORD dwCallFeatures;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
  // TAPI 2.0
  DWORD dwCallFeatures2;
  SYSTEMTIME tStateEntryTime;  // when the call entered its current state (UTC)
};
using LPLINECALLSTATUS = LINECALLSTATUS*;

// --- Installed providers -----------------------------------------------------

struct LINEPROVIDERENTRY {
  DWORD dwPermanentProviderID;
  DWORD dwProviderFilenameSize;
  DWORD dwProviderFilenameOffset;  // from the start of the LINEPROVIDERLIST
};
using LPLINEPROVIDERENTRY = LINEPROVIDERENTRY*;

struct LINEPROVIDERLIST {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwNumProviders;
  DWORD dwProviderListSize;  // the LINEPROVIDERENTRY array
  DWORD dwProviderListOffset;
};
using LPLINEPROVIDERLIST = LINEPROVIDERLIST*;

// --- lineInitializeEx parameters ---------------------------------------------

#pragma pack(push, 1)
struct LINEINITIALIZEEXPARAMS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwOptions;  // LINEINITIALIZEEXOPTION_
  union {
    HANDLE hEvent;           // returned for LINEINITIALIZEEXOPTION_USEEVENT
    HANDLE hCompletionPort;  // given for LINEINITIALIZEEXOPTION_USECOMPLETIONPORT
  } Handles;
  DWORD dwCompletionKey;
};
#pragma pack(pop)
using LPLINEINITIALIZEEXPARAMS = LINEINITIALIZEEXPARAMS*;

// --- Small structures the provider entry points take -------------------------

struct LINEEXTENSIONID {
  DWORD dwExtensionID0;
  DWORD dwExtensionID1;
  DWORD dwExtensionID2;
  DWORD dwExtensionID3;
};
using LPLINEEXTENSIONID = LINEEXTENSIONID*;

struct LINEGENERATETONE {
  DWORD dwFrequency;  // Hz
  DWORD dwCadenceOn;  // ms
  DWORD dwCadenceOff;
  DWORD dwVolume;
};
using LPLINEGENERATETONE = LINEGENERATETONE*;

struct LINEMONITORTONE {
  DWORD dwAppSpecific;
  DWORD dwDuration;
  DWORD dwFrequency1;
  DWORD dwFrequency2;
  DWORD dwFrequency3;
};
using LPLINEMONITORTONE = LINEMONITORTONE*;

struct LINEMEDIACONTROLDIGIT {
  DWORD dwDigit;
  DWORD dwDigitModes;
  DWORD dwMediaControl;
};
using LPLINEMEDIACONTROLDIGIT = LINEMEDIACONTROLDIGIT*;

struct LINEMEDIACONTROLMEDIA {
  DWORD dwMediaModes;
  DWORD dwDuration;
  DWORD dwMediaControl;
};
using LPLINEMEDIACONTROLMEDIA = LINEMEDIACONTROLMEDIA*;

struct LINEMEDIACONTROLTONE {
  DWORD dwAppSpecific;
  DWORD dwDuration;
  DWORD dwFrequency1;
  DWORD dwFrequency2;
  DWORD dwFrequency3;
  DWORD dwMediaControl;
};
using LPLINEMEDIACONTROLTONE = LINEMEDIACONTROLTONE*;

struct LINEMEDIACONTROLCALLSTATE {
  DWORD dwCallStates;
  DWORD dwMediaControl;
};
using LPLINEMEDIACONTROLCALLSTATE = LINEMEDIACONTROLCALLSTATE*;

// --- Layout checks -----------------------------------------------------------

static_assert(sizeof(SYSTEMTIME) == 16);
static_assert(sizeof(VARSTRING) == 24);
static_assert(sizeof(LINEDIALPARAMS) == 16);

static_assert(sizeof(LINECALLPARAMS) == 176);
static_assert(offsetof(LINECALLPARAMS, DialParams) == 32);
static_assert(offsetof(LINECALLPARAMS, dwOrigAddressSize) == 48);
static_assert(offsetof(LINECALLPARAMS, dwPredictiveAutoTransferStates) == 112);
static_assert(offsetof(LINECALLPARAMS, dwCallingPartyIDOffset) == 172);

static_assert(sizeof(LINEFORWARD) == 24);
static_assert(sizeof(LINEFORWARDLIST) == 8 + 24);
static_assert(offsetof(LINEFORWARDLIST, ForwardList) == 8);

static_assert(sizeof(LINEDEVCAPS) == 252);
static_assert(offsetof(LINEDEVCAPS, MinDialParams) == 156);
static_assert(offsetof(LINEDEVCAPS, MaxDialParams) == 172);
static_assert(offsetof(LINEDEVCAPS, DefaultDialParams) == 188);
static_assert(offsetof(LINEDEVCAPS, dwNumTerminals) == 204);
static_assert(offsetof(LINEDEVCAPS, dwLineFeatures) == 236);
static_assert(offsetof(LINEDEVCAPS, dwDeviceClassesOffset) == 248);

static_assert(sizeof(LINEADDRESSCAPS) == 228);
static_assert(offsetof(LINEADDRESSCAPS, dwAddressFeatures) == 176);
static_assert(offsetof(LINEADDRESSCAPS, dwAvailableMediaModes) == 224);

static_assert(sizeof(LINEADDRESSSTATUS) == 64);
static_assert(sizeof(LINEDEVSTATUS) == 88);

static_assert(sizeof(LINECALLINFO) == 324);
static_assert(offsetof(LINECALLINFO, hLine) == 12);
static_assert(offsetof(LINECALLINFO, DialParams) == 64);
static_assert(offsetof(LINECALLINFO, dwOrigin) == 80);
static_assert(offsetof(LINECALLINFO, dwCallerIDFlags) == 108);
static_assert(offsetof(LINECALLINFO, dwCallTreatment) == 296);
static_assert(offsetof(LINECALLINFO, dwCallDataOffset) == 304);
static_assert(offsetof(LINECALLINFO, dwReceivingFlowspecOffset) == 320);

static_assert(sizeof(LINECALLSTATUS) == 56);
static_assert(offsetof(LINECALLSTATUS, dwCallFeatures2) == 36);
static_assert(offsetof(LINECALLSTATUS, tStateEntryTime) == 40);

static_assert(sizeof(LINEPROVIDERENTRY) == 12);
static_assert(sizeof(LINEPROVIDERLIST) == 24);

static_assert(sizeof(LINEINITIALIZEEXPARAMS) == 28);
static_assert(offsetof(LINEINITIALIZEEXPARAMS, Handles) == 16);
static_assert(offsetof(LINEINITIALIZEEXPARAMS, dwCompletionKey) == 24);

static_assert(sizeof(LINEEXTENSIONID) == 16);
static_assert(sizeof(LINEGENERATETONE) == 16);
static_assert(sizeof(LINEMONITORTONE) == 20);
static_assert(sizeof(LINEMEDIACONTROLDIGIT) == 12);
static_assert(sizeof(LINEMEDIACONTROLMEDIA) == 12);
static_assert(sizeof(LINEMEDIACONTROLTONE) == 24);
static_assert(sizeof(LINEMEDIACONTROLCALLSTATE) == 8);
