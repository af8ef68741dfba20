#include "provider/line_device_structs.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "tapi/tapi_constants.h"

namespace {

using namespace kvarsp;

constexpr uint8_t kGuardByte = 0xCD;
constexpr size_t kGuardSize = 64;

// A TAPI structure of type T at the start of a buffer of dwTotalSize bytes
// as TAPI hands it (zeroed), followed by guard bytes that nothing may touch.
template <typename T>
class Buffer {
 public:
  explicit Buffer(DWORD totalSize) : total_(totalSize), bytes_(totalSize + kGuardSize, kGuardByte) {
    std::memset(bytes_.data(), 0, totalSize);
    if (totalSize >= sizeof(DWORD)) std::memcpy(bytes_.data(), &totalSize, sizeof totalSize);
  }
  // Only for members that lie within the buffer.
  T& s() { return *reinterpret_cast<T*>(bytes_.data()); }
  DWORD dword(size_t offset) const {
    DWORD value;
    std::memcpy(&value, bytes_.data() + offset, sizeof value);
    return value;
  }
  // sizeBytes bytes of UTF-16 at offset, the terminator included.
  std::u16string wide(size_t offset, size_t sizeBytes) const {
    std::u16string text(sizeBytes / 2, u'\0');
    std::memcpy(text.data(), bytes_.data() + offset, sizeBytes);
    return text;
  }
  bool guardIntact() const {
    for (size_t i = total_; i < bytes_.size(); ++i) {
      if (bytes_[i] != kGuardByte) return false;
    }
    return true;
  }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  DWORD total_;
  std::vector<uint8_t> bytes_;
};

std::u16string withZero(std::u16string_view text) { return std::u16string(text) + u'\0'; }
DWORD wideSize(std::u16string_view text) { return static_cast<DWORD>((text.size() + 1) * 2); }

const std::u16string kName = u"Marlix TK-Anlage NSt. 20";
const std::u16string kInfo = u"Dienstanbieter f\u00fcr Marlix TK-Anlagen";

DevCapsValues devCaps(uint32_t version) {
  DevCapsValues v;
  v.lineName = kName;
  v.permanentLineId = 0x30002;
  v.numAddresses = 3;
  v.tspiVersion = version;
  return v;
}

// --- Line name ---------------------------------------------------------------

TEST(LineDeviceName, JoinsNameAndLineAddressAndCutsAtOneHundred) {
  EXPECT_EQ(LineDeviceName(u"Marlix TK-Anlage", u"20"), kName);
  std::u16string longName(98, u'x');
  std::u16string name = LineDeviceName(longName, u"20");
  ASSERT_EQ(name.size(), 100u);
  EXPECT_EQ(name.substr(98), u" N");
}

// --- LINEDEVCAPS --------------------------------------------------------------

TEST(LineDeviceDevCaps, LargeBufferGetsBothStringsBehindTheFixedPart) {
  Buffer<LINEDEVCAPS> b(1024);
  FillLineDevCaps(b.s(), devCaps(0x20000));
  const LINEDEVCAPS& c = b.s();
  const DWORD info = wideSize(kInfo), name = wideSize(kName);
  EXPECT_EQ(info, 74u);
  EXPECT_EQ(c.dwTotalSize, 1024u);
  EXPECT_EQ(c.dwNeededSize, 252 + info + name);
  EXPECT_EQ(c.dwUsedSize, 252 + info + name);
  EXPECT_EQ(c.dwProviderInfoSize, info);
  EXPECT_EQ(c.dwProviderInfoOffset, 252u);
  EXPECT_EQ(b.wide(252, info), withZero(kInfo));
  EXPECT_EQ(c.dwLineNameSize, name);
  EXPECT_EQ(c.dwLineNameOffset, 252 + info);
  EXPECT_EQ(b.wide(252 + info, name), withZero(kName));
  EXPECT_TRUE(b.guardIntact());
}

TEST(LineDeviceDevCaps, FixedMembersFollowTheCapabilityTable) {
  Buffer<LINEDEVCAPS> b(sizeof(LINEDEVCAPS));
  // Left-overs in members the provider owns are cleared.
  b.s().dwMaxRate = 64000;
  b.s().dwSwitchInfoSize = 9;
  b.s().dwDevSpecificOffset = 77;
  b.s().MinDialParams.dwDialPause = 5;
  FillLineDevCaps(b.s(), devCaps(0x20000));
  const LINEDEVCAPS& c = b.s();
  EXPECT_EQ(c.dwSwitchInfoSize, 0u);
  EXPECT_EQ(c.dwSwitchInfoOffset, 0u);
  EXPECT_EQ(c.dwPermanentLineID, 0x30002u);
  EXPECT_EQ(c.dwStringFormat, STRINGFORMAT_UNICODE);
  EXPECT_EQ(c.dwAddressModes, LINEADDRESSMODE_ADDRESSID);
  EXPECT_EQ(c.dwNumAddresses, 3u);
  EXPECT_EQ(c.dwBearerModes, LINEBEARERMODE_VOICE);
  EXPECT_EQ(c.dwMaxRate, 0u);
  EXPECT_EQ(c.dwMediaModes, LINEMEDIAMODE_INTERACTIVEVOICE);
  EXPECT_EQ(c.dwGenerateDigitModes, 0u);
  EXPECT_EQ(c.dwDevCapFlags, LINEDEVCAPFLAGS_CROSSADDRCONF);
  EXPECT_EQ(c.dwMaxNumActiveCalls, 2u);
  EXPECT_EQ(c.dwAnswerMode, LINEANSWERMODE_HOLD);
  EXPECT_EQ(c.dwRingModes, 1u);
  EXPECT_EQ(c.dwLineStates, 0x1440E46u);
  EXPECT_EQ(c.MinDialParams.dwDialPause, 0u);
  EXPECT_EQ(c.dwDevSpecificOffset, 0u);
  EXPECT_EQ(c.dwDeviceClassesSize, 0u);
  EXPECT_EQ(c.dwDeviceClassesOffset, 0u);
}

TEST(LineDeviceDevCaps, ExactFixedSizeHoldsNoStringButTellsTheNeededSize) {
  Buffer<LINEDEVCAPS> b(252);
  FillLineDevCaps(b.s(), devCaps(0x20000));
  EXPECT_EQ(b.s().dwUsedSize, 252u);
  EXPECT_EQ(b.s().dwNeededSize, 252 + wideSize(kInfo) + wideSize(kName));
  EXPECT_EQ(b.s().dwProviderInfoSize, 0u);
  EXPECT_EQ(b.s().dwProviderInfoOffset, 0u);
  EXPECT_EQ(b.s().dwLineNameSize, 0u);
  EXPECT_EQ(b.s().dwLineNameOffset, 0u);
  EXPECT_TRUE(b.guardIntact());
}

TEST(LineDeviceDevCaps, EachStringGoesInWhenItFitsOnItsOwn) {
  {
    // Room for the provider information only.
    Buffer<LINEDEVCAPS> b(252 + wideSize(kInfo) + wideSize(kName) - 1);
    FillLineDevCaps(b.s(), devCaps(0x20000));
    EXPECT_EQ(b.s().dwProviderInfoOffset, 252u);
    EXPECT_EQ(b.s().dwLineNameSize, 0u);
    EXPECT_EQ(b.s().dwUsedSize, 252 + wideSize(kInfo));
    EXPECT_TRUE(b.guardIntact());
  }
  {
    // Room for the shorter line name but not the provider information: the name comes first.
    Buffer<LINEDEVCAPS> b(252 + wideSize(kName));
    FillLineDevCaps(b.s(), devCaps(0x20000));
    EXPECT_EQ(b.s().dwProviderInfoSize, 0u);
    EXPECT_EQ(b.s().dwLineNameOffset, 252u);
    EXPECT_EQ(b.wide(252, wideSize(kName)), withZero(kName));
    EXPECT_EQ(b.s().dwUsedSize, 252 + wideSize(kName));
    EXPECT_TRUE(b.guardIntact());
  }
}

TEST(LineDeviceDevCaps, VersionDependentMembers) {
  struct Case {
    uint32_t version;
    DWORD lineFeatures, settable;
  } cases[] = {
      {0x10003, 0x5A5A5A5A, 0x5A5A5A5A},  // neither member is written
      {0x10004, 0xC, 0x5A5A5A5A},
      {0x20000, 0xCC, 0xF},
  };
  for (const Case& c : cases) {
    Buffer<LINEDEVCAPS> b(600);
    b.s().dwLineFeatures = 0x5A5A5A5A;
    b.s().dwSettableDevStatus = 0x5A5A5A5A;
    FillLineDevCaps(b.s(), devCaps(c.version));
    EXPECT_EQ(b.s().dwLineFeatures, c.lineFeatures) << std::hex << c.version;
    EXPECT_EQ(b.s().dwSettableDevStatus, c.settable) << std::hex << c.version;
    EXPECT_EQ(b.s().dwUsedSize, 252 + wideSize(kInfo) + wideSize(kName));
  }
}

// --- LINEADDRESSCAPS ----------------------------------------------------------

const std::u16string kAddress = u"4711";

AddressCapsValues addressCaps(uint32_t version, std::u16string_view name = kAddress) {
  AddressCapsValues v;
  v.deviceId = 7;
  v.addressName = name;
  v.tspiVersion = version;
  return v;
}

const std::u16string kDeviceClasses = std::u16string(u"tapi/line") + u'\0' + u'\0' + u'\0';

TEST(LineDeviceAddressCaps, ExactFixedSizeHasNoNameAndUsesTwoHundredTwentyEight) {
  Buffer<LINEADDRESSCAPS> b(228);
  FillLineAddressCaps(b.s(), addressCaps(0x20000));
  EXPECT_EQ(b.s().dwUsedSize, 228u);
  EXPECT_EQ(b.s().dwNeededSize, 228 + wideSize(kAddress) + 24);
  EXPECT_EQ(b.s().dwAddressSize, 0u);
  EXPECT_EQ(b.s().dwAddressOffset, 0u);
  EXPECT_EQ(b.s().dwDeviceClassesSize, 0u);
  EXPECT_EQ(b.s().dwDeviceClassesOffset, 0u);
  EXPECT_TRUE(b.guardIntact());
}

TEST(LineDeviceAddressCaps, NameAtTheFixedSizeThenTheDeviceClasses) {
  Buffer<LINEADDRESSCAPS> b(512);
  FillLineAddressCaps(b.s(), addressCaps(0x20000));
  const DWORD name = wideSize(kAddress);
  EXPECT_EQ(b.s().dwAddressSize, name);
  EXPECT_EQ(b.s().dwAddressOffset, 228u);
  EXPECT_EQ(b.wide(228, name), withZero(kAddress));
  EXPECT_EQ(b.s().dwDeviceClassesSize, 24u);
  EXPECT_EQ(b.s().dwDeviceClassesOffset, 228 + name);
  EXPECT_EQ(b.wide(228 + name, 24), kDeviceClasses);
  EXPECT_EQ(b.s().dwUsedSize, 228 + name + 24);
  EXPECT_EQ(b.s().dwNeededSize, 228 + name + 24);
  EXPECT_TRUE(b.guardIntact());
}

TEST(LineDeviceAddressCaps, DeviceClassesTakeWhateverRoomIsLeft) {
  {
    Buffer<LINEADDRESSCAPS> b(228 + wideSize(kAddress) + 23);
    FillLineAddressCaps(b.s(), addressCaps(0x20000));
    EXPECT_EQ(b.s().dwAddressOffset, 228u);
    EXPECT_EQ(b.s().dwDeviceClassesSize, 0u);
    EXPECT_EQ(b.s().dwUsedSize, 228 + wideSize(kAddress));
    EXPECT_EQ(b.s().dwNeededSize, 228 + wideSize(kAddress) + 24);
    EXPECT_TRUE(b.guardIntact());
  }
  {
    // A name longer than the list: the list goes in right after the fixed part.
    const std::u16string longName = u"0123456789012345";
    Buffer<LINEADDRESSCAPS> b(228 + 24);
    FillLineAddressCaps(b.s(), addressCaps(0x20000, longName));
    EXPECT_EQ(b.s().dwAddressSize, 0u);
    EXPECT_EQ(b.s().dwDeviceClassesOffset, 228u);
    EXPECT_EQ(b.wide(228, 24), kDeviceClasses);
    EXPECT_EQ(b.s().dwUsedSize, 252u);
    EXPECT_EQ(b.s().dwNeededSize, 228 + wideSize(longName) + 24);
    EXPECT_TRUE(b.guardIntact());
  }
}

TEST(LineDeviceAddressCaps, NameIsCutAtTwoHundredFiftyFiveCharacters) {
  const std::u16string longName(300, u'7');
  Buffer<LINEADDRESSCAPS> b(1024);
  FillLineAddressCaps(b.s(), addressCaps(0x20000, longName));
  EXPECT_EQ(b.s().dwAddressSize, 512u);
  EXPECT_EQ(b.wide(228, 512), withZero(longName.substr(0, 255)));
}

TEST(LineDeviceAddressCaps, FixedMembersFollowTheCapabilityTable) {
  Buffer<LINEADDRESSCAPS> b(512);
  b.s().dwMaxCallCompletions = 4;  // a left-over that is cleared
  FillLineAddressCaps(b.s(), addressCaps(0x20000));
  const LINEADDRESSCAPS& c = b.s();
  EXPECT_EQ(c.dwLineDeviceID, 7u);
  EXPECT_EQ(c.dwDevSpecificSize, 0u);
  EXPECT_EQ(c.dwAddressSharing, LINEADDRESSSHARING_PRIVATE);
  EXPECT_EQ(c.dwAddressStates, 0x60u);
  EXPECT_EQ(c.dwCallerIDFlags, 0x69u);
  EXPECT_EQ(c.dwCalledIDFlags, 0x68u);
  EXPECT_EQ(c.dwConnectedIDFlags, 0x69u);
  EXPECT_EQ(c.dwRedirectionIDFlags, 0x69u);
  EXPECT_EQ(c.dwRedirectingIDFlags, 0x69u);
  EXPECT_EQ(c.dwCallStates, 0xFF7Fu);
  EXPECT_EQ(c.dwDialToneModes, 0x20u);
  EXPECT_EQ(c.dwBusyModes, 0x8u);
  EXPECT_EQ(c.dwSpecialInfo, 0x10u);
  EXPECT_EQ(c.dwMaxNumActiveCalls, 2u);
  EXPECT_EQ(c.dwMaxNumOnHoldCalls, 1u);
  EXPECT_EQ(c.dwMaxNumOnHoldPendingCalls, 1u);
  EXPECT_EQ(c.dwMaxNumConference, 3u);
  EXPECT_EQ(c.dwMaxNumTransConf, 3u);
  EXPECT_EQ(c.dwAddrCapFlags, 0x2104F4u);
  EXPECT_EQ(c.dwRemoveFromConfCaps, 1u);
  EXPECT_EQ(c.dwRemoveFromConfState, 0u);
  EXPECT_EQ(c.dwTransferModes, 3u);
  EXPECT_EQ(c.dwParkModes, 2u);
  EXPECT_EQ(c.dwForwardModes, 0x111u);
  EXPECT_EQ(c.dwMaxForwardEntries, 1u);
  EXPECT_EQ(c.dwMaxSpecificEntries, 0u);
  EXPECT_EQ(c.dwMinFwdNumRings, 4u);
  EXPECT_EQ(c.dwMaxFwdNumRings, 4u);
  EXPECT_EQ(c.dwMaxCallCompletions, 0u);
  EXPECT_EQ(c.dwMaxCallDataSize, 0x7FFFu);
  EXPECT_EQ(c.dwCallFeatures2, 0x2C2u);
  EXPECT_EQ(c.dwMaxNoAnswerTimeout, 120u);
  EXPECT_EQ(c.dwConnectedModes, 1u);
  EXPECT_EQ(c.dwOfferingModes, 1u);
  EXPECT_EQ(c.dwAvailableMediaModes, 4u);
}

TEST(LineDeviceAddressCaps, VersionDependentMembers) {
  constexpr DWORD kMark = 0x5A5A5A5A;
  struct Case {
    uint32_t version;
    DWORD callInfoStates, disconnectModes, callFeatures, addressFeatures, treatments;
  } cases[] = {
      {0x10003, 0x10BBB20, 0xFFF, 0x62280ED, kMark, kMark},
      {0x10004, 0x10BBB20, 0x1FFF, 0x62280ED, 0x87, kMark},
      {0x20000, 0x510BBB20, 0x7FFFF, 0xA62280ED, 0x1687, 0},
  };
  for (const Case& c : cases) {
    Buffer<LINEADDRESSCAPS> b(512);
    b.s().dwAddressFeatures = kMark;
    b.s().dwPredictiveAutoTransferStates = kMark;
    b.s().dwNumCallTreatments = kMark;
    b.s().dwCallTreatmentListSize = kMark;
    b.s().dwCallTreatmentListOffset = kMark;
    FillLineAddressCaps(b.s(), addressCaps(c.version));
    const LINEADDRESSCAPS& s = b.s();
    EXPECT_EQ(s.dwCallInfoStates, c.callInfoStates) << std::hex << c.version;
    EXPECT_EQ(s.dwDisconnectModes, c.disconnectModes) << std::hex << c.version;
    EXPECT_EQ(s.dwCallFeatures, c.callFeatures) << std::hex << c.version;
    EXPECT_EQ(s.dwAddressFeatures, c.addressFeatures) << std::hex << c.version;
    EXPECT_EQ(s.dwPredictiveAutoTransferStates, c.treatments) << std::hex << c.version;
    EXPECT_EQ(s.dwNumCallTreatments, c.treatments) << std::hex << c.version;
    EXPECT_EQ(s.dwCallTreatmentListSize, c.treatments) << std::hex << c.version;
    EXPECT_EQ(s.dwCallTreatmentListOffset, c.treatments) << std::hex << c.version;
  }
}

// --- LINEADDRESSSTATUS --------------------------------------------------------

TEST(LineDeviceAddressStatus, CountsAndNoForwarding) {
  Buffer<LINEADDRESSSTATUS> b(256);
  b.s().dwTerminalModesSize = 3;  // cleared
  AddressStatusValues v;
  v.counts = {1, 1, 0};
  v.lineVersion = 0x20000;
  FillLineAddressStatus(b.s(), v);
  const LINEADDRESSSTATUS& s = b.s();
  EXPECT_EQ(s.dwNeededSize, 64u);
  EXPECT_EQ(s.dwUsedSize, 64u);
  EXPECT_EQ(s.dwNumInUse, 1u);
  EXPECT_EQ(s.dwNumActiveCalls, 1u);
  EXPECT_EQ(s.dwNumOnHoldCalls, 1u);
  EXPECT_EQ(s.dwNumOnHoldPendCalls, 0u);
  EXPECT_EQ(s.dwNumRingsNoAnswer, 4u);
  EXPECT_EQ(s.dwForwardNumEntries, 0u);
  EXPECT_EQ(s.dwForwardSize, 0u);
  EXPECT_EQ(s.dwForwardOffset, 0u);
  EXPECT_EQ(s.dwTerminalModesSize, 0u);
  EXPECT_TRUE(b.guardIntact());

  v.counts = {0, 0, 1};
  FillLineAddressStatus(b.s(), v);
  EXPECT_EQ(b.s().dwNumInUse, 1u);
  v.counts = {};
  FillLineAddressStatus(b.s(), v);
  EXPECT_EQ(b.s().dwNumInUse, 0u);
}

TEST(LineDeviceAddressStatus, AddressFeaturesFollowTheCallsAndTheVersion) {
  struct Case {
    CallCounts counts;
    bool outOfService;
    uint32_t version;
    DWORD features;
  } cases[] = {
      {{0, 0, 0}, false, 0x10004, 0x87},   // MAKECALL, PICKUP, UNPARK, FORWARD
      {{0, 0, 0}, false, 0x20000, 0x1687}, // also PICKUPGROUP, PICKUPDIRECT, FORWARDFWD
      {{1, 0, 0}, false, 0x10004, 0x85},   // an active call: no MAKECALL
      {{0, 1, 0}, false, 0x20000, 0x1687}, // a held call alone still allows a new one
      {{1, 1, 0}, false, 0x10004, 0x1},    // two calls: no pickup or unpark
      {{1, 0, 1}, false, 0x20000, 0x1001},
      {{0, 0, 0}, true, 0x20000, 0},       // out of service: nothing
      {{1, 1, 0}, true, 0x10003, 0},
  };
  for (const Case& c : cases) {
    Buffer<LINEADDRESSSTATUS> b(64);
    AddressStatusValues v;
    v.counts = c.counts;
    v.outOfService = c.outOfService;
    v.lineVersion = c.version;
    FillLineAddressStatus(b.s(), v);
    EXPECT_EQ(b.s().dwAddressFeatures, c.features)
        << c.counts.active << "/" << c.counts.onHold << "/" << c.counts.onHoldPending << " oos " << c.outOfService
        << " v " << std::hex << c.version;
  }
}

TEST(LineDeviceAddressStatus, ForwardingEntryWithItsDestinationBehindIt) {
  const std::u16string destination = u"0815";
  Buffer<LINEADDRESSSTATUS> b(200);
  AddressStatusValues v;
  v.lineVersion = 0x20000;
  v.forwardMode = LINEFORWARDMODE_UNCOND;
  v.forwardCountryCode = 49;
  v.forwardDestination = &destination;
  FillLineAddressStatus(b.s(), v);
  const DWORD dest = wideSize(destination);
  EXPECT_EQ(b.s().dwNeededSize, 64 + 24 + dest);
  EXPECT_EQ(b.s().dwUsedSize, 64 + 24 + dest);
  EXPECT_EQ(b.s().dwForwardNumEntries, 1u);
  EXPECT_EQ(b.s().dwForwardSize, 24u);
  EXPECT_EQ(b.s().dwForwardOffset, 64u);
  EXPECT_EQ(b.dword(64 + offsetof(LINEFORWARD, dwForwardMode)), LINEFORWARDMODE_UNCOND);
  EXPECT_EQ(b.dword(64 + offsetof(LINEFORWARD, dwCallerAddressSize)), 0u);
  EXPECT_EQ(b.dword(64 + offsetof(LINEFORWARD, dwCallerAddressOffset)), 0u);
  EXPECT_EQ(b.dword(64 + offsetof(LINEFORWARD, dwDestCountryCode)), 49u);
  EXPECT_EQ(b.dword(64 + offsetof(LINEFORWARD, dwDestAddressSize)), dest);
  EXPECT_EQ(b.dword(64 + offsetof(LINEFORWARD, dwDestAddressOffset)), 88u);
  EXPECT_EQ(b.wide(88, dest), withZero(destination));
  EXPECT_TRUE(b.guardIntact());
}

TEST(LineDeviceAddressStatus, ForwardingEntryGoesInWholeOrNotAtAll) {
  const std::u16string destination = u"0815";
  const DWORD needed = 64 + 24 + wideSize(destination);
  for (DWORD total : {DWORD{64}, DWORD{64 + 24}, needed - 1}) {
    Buffer<LINEADDRESSSTATUS> b(total);
    AddressStatusValues v;
    v.lineVersion = 0x20000;
    v.forwardMode = LINEFORWARDMODE_BUSY;
    v.forwardDestination = &destination;
    FillLineAddressStatus(b.s(), v);
    EXPECT_EQ(b.s().dwNeededSize, needed) << total;
    EXPECT_EQ(b.s().dwUsedSize, 64u) << total;
    EXPECT_EQ(b.s().dwForwardNumEntries, 0u) << total;
    EXPECT_EQ(b.s().dwForwardSize, 0u) << total;
    EXPECT_EQ(b.s().dwForwardOffset, 0u) << total;
    EXPECT_TRUE(b.guardIntact()) << total;
  }
}

TEST(LineDeviceAddressStatus, ForwardingWithoutDestination) {
  Buffer<LINEADDRESSSTATUS> b(88);
  AddressStatusValues v;
  v.lineVersion = 0x10004;
  v.forwardMode = LINEFORWARDMODE_NOANSW;
  FillLineAddressStatus(b.s(), v);
  EXPECT_EQ(b.s().dwNeededSize, 88u);
  EXPECT_EQ(b.s().dwUsedSize, 88u);
  EXPECT_EQ(b.s().dwForwardNumEntries, 1u);
  EXPECT_EQ(b.dword(64 + offsetof(LINEFORWARD, dwForwardMode)), LINEFORWARDMODE_NOANSW);
  EXPECT_EQ(b.dword(64 + offsetof(LINEFORWARD, dwDestAddressSize)), 0u);
  EXPECT_EQ(b.dword(64 + offsetof(LINEFORWARD, dwDestAddressOffset)), 0u);
  EXPECT_TRUE(b.guardIntact());
}

// --- LINEDEVSTATUS ------------------------------------------------------------

TEST(LineDeviceDevStatus, InServiceLineAndTheMembersTapiOwns) {
  Buffer<LINEDEVSTATUS> b(88);
  b.s().dwNumOpens = 2;
  b.s().dwOpenMediaModes = 4;
  b.s().dwAppInfoSize = 40;
  b.s().dwAppInfoOffset = 88;
  b.s().dwRingMode = 3;  // cleared
  DevStatusValues v;
  v.counts = {0, 1, 1};
  v.lineVersion = 0x20000;
  FillLineDevStatus(b.s(), v);
  const LINEDEVSTATUS& s = b.s();
  EXPECT_EQ(s.dwNeededSize, 88u);
  EXPECT_EQ(s.dwUsedSize, 88u);
  EXPECT_EQ(s.dwNumOpens, 2u);
  EXPECT_EQ(s.dwOpenMediaModes, 4u);
  EXPECT_EQ(s.dwAppInfoSize, 40u);
  EXPECT_EQ(s.dwAppInfoOffset, 88u);
  EXPECT_EQ(s.dwNumActiveCalls, 0u);
  EXPECT_EQ(s.dwNumOnHoldCalls, 1u);
  EXPECT_EQ(s.dwNumOnHoldPendCalls, 1u);
  EXPECT_EQ(s.dwLineFeatures, 0xCCu);
  EXPECT_EQ(s.dwNumCallCompletions, 0u);
  EXPECT_EQ(s.dwRingMode, 0u);
  EXPECT_EQ(s.dwSignalLevel, 0xFFFFu);
  EXPECT_EQ(s.dwBatteryLevel, 0xFFFFu);
  EXPECT_EQ(s.dwRoamMode, LINEROAMMODE_UNAVAIL);
  EXPECT_EQ(s.dwDevStatusFlags, 0x5u);
  EXPECT_EQ(s.dwAvailableMediaModes, 4u);
  EXPECT_TRUE(b.guardIntact());
}

TEST(LineDeviceDevStatus, FeaturesAndFlagsFollowServiceCallsAndVersion) {
  struct Case {
    CallCounts counts;
    bool outOfService;
    uint32_t version;
    DWORD features, flags, media;
  } cases[] = {
      {{0, 0, 0}, false, 0x10004, 0xC, 0x5, 0x5A5A5A5A},
      {{1, 0, 0}, false, 0x10004, 0x4, 0x5, 0x5A5A5A5A},
      {{1, 0, 0}, false, 0x20000, 0xC4, 0x5, 4},
      {{0, 0, 0}, true, 0x10003, 0, 0, 0x5A5A5A5A},
      {{0, 0, 0}, true, 0x20000, 0xC0, 0, 4},
  };
  for (const Case& c : cases) {
    Buffer<LINEDEVSTATUS> b(88);
    b.s().dwAvailableMediaModes = 0x5A5A5A5A;
    DevStatusValues v;
    v.counts = c.counts;
    v.outOfService = c.outOfService;
    v.lineVersion = c.version;
    FillLineDevStatus(b.s(), v);
    EXPECT_EQ(b.s().dwLineFeatures, c.features) << c.outOfService << " " << std::hex << c.version;
    EXPECT_EQ(b.s().dwDevStatusFlags, c.flags) << c.outOfService << " " << std::hex << c.version;
    EXPECT_EQ(b.s().dwAvailableMediaModes, c.media) << c.outOfService << " " << std::hex << c.version;
  }
}

// --- VARSTRING of the device ID ----------------------------------------------

TEST(LineDeviceIdVarString, TwentyEightBytesHoldTheDeviceId) {
  Buffer<VARSTRING> b(28);
  FillDeviceIdVarString(b.s(), 0x01020304);
  EXPECT_EQ(b.s().dwTotalSize, 28u);
  EXPECT_EQ(b.s().dwNeededSize, 28u);
  EXPECT_EQ(b.s().dwUsedSize, 28u);
  EXPECT_EQ(b.s().dwStringFormat, STRINGFORMAT_BINARY);
  EXPECT_EQ(b.s().dwStringSize, 4u);
  EXPECT_EQ(b.s().dwStringOffset, 24u);
  EXPECT_EQ(b.dword(24), 0x01020304u);
  EXPECT_TRUE(b.guardIntact());
}

TEST(LineDeviceIdVarString, ShorterOneGetsOnlyTheNeededSize) {
  Buffer<VARSTRING> b(27);
  b.s().dwUsedSize = 11;
  b.s().dwStringFormat = 12;
  b.s().dwStringSize = 13;
  b.s().dwStringOffset = 14;
  FillDeviceIdVarString(b.s(), 5);
  EXPECT_EQ(b.s().dwNeededSize, 28u);
  EXPECT_EQ(b.s().dwUsedSize, 11u);
  EXPECT_EQ(b.s().dwStringFormat, 12u);
  EXPECT_EQ(b.s().dwStringSize, 13u);
  EXPECT_EQ(b.s().dwStringOffset, 14u);
  EXPECT_EQ(b.bytes()[24], 0);
  EXPECT_EQ(b.bytes()[26], 0);
  EXPECT_TRUE(b.guardIntact());
}

// --- Never past dwTotalSize ---------------------------------------------------

// Fills structures of every size from just dwTotalSize itself to a little
// past their fixed part and checks that no byte past dwTotalSize changes.
template <typename T, typename Fill>
void CheckEverySmallSize(size_t upTo, Fill fill) {
  for (DWORD total = sizeof(DWORD); total <= upTo; ++total) {
    Buffer<T> b(total);
    fill(b.s());
    ASSERT_TRUE(b.guardIntact()) << "dwTotalSize " << total;
    if (total >= 8) {
      EXPECT_NE(b.dword(4), 0u) << "dwNeededSize missing at dwTotalSize " << total;
    }
  }
}

TEST(LineDeviceOverflow, NothingIsWrittenPastATinyTotalSize) {
  const std::u16string destination = u"0123456789";
  CheckEverySmallSize<LINEDEVCAPS>(252 + 200, [](LINEDEVCAPS& s) { FillLineDevCaps(s, devCaps(0x20000)); });
  CheckEverySmallSize<LINEADDRESSCAPS>(228 + 40, [](LINEADDRESSCAPS& s) {
    FillLineAddressCaps(s, addressCaps(0x20000));
  });
  CheckEverySmallSize<LINEADDRESSSTATUS>(64 + 60, [&](LINEADDRESSSTATUS& s) {
    AddressStatusValues v;
    v.lineVersion = 0x20000;
    v.forwardMode = LINEFORWARDMODE_UNCOND;
    v.forwardDestination = &destination;
    FillLineAddressStatus(s, v);
  });
  CheckEverySmallSize<LINEDEVSTATUS>(88 + 8, [](LINEDEVSTATUS& s) {
    DevStatusValues v;
    v.lineVersion = 0x20000;
    FillLineDevStatus(s, v);
  });
  CheckEverySmallSize<VARSTRING>(32, [](VARSTRING& s) { FillDeviceIdVarString(s, 9); });
}

// --- Texts handed in -----------------------------------------------------------

TEST(LineDeviceTexts, WideTextEndsAtItsTerminatorOrItsSize) {
  const char16_t text[] = u"4711\0xyz";
  EXPECT_EQ(WideTextWithin(text, 100), u"4711");
  EXPECT_EQ(WideTextWithin(text, 6), u"471");
  EXPECT_EQ(WideTextWithin(text, 7), u"471");  // half a character is not one
  EXPECT_EQ(WideTextWithin(text, 0), u"");
  EXPECT_EQ(WideTextWithin(nullptr, 10), u"");
}

// Call parameters with an originating address placed at an offset.
std::vector<uint8_t> CallParamsWithOrigin(std::u16string_view origin, DWORD total = 0) {
  const DWORD size = wideSize(origin);
  const DWORD offset = sizeof(LINECALLPARAMS);
  std::vector<uint8_t> bytes(offset + size + 16, 0);
  LINECALLPARAMS params{};
  params.dwTotalSize = total ? total : offset + size;
  params.dwOrigAddressSize = size;
  params.dwOrigAddressOffset = offset;
  std::memcpy(bytes.data(), &params, sizeof params);
  std::u16string text = withZero(origin);
  std::memcpy(bytes.data() + offset, text.data(), size);
  return bytes;
}

const LINECALLPARAMS& AsParams(const std::vector<uint8_t>& bytes) {
  return *reinterpret_cast<const LINECALLPARAMS*>(bytes.data());
}

TEST(LineDeviceTexts, OriginatingAddressOnlyWithinTheCallParameters) {
  auto good = CallParamsWithOrigin(u"4713");
  auto origin = CallParamsOrigAddress(AsParams(good));
  ASSERT_TRUE(origin);
  EXPECT_EQ(*origin, u"4713");

  // The address reaches one byte past dwTotalSize.
  auto cut = CallParamsWithOrigin(u"4713", sizeof(LINECALLPARAMS) + 9);
  EXPECT_FALSE(CallParamsOrigAddress(AsParams(cut)));

  // Size and offset whose sum wraps around 32 bits.
  auto wrap = CallParamsWithOrigin(u"4713");
  reinterpret_cast<LINECALLPARAMS*>(wrap.data())->dwOrigAddressOffset = 0xFFFFFFF8;
  reinterpret_cast<LINECALLPARAMS*>(wrap.data())->dwOrigAddressSize = 0x10;
  EXPECT_FALSE(CallParamsOrigAddress(AsParams(wrap)));

  // Pointing into the fixed part, or no address at all.
  auto inside = CallParamsWithOrigin(u"4713");
  reinterpret_cast<LINECALLPARAMS*>(inside.data())->dwOrigAddressOffset = 8;
  EXPECT_FALSE(CallParamsOrigAddress(AsParams(inside)));
  auto none = CallParamsWithOrigin(u"4713");
  reinterpret_cast<LINECALLPARAMS*>(none.data())->dwOrigAddressSize = 0;
  EXPECT_FALSE(CallParamsOrigAddress(AsParams(none)));

  // A structure smaller than the fixed part of every version.
  auto tiny = CallParamsWithOrigin(u"4713");
  reinterpret_cast<LINECALLPARAMS*>(tiny.data())->dwTotalSize = 100;
  EXPECT_FALSE(CallParamsOrigAddress(AsParams(tiny)));
}

}  // namespace
