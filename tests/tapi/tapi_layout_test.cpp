// Layout and value checks for the TAPI definitions: type widths, structure
// sizes and member offsets (64-bit Windows layout), constant families, and the
// signatures of the provider callbacks and entry points.
#include <gtest/gtest.h>

#include <cstddef>
#include <initializer_list>
#include <set>
#include <type_traits>
#include <vector>

#include "tapi/tapi.h"
#include "tapi/tspi.h"
#include "tapi/tuispi.h"

namespace {

// --- Helpers ---------------------------------------------------------------------

struct Member {
  const char* name;
  std::size_t offset;
  std::size_t size;
};

#define MEMBER(type, m) \
  Member { #m, offsetof(type, m), sizeof(type::m) }

// Checks that the members, listed in TAPI's order, follow each other without
// gaps from offset 0 and that the last one ends the structure.
void expectMembersInOrder(std::size_t structSize, std::initializer_list<Member> members) {
  std::size_t expected = 0;
  for (const Member& m : members) {
    EXPECT_EQ(m.offset, expected) << m.name;
    expected = m.offset + m.size;
  }
  EXPECT_EQ(structSize, expected) << "size after the last member";
}

struct Named {
  const char* name;
  DWORD value;
};
#define NAMED(c) \
  Named { #c, c }

// Checks a family of bit flags: each a single bit, and, in the order listed,
// exactly the bits of `bits` (lowest first).
void expectFlagBits(std::initializer_list<Named> family, std::initializer_list<int> bits) {
  ASSERT_EQ(family.size(), bits.size());
  auto bit = bits.begin();
  for (const Named& c : family) {
    EXPECT_EQ(c.value, DWORD{1} << *bit) << c.name;
    ++bit;
  }
}

// Bits first..last inclusive.
std::vector<int> bitRange(int first, int last) {
  std::vector<int> bits;
  for (int b = first; b <= last; ++b) bits.push_back(b);
  return bits;
}

void expectFlagRange(std::initializer_list<Named> family, int firstBit, int lastBit) {
  std::vector<int> bits = bitRange(firstBit, lastBit);
  ASSERT_EQ(family.size(), bits.size());
  auto bit = bits.begin();
  for (const Named& c : family) {
    EXPECT_EQ(c.value, DWORD{1} << *bit) << c.name;
    ++bit;
  }
}

// Checks a family of plain values: first, first + 1, ... in the order listed.
void expectSequence(std::initializer_list<Named> family, DWORD first) {
  DWORD expected = first;
  for (const Named& c : family) {
    EXPECT_EQ(c.value, expected) << c.name;
    ++expected;
  }
}

// --- Base types ----------------------------------------------------------------------

TEST(TapiTypes, BaseTypesHaveTheWidthsOf64BitWindows) {
  EXPECT_EQ(sizeof(BYTE), 1u);
  EXPECT_EQ(sizeof(WORD), 2u);
  EXPECT_EQ(sizeof(DWORD), 4u);
  EXPECT_EQ(sizeof(LONG), 4u);  // not "long", which is 8 bytes on Linux
  EXPECT_EQ(sizeof(ULONG), 4u);
  EXPECT_EQ(sizeof(BOOL), 4u);
  EXPECT_EQ(sizeof(DWORD_PTR), 8u);
  EXPECT_EQ(sizeof(ULONG_PTR), 8u);
  EXPECT_EQ(sizeof(LONG_PTR), 8u);
  EXPECT_EQ(sizeof(HANDLE), 8u);
  EXPECT_TRUE(std::is_signed_v<LONG>);
  EXPECT_TRUE(std::is_signed_v<LONG_PTR>);
  EXPECT_TRUE(std::is_unsigned_v<DWORD>);
  EXPECT_TRUE(std::is_unsigned_v<DWORD_PTR>);
  EXPECT_TRUE((std::is_same_v<WCHAR, char16_t>));
  EXPECT_TRUE((std::is_same_v<LPCWSTR, const char16_t*>));
  EXPECT_TRUE((std::is_same_v<LPWSTR, char16_t*>));
  EXPECT_TRUE((std::is_same_v<LPDWORD, DWORD*>));
}

TEST(TapiTypes, ProviderHandlesArePointerSized) {
  EXPECT_EQ(sizeof(HDRVLINE), sizeof(void*));
  EXPECT_EQ(sizeof(HDRVCALL), sizeof(void*));
  EXPECT_EQ(sizeof(HDRVPHONE), sizeof(void*));
  EXPECT_EQ(sizeof(HDRVDIALOGINSTANCE), sizeof(void*));
  EXPECT_EQ(sizeof(HTAPILINE), sizeof(void*));
  EXPECT_EQ(sizeof(HTAPICALL), sizeof(void*));
  EXPECT_EQ(sizeof(HTAPIPHONE), sizeof(void*));
  EXPECT_EQ(sizeof(HTAPIDIALOGINSTANCE), sizeof(void*));
  EXPECT_EQ(sizeof(HPROVIDER), sizeof(void*));
  EXPECT_EQ(sizeof(HWND), sizeof(void*));
  EXPECT_EQ(sizeof(HICON), sizeof(void*));
  EXPECT_EQ(sizeof(HINSTANCE), sizeof(void*));
  // Distinct types, so a line handle cannot be passed where a call handle belongs.
  EXPECT_FALSE((std::is_same_v<HDRVLINE, HDRVCALL>));
  EXPECT_FALSE((std::is_same_v<HTAPILINE, HTAPICALL>));
  EXPECT_TRUE((std::is_same_v<LPHDRVLINE, HDRVLINE*>));
  EXPECT_TRUE((std::is_same_v<LPHDRVCALL, HDRVCALL*>));
  EXPECT_TRUE((std::is_same_v<DRV_REQUESTID, DWORD>));
}

TEST(TapiTypes, ApplicationHandlesAre32Bits) {
  EXPECT_EQ(sizeof(HLINE), 4u);
  EXPECT_EQ(sizeof(HCALL), 4u);
  EXPECT_EQ(sizeof(HLINEAPP), 4u);
  EXPECT_EQ(sizeof(HPHONE), 4u);
  EXPECT_EQ(sizeof(HPHONEAPP), 4u);
}

// --- Structures --------------------------------------------------------------------------

TEST(TapiStructs, SmallStructures) {
  EXPECT_EQ(sizeof(SYSTEMTIME), 16u);
  expectMembersInOrder(sizeof(SYSTEMTIME),
                       {MEMBER(SYSTEMTIME, wYear), MEMBER(SYSTEMTIME, wMonth),
                        MEMBER(SYSTEMTIME, wDayOfWeek), MEMBER(SYSTEMTIME, wDay),
                        MEMBER(SYSTEMTIME, wHour), MEMBER(SYSTEMTIME, wMinute),
                        MEMBER(SYSTEMTIME, wSecond), MEMBER(SYSTEMTIME, wMilliseconds)});

  EXPECT_EQ(sizeof(VARSTRING), 24u);
  expectMembersInOrder(sizeof(VARSTRING),
                       {MEMBER(VARSTRING, dwTotalSize), MEMBER(VARSTRING, dwNeededSize),
                        MEMBER(VARSTRING, dwUsedSize), MEMBER(VARSTRING, dwStringFormat),
                        MEMBER(VARSTRING, dwStringSize), MEMBER(VARSTRING, dwStringOffset)});

  EXPECT_EQ(sizeof(LINEDIALPARAMS), 16u);
  expectMembersInOrder(sizeof(LINEDIALPARAMS),
                       {MEMBER(LINEDIALPARAMS, dwDialPause), MEMBER(LINEDIALPARAMS, dwDialSpeed),
                        MEMBER(LINEDIALPARAMS, dwDigitDuration),
                        MEMBER(LINEDIALPARAMS, dwWaitForDialtone)});

  EXPECT_EQ(sizeof(LINEEXTENSIONID), 16u);
  EXPECT_EQ(sizeof(LINEGENERATETONE), 16u);
  EXPECT_EQ(offsetof(LINEGENERATETONE, dwVolume), 12u);
  EXPECT_EQ(sizeof(LINEMONITORTONE), 20u);
  EXPECT_EQ(offsetof(LINEMONITORTONE, dwFrequency3), 16u);
  EXPECT_EQ(sizeof(LINEMEDIACONTROLDIGIT), 12u);
  EXPECT_EQ(sizeof(LINEMEDIACONTROLMEDIA), 12u);
  EXPECT_EQ(sizeof(LINEMEDIACONTROLTONE), 24u);
  EXPECT_EQ(offsetof(LINEMEDIACONTROLTONE, dwMediaControl), 20u);
  EXPECT_EQ(sizeof(LINEMEDIACONTROLCALLSTATE), 8u);
}

TEST(TapiStructs, LineForwardListHoldsEntriesOf24Bytes) {
  EXPECT_EQ(sizeof(LINEFORWARD), 24u);
  expectMembersInOrder(sizeof(LINEFORWARD),
                       {MEMBER(LINEFORWARD, dwForwardMode), MEMBER(LINEFORWARD, dwCallerAddressSize),
                        MEMBER(LINEFORWARD, dwCallerAddressOffset),
                        MEMBER(LINEFORWARD, dwDestCountryCode),
                        MEMBER(LINEFORWARD, dwDestAddressSize),
                        MEMBER(LINEFORWARD, dwDestAddressOffset)});
  // One entry is declared; a list of n entries takes 8 + 24 * n bytes.
  EXPECT_EQ(sizeof(LINEFORWARDLIST), 32u);
  EXPECT_EQ(offsetof(LINEFORWARDLIST, dwNumEntries), 4u);
  EXPECT_EQ(offsetof(LINEFORWARDLIST, ForwardList), 8u);
  EXPECT_EQ(sizeof(LINEFORWARDLIST::ForwardList), sizeof(LINEFORWARD));
}

TEST(TapiStructs, LineDevCapsIs252BytesWithThreeDialParams) {
  EXPECT_EQ(sizeof(LINEDEVCAPS), 252u);
  EXPECT_EQ(offsetof(LINEDEVCAPS, dwUUICallInfoSize), 152u);
  EXPECT_EQ(offsetof(LINEDEVCAPS, MinDialParams), 156u);
  EXPECT_EQ(offsetof(LINEDEVCAPS, MaxDialParams), 172u);
  EXPECT_EQ(offsetof(LINEDEVCAPS, DefaultDialParams), 188u);
  EXPECT_EQ(offsetof(LINEDEVCAPS, dwNumTerminals), 204u);
  EXPECT_EQ(offsetof(LINEDEVCAPS, dwLineFeatures), 236u);
  EXPECT_EQ(offsetof(LINEDEVCAPS, dwSettableDevStatus), 240u);
  EXPECT_EQ(offsetof(LINEDEVCAPS, dwDeviceClassesOffset), 248u);
  using T = LINEDEVCAPS;
  expectMembersInOrder(
      sizeof(T),
      {MEMBER(T, dwTotalSize), MEMBER(T, dwNeededSize), MEMBER(T, dwUsedSize),
       MEMBER(T, dwProviderInfoSize), MEMBER(T, dwProviderInfoOffset), MEMBER(T, dwSwitchInfoSize),
       MEMBER(T, dwSwitchInfoOffset), MEMBER(T, dwPermanentLineID), MEMBER(T, dwLineNameSize),
       MEMBER(T, dwLineNameOffset), MEMBER(T, dwStringFormat), MEMBER(T, dwAddressModes),
       MEMBER(T, dwNumAddresses), MEMBER(T, dwBearerModes), MEMBER(T, dwMaxRate),
       MEMBER(T, dwMediaModes), MEMBER(T, dwGenerateToneModes), MEMBER(T, dwGenerateToneMaxNumFreq),
       MEMBER(T, dwGenerateDigitModes), MEMBER(T, dwMonitorToneMaxNumFreq),
       MEMBER(T, dwMonitorToneMaxNumEntries), MEMBER(T, dwMonitorDigitModes),
       MEMBER(T, dwGatherDigitsMinTimeout), MEMBER(T, dwGatherDigitsMaxTimeout),
       MEMBER(T, dwMedCtlDigitMaxListSize), MEMBER(T, dwMedCtlMediaMaxListSize),
       MEMBER(T, dwMedCtlToneMaxListSize), MEMBER(T, dwMedCtlCallStateMaxListSize),
       MEMBER(T, dwDevCapFlags), MEMBER(T, dwMaxNumActiveCalls), MEMBER(T, dwAnswerMode),
       MEMBER(T, dwRingModes), MEMBER(T, dwLineStates), MEMBER(T, dwUUIAcceptSize),
       MEMBER(T, dwUUIAnswerSize), MEMBER(T, dwUUIMakeCallSize), MEMBER(T, dwUUIDropSize),
       MEMBER(T, dwUUISendUserUserInfoSize), MEMBER(T, dwUUICallInfoSize),
       MEMBER(T, MinDialParams), MEMBER(T, MaxDialParams), MEMBER(T, DefaultDialParams),
       MEMBER(T, dwNumTerminals), MEMBER(T, dwTerminalCapsSize), MEMBER(T, dwTerminalCapsOffset),
       MEMBER(T, dwTerminalTextEntrySize), MEMBER(T, dwTerminalTextSize),
       MEMBER(T, dwTerminalTextOffset), MEMBER(T, dwDevSpecificSize),
       MEMBER(T, dwDevSpecificOffset), MEMBER(T, dwLineFeatures), MEMBER(T, dwSettableDevStatus),
       MEMBER(T, dwDeviceClassesSize), MEMBER(T, dwDeviceClassesOffset)});
}

TEST(TapiStructs, LineAddressCapsIs228Bytes) {
  EXPECT_EQ(sizeof(LINEADDRESSCAPS), 228u);
  EXPECT_EQ(offsetof(LINEADDRESSCAPS, dwAddressFeatures), 176u);
  EXPECT_EQ(offsetof(LINEADDRESSCAPS, dwPredictiveAutoTransferStates), 180u);
  EXPECT_EQ(offsetof(LINEADDRESSCAPS, dwCallFeatures2), 208u);
  EXPECT_EQ(offsetof(LINEADDRESSCAPS, dwAvailableMediaModes), 224u);
  using T = LINEADDRESSCAPS;
  expectMembersInOrder(
      sizeof(T),
      {MEMBER(T, dwTotalSize), MEMBER(T, dwNeededSize), MEMBER(T, dwUsedSize),
       MEMBER(T, dwLineDeviceID), MEMBER(T, dwAddressSize), MEMBER(T, dwAddressOffset),
       MEMBER(T, dwDevSpecificSize), MEMBER(T, dwDevSpecificOffset), MEMBER(T, dwAddressSharing),
       MEMBER(T, dwAddressStates), MEMBER(T, dwCallInfoStates), MEMBER(T, dwCallerIDFlags),
       MEMBER(T, dwCalledIDFlags), MEMBER(T, dwConnectedIDFlags), MEMBER(T, dwRedirectionIDFlags),
       MEMBER(T, dwRedirectingIDFlags), MEMBER(T, dwCallStates), MEMBER(T, dwDialToneModes),
       MEMBER(T, dwBusyModes), MEMBER(T, dwSpecialInfo), MEMBER(T, dwDisconnectModes),
       MEMBER(T, dwMaxNumActiveCalls), MEMBER(T, dwMaxNumOnHoldCalls),
       MEMBER(T, dwMaxNumOnHoldPendingCalls), MEMBER(T, dwMaxNumConference),
       MEMBER(T, dwMaxNumTransConf), MEMBER(T, dwAddrCapFlags), MEMBER(T, dwCallFeatures),
       MEMBER(T, dwRemoveFromConfCaps), MEMBER(T, dwRemoveFromConfState),
       MEMBER(T, dwTransferModes), MEMBER(T, dwParkModes), MEMBER(T, dwForwardModes),
       MEMBER(T, dwMaxForwardEntries), MEMBER(T, dwMaxSpecificEntries),
       MEMBER(T, dwMinFwdNumRings), MEMBER(T, dwMaxFwdNumRings), MEMBER(T, dwMaxCallCompletions),
       MEMBER(T, dwCallCompletionConds), MEMBER(T, dwCallCompletionModes),
       MEMBER(T, dwNumCompletionMessages), MEMBER(T, dwCompletionMsgTextEntrySize),
       MEMBER(T, dwCompletionMsgTextSize), MEMBER(T, dwCompletionMsgTextOffset),
       MEMBER(T, dwAddressFeatures), MEMBER(T, dwPredictiveAutoTransferStates),
       MEMBER(T, dwNumCallTreatments), MEMBER(T, dwCallTreatmentListSize),
       MEMBER(T, dwCallTreatmentListOffset), MEMBER(T, dwDeviceClassesSize),
       MEMBER(T, dwDeviceClassesOffset), MEMBER(T, dwMaxCallDataSize), MEMBER(T, dwCallFeatures2),
       MEMBER(T, dwMaxNoAnswerTimeout), MEMBER(T, dwConnectedModes), MEMBER(T, dwOfferingModes),
       MEMBER(T, dwAvailableMediaModes)});
}

TEST(TapiStructs, LineAddressStatusAndLineDevStatus) {
  EXPECT_EQ(sizeof(LINEADDRESSSTATUS), 64u);
  {
    using T = LINEADDRESSSTATUS;
    expectMembersInOrder(
        sizeof(T), {MEMBER(T, dwTotalSize), MEMBER(T, dwNeededSize), MEMBER(T, dwUsedSize),
                    MEMBER(T, dwNumInUse), MEMBER(T, dwNumActiveCalls), MEMBER(T, dwNumOnHoldCalls),
                    MEMBER(T, dwNumOnHoldPendCalls), MEMBER(T, dwAddressFeatures),
                    MEMBER(T, dwNumRingsNoAnswer), MEMBER(T, dwForwardNumEntries),
                    MEMBER(T, dwForwardSize), MEMBER(T, dwForwardOffset),
                    MEMBER(T, dwTerminalModesSize), MEMBER(T, dwTerminalModesOffset),
                    MEMBER(T, dwDevSpecificSize), MEMBER(T, dwDevSpecificOffset)});
  }
  EXPECT_EQ(sizeof(LINEDEVSTATUS), 88u);
  EXPECT_EQ(offsetof(LINEDEVSTATUS, dwAvailableMediaModes), 76u);
  EXPECT_EQ(offsetof(LINEDEVSTATUS, dwAppInfoOffset), 84u);
  {
    using T = LINEDEVSTATUS;
    expectMembersInOrder(
        sizeof(T), {MEMBER(T, dwTotalSize), MEMBER(T, dwNeededSize), MEMBER(T, dwUsedSize),
                    MEMBER(T, dwNumOpens), MEMBER(T, dwOpenMediaModes), MEMBER(T, dwNumActiveCalls),
                    MEMBER(T, dwNumOnHoldCalls), MEMBER(T, dwNumOnHoldPendCalls),
                    MEMBER(T, dwLineFeatures), MEMBER(T, dwNumCallCompletions),
                    MEMBER(T, dwRingMode), MEMBER(T, dwSignalLevel), MEMBER(T, dwBatteryLevel),
                    MEMBER(T, dwRoamMode), MEMBER(T, dwDevStatusFlags),
                    MEMBER(T, dwTerminalModesSize), MEMBER(T, dwTerminalModesOffset),
                    MEMBER(T, dwDevSpecificSize), MEMBER(T, dwDevSpecificOffset),
                    MEMBER(T, dwAvailableMediaModes), MEMBER(T, dwAppInfoSize),
                    MEMBER(T, dwAppInfoOffset)});
  }
}

TEST(TapiStructs, LineCallInfoIs324BytesWithA32BitLineHandle) {
  EXPECT_EQ(sizeof(LINECALLINFO), 324u);
  EXPECT_EQ(offsetof(LINECALLINFO, hLine), 12u);
  EXPECT_EQ(sizeof(LINECALLINFO::hLine), 4u);
  EXPECT_EQ(offsetof(LINECALLINFO, dwLineDeviceID), 16u);
  EXPECT_EQ(offsetof(LINECALLINFO, DialParams), 64u);
  EXPECT_EQ(offsetof(LINECALLINFO, dwOrigin), 80u);
  EXPECT_EQ(offsetof(LINECALLINFO, dwCallerIDFlags), 108u);
  EXPECT_EQ(offsetof(LINECALLINFO, dwDevSpecificOffset), 292u);
  EXPECT_EQ(offsetof(LINECALLINFO, dwCallTreatment), 296u);
  EXPECT_EQ(offsetof(LINECALLINFO, dwCallDataOffset), 304u);
  EXPECT_EQ(offsetof(LINECALLINFO, dwReceivingFlowspecOffset), 320u);
  using T = LINECALLINFO;
  expectMembersInOrder(
      sizeof(T),
      {MEMBER(T, dwTotalSize), MEMBER(T, dwNeededSize), MEMBER(T, dwUsedSize), MEMBER(T, hLine),
       MEMBER(T, dwLineDeviceID), MEMBER(T, dwAddressID), MEMBER(T, dwBearerMode),
       MEMBER(T, dwRate), MEMBER(T, dwMediaMode), MEMBER(T, dwAppSpecific), MEMBER(T, dwCallID),
       MEMBER(T, dwRelatedCallID), MEMBER(T, dwCallParamFlags), MEMBER(T, dwCallStates),
       MEMBER(T, dwMonitorDigitModes), MEMBER(T, dwMonitorMediaModes), MEMBER(T, DialParams),
       MEMBER(T, dwOrigin), MEMBER(T, dwReason), MEMBER(T, dwCompletionID),
       MEMBER(T, dwNumOwners), MEMBER(T, dwNumMonitors), MEMBER(T, dwCountryCode),
       MEMBER(T, dwTrunk), MEMBER(T, dwCallerIDFlags), MEMBER(T, dwCallerIDSize),
       MEMBER(T, dwCallerIDOffset), MEMBER(T, dwCallerIDNameSize), MEMBER(T, dwCallerIDNameOffset),
       MEMBER(T, dwCalledIDFlags), MEMBER(T, dwCalledIDSize), MEMBER(T, dwCalledIDOffset),
       MEMBER(T, dwCalledIDNameSize), MEMBER(T, dwCalledIDNameOffset),
       MEMBER(T, dwConnectedIDFlags), MEMBER(T, dwConnectedIDSize),
       MEMBER(T, dwConnectedIDOffset), MEMBER(T, dwConnectedIDNameSize),
       MEMBER(T, dwConnectedIDNameOffset), MEMBER(T, dwRedirectionIDFlags),
       MEMBER(T, dwRedirectionIDSize), MEMBER(T, dwRedirectionIDOffset),
       MEMBER(T, dwRedirectionIDNameSize), MEMBER(T, dwRedirectionIDNameOffset),
       MEMBER(T, dwRedirectingIDFlags), MEMBER(T, dwRedirectingIDSize),
       MEMBER(T, dwRedirectingIDOffset), MEMBER(T, dwRedirectingIDNameSize),
       MEMBER(T, dwRedirectingIDNameOffset), MEMBER(T, dwAppNameSize), MEMBER(T, dwAppNameOffset),
       MEMBER(T, dwDisplayableAddressSize), MEMBER(T, dwDisplayableAddressOffset),
       MEMBER(T, dwCalledPartySize), MEMBER(T, dwCalledPartyOffset), MEMBER(T, dwCommentSize),
       MEMBER(T, dwCommentOffset), MEMBER(T, dwDisplaySize), MEMBER(T, dwDisplayOffset),
       MEMBER(T, dwUserUserInfoSize), MEMBER(T, dwUserUserInfoOffset),
       MEMBER(T, dwHighLevelCompSize), MEMBER(T, dwHighLevelCompOffset),
       MEMBER(T, dwLowLevelCompSize), MEMBER(T, dwLowLevelCompOffset),
       MEMBER(T, dwChargingInfoSize), MEMBER(T, dwChargingInfoOffset),
       MEMBER(T, dwTerminalModesSize), MEMBER(T, dwTerminalModesOffset),
       MEMBER(T, dwDevSpecificSize), MEMBER(T, dwDevSpecificOffset), MEMBER(T, dwCallTreatment),
       MEMBER(T, dwCallDataSize), MEMBER(T, dwCallDataOffset), MEMBER(T, dwSendingFlowspecSize),
       MEMBER(T, dwSendingFlowspecOffset), MEMBER(T, dwReceivingFlowspecSize),
       MEMBER(T, dwReceivingFlowspecOffset)});
}

TEST(TapiStructs, LineCallParamsIs176Bytes) {
  EXPECT_EQ(sizeof(LINECALLPARAMS), 176u);
  EXPECT_EQ(offsetof(LINECALLPARAMS, DialParams), 32u);
  EXPECT_EQ(offsetof(LINECALLPARAMS, dwOrigAddressSize), 48u);
  EXPECT_EQ(offsetof(LINECALLPARAMS, dwDevSpecificOffset), 108u);
  EXPECT_EQ(offsetof(LINECALLPARAMS, dwPredictiveAutoTransferStates), 112u);
  EXPECT_EQ(offsetof(LINECALLPARAMS, dwCallingPartyIDOffset), 172u);
  using T = LINECALLPARAMS;
  expectMembersInOrder(
      sizeof(T),
      {MEMBER(T, dwTotalSize), MEMBER(T, dwBearerMode), MEMBER(T, dwMinRate),
       MEMBER(T, dwMaxRate), MEMBER(T, dwMediaMode), MEMBER(T, dwCallParamFlags),
       MEMBER(T, dwAddressMode), MEMBER(T, dwAddressID), MEMBER(T, DialParams),
       MEMBER(T, dwOrigAddressSize), MEMBER(T, dwOrigAddressOffset),
       MEMBER(T, dwDisplayableAddressSize), MEMBER(T, dwDisplayableAddressOffset),
       MEMBER(T, dwCalledPartySize), MEMBER(T, dwCalledPartyOffset), MEMBER(T, dwCommentSize),
       MEMBER(T, dwCommentOffset), MEMBER(T, dwUserUserInfoSize), MEMBER(T, dwUserUserInfoOffset),
       MEMBER(T, dwHighLevelCompSize), MEMBER(T, dwHighLevelCompOffset),
       MEMBER(T, dwLowLevelCompSize), MEMBER(T, dwLowLevelCompOffset),
       MEMBER(T, dwDevSpecificSize), MEMBER(T, dwDevSpecificOffset),
       MEMBER(T, dwPredictiveAutoTransferStates), MEMBER(T, dwTargetAddressSize),
       MEMBER(T, dwTargetAddressOffset), MEMBER(T, dwSendingFlowspecSize),
       MEMBER(T, dwSendingFlowspecOffset), MEMBER(T, dwReceivingFlowspecSize),
       MEMBER(T, dwReceivingFlowspecOffset), MEMBER(T, dwDeviceClassSize),
       MEMBER(T, dwDeviceClassOffset), MEMBER(T, dwDeviceConfigSize),
       MEMBER(T, dwDeviceConfigOffset), MEMBER(T, dwCallDataSize), MEMBER(T, dwCallDataOffset),
       MEMBER(T, dwNoAnswerTimeout), MEMBER(T, dwCallingPartyIDSize),
       MEMBER(T, dwCallingPartyIDOffset)});
}

TEST(TapiStructs, LineCallStatusEndsWithTheStateEntryTime) {
  EXPECT_EQ(sizeof(LINECALLSTATUS), 56u);
  EXPECT_EQ(offsetof(LINECALLSTATUS, dwCallFeatures2), 36u);
  EXPECT_EQ(offsetof(LINECALLSTATUS, tStateEntryTime), 40u);
  using T = LINECALLSTATUS;
  expectMembersInOrder(
      sizeof(T), {MEMBER(T, dwTotalSize), MEMBER(T, dwNeededSize), MEMBER(T, dwUsedSize),
                  MEMBER(T, dwCallState), MEMBER(T, dwCallStateMode), MEMBER(T, dwCallPrivilege),
                  MEMBER(T, dwCallFeatures), MEMBER(T, dwDevSpecificSize),
                  MEMBER(T, dwDevSpecificOffset), MEMBER(T, dwCallFeatures2),
                  MEMBER(T, tStateEntryTime)});
}

TEST(TapiStructs, ProviderListAndEntry) {
  EXPECT_EQ(sizeof(LINEPROVIDERENTRY), 12u);
  expectMembersInOrder(sizeof(LINEPROVIDERENTRY),
                       {MEMBER(LINEPROVIDERENTRY, dwPermanentProviderID),
                        MEMBER(LINEPROVIDERENTRY, dwProviderFilenameSize),
                        MEMBER(LINEPROVIDERENTRY, dwProviderFilenameOffset)});
  EXPECT_EQ(sizeof(LINEPROVIDERLIST), 24u);
  using T = LINEPROVIDERLIST;
  expectMembersInOrder(sizeof(T), {MEMBER(T, dwTotalSize), MEMBER(T, dwNeededSize),
                                   MEMBER(T, dwUsedSize), MEMBER(T, dwNumProviders),
                                   MEMBER(T, dwProviderListSize), MEMBER(T, dwProviderListOffset)});
}

TEST(TapiStructs, LineInitializeExParamsIsPackedLikeWindows) {
  // Windows packs TAPI structures to 1 byte: the completion key follows the
  // 8-byte handle directly and nothing pads the end.
  EXPECT_EQ(sizeof(LINEINITIALIZEEXPARAMS), 28u);
  EXPECT_EQ(offsetof(LINEINITIALIZEEXPARAMS, dwOptions), 12u);
  EXPECT_EQ(offsetof(LINEINITIALIZEEXPARAMS, Handles), 16u);
  EXPECT_EQ(sizeof(LINEINITIALIZEEXPARAMS::Handles), 8u);
  EXPECT_EQ(offsetof(LINEINITIALIZEEXPARAMS, dwCompletionKey), 24u);
  // Both handles share the same place.
  LINEINITIALIZEEXPARAMS params{};
  int marker = 0;
  params.Handles.hCompletionPort = &marker;
  EXPECT_EQ(params.Handles.hEvent, static_cast<HANDLE>(&marker));
}

// --- Result codes -------------------------------------------------------------------------

const std::vector<LONG>& allLineErrors() {
  static const std::vector<LONG> codes = {
      LINEERR_ALLOCATED, LINEERR_BADDEVICEID, LINEERR_BEARERMODEUNAVAIL, LINEERR_CALLUNAVAIL,
      LINEERR_COMPLETIONOVERRUN, LINEERR_CONFERENCEFULL, LINEERR_DIALBILLING,
      LINEERR_DIALDIALTONE, LINEERR_DIALPROMPT, LINEERR_DIALQUIET,
      LINEERR_INCOMPATIBLEAPIVERSION, LINEERR_INCOMPATIBLEEXTVERSION, LINEERR_INIFILECORRUPT,
      LINEERR_INUSE, LINEERR_INVALADDRESS, LINEERR_INVALADDRESSID, LINEERR_INVALADDRESSMODE,
      LINEERR_INVALADDRESSSTATE, LINEERR_INVALAPPHANDLE, LINEERR_INVALAPPNAME,
      LINEERR_INVALBEARERMODE, LINEERR_INVALCALLCOMPLMODE, LINEERR_INVALCALLHANDLE,
      LINEERR_INVALCALLPARAMS, LINEERR_INVALCALLPRIVILEGE, LINEERR_INVALCALLSELECT,
      LINEERR_INVALCALLSTATE, LINEERR_INVALCALLSTATELIST, LINEERR_INVALCARD,
      LINEERR_INVALCOMPLETIONID, LINEERR_INVALCONFCALLHANDLE, LINEERR_INVALCONSULTCALLHANDLE,
      LINEERR_INVALCOUNTRYCODE, LINEERR_INVALDEVICECLASS, LINEERR_INVALDEVICEHANDLE,
      LINEERR_INVALDIALPARAMS, LINEERR_INVALDIGITLIST, LINEERR_INVALDIGITMODE,
      LINEERR_INVALDIGITS, LINEERR_INVALEXTVERSION, LINEERR_INVALGROUPID,
      LINEERR_INVALLINEHANDLE, LINEERR_INVALLINESTATE, LINEERR_INVALLOCATION,
      LINEERR_INVALMEDIALIST, LINEERR_INVALMEDIAMODE, LINEERR_INVALMESSAGEID, LINEERR_INVALPARAM,
      LINEERR_INVALPARKID, LINEERR_INVALPARKMODE, LINEERR_INVALPOINTER, LINEERR_INVALPRIVSELECT,
      LINEERR_INVALRATE, LINEERR_INVALREQUESTMODE, LINEERR_INVALTERMINALID,
      LINEERR_INVALTERMINALMODE, LINEERR_INVALTIMEOUT, LINEERR_INVALTONE, LINEERR_INVALTONELIST,
      LINEERR_INVALTONEMODE, LINEERR_INVALTRANSFERMODE, LINEERR_LINEMAPPERFAILED,
      LINEERR_NOCONFERENCE, LINEERR_NODEVICE, LINEERR_NODRIVER, LINEERR_NOMEM,
      LINEERR_NOREQUEST, LINEERR_NOTOWNER, LINEERR_NOTREGISTERED, LINEERR_OPERATIONFAILED,
      LINEERR_OPERATIONUNAVAIL, LINEERR_RATEUNAVAIL, LINEERR_RESOURCEUNAVAIL,
      LINEERR_REQUESTOVERRUN, LINEERR_STRUCTURETOOSMALL, LINEERR_TARGETNOTFOUND,
      LINEERR_TARGETSELF, LINEERR_UNINITIALIZED, LINEERR_USERUSERINFOTOOBIG, LINEERR_REINIT,
      LINEERR_ADDRESSBLOCKED, LINEERR_BILLINGREJECTED, LINEERR_INVALFEATURE,
      LINEERR_NOMULTIPLEINSTANCE, LINEERR_INVALAGENTID, LINEERR_INVALAGENTGROUP,
      LINEERR_INVALPASSWORD, LINEERR_INVALAGENTSTATE, LINEERR_INVALAGENTACTIVITY,
      LINEERR_DIALVOICEDETECT, LINEERR_USERCANCELLED, LINEERR_INVALAGENTSESSIONSTATE};
  return codes;
}

TEST(TapiResultCodes, LineErrorsAreNegativeAndNumberedLikeTapi) {
  const std::vector<LONG>& codes = allLineErrors();
  EXPECT_EQ(codes.size(), 92u);
  // Listed in TAPI's order, which is ascending; TAPI leaves 0x04, 0x31 and
  // 0x5E out of the 2.x numbering.
  const std::set<DWORD> unused = {0x04, 0x31, 0x5E};
  DWORD n = 1;
  for (LONG code : codes) {
    while (unused.count(n) != 0) ++n;
    EXPECT_LT(code, 0);
    EXPECT_EQ(static_cast<DWORD>(code), 0x80000000u | n) << "code number " << n;
    ++n;
  }
  EXPECT_EQ(LINEERR_ALLOCATED, static_cast<LONG>(0x80000001));
  EXPECT_EQ(LINEERR_NOMULTIPLEINSTANCE, static_cast<LONG>(0x80000056));
  EXPECT_EQ(LINEERR_DIALVOICEDETECT, static_cast<LONG>(0x8000005C));
  EXPECT_EQ(LINEERR_INVALAGENTSESSIONSTATE, static_cast<LONG>(0x8000005F));
  EXPECT_TRUE((std::is_same_v<decltype(LINEERR_ALLOCATED), const LONG>));
}

TEST(TapiResultCodes, PhoneErrorsAreNegativeAndNumberedLikeTapi) {
  const std::vector<LONG> codes = {
      PHONEERR_ALLOCATED, PHONEERR_BADDEVICEID, PHONEERR_INCOMPATIBLEAPIVERSION,
      PHONEERR_INCOMPATIBLEEXTVERSION, PHONEERR_INIFILECORRUPT, PHONEERR_INUSE,
      PHONEERR_INVALAPPHANDLE, PHONEERR_INVALAPPNAME, PHONEERR_INVALBUTTONLAMPID,
      PHONEERR_INVALBUTTONMODE, PHONEERR_INVALBUTTONSTATE, PHONEERR_INVALDATAID,
      PHONEERR_INVALDEVICECLASS, PHONEERR_INVALEXTVERSION, PHONEERR_INVALHOOKSWITCHDEV,
      PHONEERR_INVALHOOKSWITCHMODE, PHONEERR_INVALLAMPMODE, PHONEERR_INVALPARAM,
      PHONEERR_INVALPHONEHANDLE, PHONEERR_INVALPHONESTATE, PHONEERR_INVALPOINTER,
      PHONEERR_INVALPRIVILEGE, PHONEERR_INVALRINGMODE, PHONEERR_NODEVICE, PHONEERR_NODRIVER,
      PHONEERR_NOMEM, PHONEERR_NOTOWNER, PHONEERR_OPERATIONFAILED, PHONEERR_OPERATIONUNAVAIL,
      PHONEERR_RESOURCEUNAVAIL, PHONEERR_REQUESTOVERRUN, PHONEERR_STRUCTURETOOSMALL,
      PHONEERR_UNINITIALIZED, PHONEERR_REINIT};
  EXPECT_EQ(codes.size(), 34u);
  DWORD n = 1;
  for (LONG code : codes) {
    if (n == 0x1E) ++n;  // unused by TAPI
    EXPECT_LT(code, 0);
    EXPECT_EQ(static_cast<DWORD>(code), 0x90000000u | n) << "code number " << n;
    ++n;
  }
}

// --- Messages and versions ---------------------------------------------------------------

TEST(TapiConstants, MessagesAreNumberedLikeTapi) {
  expectSequence(
      {NAMED(LINE_ADDRESSSTATE), NAMED(LINE_CALLINFO), NAMED(LINE_CALLSTATE), NAMED(LINE_CLOSE),
       NAMED(LINE_DEVSPECIFIC), NAMED(LINE_DEVSPECIFICFEATURE), NAMED(LINE_GATHERDIGITS),
       NAMED(LINE_GENERATE), NAMED(LINE_LINEDEVSTATE), NAMED(LINE_MONITORDIGITS),
       NAMED(LINE_MONITORMEDIA), NAMED(LINE_MONITORTONE), NAMED(LINE_REPLY), NAMED(LINE_REQUEST),
       NAMED(PHONE_BUTTON), NAMED(PHONE_CLOSE), NAMED(PHONE_DEVSPECIFIC), NAMED(PHONE_REPLY),
       NAMED(PHONE_STATE), NAMED(LINE_CREATE), NAMED(PHONE_CREATE), NAMED(LINE_AGENTSPECIFIC),
       NAMED(LINE_AGENTSTATUS), NAMED(LINE_APPNEWCALL), NAMED(LINE_PROXYREQUEST),
       NAMED(LINE_REMOVE), NAMED(PHONE_REMOVE), NAMED(LINE_AGENTSESSIONSTATUS),
       NAMED(LINE_QUEUESTATUS), NAMED(LINE_AGENTSTATUSEX), NAMED(LINE_GROUPSTATUS),
       NAMED(LINE_PROXYSTATUS)},
      0);
  EXPECT_EQ(LINE_CREATE, 19u);
  EXPECT_EQ(PHONE_REMOVE, 26u);
  EXPECT_EQ(TSPI_MESSAGE_BASE, 500u);
  expectSequence({NAMED(LINE_NEWCALL), NAMED(LINE_CALLDEVSPECIFIC),
                  NAMED(LINE_CALLDEVSPECIFICFEATURE), NAMED(LINE_CREATEDIALOGINSTANCE),
                  NAMED(LINE_SENDDIALOGINSTANCEDATA)},
                 500);
}

TEST(TapiConstants, VersionsAndProviderOptions) {
  EXPECT_EQ(TAPI_VERSION1_0, 0x00010003u);
  EXPECT_EQ(TAPI_VERSION1_4, 0x00010004u);
  EXPECT_EQ(TAPI_VERSION2_0, 0x00020000u);
  EXPECT_EQ(TAPI_VERSION2_1, 0x00020001u);
  EXPECT_EQ(TAPI_VERSION2_2, 0x00020002u);
  EXPECT_EQ(LINETSPIOPTION_NONREENTRANT, 0x00000001u);
  expectSequence({NAMED(TUISPIDLL_OBJECT_LINEID), NAMED(TUISPIDLL_OBJECT_PHONEID),
                  NAMED(TUISPIDLL_OBJECT_PROVIDERID), NAMED(TUISPIDLL_OBJECT_DIALOGINSTANCE)},
                 1);
  expectSequence({NAMED(LINEINITIALIZEEXOPTION_USEHIDDENWINDOW),
                  NAMED(LINEINITIALIZEEXOPTION_USEEVENT),
                  NAMED(LINEINITIALIZEEXOPTION_USECOMPLETIONPORT)},
                 1);
  EXPECT_EQ(LINEINITIALIZEEXOPTION_CALLHUBTRACKING, 0x80000000u);
}

// --- Value families ------------------------------------------------------------------------

TEST(TapiConstants, EnumeratedValueFamilies) {
  expectSequence({NAMED(STRINGFORMAT_ASCII), NAMED(STRINGFORMAT_DBCS), NAMED(STRINGFORMAT_UNICODE),
                  NAMED(STRINGFORMAT_BINARY)},
                 1);
  expectSequence({NAMED(LINECALLTREATMENT_SILENCE), NAMED(LINECALLTREATMENT_RINGBACK),
                  NAMED(LINECALLTREATMENT_BUSY), NAMED(LINECALLTREATMENT_MUSIC)},
                 1);
  expectSequence({NAMED(LINEREMOVEFROMCONF_NONE), NAMED(LINEREMOVEFROMCONF_LAST),
                  NAMED(LINEREMOVEFROMCONF_ANY)},
                 1);
}

TEST(TapiConstants, CallStateAndModeFlags) {
  expectFlagRange({NAMED(LINECALLSTATE_IDLE), NAMED(LINECALLSTATE_OFFERING),
                   NAMED(LINECALLSTATE_ACCEPTED), NAMED(LINECALLSTATE_DIALTONE),
                   NAMED(LINECALLSTATE_DIALING), NAMED(LINECALLSTATE_RINGBACK),
                   NAMED(LINECALLSTATE_BUSY), NAMED(LINECALLSTATE_SPECIALINFO),
                   NAMED(LINECALLSTATE_CONNECTED), NAMED(LINECALLSTATE_PROCEEDING),
                   NAMED(LINECALLSTATE_ONHOLD), NAMED(LINECALLSTATE_CONFERENCED),
                   NAMED(LINECALLSTATE_ONHOLDPENDCONF), NAMED(LINECALLSTATE_ONHOLDPENDTRANSFER),
                   NAMED(LINECALLSTATE_DISCONNECTED), NAMED(LINECALLSTATE_UNKNOWN)},
                  0, 15);
  expectFlagRange(
      {NAMED(LINEDISCONNECTMODE_NORMAL), NAMED(LINEDISCONNECTMODE_UNKNOWN),
       NAMED(LINEDISCONNECTMODE_REJECT), NAMED(LINEDISCONNECTMODE_PICKUP),
       NAMED(LINEDISCONNECTMODE_FORWARDED), NAMED(LINEDISCONNECTMODE_BUSY),
       NAMED(LINEDISCONNECTMODE_NOANSWER), NAMED(LINEDISCONNECTMODE_BADADDRESS),
       NAMED(LINEDISCONNECTMODE_UNREACHABLE), NAMED(LINEDISCONNECTMODE_CONGESTION),
       NAMED(LINEDISCONNECTMODE_INCOMPATIBLE), NAMED(LINEDISCONNECTMODE_UNAVAIL),
       NAMED(LINEDISCONNECTMODE_NODIALTONE), NAMED(LINEDISCONNECTMODE_NUMBERCHANGED),
       NAMED(LINEDISCONNECTMODE_OUTOFORDER), NAMED(LINEDISCONNECTMODE_TEMPFAILURE),
       NAMED(LINEDISCONNECTMODE_QOSUNAVAIL), NAMED(LINEDISCONNECTMODE_BLOCKED),
       NAMED(LINEDISCONNECTMODE_DONOTDISTURB), NAMED(LINEDISCONNECTMODE_CANCELLED)},
      0, 19);
  expectFlagRange({NAMED(LINEDIALTONEMODE_NORMAL), NAMED(LINEDIALTONEMODE_SPECIAL),
                   NAMED(LINEDIALTONEMODE_INTERNAL), NAMED(LINEDIALTONEMODE_EXTERNAL),
                   NAMED(LINEDIALTONEMODE_UNKNOWN), NAMED(LINEDIALTONEMODE_UNAVAIL)},
                  0, 5);
  expectFlagRange({NAMED(LINEBUSYMODE_STATION), NAMED(LINEBUSYMODE_TRUNK),
                   NAMED(LINEBUSYMODE_UNKNOWN), NAMED(LINEBUSYMODE_UNAVAIL)},
                  0, 3);
  expectFlagRange({NAMED(LINESPECIALINFO_NOCIRCUIT), NAMED(LINESPECIALINFO_CUSTIRREG),
                   NAMED(LINESPECIALINFO_REORDER), NAMED(LINESPECIALINFO_UNKNOWN),
                   NAMED(LINESPECIALINFO_UNAVAIL)},
                  0, 4);
  expectFlagRange({NAMED(LINEOFFERINGMODE_ACTIVE), NAMED(LINEOFFERINGMODE_INACTIVE)}, 0, 1);
  expectFlagRange({NAMED(LINECONNECTEDMODE_ACTIVE), NAMED(LINECONNECTEDMODE_INACTIVE),
                   NAMED(LINECONNECTEDMODE_ACTIVEHELD), NAMED(LINECONNECTEDMODE_INACTIVEHELD),
                   NAMED(LINECONNECTEDMODE_CONFIRMED)},
                  0, 4);
}

TEST(TapiConstants, DeviceAndAddressStateFlags) {
  expectFlagRange(
      {NAMED(LINEDEVSTATE_OTHER), NAMED(LINEDEVSTATE_RINGING), NAMED(LINEDEVSTATE_CONNECTED),
       NAMED(LINEDEVSTATE_DISCONNECTED), NAMED(LINEDEVSTATE_MSGWAITON),
       NAMED(LINEDEVSTATE_MSGWAITOFF), NAMED(LINEDEVSTATE_INSERVICE),
       NAMED(LINEDEVSTATE_OUTOFSERVICE), NAMED(LINEDEVSTATE_MAINTENANCE), NAMED(LINEDEVSTATE_OPEN),
       NAMED(LINEDEVSTATE_CLOSE), NAMED(LINEDEVSTATE_NUMCALLS), NAMED(LINEDEVSTATE_NUMCOMPLETIONS),
       NAMED(LINEDEVSTATE_TERMINALS), NAMED(LINEDEVSTATE_ROAMMODE), NAMED(LINEDEVSTATE_BATTERY),
       NAMED(LINEDEVSTATE_SIGNAL), NAMED(LINEDEVSTATE_DEVSPECIFIC), NAMED(LINEDEVSTATE_REINIT),
       NAMED(LINEDEVSTATE_LOCK), NAMED(LINEDEVSTATE_CAPSCHANGE), NAMED(LINEDEVSTATE_CONFIGCHANGE),
       NAMED(LINEDEVSTATE_TRANSLATECHANGE), NAMED(LINEDEVSTATE_COMPLCANCEL),
       NAMED(LINEDEVSTATE_REMOVED)},
      0, 24);
  expectFlagRange({NAMED(LINEDEVSTATUSFLAGS_CONNECTED), NAMED(LINEDEVSTATUSFLAGS_MSGWAIT),
                   NAMED(LINEDEVSTATUSFLAGS_INSERVICE), NAMED(LINEDEVSTATUSFLAGS_LOCKED)},
                  0, 3);
  expectFlagRange(
      {NAMED(LINEADDRESSSTATE_OTHER), NAMED(LINEADDRESSSTATE_DEVSPECIFIC),
       NAMED(LINEADDRESSSTATE_INUSEZERO), NAMED(LINEADDRESSSTATE_INUSEONE),
       NAMED(LINEADDRESSSTATE_INUSEMANY), NAMED(LINEADDRESSSTATE_NUMCALLS),
       NAMED(LINEADDRESSSTATE_FORWARD), NAMED(LINEADDRESSSTATE_TERMINALS),
       NAMED(LINEADDRESSSTATE_CAPSCHANGE)},
      0, 8);
  expectFlagRange(
      {NAMED(LINECALLINFOSTATE_OTHER), NAMED(LINECALLINFOSTATE_DEVSPECIFIC),
       NAMED(LINECALLINFOSTATE_BEARERMODE), NAMED(LINECALLINFOSTATE_RATE),
       NAMED(LINECALLINFOSTATE_MEDIAMODE), NAMED(LINECALLINFOSTATE_APPSPECIFIC),
       NAMED(LINECALLINFOSTATE_CALLID), NAMED(LINECALLINFOSTATE_RELATEDCALLID),
       NAMED(LINECALLINFOSTATE_ORIGIN), NAMED(LINECALLINFOSTATE_REASON),
       NAMED(LINECALLINFOSTATE_COMPLETIONID), NAMED(LINECALLINFOSTATE_NUMOWNERINCR),
       NAMED(LINECALLINFOSTATE_NUMOWNERDECR), NAMED(LINECALLINFOSTATE_NUMMONITORS),
       NAMED(LINECALLINFOSTATE_TRUNK), NAMED(LINECALLINFOSTATE_CALLERID),
       NAMED(LINECALLINFOSTATE_CALLEDID), NAMED(LINECALLINFOSTATE_CONNECTEDID),
       NAMED(LINECALLINFOSTATE_REDIRECTIONID), NAMED(LINECALLINFOSTATE_REDIRECTINGID),
       NAMED(LINECALLINFOSTATE_DISPLAY), NAMED(LINECALLINFOSTATE_USERUSERINFO),
       NAMED(LINECALLINFOSTATE_HIGHLEVELCOMP), NAMED(LINECALLINFOSTATE_LOWLEVELCOMP),
       NAMED(LINECALLINFOSTATE_CHARGINGINFO), NAMED(LINECALLINFOSTATE_TERMINAL),
       NAMED(LINECALLINFOSTATE_DIALPARAMS), NAMED(LINECALLINFOSTATE_MONITORMODES),
       NAMED(LINECALLINFOSTATE_TREATMENT), NAMED(LINECALLINFOSTATE_QOS),
       NAMED(LINECALLINFOSTATE_CALLDATA)},
      0, 30);
}

TEST(TapiConstants, MediaBearerAndAddressingFlags) {
  // Media modes start at bit 1: bit 0 is not a media mode.
  expectFlagRange(
      {NAMED(LINEMEDIAMODE_UNKNOWN), NAMED(LINEMEDIAMODE_INTERACTIVEVOICE),
       NAMED(LINEMEDIAMODE_AUTOMATEDVOICE), NAMED(LINEMEDIAMODE_DATAMODEM),
       NAMED(LINEMEDIAMODE_G3FAX), NAMED(LINEMEDIAMODE_TDD), NAMED(LINEMEDIAMODE_G4FAX),
       NAMED(LINEMEDIAMODE_DIGITALDATA), NAMED(LINEMEDIAMODE_TELETEX),
       NAMED(LINEMEDIAMODE_VIDEOTEX), NAMED(LINEMEDIAMODE_TELEX), NAMED(LINEMEDIAMODE_MIXED),
       NAMED(LINEMEDIAMODE_ADSI), NAMED(LINEMEDIAMODE_VOICEVIEW), NAMED(LINEMEDIAMODE_VIDEO)},
      1, 15);
  expectFlagRange({NAMED(LINEBEARERMODE_VOICE), NAMED(LINEBEARERMODE_SPEECH),
                   NAMED(LINEBEARERMODE_MULTIUSE), NAMED(LINEBEARERMODE_DATA),
                   NAMED(LINEBEARERMODE_ALTSPEECHDATA), NAMED(LINEBEARERMODE_NONCALLSIGNALING),
                   NAMED(LINEBEARERMODE_PASSTHROUGH), NAMED(LINEBEARERMODE_RESTRICTEDDATA)},
                  0, 7);
  expectFlagRange({NAMED(LINEADDRESSMODE_ADDRESSID), NAMED(LINEADDRESSMODE_DIALABLEADDR)}, 0, 1);
  expectFlagRange(
      {NAMED(LINECALLPARAMFLAGS_SECURE), NAMED(LINECALLPARAMFLAGS_IDLE),
       NAMED(LINECALLPARAMFLAGS_BLOCKID), NAMED(LINECALLPARAMFLAGS_ORIGOFFHOOK),
       NAMED(LINECALLPARAMFLAGS_DESTOFFHOOK), NAMED(LINECALLPARAMFLAGS_NOHOLDCONFERENCE),
       NAMED(LINECALLPARAMFLAGS_PREDICTIVEDIAL), NAMED(LINECALLPARAMFLAGS_ONESTEPTRANSFER)},
      0, 7);
  expectFlagRange({NAMED(LINEADDRESSSHARING_PRIVATE), NAMED(LINEADDRESSSHARING_BRIDGEDEXCL),
                   NAMED(LINEADDRESSSHARING_BRIDGEDNEW), NAMED(LINEADDRESSSHARING_BRIDGEDSHARED),
                   NAMED(LINEADDRESSSHARING_MONITORED)},
                  0, 4);
  expectFlagRange({NAMED(LINECALLSELECT_LINE), NAMED(LINECALLSELECT_ADDRESS),
                   NAMED(LINECALLSELECT_CALL), NAMED(LINECALLSELECT_DEVICEID)},
                  0, 3);
  expectFlagRange({NAMED(LINECALLPRIVILEGE_NONE), NAMED(LINECALLPRIVILEGE_MONITOR),
                   NAMED(LINECALLPRIVILEGE_OWNER)},
                  0, 2);
  expectFlagRange({NAMED(LINEROAMMODE_UNKNOWN), NAMED(LINEROAMMODE_UNAVAIL),
                   NAMED(LINEROAMMODE_HOME), NAMED(LINEROAMMODE_ROAMA), NAMED(LINEROAMMODE_ROAMB)},
                  0, 4);
}

TEST(TapiConstants, CapabilityAndFeatureFlags) {
  expectFlagRange(
      {NAMED(LINEADDRCAPFLAGS_FWDNUMRINGS), NAMED(LINEADDRCAPFLAGS_PICKUPGROUPID),
       NAMED(LINEADDRCAPFLAGS_SECURE), NAMED(LINEADDRCAPFLAGS_BLOCKIDDEFAULT),
       NAMED(LINEADDRCAPFLAGS_BLOCKIDOVERRIDE), NAMED(LINEADDRCAPFLAGS_DIALED),
       NAMED(LINEADDRCAPFLAGS_ORIGOFFHOOK), NAMED(LINEADDRCAPFLAGS_DESTOFFHOOK),
       NAMED(LINEADDRCAPFLAGS_FWDCONSULT), NAMED(LINEADDRCAPFLAGS_SETUPCONFNULL),
       NAMED(LINEADDRCAPFLAGS_AUTORECONNECT), NAMED(LINEADDRCAPFLAGS_COMPLETIONID),
       NAMED(LINEADDRCAPFLAGS_TRANSFERHELD), NAMED(LINEADDRCAPFLAGS_TRANSFERMAKE),
       NAMED(LINEADDRCAPFLAGS_CONFERENCEHELD), NAMED(LINEADDRCAPFLAGS_CONFERENCEMAKE),
       NAMED(LINEADDRCAPFLAGS_PARTIALDIAL), NAMED(LINEADDRCAPFLAGS_FWDSTATUSVALID),
       NAMED(LINEADDRCAPFLAGS_FWDINTEXTADDR), NAMED(LINEADDRCAPFLAGS_FWDBUSYNAADDR),
       NAMED(LINEADDRCAPFLAGS_ACCEPTTOALERT), NAMED(LINEADDRCAPFLAGS_CONFDROP),
       NAMED(LINEADDRCAPFLAGS_PICKUPCALLWAIT), NAMED(LINEADDRCAPFLAGS_PREDICTIVEDIALER),
       NAMED(LINEADDRCAPFLAGS_QUEUE), NAMED(LINEADDRCAPFLAGS_ROUTEPOINT),
       NAMED(LINEADDRCAPFLAGS_HOLDMAKESNEW), NAMED(LINEADDRCAPFLAGS_NOINTERNALCALLS),
       NAMED(LINEADDRCAPFLAGS_NOEXTERNALCALLS), NAMED(LINEADDRCAPFLAGS_SETCALLINGID),
       NAMED(LINEADDRCAPFLAGS_ACDGROUP)},
      0, 30);
  expectFlagRange(
      {NAMED(LINECALLFEATURE_ACCEPT), NAMED(LINECALLFEATURE_ADDTOCONF),
       NAMED(LINECALLFEATURE_ANSWER), NAMED(LINECALLFEATURE_BLINDTRANSFER),
       NAMED(LINECALLFEATURE_COMPLETECALL), NAMED(LINECALLFEATURE_COMPLETETRANSF),
       NAMED(LINECALLFEATURE_DIAL), NAMED(LINECALLFEATURE_DROP),
       NAMED(LINECALLFEATURE_GATHERDIGITS), NAMED(LINECALLFEATURE_GENERATEDIGITS),
       NAMED(LINECALLFEATURE_GENERATETONE), NAMED(LINECALLFEATURE_HOLD),
       NAMED(LINECALLFEATURE_MONITORDIGITS), NAMED(LINECALLFEATURE_MONITORMEDIA),
       NAMED(LINECALLFEATURE_MONITORTONES), NAMED(LINECALLFEATURE_PARK),
       NAMED(LINECALLFEATURE_PREPAREADDCONF), NAMED(LINECALLFEATURE_REDIRECT),
       NAMED(LINECALLFEATURE_REMOVEFROMCONF), NAMED(LINECALLFEATURE_SECURECALL),
       NAMED(LINECALLFEATURE_SENDUSERUSER), NAMED(LINECALLFEATURE_SETCALLPARAMS),
       NAMED(LINECALLFEATURE_SETMEDIACONTROL), NAMED(LINECALLFEATURE_SETTERMINAL),
       NAMED(LINECALLFEATURE_SETUPCONF), NAMED(LINECALLFEATURE_SETUPTRANSFER),
       NAMED(LINECALLFEATURE_SWAPHOLD), NAMED(LINECALLFEATURE_UNHOLD),
       NAMED(LINECALLFEATURE_RELEASEUSERUSERINFO), NAMED(LINECALLFEATURE_SETTREATMENT),
       NAMED(LINECALLFEATURE_SETQOS), NAMED(LINECALLFEATURE_SETCALLDATA)},
      0, 31);
  expectFlagRange(
      {NAMED(LINECALLFEATURE2_NOHOLDCONFERENCE), NAMED(LINECALLFEATURE2_ONESTEPTRANSFER),
       NAMED(LINECALLFEATURE2_COMPLCAMPON), NAMED(LINECALLFEATURE2_COMPLCALLBACK),
       NAMED(LINECALLFEATURE2_COMPLINTRUDE), NAMED(LINECALLFEATURE2_COMPLMESSAGE),
       NAMED(LINECALLFEATURE2_TRANSFERNORM), NAMED(LINECALLFEATURE2_TRANSFERCONF),
       NAMED(LINECALLFEATURE2_PARKDIRECT), NAMED(LINECALLFEATURE2_PARKNONDIRECT)},
      0, 9);
  expectFlagRange(
      {NAMED(LINEADDRFEATURE_FORWARD), NAMED(LINEADDRFEATURE_MAKECALL),
       NAMED(LINEADDRFEATURE_PICKUP), NAMED(LINEADDRFEATURE_SETMEDIACONTROL),
       NAMED(LINEADDRFEATURE_SETTERMINAL), NAMED(LINEADDRFEATURE_SETUPCONF),
       NAMED(LINEADDRFEATURE_UNCOMPLETECALL), NAMED(LINEADDRFEATURE_UNPARK),
       NAMED(LINEADDRFEATURE_PICKUPHELD), NAMED(LINEADDRFEATURE_PICKUPGROUP),
       NAMED(LINEADDRFEATURE_PICKUPDIRECT), NAMED(LINEADDRFEATURE_PICKUPWAITING),
       NAMED(LINEADDRFEATURE_FORWARDFWD), NAMED(LINEADDRFEATURE_FORWARDDND)},
      0, 13);
  expectFlagRange({NAMED(LINEFEATURE_DEVSPECIFIC), NAMED(LINEFEATURE_DEVSPECIFICFEAT),
                   NAMED(LINEFEATURE_FORWARD), NAMED(LINEFEATURE_MAKECALL),
                   NAMED(LINEFEATURE_SETMEDIACONTROL), NAMED(LINEFEATURE_SETTERMINAL),
                   NAMED(LINEFEATURE_SETDEVSTATUS), NAMED(LINEFEATURE_FORWARDFWD),
                   NAMED(LINEFEATURE_FORWARDDND)},
                  0, 8);
  expectFlagRange(
      {NAMED(LINEDEVCAPFLAGS_CROSSADDRCONF), NAMED(LINEDEVCAPFLAGS_HIGHLEVCOMP),
       NAMED(LINEDEVCAPFLAGS_LOWLEVCOMP), NAMED(LINEDEVCAPFLAGS_MEDIACONTROL),
       NAMED(LINEDEVCAPFLAGS_MULTIPLEADDR), NAMED(LINEDEVCAPFLAGS_CLOSEDROP),
       NAMED(LINEDEVCAPFLAGS_DIALBILLING), NAMED(LINEDEVCAPFLAGS_DIALQUIET),
       NAMED(LINEDEVCAPFLAGS_DIALDIALTONE)},
      0, 8);
}

TEST(TapiConstants, CallIdentityOriginAndReasonFlags) {
  expectFlagRange({NAMED(LINECALLPARTYID_BLOCKED), NAMED(LINECALLPARTYID_OUTOFAREA),
                   NAMED(LINECALLPARTYID_NAME), NAMED(LINECALLPARTYID_ADDRESS),
                   NAMED(LINECALLPARTYID_PARTIAL), NAMED(LINECALLPARTYID_UNKNOWN),
                   NAMED(LINECALLPARTYID_UNAVAIL)},
                  0, 6);
  // Bit 3 (0x08) is not an origin.
  expectFlagBits({NAMED(LINECALLORIGIN_OUTBOUND), NAMED(LINECALLORIGIN_INTERNAL),
                  NAMED(LINECALLORIGIN_EXTERNAL), NAMED(LINECALLORIGIN_UNKNOWN),
                  NAMED(LINECALLORIGIN_UNAVAIL), NAMED(LINECALLORIGIN_CONFERENCE),
                  NAMED(LINECALLORIGIN_INBOUND)},
                 {0, 1, 2, 4, 5, 6, 7});
  expectFlagRange(
      {NAMED(LINECALLREASON_DIRECT), NAMED(LINECALLREASON_FWDBUSY),
       NAMED(LINECALLREASON_FWDNOANSWER), NAMED(LINECALLREASON_FWDUNCOND),
       NAMED(LINECALLREASON_PICKUP), NAMED(LINECALLREASON_UNPARK), NAMED(LINECALLREASON_REDIRECT),
       NAMED(LINECALLREASON_CALLCOMPLETION), NAMED(LINECALLREASON_TRANSFER),
       NAMED(LINECALLREASON_REMINDER), NAMED(LINECALLREASON_UNKNOWN), NAMED(LINECALLREASON_UNAVAIL),
       NAMED(LINECALLREASON_INTRUDE), NAMED(LINECALLREASON_PARKED), NAMED(LINECALLREASON_CAMPEDON),
       NAMED(LINECALLREASON_ROUTEREQUEST)},
      0, 15);
}

TEST(TapiConstants, CallControlModeFlags) {
  expectFlagRange(
      {NAMED(LINEFORWARDMODE_UNCOND), NAMED(LINEFORWARDMODE_UNCONDINTERNAL),
       NAMED(LINEFORWARDMODE_UNCONDEXTERNAL), NAMED(LINEFORWARDMODE_UNCONDSPECIFIC),
       NAMED(LINEFORWARDMODE_BUSY), NAMED(LINEFORWARDMODE_BUSYINTERNAL),
       NAMED(LINEFORWARDMODE_BUSYEXTERNAL), NAMED(LINEFORWARDMODE_BUSYSPECIFIC),
       NAMED(LINEFORWARDMODE_NOANSW), NAMED(LINEFORWARDMODE_NOANSWINTERNAL),
       NAMED(LINEFORWARDMODE_NOANSWEXTERNAL), NAMED(LINEFORWARDMODE_NOANSWSPECIFIC),
       NAMED(LINEFORWARDMODE_BUSYNA), NAMED(LINEFORWARDMODE_BUSYNAINTERNAL),
       NAMED(LINEFORWARDMODE_BUSYNAEXTERNAL), NAMED(LINEFORWARDMODE_BUSYNASPECIFIC),
       NAMED(LINEFORWARDMODE_UNKNOWN), NAMED(LINEFORWARDMODE_UNAVAIL)},
      0, 17);
  expectFlagRange({NAMED(LINEPARKMODE_DIRECTED), NAMED(LINEPARKMODE_NONDIRECTED)}, 0, 1);
  expectFlagRange({NAMED(LINETRANSFERMODE_TRANSFER), NAMED(LINETRANSFERMODE_CONFERENCE)}, 0, 1);
  expectFlagRange({NAMED(LINECALLCOMPLCOND_BUSY), NAMED(LINECALLCOMPLCOND_NOANSWER)}, 0, 1);
  expectFlagRange({NAMED(LINECALLCOMPLMODE_CAMPON), NAMED(LINECALLCOMPLMODE_CALLBACK),
                   NAMED(LINECALLCOMPLMODE_INTRUDE), NAMED(LINECALLCOMPLMODE_MESSAGE)},
                  0, 3);
  expectFlagRange({NAMED(LINEANSWERMODE_NONE), NAMED(LINEANSWERMODE_DROP),
                   NAMED(LINEANSWERMODE_HOLD)},
                  0, 2);
}

TEST(TapiConstants, DigitToneAndTerminalFlags) {
  expectFlagRange({NAMED(LINEDIGITMODE_PULSE), NAMED(LINEDIGITMODE_DTMF),
                   NAMED(LINEDIGITMODE_DTMFEND)},
                  0, 2);
  expectFlagRange({NAMED(LINETONEMODE_CUSTOM), NAMED(LINETONEMODE_RINGBACK),
                   NAMED(LINETONEMODE_BUSY), NAMED(LINETONEMODE_BEEP), NAMED(LINETONEMODE_BILLING)},
                  0, 4);
  expectFlagRange({NAMED(LINEGATHERTERM_BUFFERFULL), NAMED(LINEGATHERTERM_TERMDIGIT),
                   NAMED(LINEGATHERTERM_FIRSTTIMEOUT), NAMED(LINEGATHERTERM_INTERTIMEOUT),
                   NAMED(LINEGATHERTERM_CANCEL)},
                  0, 4);
  expectFlagRange({NAMED(LINEGENERATETERM_DONE), NAMED(LINEGENERATETERM_CANCEL)}, 0, 1);
  expectFlagRange({NAMED(LINETERMMODE_BUTTONS), NAMED(LINETERMMODE_LAMPS),
                   NAMED(LINETERMMODE_DISPLAY), NAMED(LINETERMMODE_RINGER),
                   NAMED(LINETERMMODE_HOOKSWITCH), NAMED(LINETERMMODE_MEDIATOLINE),
                   NAMED(LINETERMMODE_MEDIAFROMLINE), NAMED(LINETERMMODE_MEDIABIDIRECT)},
                  0, 7);
}

// --- Callbacks and entry points --------------------------------------------------------------

TEST(TapiProviderInterface, CallbackTypesHaveTheExpectedSignatures) {
  EXPECT_TRUE((std::is_same_v<ASYNC_COMPLETION, void (*)(DRV_REQUESTID, LONG)>));
  EXPECT_TRUE((std::is_same_v<LINEEVENT, void (*)(HTAPILINE, HTAPICALL, DWORD, DWORD_PTR,
                                                  DWORD_PTR, DWORD_PTR)>));
  EXPECT_TRUE(
      (std::is_same_v<PHONEEVENT, void (*)(HTAPIPHONE, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR)>));
  EXPECT_TRUE(
      (std::is_same_v<TUISPIDLLCALLBACK, LONG (*)(DWORD_PTR, DWORD, LPVOID, DWORD)>));
}

TEST(TapiProviderInterface, ProviderEntryPointsHaveTheTapi2Signatures) {
  EXPECT_TRUE((std::is_same_v<decltype(&TSPI_providerInit),
                              LONG (*)(DWORD, DWORD, DWORD, DWORD, DWORD_PTR, DWORD_PTR,
                                       ASYNC_COMPLETION, LPDWORD)>));
  EXPECT_TRUE((std::is_same_v<decltype(&TSPI_providerShutdown), LONG (*)(DWORD, DWORD)>));
  EXPECT_TRUE((std::is_same_v<decltype(&TSPI_providerEnumDevices),
                              LONG (*)(DWORD, LPDWORD, LPDWORD, HPROVIDER, LINEEVENT, PHONEEVENT)>));
  EXPECT_TRUE(
      (std::is_same_v<decltype(&TSPI_providerCreateLineDevice), LONG (*)(DWORD_PTR, DWORD)>));
  EXPECT_TRUE(
      (std::is_same_v<decltype(&TSPI_providerGenericDialogData),
                      LONG (*)(DWORD_PTR, DWORD, LPVOID, DWORD)>));
  EXPECT_TRUE((std::is_same_v<decltype(&TSPI_providerUIIdentify), LONG (*)(LPWSTR)>));
  EXPECT_TRUE((std::is_same_v<decltype(&TSPI_providerConfig), LONG (*)(HWND, DWORD)>));

  EXPECT_TRUE((std::is_same_v<decltype(&TSPI_lineOpen),
                              LONG (*)(DWORD, HTAPILINE, LPHDRVLINE, DWORD, LINEEVENT)>));
  EXPECT_TRUE((std::is_same_v<decltype(&TSPI_lineMakeCall),
                              LONG (*)(DRV_REQUESTID, HDRVLINE, HTAPICALL, LPHDRVCALL, LPCWSTR,
                                       DWORD, LPLINECALLPARAMS)>));
  EXPECT_TRUE((std::is_same_v<decltype(&TSPI_lineGetID),
                              LONG (*)(HDRVLINE, DWORD, HDRVCALL, DWORD, LPVARSTRING, LPCWSTR,
                                       HANDLE)>));
  EXPECT_TRUE((std::is_same_v<decltype(&TSPI_lineGatherDigits),
                              LONG (*)(HDRVCALL, DWORD, DWORD, LPWSTR, DWORD, LPCWSTR, DWORD,
                                       DWORD)>));
  EXPECT_TRUE((std::is_same_v<decltype(&TSPI_lineForward),
                              LONG (*)(DRV_REQUESTID, HDRVLINE, DWORD, DWORD, LPLINEFORWARDLIST,
                                       DWORD, HTAPICALL, LPHDRVCALL, LPLINECALLPARAMS)>));
  EXPECT_TRUE((std::is_same_v<decltype(&TSPI_lineDrop),
                              LONG (*)(DRV_REQUESTID, HDRVCALL, LPCSTR, DWORD)>));
  EXPECT_TRUE((std::is_same_v<decltype(&TSPI_lineGetDevCaps),
                              LONG (*)(DWORD, DWORD, DWORD, LPLINEDEVCAPS)>));
  EXPECT_TRUE((std::is_same_v<decltype(&TSPI_lineGetCallInfo),
                              LONG (*)(HDRVCALL, LPLINECALLINFO)>));
  EXPECT_TRUE((std::is_same_v<decltype(&TSPI_lineSetMediaControl),
                              LONG (*)(HDRVLINE, DWORD, HDRVCALL, DWORD, LPLINEMEDIACONTROLDIGIT,
                                       DWORD, LPLINEMEDIACONTROLMEDIA, DWORD,
                                       LPLINEMEDIACONTROLTONE, DWORD,
                                       LPLINEMEDIACONTROLCALLSTATE, DWORD)>));
  EXPECT_TRUE((std::is_same_v<decltype(&TSPI_lineSetupConference),
                              LONG (*)(DRV_REQUESTID, HDRVCALL, HDRVLINE, HTAPICALL, LPHDRVCALL,
                                       HTAPICALL, LPHDRVCALL, DWORD, LPLINECALLPARAMS)>));
  EXPECT_TRUE((std::is_same_v<decltype(&TSPI_lineSetLineDevStatus),
                              LONG (*)(DRV_REQUESTID, HDRVLINE, DWORD, DWORD)>));
}

TEST(TapiProviderInterface, UiModuleEntryPointsHaveTheTapi2Signatures) {
  EXPECT_TRUE((std::is_same_v<decltype(&TUISPI_lineConfigDialog),
                              LONG (*)(TUISPIDLLCALLBACK, DWORD, HWND, LPCWSTR)>));
  EXPECT_TRUE((std::is_same_v<decltype(&TUISPI_lineConfigDialogEdit),
                              LONG (*)(TUISPIDLLCALLBACK, DWORD, HWND, LPCWSTR, LPVOID, DWORD,
                                       LPVARSTRING)>));
  EXPECT_TRUE((std::is_same_v<decltype(&TUISPI_providerConfig),
                              LONG (*)(TUISPIDLLCALLBACK, HWND, DWORD)>));
  EXPECT_TRUE((std::is_same_v<decltype(&TUISPI_providerInstall),
                              LONG (*)(TUISPIDLLCALLBACK, HWND, DWORD)>));
  EXPECT_TRUE((std::is_same_v<decltype(&TUISPI_providerRemove),
                              LONG (*)(TUISPIDLLCALLBACK, HWND, DWORD)>));
  EXPECT_TRUE((std::is_same_v<decltype(&TUISPI_providerGenericDialog),
                              LONG (*)(TUISPIDLLCALLBACK, HTAPIDIALOGINSTANCE, LPVOID, DWORD,
                                       HANDLE)>));
  EXPECT_TRUE((std::is_same_v<decltype(&TUISPI_providerGenericDialogData),
                              LONG (*)(HTAPIDIALOGINSTANCE, LPVOID, DWORD)>));
}

}  // namespace
