#include "provider/call_params.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/fake_clock.h"
#include "tests/provider/recording_sink.h"

namespace {

using kvarsp::CallBlob;
using kvarsp::CheckCallParams;
using kvarsp::CheckedCallParams;
using kvarsp::FilterDialDigits;
using kvarsp::OpenLine;

// --- Digit filter ------------------------------------------------------------------

LONG Filter(const char16_t* destination, std::u16string& digits) { return FilterDialDigits(destination, digits); }

TEST(DigitFilter, KeepsDigitsStarAndHashAndDropsEverythingElse) {
  std::u16string digits = u"stale";
  EXPECT_EQ(Filter(u"0 (123) 456-78", digits), 0);
  EXPECT_EQ(digits, u"012345678");
  EXPECT_EQ(Filter(u"+49, *31# P7 T8 w9 abc", digits), 0);
  EXPECT_EQ(digits, u"49*31#789");
  EXPECT_EQ(Filter(u"", digits), 0);
  EXPECT_EQ(digits, u"");
  digits = u"stale";
  EXPECT_EQ(Filter(nullptr, digits), 0);
  EXPECT_EQ(digits, u"");
}

TEST(DigitFilter, SpecialCharactersRefuseTheWholeDestination) {
  std::u16string digits;
  EXPECT_EQ(Filter(u"12$3", digits), LINEERR_DIALBILLING);
  EXPECT_EQ(Filter(u"12?3", digits), LINEERR_DIALPROMPT);
  EXPECT_EQ(Filter(u"12@3", digits), LINEERR_DIALQUIET);
  EXPECT_EQ(Filter(u"123W4", digits), LINEERR_DIALDIALTONE);
  // The first special character decides.
  EXPECT_EQ(Filter(u"?$", digits), LINEERR_DIALPROMPT);
  EXPECT_EQ(Filter(u"W@", digits), LINEERR_DIALDIALTONE);
  // Only upper-case W waits for dial tone.
  EXPECT_EQ(Filter(u"1w2", digits), 0);
  EXPECT_EQ(digits, u"12");
}

TEST(DigitFilter, AtMost255DigitsPass) {
  std::u16string digits;
  const std::u16string digits255(255, u'7');
  EXPECT_EQ(Filter(digits255.c_str(), digits), 0);
  EXPECT_EQ(digits, digits255);

  const std::u16string digits256(256, u'7');
  EXPECT_EQ(Filter(digits256.c_str(), digits), LINEERR_INVALPOINTER);

  // Dropped characters do not count, however many there are.
  std::u16string spaced;
  for (int i = 0; i < 255; ++i) spaced += u"- ";
  spaced += digits255;
  EXPECT_EQ(Filter(spaced.c_str(), digits), 0);
  EXPECT_EQ(digits.size(), 255u);

  // Characters are examined in order: the 256th digit fails before a later 'W'.
  const std::u16string late = digits256 + u"W";
  EXPECT_EQ(Filter(late.c_str(), digits), LINEERR_INVALPOINTER);
  const std::u16string early = digits255 + u"W7";
  EXPECT_EQ(Filter(early.c_str(), digits), LINEERR_DIALDIALTONE);
}

// --- CALL_OPTIONS ------------------------------------------------------------------

TEST(CallOptions, EachFlagAddsItsBit) {
  EXPECT_EQ(kvarsp::CallOptionsFromFlags(0), 0);
  EXPECT_EQ(kvarsp::CallOptionsFromFlags(LINECALLPARAMFLAGS_SECURE), 0x04);
  EXPECT_EQ(kvarsp::CallOptionsFromFlags(LINECALLPARAMFLAGS_IDLE), 0x08);
  EXPECT_EQ(kvarsp::CallOptionsFromFlags(LINECALLPARAMFLAGS_BLOCKID), 0x10);
  EXPECT_EQ(kvarsp::CallOptionsFromFlags(LINECALLPARAMFLAGS_ORIGOFFHOOK), 0x20);
  EXPECT_EQ(kvarsp::CallOptionsFromFlags(LINECALLPARAMFLAGS_DESTOFFHOOK), 0x40);
  EXPECT_EQ(kvarsp::CallOptionsFromFlags(0x1F), 0x7C);
  // One-step transfer has no option of its own.
  EXPECT_EQ(kvarsp::CallOptionsFromFlags(LINECALLPARAMFLAGS_ONESTEPTRANSFER | LINECALLPARAMFLAGS_IDLE), 0x08);
}

TEST(CallOptions, HandsfreeModeOverridesTheHandsfreeBit) {
  EXPECT_EQ(kvarsp::ApplyHandsfreeMode(0x00, 0), 0x00);
  EXPECT_EQ(kvarsp::ApplyHandsfreeMode(0x24, 0), 0x24);
  EXPECT_EQ(kvarsp::ApplyHandsfreeMode(0x04, 1), 0x24);
  EXPECT_EQ(kvarsp::ApplyHandsfreeMode(0x24, 1), 0x24);
  EXPECT_EQ(kvarsp::ApplyHandsfreeMode(0x64, 2), 0x44);
  EXPECT_EQ(kvarsp::ApplyHandsfreeMode(0x00, 2), 0x00);
  // Without call parameters: 0x20 exactly when the line is set to hands-free.
  EXPECT_EQ(kvarsp::ApplyHandsfreeMode(0, 1), 0x20);
  // Answering uses its own bit.
  EXPECT_EQ(kvarsp::AnswerCallOptions(0), 0);
  EXPECT_EQ(kvarsp::AnswerCallOptions(1), 0x40);
  EXPECT_EQ(kvarsp::AnswerCallOptions(2), 0);
}

// --- Call parameter check ----------------------------------------------------------

// Three addresses named "4711", "4712", "4713".
class ThreeAddresses : public kvarsp::LineAddresses {
 public:
  uint32_t AddressCount(uint32_t) const override { return 3; }
  std::optional<uint32_t> MatchAddress(uint32_t, std::u16string_view number) const override {
    if (number == u"4711") return 0;
    if (number == u"4712") return 1;
    if (number == u"4713") return 2;
    return std::nullopt;
  }
};

// LINECALLPARAMS in a buffer of its own with room for variable parts.
class Params {
 public:
  explicit Params(DWORD total = 512) : bytes_(total < sizeof(LINECALLPARAMS) ? sizeof(LINECALLPARAMS) : total, 0) {
    get()->dwTotalSize = total;
    get()->dwBearerMode = LINEBEARERMODE_VOICE;
    get()->dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    get()->dwAddressMode = LINEADDRESSMODE_ADDRESSID;
    next_ = sizeof(LINECALLPARAMS);
  }
  LINECALLPARAMS* get() { return reinterpret_cast<LINECALLPARAMS*>(bytes_.data()); }
  // Appends bytes and points the pair at them.
  void Part(DWORD LINECALLPARAMS::*size, DWORD LINECALLPARAMS::*offset, const void* data, DWORD length) {
    std::memcpy(bytes_.data() + next_, data, length);
    get()->*size = length;
    get()->*offset = next_;
    next_ += length;
  }
  void Text(DWORD LINECALLPARAMS::*size, DWORD LINECALLPARAMS::*offset, std::u16string_view text) {
    std::u16string terminated(text);
    terminated.push_back(u'\0');
    Part(size, offset, terminated.data(), static_cast<DWORD>(terminated.size() * 2));
  }
  void Origin(std::u16string_view text) {
    get()->dwAddressMode = LINEADDRESSMODE_DIALABLEADDR;
    Text(&LINECALLPARAMS::dwOrigAddressSize, &LINECALLPARAMS::dwOrigAddressOffset, text);
  }

 private:
  std::vector<uint8_t> bytes_;
  DWORD next_ = 0;
};

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> list) { return list; }

class CallParamsCheck : public ::testing::Test {
 protected:
  LONG Check(LINECALLPARAMS* params, bool oneStep = false) {
    return CheckCallParams(params, line, addresses, oneStep, checked);
  }
  const std::vector<uint8_t>* Blob(CallBlob which) const {
    for (const auto& [blob, bytes] : checked.blobs)
      if (blob == which) return &bytes;
    return nullptr;
  }

  void SetUp() override {
    line.deviceId = 100;
    line.tspiVersion = 0x20000;
  }

  ThreeAddresses addresses;
  OpenLine line;
  CheckedCallParams checked;
};

TEST_F(CallParamsCheck, NullParametersPassWithNothing) {
  checked.callOptions = 0x7C;
  EXPECT_EQ(Check(nullptr), 0);
  EXPECT_EQ(checked.callOptions, 0);
  EXPECT_EQ(checked.callParamFlags, 0u);
  EXPECT_TRUE(checked.blobs.empty());
}

TEST_F(CallParamsCheck, ChecksRunInTheirOrder) {
  Params p;
  p.get()->dwBearerMode = 2;
  p.get()->dwMediaMode = 0x10;
  p.get()->dwCallParamFlags = 0x20;
  p.get()->dwAddressMode = 4;
  EXPECT_EQ(Check(p.get()), LINEERR_INVALBEARERMODE);
  p.get()->dwBearerMode = LINEBEARERMODE_VOICE;
  EXPECT_EQ(Check(p.get()), LINEERR_INVALMEDIAMODE);
  p.get()->dwMediaMode = 0;  // no media mode is voice too
  EXPECT_EQ(Check(p.get()), LINEERR_INVALCALLPARAMS);
  p.get()->dwCallParamFlags = 0x1F;
  EXPECT_EQ(Check(p.get()), LINEERR_INVALADDRESSMODE);
  p.get()->dwAddressMode = LINEADDRESSMODE_ADDRESSID;
  p.get()->dwAddressID = 3;
  EXPECT_EQ(Check(p.get()), LINEERR_INVALADDRESSID);
  p.get()->dwAddressID = 2;
  EXPECT_EQ(Check(p.get()), 0);
  EXPECT_EQ(checked.addressId, 2u);
  EXPECT_EQ(checked.callParamFlags, 0x1Fu);
  EXPECT_EQ(checked.callOptions, 0x7C);
}

TEST_F(CallParamsCheck, OneStepTransferOnlyWhereAllowed) {
  Params p;
  p.get()->dwCallParamFlags = LINECALLPARAMFLAGS_ONESTEPTRANSFER | LINECALLPARAMFLAGS_SECURE;
  EXPECT_EQ(Check(p.get(), false), LINEERR_INVALCALLPARAMS);
  EXPECT_EQ(Check(p.get(), true), 0);
  EXPECT_EQ(checked.callParamFlags, 0x81u);
  EXPECT_EQ(checked.callOptions, 0x04);
  p.get()->dwCallParamFlags = LINECALLPARAMFLAGS_PREDICTIVEDIAL;
  EXPECT_EQ(Check(p.get(), true), LINEERR_INVALCALLPARAMS);
}

TEST_F(CallParamsCheck, DialableAddressNamesTheAddress) {
  Params p;
  p.Origin(u"4712");
  p.get()->dwAddressID = 99;  // ignored: the name decides
  EXPECT_EQ(Check(p.get()), 0);
  EXPECT_EQ(checked.addressId, 1u);

  Params other;
  other.Origin(u"4799");
  EXPECT_EQ(Check(other.get()), LINEERR_INVALADDRESS);

  Params empty;
  empty.get()->dwAddressMode = LINEADDRESSMODE_DIALABLEADDR;
  EXPECT_EQ(Check(empty.get()), LINEERR_INVALADDRESS);
}

TEST_F(CallParamsCheck, AddressModeThreeIsTakenAsDialable) {
  Params p;
  p.Origin(u"4713");
  p.get()->dwAddressMode = LINEADDRESSMODE_ADDRESSID | LINEADDRESSMODE_DIALABLEADDR;
  p.get()->dwAddressID = 0;
  EXPECT_EQ(Check(p.get()), 0);
  EXPECT_EQ(checked.addressId, 2u);

  // With a name no address has, a valid dwAddressID does not save it.
  Params q;
  q.Origin(u"0815");
  q.get()->dwAddressMode = 3;
  EXPECT_EQ(Check(q.get()), LINEERR_INVALADDRESS);
}

TEST_F(CallParamsCheck, CopiesTheVariablePartsTheCallKeeps) {
  Params p;
  p.Text(&LINECALLPARAMS::dwDisplayableAddressSize, &LINECALLPARAMS::dwDisplayableAddressOffset, u"Anna");
  p.Text(&LINECALLPARAMS::dwCalledPartySize, &LINECALLPARAMS::dwCalledPartyOffset, u"Bob");
  p.Text(&LINECALLPARAMS::dwCommentSize, &LINECALLPARAMS::dwCommentOffset, u"hi");
  const uint8_t hlc[] = {1, 2, 3}, llc[] = {4}, dev[] = {5, 6}, data[] = {7, 8, 9, 10}, uui[] = {11};
  p.Part(&LINECALLPARAMS::dwHighLevelCompSize, &LINECALLPARAMS::dwHighLevelCompOffset, hlc, 3);
  p.Part(&LINECALLPARAMS::dwLowLevelCompSize, &LINECALLPARAMS::dwLowLevelCompOffset, llc, 1);
  p.Part(&LINECALLPARAMS::dwDevSpecificSize, &LINECALLPARAMS::dwDevSpecificOffset, dev, 2);
  p.Part(&LINECALLPARAMS::dwCallDataSize, &LINECALLPARAMS::dwCallDataOffset, data, 4);
  p.Part(&LINECALLPARAMS::dwUserUserInfoSize, &LINECALLPARAMS::dwUserUserInfoOffset, uui, 1);
  ASSERT_EQ(Check(p.get()), 0);

  ASSERT_NE(Blob(CallBlob::DisplayableAddress), nullptr);
  EXPECT_EQ(Blob(CallBlob::DisplayableAddress)->size(), 10u);  // "Anna" and its terminator
  EXPECT_EQ(Blob(CallBlob::CalledParty)->size(), 8u);
  EXPECT_EQ(Blob(CallBlob::Comment)->size(), 6u);
  EXPECT_EQ(*Blob(CallBlob::HighLevelCompatibility), Bytes({1, 2, 3}));
  EXPECT_EQ(*Blob(CallBlob::LowLevelCompatibility), Bytes({4}));
  EXPECT_EQ(*Blob(CallBlob::DevSpecific), Bytes({5, 6}));
  EXPECT_EQ(*Blob(CallBlob::CallData), Bytes({7, 8, 9, 10}));
  EXPECT_EQ(Blob(CallBlob::UserUserInfo), nullptr);  // not kept from call parameters

  // An older line keeps no call data.
  line.tspiVersion = 0x10004;
  ASSERT_EQ(Check(p.get()), 0);
  EXPECT_EQ(Blob(CallBlob::CallData), nullptr);
  EXPECT_NE(Blob(CallBlob::DevSpecific), nullptr);
}

TEST_F(CallParamsCheck, CallDataOnlyFromStructuresThatHoldItsMembers) {
  // 160 bytes: dwCallDataSize is in, dwCallDataOffset is not.
  Params small(160);
  small.get()->dwCallDataSize = 4;
  small.get()->dwCallDataOffset = 100;
  ASSERT_EQ(Check(small.get()), 0);
  EXPECT_EQ(Blob(CallBlob::CallData), nullptr);

  // 163 bytes: more than 160, but the offset member still reaches past the end.
  Params partial(163);
  partial.get()->dwCallDataSize = 4;
  partial.get()->dwCallDataOffset = 100;
  ASSERT_EQ(Check(partial.get()), 0);
  const std::vector<uint8_t>* data = Blob(CallBlob::CallData);
  EXPECT_TRUE(data == nullptr || data->empty());

  // 164 bytes hold both members.
  Params whole(164);
  whole.get()->dwCallDataSize = 4;
  whole.get()->dwCallDataOffset = 100;
  ASSERT_EQ(Check(whole.get()), 0);
  ASSERT_NE(Blob(CallBlob::CallData), nullptr);
  EXPECT_EQ(Blob(CallBlob::CallData)->size(), 4u);
}

TEST_F(CallParamsCheck, PartsOutsideTheStructureAreRefused) {
  {
    Params p(200);
    p.get()->dwCommentSize = 8;
    p.get()->dwCommentOffset = 196;  // 4 bytes past the end
    EXPECT_EQ(Check(p.get()), LINEERR_INVALCALLPARAMS);
    p.get()->dwCommentOffset = 192;  // ends exactly at the end
    EXPECT_EQ(Check(p.get()), 0);
  }
  {
    // An offset and size whose 32-bit sum wraps around.
    Params p(200);
    p.get()->dwHighLevelCompSize = 0x20;
    p.get()->dwHighLevelCompOffset = 0xFFFFFFF0;
    EXPECT_EQ(Check(p.get()), LINEERR_INVALCALLPARAMS);
  }
  {
    Params p(200);
    p.get()->dwCallDataSize = 0xFFFFFFFF;
    p.get()->dwCallDataOffset = 176;
    EXPECT_EQ(Check(p.get()), LINEERR_INVALCALLPARAMS);
  }
  {
    // An originating address out of range names no address.
    Params p(200);
    p.get()->dwAddressMode = LINEADDRESSMODE_DIALABLEADDR;
    p.get()->dwOrigAddressSize = 10;
    p.get()->dwOrigAddressOffset = 0xFFFFFFFC;
    EXPECT_EQ(Check(p.get()), LINEERR_INVALADDRESS);
  }
  {
    // Smaller than the fixed part that every version has.
    Params p(111);
    EXPECT_EQ(Check(p.get()), LINEERR_INVALCALLPARAMS);
    Params q(112);
    EXPECT_EQ(Check(q.get()), 0);
  }
}

TEST(CallParamsMember, MembersPastTheEndReadAsZero) {
  Params p(116);
  p.get()->dwPredictiveAutoTransferStates = 5;
  p.get()->dwNoAnswerTimeout = 30;  // beyond dwTotalSize
  EXPECT_EQ(kvarsp::CallParamsMember(*p.get(), &LINECALLPARAMS::dwPredictiveAutoTransferStates), 5u);
  EXPECT_EQ(kvarsp::CallParamsMember(*p.get(), &LINECALLPARAMS::dwNoAnswerTimeout), 0u);
  Params q(168);
  q.get()->dwNoAnswerTimeout = 30;
  EXPECT_EQ(kvarsp::CallParamsMember(*q.get(), &LINECALLPARAMS::dwNoAnswerTimeout), 30u);
}

// --- Storing checked parameters in the call ------------------------------------------

class CallParamsApply : public ::testing::Test {
 protected:
  static void EventProc(HTAPILINE, HTAPICALL, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}
  void SetUp() override {
    OpenLine record;
    record.deviceId = 100;
    record.tspiVersion = 0x20000;
    record.htLine = reinterpret_cast<HTAPILINE>(uintptr_t{0x100});
    record.eventProc = EventProc;
    line = &model.AddLine(record);
    call = model.CreateCall(*line, reinterpret_cast<HTAPICALL>(uintptr_t{0xCA}), u"", 0, LINECALLORIGIN_OUTBOUND);
    sink.entries.clear();
  }
  size_t CallInfoEvents() const {
    size_t n = 0;
    for (const auto& e : sink.entries) n += !e.completion && e.msg == LINE_CALLINFO;
    return n;
  }

  platform::FakeClock clock;
  tktest::RecordingSink sink;
  ThreeAddresses addresses;
  kvarsp::CallModel model{sink, addresses, clock};
  OpenLine* line = nullptr;
  const kvarsp::TspCall* call = nullptr;
};

TEST_F(CallParamsApply, StoresFlagsAddressAndPartsQuietlyOrWithNotice) {
  Params p;
  p.Origin(u"4712");
  p.get()->dwCallParamFlags = LINECALLPARAMFLAGS_BLOCKID;
  const uint8_t hlc[] = {0x91, 0x81};
  p.Part(&LINECALLPARAMS::dwHighLevelCompSize, &LINECALLPARAMS::dwHighLevelCompOffset, hlc, 2);

  uint8_t options = 0xFF;
  ASSERT_EQ(kvarsp::ApplyCallParams(model, *call, p.get(), *line, addresses, false, false, options), 0);
  EXPECT_EQ(options, 0x10);
  EXPECT_EQ(call->callParamFlags, LINECALLPARAMFLAGS_BLOCKID);
  EXPECT_EQ(call->addressId, 1u);
  EXPECT_EQ(call->blob(CallBlob::HighLevelCompatibility), Bytes({0x91, 0x81}));
  EXPECT_EQ(CallInfoEvents(), 0u);

  // The same again changes nothing and so tells nothing; a new flag is told.
  ASSERT_EQ(kvarsp::ApplyCallParams(model, *call, p.get(), *line, addresses, false, true, options), 0);
  EXPECT_EQ(CallInfoEvents(), 0u);
  p.get()->dwCallParamFlags = LINECALLPARAMFLAGS_SECURE;
  ASSERT_EQ(kvarsp::ApplyCallParams(model, *call, p.get(), *line, addresses, false, true, options), 0);
  EXPECT_EQ(CallInfoEvents(), 1u);
}

TEST_F(CallParamsApply, AFailedCheckStoresNothing) {
  Params p;
  p.get()->dwCallParamFlags = LINECALLPARAMFLAGS_IDLE;
  p.get()->dwAddressID = 7;
  uint8_t options = 0xFF;
  EXPECT_EQ(kvarsp::ApplyCallParams(model, *call, p.get(), *line, addresses, false, true, options),
            LINEERR_INVALADDRESSID);
  EXPECT_EQ(call->callParamFlags, 0u);
  EXPECT_EQ(call->addressId, 0u);
  EXPECT_EQ(sink.entries.size(), 0u);

  EXPECT_EQ(kvarsp::ApplyCallParams(model, *call, nullptr, *line, addresses, false, true, options), 0);
  EXPECT_EQ(options, 0);
}

}  // namespace
