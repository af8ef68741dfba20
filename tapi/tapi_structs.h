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
// pin down every size, the offsets that depend on nested structures, and for
// the structures a provider fills in that their members follow each other in
// TAPI's order without gaps.
#include <cstddef>
#include <initializer_list>

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

namespace tapi::layout {

struct Member {
  std::size_t offset;
  std::size_t size;
};

// True when the members, listed in TAPI's order, follow each other from
// offset 0 without gaps and the last one ends the structure.
constexpr bool MembersInOrder(std::size_t structSize, std::initializer_list<Member> members) {
  std::size_t expected = 0;
  for (const Member& m : members) {
    if (m.offset != expected) return false;
    expected = m.offset + m.size;
  }
  return expected == structSize;
}

}  // namespace tapi::layout

#define TAPI_MEMBER(type, member) ::tapi::layout::Member{offsetof(type, member), sizeof(type::member)}

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

static_assert(sizeof(LINEINITIALIZEEXPARAMS) == 20 + sizeof(HANDLE));  // 28 on x64, 24 on x86
static_assert(offsetof(LINEINITIALIZEEXPARAMS, Handles) == 16);
static_assert(offsetof(LINEINITIALIZEEXPARAMS, dwCompletionKey) == 16 + sizeof(HANDLE));

static_assert(sizeof(LINEEXTENSIONID) == 16);
static_assert(sizeof(LINEGENERATETONE) == 16);
static_assert(sizeof(LINEMONITORTONE) == 20);
static_assert(sizeof(LINEMEDIACONTROLDIGIT) == 12);
static_assert(sizeof(LINEMEDIACONTROLMEDIA) == 12);
static_assert(sizeof(LINEMEDIACONTROLTONE) == 24);
static_assert(sizeof(LINEMEDIACONTROLCALLSTATE) == 8);

static_assert(tapi::layout::MembersInOrder(sizeof(SYSTEMTIME), {
    TAPI_MEMBER(SYSTEMTIME, wYear), TAPI_MEMBER(SYSTEMTIME, wMonth), TAPI_MEMBER(SYSTEMTIME, wDayOfWeek),
    TAPI_MEMBER(SYSTEMTIME, wDay), TAPI_MEMBER(SYSTEMTIME, wHour), TAPI_MEMBER(SYSTEMTIME, wMinute),
    TAPI_MEMBER(SYSTEMTIME, wSecond), TAPI_MEMBER(SYSTEMTIME, wMilliseconds)}));
static_assert(tapi::layout::MembersInOrder(sizeof(VARSTRING), {
    TAPI_MEMBER(VARSTRING, dwTotalSize), TAPI_MEMBER(VARSTRING, dwNeededSize),
    TAPI_MEMBER(VARSTRING, dwUsedSize), TAPI_MEMBER(VARSTRING, dwStringFormat),
    TAPI_MEMBER(VARSTRING, dwStringSize), TAPI_MEMBER(VARSTRING, dwStringOffset)}));
static_assert(tapi::layout::MembersInOrder(sizeof(LINEDIALPARAMS), {
    TAPI_MEMBER(LINEDIALPARAMS, dwDialPause), TAPI_MEMBER(LINEDIALPARAMS, dwDialSpeed),
    TAPI_MEMBER(LINEDIALPARAMS, dwDigitDuration), TAPI_MEMBER(LINEDIALPARAMS, dwWaitForDialtone)}));
static_assert(offsetof(LINEGENERATETONE, dwVolume) == 12);
static_assert(offsetof(LINEMONITORTONE, dwFrequency3) == 16);
static_assert(offsetof(LINEMEDIACONTROLTONE, dwMediaControl) == 20);
static_assert(tapi::layout::MembersInOrder(sizeof(LINEFORWARD), {
    TAPI_MEMBER(LINEFORWARD, dwForwardMode), TAPI_MEMBER(LINEFORWARD, dwCallerAddressSize),
    TAPI_MEMBER(LINEFORWARD, dwCallerAddressOffset), TAPI_MEMBER(LINEFORWARD, dwDestCountryCode),
    TAPI_MEMBER(LINEFORWARD, dwDestAddressSize), TAPI_MEMBER(LINEFORWARD, dwDestAddressOffset)}));
static_assert(sizeof(LINEFORWARDLIST) == 32);
static_assert(offsetof(LINEFORWARDLIST, dwNumEntries) == 4);
static_assert(sizeof(LINEFORWARDLIST::ForwardList) == sizeof(LINEFORWARD));
static_assert(offsetof(LINEDEVCAPS, dwUUICallInfoSize) == 152);
static_assert(offsetof(LINEDEVCAPS, dwSettableDevStatus) == 240);
static_assert(tapi::layout::MembersInOrder(sizeof(LINEDEVCAPS), {
    TAPI_MEMBER(LINEDEVCAPS, dwTotalSize), TAPI_MEMBER(LINEDEVCAPS, dwNeededSize),
    TAPI_MEMBER(LINEDEVCAPS, dwUsedSize), TAPI_MEMBER(LINEDEVCAPS, dwProviderInfoSize),
    TAPI_MEMBER(LINEDEVCAPS, dwProviderInfoOffset), TAPI_MEMBER(LINEDEVCAPS, dwSwitchInfoSize),
    TAPI_MEMBER(LINEDEVCAPS, dwSwitchInfoOffset), TAPI_MEMBER(LINEDEVCAPS, dwPermanentLineID),
    TAPI_MEMBER(LINEDEVCAPS, dwLineNameSize), TAPI_MEMBER(LINEDEVCAPS, dwLineNameOffset),
    TAPI_MEMBER(LINEDEVCAPS, dwStringFormat), TAPI_MEMBER(LINEDEVCAPS, dwAddressModes),
    TAPI_MEMBER(LINEDEVCAPS, dwNumAddresses), TAPI_MEMBER(LINEDEVCAPS, dwBearerModes),
    TAPI_MEMBER(LINEDEVCAPS, dwMaxRate), TAPI_MEMBER(LINEDEVCAPS, dwMediaModes),
    TAPI_MEMBER(LINEDEVCAPS, dwGenerateToneModes), TAPI_MEMBER(LINEDEVCAPS, dwGenerateToneMaxNumFreq),
    TAPI_MEMBER(LINEDEVCAPS, dwGenerateDigitModes), TAPI_MEMBER(LINEDEVCAPS, dwMonitorToneMaxNumFreq),
    TAPI_MEMBER(LINEDEVCAPS, dwMonitorToneMaxNumEntries), TAPI_MEMBER(LINEDEVCAPS, dwMonitorDigitModes),
    TAPI_MEMBER(LINEDEVCAPS, dwGatherDigitsMinTimeout), TAPI_MEMBER(LINEDEVCAPS, dwGatherDigitsMaxTimeout),
    TAPI_MEMBER(LINEDEVCAPS, dwMedCtlDigitMaxListSize), TAPI_MEMBER(LINEDEVCAPS, dwMedCtlMediaMaxListSize),
    TAPI_MEMBER(LINEDEVCAPS, dwMedCtlToneMaxListSize), TAPI_MEMBER(LINEDEVCAPS, dwMedCtlCallStateMaxListSize),
    TAPI_MEMBER(LINEDEVCAPS, dwDevCapFlags), TAPI_MEMBER(LINEDEVCAPS, dwMaxNumActiveCalls),
    TAPI_MEMBER(LINEDEVCAPS, dwAnswerMode), TAPI_MEMBER(LINEDEVCAPS, dwRingModes),
    TAPI_MEMBER(LINEDEVCAPS, dwLineStates), TAPI_MEMBER(LINEDEVCAPS, dwUUIAcceptSize),
    TAPI_MEMBER(LINEDEVCAPS, dwUUIAnswerSize), TAPI_MEMBER(LINEDEVCAPS, dwUUIMakeCallSize),
    TAPI_MEMBER(LINEDEVCAPS, dwUUIDropSize), TAPI_MEMBER(LINEDEVCAPS, dwUUISendUserUserInfoSize),
    TAPI_MEMBER(LINEDEVCAPS, dwUUICallInfoSize), TAPI_MEMBER(LINEDEVCAPS, MinDialParams),
    TAPI_MEMBER(LINEDEVCAPS, MaxDialParams), TAPI_MEMBER(LINEDEVCAPS, DefaultDialParams),
    TAPI_MEMBER(LINEDEVCAPS, dwNumTerminals), TAPI_MEMBER(LINEDEVCAPS, dwTerminalCapsSize),
    TAPI_MEMBER(LINEDEVCAPS, dwTerminalCapsOffset), TAPI_MEMBER(LINEDEVCAPS, dwTerminalTextEntrySize),
    TAPI_MEMBER(LINEDEVCAPS, dwTerminalTextSize), TAPI_MEMBER(LINEDEVCAPS, dwTerminalTextOffset),
    TAPI_MEMBER(LINEDEVCAPS, dwDevSpecificSize), TAPI_MEMBER(LINEDEVCAPS, dwDevSpecificOffset),
    TAPI_MEMBER(LINEDEVCAPS, dwLineFeatures), TAPI_MEMBER(LINEDEVCAPS, dwSettableDevStatus),
    TAPI_MEMBER(LINEDEVCAPS, dwDeviceClassesSize), TAPI_MEMBER(LINEDEVCAPS, dwDeviceClassesOffset)}));
static_assert(offsetof(LINEADDRESSCAPS, dwPredictiveAutoTransferStates) == 180);
static_assert(offsetof(LINEADDRESSCAPS, dwCallFeatures2) == 208);
static_assert(tapi::layout::MembersInOrder(sizeof(LINEADDRESSCAPS), {
    TAPI_MEMBER(LINEADDRESSCAPS, dwTotalSize), TAPI_MEMBER(LINEADDRESSCAPS, dwNeededSize),
    TAPI_MEMBER(LINEADDRESSCAPS, dwUsedSize), TAPI_MEMBER(LINEADDRESSCAPS, dwLineDeviceID),
    TAPI_MEMBER(LINEADDRESSCAPS, dwAddressSize), TAPI_MEMBER(LINEADDRESSCAPS, dwAddressOffset),
    TAPI_MEMBER(LINEADDRESSCAPS, dwDevSpecificSize), TAPI_MEMBER(LINEADDRESSCAPS, dwDevSpecificOffset),
    TAPI_MEMBER(LINEADDRESSCAPS, dwAddressSharing), TAPI_MEMBER(LINEADDRESSCAPS, dwAddressStates),
    TAPI_MEMBER(LINEADDRESSCAPS, dwCallInfoStates), TAPI_MEMBER(LINEADDRESSCAPS, dwCallerIDFlags),
    TAPI_MEMBER(LINEADDRESSCAPS, dwCalledIDFlags), TAPI_MEMBER(LINEADDRESSCAPS, dwConnectedIDFlags),
    TAPI_MEMBER(LINEADDRESSCAPS, dwRedirectionIDFlags), TAPI_MEMBER(LINEADDRESSCAPS, dwRedirectingIDFlags),
    TAPI_MEMBER(LINEADDRESSCAPS, dwCallStates), TAPI_MEMBER(LINEADDRESSCAPS, dwDialToneModes),
    TAPI_MEMBER(LINEADDRESSCAPS, dwBusyModes), TAPI_MEMBER(LINEADDRESSCAPS, dwSpecialInfo),
    TAPI_MEMBER(LINEADDRESSCAPS, dwDisconnectModes), TAPI_MEMBER(LINEADDRESSCAPS, dwMaxNumActiveCalls),
    TAPI_MEMBER(LINEADDRESSCAPS, dwMaxNumOnHoldCalls),
    TAPI_MEMBER(LINEADDRESSCAPS, dwMaxNumOnHoldPendingCalls), TAPI_MEMBER(LINEADDRESSCAPS, dwMaxNumConference),
    TAPI_MEMBER(LINEADDRESSCAPS, dwMaxNumTransConf), TAPI_MEMBER(LINEADDRESSCAPS, dwAddrCapFlags),
    TAPI_MEMBER(LINEADDRESSCAPS, dwCallFeatures), TAPI_MEMBER(LINEADDRESSCAPS, dwRemoveFromConfCaps),
    TAPI_MEMBER(LINEADDRESSCAPS, dwRemoveFromConfState), TAPI_MEMBER(LINEADDRESSCAPS, dwTransferModes),
    TAPI_MEMBER(LINEADDRESSCAPS, dwParkModes), TAPI_MEMBER(LINEADDRESSCAPS, dwForwardModes),
    TAPI_MEMBER(LINEADDRESSCAPS, dwMaxForwardEntries), TAPI_MEMBER(LINEADDRESSCAPS, dwMaxSpecificEntries),
    TAPI_MEMBER(LINEADDRESSCAPS, dwMinFwdNumRings), TAPI_MEMBER(LINEADDRESSCAPS, dwMaxFwdNumRings),
    TAPI_MEMBER(LINEADDRESSCAPS, dwMaxCallCompletions), TAPI_MEMBER(LINEADDRESSCAPS, dwCallCompletionConds),
    TAPI_MEMBER(LINEADDRESSCAPS, dwCallCompletionModes), TAPI_MEMBER(LINEADDRESSCAPS, dwNumCompletionMessages),
    TAPI_MEMBER(LINEADDRESSCAPS, dwCompletionMsgTextEntrySize),
    TAPI_MEMBER(LINEADDRESSCAPS, dwCompletionMsgTextSize),
    TAPI_MEMBER(LINEADDRESSCAPS, dwCompletionMsgTextOffset), TAPI_MEMBER(LINEADDRESSCAPS, dwAddressFeatures),
    TAPI_MEMBER(LINEADDRESSCAPS, dwPredictiveAutoTransferStates),
    TAPI_MEMBER(LINEADDRESSCAPS, dwNumCallTreatments), TAPI_MEMBER(LINEADDRESSCAPS, dwCallTreatmentListSize),
    TAPI_MEMBER(LINEADDRESSCAPS, dwCallTreatmentListOffset), TAPI_MEMBER(LINEADDRESSCAPS, dwDeviceClassesSize),
    TAPI_MEMBER(LINEADDRESSCAPS, dwDeviceClassesOffset), TAPI_MEMBER(LINEADDRESSCAPS, dwMaxCallDataSize),
    TAPI_MEMBER(LINEADDRESSCAPS, dwCallFeatures2), TAPI_MEMBER(LINEADDRESSCAPS, dwMaxNoAnswerTimeout),
    TAPI_MEMBER(LINEADDRESSCAPS, dwConnectedModes), TAPI_MEMBER(LINEADDRESSCAPS, dwOfferingModes),
    TAPI_MEMBER(LINEADDRESSCAPS, dwAvailableMediaModes)}));
static_assert(tapi::layout::MembersInOrder(sizeof(LINEADDRESSSTATUS), {
    TAPI_MEMBER(LINEADDRESSSTATUS, dwTotalSize), TAPI_MEMBER(LINEADDRESSSTATUS, dwNeededSize),
    TAPI_MEMBER(LINEADDRESSSTATUS, dwUsedSize), TAPI_MEMBER(LINEADDRESSSTATUS, dwNumInUse),
    TAPI_MEMBER(LINEADDRESSSTATUS, dwNumActiveCalls), TAPI_MEMBER(LINEADDRESSSTATUS, dwNumOnHoldCalls),
    TAPI_MEMBER(LINEADDRESSSTATUS, dwNumOnHoldPendCalls), TAPI_MEMBER(LINEADDRESSSTATUS, dwAddressFeatures),
    TAPI_MEMBER(LINEADDRESSSTATUS, dwNumRingsNoAnswer), TAPI_MEMBER(LINEADDRESSSTATUS, dwForwardNumEntries),
    TAPI_MEMBER(LINEADDRESSSTATUS, dwForwardSize), TAPI_MEMBER(LINEADDRESSSTATUS, dwForwardOffset),
    TAPI_MEMBER(LINEADDRESSSTATUS, dwTerminalModesSize), TAPI_MEMBER(LINEADDRESSSTATUS, dwTerminalModesOffset),
    TAPI_MEMBER(LINEADDRESSSTATUS, dwDevSpecificSize), TAPI_MEMBER(LINEADDRESSSTATUS, dwDevSpecificOffset)}));
static_assert(offsetof(LINEDEVSTATUS, dwAvailableMediaModes) == 76);
static_assert(offsetof(LINEDEVSTATUS, dwAppInfoOffset) == 84);
static_assert(tapi::layout::MembersInOrder(sizeof(LINEDEVSTATUS), {
    TAPI_MEMBER(LINEDEVSTATUS, dwTotalSize), TAPI_MEMBER(LINEDEVSTATUS, dwNeededSize),
    TAPI_MEMBER(LINEDEVSTATUS, dwUsedSize), TAPI_MEMBER(LINEDEVSTATUS, dwNumOpens),
    TAPI_MEMBER(LINEDEVSTATUS, dwOpenMediaModes), TAPI_MEMBER(LINEDEVSTATUS, dwNumActiveCalls),
    TAPI_MEMBER(LINEDEVSTATUS, dwNumOnHoldCalls), TAPI_MEMBER(LINEDEVSTATUS, dwNumOnHoldPendCalls),
    TAPI_MEMBER(LINEDEVSTATUS, dwLineFeatures), TAPI_MEMBER(LINEDEVSTATUS, dwNumCallCompletions),
    TAPI_MEMBER(LINEDEVSTATUS, dwRingMode), TAPI_MEMBER(LINEDEVSTATUS, dwSignalLevel),
    TAPI_MEMBER(LINEDEVSTATUS, dwBatteryLevel), TAPI_MEMBER(LINEDEVSTATUS, dwRoamMode),
    TAPI_MEMBER(LINEDEVSTATUS, dwDevStatusFlags), TAPI_MEMBER(LINEDEVSTATUS, dwTerminalModesSize),
    TAPI_MEMBER(LINEDEVSTATUS, dwTerminalModesOffset), TAPI_MEMBER(LINEDEVSTATUS, dwDevSpecificSize),
    TAPI_MEMBER(LINEDEVSTATUS, dwDevSpecificOffset), TAPI_MEMBER(LINEDEVSTATUS, dwAvailableMediaModes),
    TAPI_MEMBER(LINEDEVSTATUS, dwAppInfoSize), TAPI_MEMBER(LINEDEVSTATUS, dwAppInfoOffset)}));
static_assert(sizeof(LINECALLINFO::hLine) == 4);
static_assert(offsetof(LINECALLINFO, dwLineDeviceID) == 16);
static_assert(offsetof(LINECALLINFO, dwDevSpecificOffset) == 292);
static_assert(tapi::layout::MembersInOrder(sizeof(LINECALLINFO), {
    TAPI_MEMBER(LINECALLINFO, dwTotalSize), TAPI_MEMBER(LINECALLINFO, dwNeededSize),
    TAPI_MEMBER(LINECALLINFO, dwUsedSize), TAPI_MEMBER(LINECALLINFO, hLine),
    TAPI_MEMBER(LINECALLINFO, dwLineDeviceID), TAPI_MEMBER(LINECALLINFO, dwAddressID),
    TAPI_MEMBER(LINECALLINFO, dwBearerMode), TAPI_MEMBER(LINECALLINFO, dwRate),
    TAPI_MEMBER(LINECALLINFO, dwMediaMode), TAPI_MEMBER(LINECALLINFO, dwAppSpecific),
    TAPI_MEMBER(LINECALLINFO, dwCallID), TAPI_MEMBER(LINECALLINFO, dwRelatedCallID),
    TAPI_MEMBER(LINECALLINFO, dwCallParamFlags), TAPI_MEMBER(LINECALLINFO, dwCallStates),
    TAPI_MEMBER(LINECALLINFO, dwMonitorDigitModes), TAPI_MEMBER(LINECALLINFO, dwMonitorMediaModes),
    TAPI_MEMBER(LINECALLINFO, DialParams), TAPI_MEMBER(LINECALLINFO, dwOrigin),
    TAPI_MEMBER(LINECALLINFO, dwReason), TAPI_MEMBER(LINECALLINFO, dwCompletionID),
    TAPI_MEMBER(LINECALLINFO, dwNumOwners), TAPI_MEMBER(LINECALLINFO, dwNumMonitors),
    TAPI_MEMBER(LINECALLINFO, dwCountryCode), TAPI_MEMBER(LINECALLINFO, dwTrunk),
    TAPI_MEMBER(LINECALLINFO, dwCallerIDFlags), TAPI_MEMBER(LINECALLINFO, dwCallerIDSize),
    TAPI_MEMBER(LINECALLINFO, dwCallerIDOffset), TAPI_MEMBER(LINECALLINFO, dwCallerIDNameSize),
    TAPI_MEMBER(LINECALLINFO, dwCallerIDNameOffset), TAPI_MEMBER(LINECALLINFO, dwCalledIDFlags),
    TAPI_MEMBER(LINECALLINFO, dwCalledIDSize), TAPI_MEMBER(LINECALLINFO, dwCalledIDOffset),
    TAPI_MEMBER(LINECALLINFO, dwCalledIDNameSize), TAPI_MEMBER(LINECALLINFO, dwCalledIDNameOffset),
    TAPI_MEMBER(LINECALLINFO, dwConnectedIDFlags), TAPI_MEMBER(LINECALLINFO, dwConnectedIDSize),
    TAPI_MEMBER(LINECALLINFO, dwConnectedIDOffset), TAPI_MEMBER(LINECALLINFO, dwConnectedIDNameSize),
    TAPI_MEMBER(LINECALLINFO, dwConnectedIDNameOffset), TAPI_MEMBER(LINECALLINFO, dwRedirectionIDFlags),
    TAPI_MEMBER(LINECALLINFO, dwRedirectionIDSize), TAPI_MEMBER(LINECALLINFO, dwRedirectionIDOffset),
    TAPI_MEMBER(LINECALLINFO, dwRedirectionIDNameSize), TAPI_MEMBER(LINECALLINFO, dwRedirectionIDNameOffset),
    TAPI_MEMBER(LINECALLINFO, dwRedirectingIDFlags), TAPI_MEMBER(LINECALLINFO, dwRedirectingIDSize),
    TAPI_MEMBER(LINECALLINFO, dwRedirectingIDOffset), TAPI_MEMBER(LINECALLINFO, dwRedirectingIDNameSize),
    TAPI_MEMBER(LINECALLINFO, dwRedirectingIDNameOffset), TAPI_MEMBER(LINECALLINFO, dwAppNameSize),
    TAPI_MEMBER(LINECALLINFO, dwAppNameOffset), TAPI_MEMBER(LINECALLINFO, dwDisplayableAddressSize),
    TAPI_MEMBER(LINECALLINFO, dwDisplayableAddressOffset), TAPI_MEMBER(LINECALLINFO, dwCalledPartySize),
    TAPI_MEMBER(LINECALLINFO, dwCalledPartyOffset), TAPI_MEMBER(LINECALLINFO, dwCommentSize),
    TAPI_MEMBER(LINECALLINFO, dwCommentOffset), TAPI_MEMBER(LINECALLINFO, dwDisplaySize),
    TAPI_MEMBER(LINECALLINFO, dwDisplayOffset), TAPI_MEMBER(LINECALLINFO, dwUserUserInfoSize),
    TAPI_MEMBER(LINECALLINFO, dwUserUserInfoOffset), TAPI_MEMBER(LINECALLINFO, dwHighLevelCompSize),
    TAPI_MEMBER(LINECALLINFO, dwHighLevelCompOffset), TAPI_MEMBER(LINECALLINFO, dwLowLevelCompSize),
    TAPI_MEMBER(LINECALLINFO, dwLowLevelCompOffset), TAPI_MEMBER(LINECALLINFO, dwChargingInfoSize),
    TAPI_MEMBER(LINECALLINFO, dwChargingInfoOffset), TAPI_MEMBER(LINECALLINFO, dwTerminalModesSize),
    TAPI_MEMBER(LINECALLINFO, dwTerminalModesOffset), TAPI_MEMBER(LINECALLINFO, dwDevSpecificSize),
    TAPI_MEMBER(LINECALLINFO, dwDevSpecificOffset), TAPI_MEMBER(LINECALLINFO, dwCallTreatment),
    TAPI_MEMBER(LINECALLINFO, dwCallDataSize), TAPI_MEMBER(LINECALLINFO, dwCallDataOffset),
    TAPI_MEMBER(LINECALLINFO, dwSendingFlowspecSize), TAPI_MEMBER(LINECALLINFO, dwSendingFlowspecOffset),
    TAPI_MEMBER(LINECALLINFO, dwReceivingFlowspecSize),
    TAPI_MEMBER(LINECALLINFO, dwReceivingFlowspecOffset)}));
static_assert(offsetof(LINECALLPARAMS, dwDevSpecificOffset) == 108);
static_assert(tapi::layout::MembersInOrder(sizeof(LINECALLPARAMS), {
    TAPI_MEMBER(LINECALLPARAMS, dwTotalSize), TAPI_MEMBER(LINECALLPARAMS, dwBearerMode),
    TAPI_MEMBER(LINECALLPARAMS, dwMinRate), TAPI_MEMBER(LINECALLPARAMS, dwMaxRate),
    TAPI_MEMBER(LINECALLPARAMS, dwMediaMode), TAPI_MEMBER(LINECALLPARAMS, dwCallParamFlags),
    TAPI_MEMBER(LINECALLPARAMS, dwAddressMode), TAPI_MEMBER(LINECALLPARAMS, dwAddressID),
    TAPI_MEMBER(LINECALLPARAMS, DialParams), TAPI_MEMBER(LINECALLPARAMS, dwOrigAddressSize),
    TAPI_MEMBER(LINECALLPARAMS, dwOrigAddressOffset), TAPI_MEMBER(LINECALLPARAMS, dwDisplayableAddressSize),
    TAPI_MEMBER(LINECALLPARAMS, dwDisplayableAddressOffset), TAPI_MEMBER(LINECALLPARAMS, dwCalledPartySize),
    TAPI_MEMBER(LINECALLPARAMS, dwCalledPartyOffset), TAPI_MEMBER(LINECALLPARAMS, dwCommentSize),
    TAPI_MEMBER(LINECALLPARAMS, dwCommentOffset), TAPI_MEMBER(LINECALLPARAMS, dwUserUserInfoSize),
    TAPI_MEMBER(LINECALLPARAMS, dwUserUserInfoOffset), TAPI_MEMBER(LINECALLPARAMS, dwHighLevelCompSize),
    TAPI_MEMBER(LINECALLPARAMS, dwHighLevelCompOffset), TAPI_MEMBER(LINECALLPARAMS, dwLowLevelCompSize),
    TAPI_MEMBER(LINECALLPARAMS, dwLowLevelCompOffset), TAPI_MEMBER(LINECALLPARAMS, dwDevSpecificSize),
    TAPI_MEMBER(LINECALLPARAMS, dwDevSpecificOffset),
    TAPI_MEMBER(LINECALLPARAMS, dwPredictiveAutoTransferStates),
    TAPI_MEMBER(LINECALLPARAMS, dwTargetAddressSize), TAPI_MEMBER(LINECALLPARAMS, dwTargetAddressOffset),
    TAPI_MEMBER(LINECALLPARAMS, dwSendingFlowspecSize), TAPI_MEMBER(LINECALLPARAMS, dwSendingFlowspecOffset),
    TAPI_MEMBER(LINECALLPARAMS, dwReceivingFlowspecSize),
    TAPI_MEMBER(LINECALLPARAMS, dwReceivingFlowspecOffset), TAPI_MEMBER(LINECALLPARAMS, dwDeviceClassSize),
    TAPI_MEMBER(LINECALLPARAMS, dwDeviceClassOffset), TAPI_MEMBER(LINECALLPARAMS, dwDeviceConfigSize),
    TAPI_MEMBER(LINECALLPARAMS, dwDeviceConfigOffset), TAPI_MEMBER(LINECALLPARAMS, dwCallDataSize),
    TAPI_MEMBER(LINECALLPARAMS, dwCallDataOffset), TAPI_MEMBER(LINECALLPARAMS, dwNoAnswerTimeout),
    TAPI_MEMBER(LINECALLPARAMS, dwCallingPartyIDSize), TAPI_MEMBER(LINECALLPARAMS, dwCallingPartyIDOffset)}));
static_assert(tapi::layout::MembersInOrder(sizeof(LINECALLSTATUS), {
    TAPI_MEMBER(LINECALLSTATUS, dwTotalSize), TAPI_MEMBER(LINECALLSTATUS, dwNeededSize),
    TAPI_MEMBER(LINECALLSTATUS, dwUsedSize), TAPI_MEMBER(LINECALLSTATUS, dwCallState),
    TAPI_MEMBER(LINECALLSTATUS, dwCallStateMode), TAPI_MEMBER(LINECALLSTATUS, dwCallPrivilege),
    TAPI_MEMBER(LINECALLSTATUS, dwCallFeatures), TAPI_MEMBER(LINECALLSTATUS, dwDevSpecificSize),
    TAPI_MEMBER(LINECALLSTATUS, dwDevSpecificOffset), TAPI_MEMBER(LINECALLSTATUS, dwCallFeatures2),
    TAPI_MEMBER(LINECALLSTATUS, tStateEntryTime)}));
static_assert(tapi::layout::MembersInOrder(sizeof(LINEPROVIDERENTRY), {
    TAPI_MEMBER(LINEPROVIDERENTRY, dwPermanentProviderID),
    TAPI_MEMBER(LINEPROVIDERENTRY, dwProviderFilenameSize),
    TAPI_MEMBER(LINEPROVIDERENTRY, dwProviderFilenameOffset)}));
static_assert(tapi::layout::MembersInOrder(sizeof(LINEPROVIDERLIST), {
    TAPI_MEMBER(LINEPROVIDERLIST, dwTotalSize), TAPI_MEMBER(LINEPROVIDERLIST, dwNeededSize),
    TAPI_MEMBER(LINEPROVIDERLIST, dwUsedSize), TAPI_MEMBER(LINEPROVIDERLIST, dwNumProviders),
    TAPI_MEMBER(LINEPROVIDERLIST, dwProviderListSize), TAPI_MEMBER(LINEPROVIDERLIST, dwProviderListOffset)}));
static_assert(offsetof(LINEINITIALIZEEXPARAMS, dwOptions) == 12);
static_assert(sizeof(LINEINITIALIZEEXPARAMS::Handles) == sizeof(void*));
// Both handles of LINEINITIALIZEEXPARAMS share one place.
static_assert(offsetof(LINEINITIALIZEEXPARAMS, Handles.hEvent) == offsetof(LINEINITIALIZEEXPARAMS, Handles.hCompletionPort));

#undef TAPI_MEMBER
