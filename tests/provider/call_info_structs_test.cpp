#include "provider/call_info_structs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using kvarsp::CallBlob;
using kvarsp::CallCounts;
using kvarsp::CallFeatureContext;
using kvarsp::CallFeaturesNow;
using kvarsp::PartyRole;
using kvarsp::TspCall;

constexpr uint32_t kV20 = 0x20000, kV14 = 0x10004;
constexpr DWORD kSetCallParams = LINECALLFEATURE_SETCALLPARAMS, kSetCallData = LINECALLFEATURE_SETCALLDATA;

// A structure in a buffer of its own, every byte preset to 0xEE so that
// members left alone show, and a guard region behind dwTotalSize.
template <typename T>
class Buffer {
 public:
  explicit Buffer(DWORD total, DWORD guard = 64) : bytes_(std::max<size_t>(total, sizeof(T)) + guard, 0xEE) {
    std::memcpy(bytes_.data(), &total, sizeof total);
    total_ = total;
  }
  T* get() { return reinterpret_cast<T*>(bytes_.data()); }
  DWORD Dword(size_t offset) const {
    DWORD v;
    std::memcpy(&v, bytes_.data() + offset, sizeof v);
    return v;
  }
  std::u16string Wide(DWORD offset, DWORD size) const {
    std::u16string text(size / 2, u'\0');
    std::memcpy(text.data(), bytes_.data() + offset, size);
    return text;
  }
  std::vector<uint8_t> Raw(DWORD offset, DWORD size) const {
    return std::vector<uint8_t>(bytes_.begin() + offset, bytes_.begin() + offset + size);
  }
  // True when nothing behind dwTotalSize was touched.
  bool GuardIntact() const {
    for (size_t i = total_; i < bytes_.size(); ++i)
      if (bytes_[i] != 0xEE && i >= sizeof(T)) return false;
    return true;
  }

 private:
  std::vector<uint8_t> bytes_;
  DWORD total_ = 0;
};

TspCall SampleCall() {
  TspCall call;
  call.addressId = 2;
  call.appSpecific = 0xABCD;
  call.pbxCallId = 0x1234;
  call.pbxCallIdValid = true;
  call.callParamFlags = LINECALLPARAMFLAGS_SECURE;
  call.origin = LINECALLORIGIN_OUTBOUND;
  call.reason = LINECALLREASON_DIRECT;
  call.countryCode = 49;
  call.parties[static_cast<size_t>(PartyRole::Caller)] = {LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME,
                                                          u"4711", u"Anna"};
  call.parties[static_cast<size_t>(PartyRole::Called)] = {LINECALLPARTYID_ADDRESS, u"30", std::nullopt};
  call.blobs[static_cast<size_t>(CallBlob::Display)] = {'H', 'i'};
  call.blobs[static_cast<size_t>(CallBlob::DevSpecific)] = {1, 2, 3};
  call.blobs[static_cast<size_t>(CallBlob::CallData)] = {9, 8, 7, 6};
  call.blobs[static_cast<size_t>(CallBlob::DisplayableAddress)] = {'x'};  // TAPI's own member
  return call;
}

// --- LINECALLINFO ------------------------------------------------------------------

TEST(CallInfoFill, FixedPartFromTheCall) {
  Buffer<LINECALLINFO> b(1024);
  b.get()->dwUsedSize = 0;
  kvarsp::FillLineCallInfo(*b.get(), SampleCall(), 101, kV20);
  const LINECALLINFO& i = *b.get();
  EXPECT_EQ(i.dwTotalSize, 1024u);
  EXPECT_EQ(i.dwLineDeviceID, 101u);
  EXPECT_EQ(i.dwAddressID, 2u);
  EXPECT_EQ(i.dwBearerMode, LINEBEARERMODE_VOICE);
  EXPECT_EQ(i.dwRate, 0u);
  EXPECT_EQ(i.dwMediaMode, LINEMEDIAMODE_INTERACTIVEVOICE);
  EXPECT_EQ(i.dwAppSpecific, 0xABCDu);
  EXPECT_EQ(i.dwCallID, 0x1234u);
  EXPECT_EQ(i.dwRelatedCallID, 0u);
  EXPECT_EQ(i.dwCallParamFlags, LINECALLPARAMFLAGS_SECURE);
  EXPECT_EQ(i.dwCallStates, 0xFF7Fu);
  EXPECT_EQ(i.DialParams.dwDialPause, 0u);
  EXPECT_EQ(i.DialParams.dwWaitForDialtone, 0u);
  EXPECT_EQ(i.dwOrigin, LINECALLORIGIN_OUTBOUND);
  EXPECT_EQ(i.dwReason, LINECALLREASON_DIRECT);
  EXPECT_EQ(i.dwCompletionID, 0u);
  EXPECT_EQ(i.dwCountryCode, 49u);
  EXPECT_EQ(i.dwTrunk, 0xFFFFFFFFu);
  EXPECT_EQ(i.dwCallerIDFlags, LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME);
  EXPECT_EQ(i.dwConnectedIDFlags, LINECALLPARTYID_UNKNOWN);
  EXPECT_EQ(i.dwTerminalModesSize, 0u);
  EXPECT_EQ(i.dwCallTreatment, 0u);
  EXPECT_EQ(i.dwSendingFlowspecSize, 0u);
  EXPECT_EQ(i.dwReceivingFlowspecOffset, 0u);
  // TAPI's members keep what TAPI put there.
  EXPECT_EQ(i.dwMonitorDigitModes, 0xEEEEEEEEu);
  EXPECT_EQ(i.dwMonitorMediaModes, 0xEEEEEEEEu);
  EXPECT_EQ(i.dwNumOwners, 0xEEEEEEEEu);
  EXPECT_EQ(i.dwNumMonitors, 0xEEEEEEEEu);
  EXPECT_EQ(i.dwAppNameSize, 0xEEEEEEEEu);
  EXPECT_EQ(i.dwDisplayableAddressSize, 0xEEEEEEEEu);
  EXPECT_EQ(i.dwCalledPartyOffset, 0xEEEEEEEEu);
  EXPECT_EQ(i.dwCommentSize, 0xEEEEEEEEu);
  EXPECT_EQ(b.Dword(offsetof(LINECALLINFO, hLine)), 0xEEEEEEEEu);
}

TEST(CallInfoFill, VariablePartsFollowEachOtherAndCountInTheNeededSize) {
  Buffer<LINECALLINFO> b(1024);
  b.get()->dwUsedSize = 324;
  kvarsp::FillLineCallInfo(*b.get(), SampleCall(), 101, kV20);
  const LINECALLINFO& i = *b.get();
  // "4711" 10, "Anna" 10, "30" 6, display 2, device-specific 3, call data 4.
  EXPECT_EQ(i.dwNeededSize, 324u + 10 + 10 + 6 + 2 + 3 + 4);
  EXPECT_EQ(i.dwUsedSize, i.dwNeededSize);
  EXPECT_EQ(i.dwCallerIDOffset, 324u);
  EXPECT_EQ(b.Wide(i.dwCallerIDOffset, i.dwCallerIDSize), std::u16string(u"4711\0", 5));
  EXPECT_EQ(i.dwCallerIDNameOffset, 334u);
  EXPECT_EQ(b.Wide(i.dwCallerIDNameOffset, i.dwCallerIDNameSize), std::u16string(u"Anna\0", 5));
  EXPECT_EQ(i.dwCalledIDOffset, 344u);
  EXPECT_EQ(i.dwCalledIDSize, 6u);
  // An unknown name is no part at all.
  EXPECT_EQ(i.dwCalledIDNameSize, 0u);
  EXPECT_EQ(i.dwCalledIDNameOffset, 0u);
  EXPECT_EQ(i.dwDisplayOffset, 350u);
  EXPECT_EQ(b.Raw(i.dwDisplayOffset, i.dwDisplaySize), (std::vector<uint8_t>{'H', 'i'}));
  EXPECT_EQ(i.dwUserUserInfoSize, 0u);
  EXPECT_EQ(i.dwDevSpecificOffset, 352u);
  EXPECT_EQ(i.dwDevSpecificSize, 3u);
  EXPECT_EQ(i.dwCallDataOffset, 355u);
  EXPECT_EQ(b.Raw(i.dwCallDataOffset, i.dwCallDataSize), (std::vector<uint8_t>{9, 8, 7, 6}));
}

TEST(CallInfoFill, PartsStartBehindWhatTapiAlreadyUsed) {
  Buffer<LINECALLINFO> b(1024);
  b.get()->dwUsedSize = 400;
  kvarsp::FillLineCallInfo(*b.get(), SampleCall(), 101, kV20);
  EXPECT_EQ(b.get()->dwCallerIDOffset, 400u);
  EXPECT_EQ(b.get()->dwUsedSize, 400u + 35);
  EXPECT_EQ(b.get()->dwNeededSize, 324u + 35);
}

TEST(CallInfoFill, PartsThatDoNotFitAreLeftOutButStillNeeded) {
  // Room for the caller number (10) and name (10) but not the called number (6).
  Buffer<LINECALLINFO> b(324 + 24);
  b.get()->dwUsedSize = 324;
  kvarsp::FillLineCallInfo(*b.get(), SampleCall(), 101, kV20);
  const LINECALLINFO& i = *b.get();
  EXPECT_EQ(i.dwCallerIDSize, 10u);
  EXPECT_EQ(i.dwCallerIDNameSize, 10u);
  EXPECT_EQ(i.dwCalledIDSize, 0u);
  EXPECT_EQ(i.dwCalledIDOffset, 0u);
  // A later, smaller part that still fits goes in.
  EXPECT_EQ(i.dwDisplaySize, 2u);
  EXPECT_EQ(i.dwDisplayOffset, 344u);
  EXPECT_EQ(i.dwDevSpecificSize, 0u);
  EXPECT_EQ(i.dwUsedSize, 346u);
  EXPECT_EQ(i.dwNeededSize, 359u);
  EXPECT_TRUE(b.GuardIntact());

  // A used size beyond the buffer leaves no room at all.
  Buffer<LINECALLINFO> full(400);
  full.get()->dwUsedSize = 0xFFFFFFF0;
  kvarsp::FillLineCallInfo(*full.get(), SampleCall(), 101, kV20);
  EXPECT_EQ(full.get()->dwCallerIDSize, 0u);
  EXPECT_EQ(full.get()->dwNeededSize, 359u);
  EXPECT_TRUE(full.GuardIntact());
}

TEST(CallInfoFill, OlderLinesHaveNoCallDataAndKeepTheNewerMembers) {
  Buffer<LINECALLINFO> b(1024);
  b.get()->dwUsedSize = 324;
  kvarsp::FillLineCallInfo(*b.get(), SampleCall(), 101, kV14);
  const LINECALLINFO& i = *b.get();
  EXPECT_EQ(i.dwNeededSize, 324u + 31);
  EXPECT_EQ(i.dwCallTreatment, 0xEEEEEEEEu);
  EXPECT_EQ(i.dwCallDataSize, 0xEEEEEEEEu);
  EXPECT_EQ(i.dwSendingFlowspecSize, 0xEEEEEEEEu);
}

// --- LINECALLSTATUS features -------------------------------------------------------

CallFeatureContext Context(CallCounts counts, uint32_t version = kV14, bool holder = false) {
  CallFeatureContext context;
  context.lineCounts = counts;
  context.conferenceCallIdHolder = holder;
  context.lineVersion = version;
  return context;
}

CallFeatureContext Partners(CallCounts counts, uint32_t connected, uint32_t transfer) {
  CallFeatureContext context = Context(counts);
  context.connectedPartners = connected;
  context.transferPartners = transfer;
  return context;
}

TEST(CallFeatures, TableRows) {
  const CallCounts one{1, 0, 0};
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_OFFERING, Context(one)), 0x20081u | kSetCallParams);
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_ACCEPTED, Context(one)), 0x20084u | kSetCallParams);
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_DIALTONE, Context(one)), 0xC0u | kSetCallParams);
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_DIALING, Context(one)), 0xC0u | kSetCallParams);
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_RINGBACK, Context(one)), 0x80u | kSetCallParams);
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_PROCEEDING, Context(one)), 0x80u | kSetCallParams);
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_BUSY, Context(one)), 0x80u | kSetCallParams);
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_CONNECTED, Context(one)), 0x2008088u | kSetCallParams);
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_DISCONNECTED, Context(one)), 0x80u | kSetCallParams);
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_IDLE, Context(one)), kSetCallParams);
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_UNKNOWN, Context(one)), kSetCallParams);
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_ONHOLD, Context({0, 1, 0})), 0x8080u | kSetCallParams);
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_ONHOLDPENDTRANSFER, Context({0, 0, 1})), 0x8080u | kSetCallParams);
}

TEST(CallFeatures, SeveralCallsAndHeldCalls) {
  const CallCounts twoActive{2, 0, 0}, activeAndHeld{1, 1, 0}, activeAndPending{1, 0, 1};
  // Several calls: no answer, no transfers out of a connected call.
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_ACCEPTED, Context(twoActive)), 0x20080u | kSetCallParams);
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_CONNECTED, Context(twoActive)), 0x8080u | kSetCallParams);
  // Held: swap and complete the transfer.
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_CONNECTED, Context(activeAndHeld)), 0x40080A0u | kSetCallParams);
  // A call still being set up cannot be swapped with the held one.
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_DIALTONE, Context(activeAndPending)), 0xC0u | kSetCallParams);
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_RINGBACK, Context(activeAndHeld)), 0x80u | kSetCallParams);
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_BUSY, Context(activeAndHeld)), 0x80u | kSetCallParams);
  // A held call offers only what its partners allow: swap with a connected
  // call, complete a transfer with one being set up; not with dial tone.
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_ONHOLD, Partners(activeAndHeld, 1, 1)), 0x40080A0u | kSetCallParams);
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_ONHOLDPENDCONF, Partners(activeAndPending, 1, 1)),
            0x40080A0u | kSetCallParams);
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_ONHOLDPENDTRANSFER, Partners(activeAndPending, 0, 1)),
            0x80A0u | kSetCallParams);
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_ONHOLDPENDTRANSFER, Partners(activeAndPending, 0, 0)),
            0x8080u | kSetCallParams);
}

TEST(CallFeatures, ConferenceCallsAndBlindTransfersOfferNoMoreThanTheyCanDo) {
  CallFeatureContext root = Context({1, 0, 0});
  root.conferenceRoot = true;
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_CONNECTED, root), 0x80u | kSetCallParams);
  CallFeatureContext transferring = Context({1, 0, 0});
  transferring.blindTransferring = true;
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_CONNECTED, transferring), 0x2008080u | kSetCallParams);
}

TEST(CallFeatures, ConferencedOnlyTheHolderOfTheConferenceIdMayDrop) {
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_CONFERENCED, Context({1, 0, 0}, kV14, true)), 0x80u | kSetCallParams);
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_CONFERENCED, Context({1, 0, 0}, kV14, false)), kSetCallParams);
}

TEST(CallFeatures, NewerLinesMaySetCallDataAndGetSecondFeatures) {
  EXPECT_EQ(CallFeaturesNow(LINECALLSTATE_IDLE, Context({}, kV20)), kSetCallParams | kSetCallData);
  const DWORD connected = CallFeaturesNow(LINECALLSTATE_CONNECTED, Context({1, 0, 0}, kV20));
  EXPECT_EQ(connected, 0x2008088u | kSetCallParams | kSetCallData);
  EXPECT_EQ(kvarsp::CallFeatures2For(connected), LINECALLFEATURE2_ONESTEPTRANSFER | LINECALLFEATURE2_PARKNONDIRECT);
  EXPECT_EQ(kvarsp::CallFeatures2For(0x40080A0u), 0xC0u | LINECALLFEATURE2_PARKNONDIRECT);
  EXPECT_EQ(kvarsp::CallFeatures2For(0x80u), 0u);
}

// --- LINECALLSTATUS ----------------------------------------------------------------

TEST(CallStatusFill, StateFeaturesAndEntryTime) {
  TspCall call;
  call.callState = LINECALLSTATE_CONNECTED;
  call.callStateMode = LINECONNECTEDMODE_ACTIVE;
  call.stateEntryTime = platform::SystemTime{2026, 3, 2, 17, 9, 45, 30, 125};

  Buffer<LINECALLSTATUS> b(56);
  b.get()->dwNeededSize = 56;
  b.get()->dwUsedSize = 56;
  b.get()->dwCallPrivilege = LINECALLPRIVILEGE_OWNER;
  kvarsp::FillLineCallStatus(*b.get(), call, Context({1, 0, 0}, kV20));
  const LINECALLSTATUS& s = *b.get();
  EXPECT_EQ(s.dwCallState, LINECALLSTATE_CONNECTED);
  EXPECT_EQ(s.dwCallStateMode, LINECONNECTEDMODE_ACTIVE);
  EXPECT_EQ(s.dwCallFeatures, 0x2008088u | kSetCallParams | kSetCallData);
  EXPECT_EQ(s.dwCallFeatures2, LINECALLFEATURE2_ONESTEPTRANSFER | LINECALLFEATURE2_PARKNONDIRECT);
  EXPECT_EQ(s.dwDevSpecificSize, 0u);
  EXPECT_EQ(s.dwDevSpecificOffset, 0u);
  EXPECT_EQ(s.tStateEntryTime.wYear, 2026);
  EXPECT_EQ(s.tStateEntryTime.wMonth, 3);
  EXPECT_EQ(s.tStateEntryTime.wDayOfWeek, 2);
  EXPECT_EQ(s.tStateEntryTime.wDay, 17);
  EXPECT_EQ(s.tStateEntryTime.wHour, 9);
  EXPECT_EQ(s.tStateEntryTime.wMinute, 45);
  EXPECT_EQ(s.tStateEntryTime.wSecond, 30);
  EXPECT_EQ(s.tStateEntryTime.wMilliseconds, 125);
  EXPECT_EQ(s.dwCallPrivilege, LINECALLPRIVILEGE_OWNER);
  EXPECT_EQ(s.dwNeededSize, 56u);
  EXPECT_TRUE(b.GuardIntact());
}

TEST(CallStatusFill, OlderLinesKeepTheNewerMembers) {
  TspCall call;
  call.callState = LINECALLSTATE_OFFERING;
  Buffer<LINECALLSTATUS> b(56);
  kvarsp::FillLineCallStatus(*b.get(), call, Context({1, 0, 0}, kV14));
  EXPECT_EQ(b.get()->dwCallFeatures, 0x20081u | kSetCallParams);
  EXPECT_EQ(b.get()->dwCallFeatures2, 0xEEEEEEEEu);
  EXPECT_EQ(b.get()->tStateEntryTime.wYear, 0xEEEE);
  EXPECT_EQ(b.get()->dwNeededSize, 0xEEEEEEEEu);
  EXPECT_EQ(b.get()->dwUsedSize, 0xEEEEEEEEu);
}

}  // namespace
