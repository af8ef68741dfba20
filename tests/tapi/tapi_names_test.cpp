// The one table of TAPI's names and the trace's spelling of it. tkphone's
// spelling is tested with tkphone (tests/tools/tkphone_format_test.cpp).
#include "tapi/tapi_names.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

#include "tapi/tapi_constants.h"

namespace {

using tapi::TapiFamily;
using tapi::TapiFlagWord;
using tapi::TapiValueName;

constexpr int kFamilyCount = static_cast<int>(TapiFamily::LineEvent) + 1;

std::string Continuation(size_t valueColumn, std::string_view name) {
  return "\n" + std::string(valueColumn - 2, ' ') + "| " + std::string(name);
}

// A table filed under the wrong family, or a name copied into the wrong
// table, shows up as a foreign prefix; two names for one value make the
// lookup ambiguous.
TEST(TapiNames, EveryFamilyNamesItsOwnConstantsOnceEach) {
  for (int f = 0; f < kFamilyCount; ++f) {
    const auto family = static_cast<TapiFamily>(f);
    const std::string_view prefix = tapi::PrefixOf(family);
    EXPECT_TRUE(prefix.ends_with("_")) << f;
    EXPECT_GE(tapi::NamesOf(family).size(), 2u) << prefix;
    std::set<DWORD> values;
    for (const tapi::ValueName& entry : tapi::NamesOf(family)) {
      EXPECT_TRUE(values.insert(entry.value).second) << entry.name;
      if (family == TapiFamily::LineErr && entry.value == 0) continue;  // "SUCCESS"
      EXPECT_TRUE(std::string_view(entry.name).starts_with(prefix)) << entry.name << " in the " << prefix << " table";
      EXPECT_EQ(std::string(prefix) + std::string(tapi::ShortName(family, entry)), entry.name);
    }
  }
  EXPECT_EQ(tapi::PrefixOf(TapiFamily::LineCallState), "LINECALLSTATE_");
  EXPECT_EQ(tapi::PrefixOf(TapiFamily::LineCallFeature2), "LINECALLFEATURE2_");
  EXPECT_EQ(tapi::PrefixOf(TapiFamily::TuispiDllObject), "TUISPIDLL_OBJECT_");
  EXPECT_EQ(tapi::PrefixOf(TapiFamily::LineEvent), "LINE_");
}

struct SingleCase {
  TapiFamily family;
  DWORD value;
  const char* name;
};

const SingleCase kSingleValues[] = {
    {TapiFamily::LineCallState, 0x100, "LINECALLSTATE_CONNECTED"},
    {TapiFamily::LineDisconnectMode, LINEDISCONNECTMODE_CANCELLED, "LINEDISCONNECTMODE_CANCELLED"},
    {TapiFamily::LineMediaMode, LINEMEDIAMODE_VIDEO, "LINEMEDIAMODE_VIDEO"},
    {TapiFamily::LineAddrCapFlags, LINEADDRCAPFLAGS_ACDGROUP, "LINEADDRCAPFLAGS_ACDGROUP"},
    {TapiFamily::LineCallSelect, LINECALLSELECT_DEVICEID, "LINECALLSELECT_DEVICEID"},
    {TapiFamily::PhoneErr, static_cast<DWORD>(PHONEERR_REINIT), "PHONEERR_REINIT"},
    {TapiFamily::LineErr, static_cast<DWORD>(LINEERR_INVALCALLHANDLE), "LINEERR_INVALCALLHANDLE"},
    {TapiFamily::LineErr, static_cast<DWORD>(LINEERR_INVALAGENTSESSIONSTATE), "LINEERR_INVALAGENTSESSIONSTATE"},
    // Families whose values are counted, not bits.
    {TapiFamily::StringFormat, STRINGFORMAT_UNICODE, "STRINGFORMAT_UNICODE"},
    {TapiFamily::LineCallTreatment, 3, "LINECALLTREATMENT_BUSY"},
    {TapiFamily::TuispiDllObject, 4, "TUISPIDLL_OBJECT_DIALOGINSTANCE"},
    {TapiFamily::LineEvent, LINE_CALLSTATE, "LINE_CALLSTATE"},
    {TapiFamily::LineEvent, LINE_CREATE, "LINE_CREATE"},
    {TapiFamily::LineEvent, LINE_PROXYSTATUS, "LINE_PROXYSTATUS"},
    {TapiFamily::LineEvent, LINE_NEWCALL, "LINE_NEWCALL"},
    {TapiFamily::LineEvent, LINE_SENDDIALOGINSTANCEDATA, "LINE_SENDDIALOGINSTANCEDATA"},
    // Unknown values.
    {TapiFamily::LineCallState, 0x10000, "<unknown>"},
    {TapiFamily::LineCallState, 0x101, "<unknown>"},
    {TapiFamily::StringFormat, 5, "<unknown>"},
    {TapiFamily::PhoneErr, 0x9000001E, "<unknown>"},
    {TapiFamily::LineErr, 1, "<unknown>"},
    {TapiFamily::LineErr, 0x80000060, "<unknown>"},
    // The event family has no phone messages.
    {TapiFamily::LineEvent, PHONE_STATE, "<unknown>"},
    {TapiFamily::LineEvent, PHONE_BUTTON, "<unknown>"},
    {TapiFamily::LineEvent, PHONE_CREATE, "<unknown>"},
    {TapiFamily::LineEvent, PHONE_REMOVE, "<unknown>"},
    {TapiFamily::LineEvent, 32, "<unknown>"},
    {TapiFamily::LineEvent, 499, "<unknown>"},
    {TapiFamily::LineEvent, 505, "<unknown>"},
    // Zero, and the families with a real value 0.
    {TapiFamily::LineCallState, 0, "<not used (zero)>"},
    {TapiFamily::LineMediaMode, 0, "<not used (zero)>"},
    {TapiFamily::PhoneErr, 0, "<not used (zero)>"},
    {TapiFamily::LineErr, 0, "SUCCESS"},
    {TapiFamily::LineEvent, 0, "LINE_ADDRESSSTATE"},
};

TEST(TapiNames, SingleValuesInTheTraceSpelling) {
  for (const SingleCase& c : kSingleValues) {
    EXPECT_STREQ(TapiValueName(c.family, c.value), c.name) << static_cast<int>(c.family) << " 0x" << std::hex << c.value;
    if (c.family == TapiFamily::LineErr) {
      EXPECT_STREQ(tapi::LineResultName(static_cast<LONG>(c.value)), c.name);
    }
    if (c.family == TapiFamily::LineEvent) {
      EXPECT_STREQ(tapi::LineEventName(c.value), c.name);
    }
  }
}

TEST(TapiNames, EveryLineErrorHasItsOwnNameExceptTapisGaps) {
  const std::set<DWORD> gaps = {0x80000004, 0x80000031, 0x8000005E};
  std::set<std::string> names;
  for (DWORD code = 0x80000001; code <= 0x8000005F; ++code) {
    std::string name = tapi::LineResultName(static_cast<LONG>(code));
    if (gaps.count(code)) {
      EXPECT_EQ(name, "<unknown>") << std::hex << code;
    } else {
      EXPECT_EQ(name.rfind("LINEERR_", 0), 0u) << std::hex << code;
      names.insert(name);
    }
  }
  EXPECT_EQ(names.size(), 95u - gaps.size());
}

TEST(TapiNames, TheHostNamesEveryLineMessageAndNumbersTheRest) {
  int named = 0;
  for (DWORD msg = 0; msg < 600; ++msg) named += tapi::FindName(TapiFamily::LineEvent, msg) != nullptr;
  EXPECT_EQ(named, 30);  // 0..31 without the 7 phone messages, and LINE_NEWCALL .. +4
  EXPECT_EQ(tapi::LineMessageText(LINE_REMOVE), "LINE_REMOVE");
  EXPECT_EQ(tapi::LineMessageText(PHONE_STATE), "message 18");
}

struct FlagCase {
  TapiFamily family;
  DWORD flags;
  size_t column;
  std::string text;
};

TEST(TapiNames, FlagWordsListBitsFromHighToLowAlignedAtTheValueColumn) {
  const FlagCase cases[] = {
      {TapiFamily::LineCallState, 0x100, 20, "LINECALLSTATE_CONNECTED"},
      {TapiFamily::LineCallFeature, 0x80, 20, "LINECALLFEATURE_DROP"},
      {TapiFamily::LineCallState, 0, 20, "<not used (zero)>"},
      {TapiFamily::LineErr, 0, 8, "SUCCESS"},
      {TapiFamily::LineCallState, 0x00010000, 20, "<unknown bits>"},
      // Every bit of LINECALLFEATURE_ has a name, so the unnamed bit comes
      // from the features of dwCallFeatures2.
      {TapiFamily::LineCallFeature2, LINECALLFEATURE2_TRANSFERCONF | 0x00100000, 21,
       "LINECALLFEATURE2_TRANSFERCONF" + Continuation(21, "<unknown bits>")},
      // Several unnamed bits still print one "<unknown bits>".
      {TapiFamily::LineCallState, 0x100 | 0x00030000 | 0x80000000, 10,
       "LINECALLSTATE_CONNECTED" + Continuation(10, "<unknown bits>")},
      {TapiFamily::LineCallState,
       LINECALLSTATE_ACCEPTED | LINECALLSTATE_CONNECTED | LINECALLSTATE_UNKNOWN | 0x00200000, 18,
       "LINECALLSTATE_UNKNOWN" + Continuation(18, "LINECALLSTATE_CONNECTED") +
           Continuation(18, "LINECALLSTATE_ACCEPTED") + Continuation(18, "<unknown bits>")},
      // A value column too narrow for the indentation does not underflow.
      {TapiFamily::LineDigitMode, LINEDIGITMODE_PULSE | LINEDIGITMODE_DTMF, 0,
       "LINEDIGITMODE_DTMF\n| LINEDIGITMODE_PULSE"},
      // Values of more than one bit: the widest match, its parts not again.
      {TapiFamily::LineRemoveFromConf, LINEREMOVEFROMCONF_ANY, 30, "LINEREMOVEFROMCONF_ANY"},
      {TapiFamily::LineRemoveFromConf, LINEREMOVEFROMCONF_LAST, 30, "LINEREMOVEFROMCONF_LAST"},
      // BUSY (3) covers SILENCE (1) and RINGBACK (2); MUSIC (4) is its own bit.
      {TapiFamily::LineCallTreatment, 7, 4, "LINECALLTREATMENT_MUSIC" + Continuation(4, "LINECALLTREATMENT_BUSY")},
      {TapiFamily::StringFormat, 0x13, 4, "STRINGFORMAT_UNICODE" + Continuation(4, "<unknown bits>")},
  };
  for (const FlagCase& c : cases) {
    EXPECT_EQ(TapiFlagWord(c.family, c.flags, c.column), c.text) << "0x" << std::hex << c.flags;
  }
  // Bit 31 and bit 0 are both reached.
  std::string all = TapiFlagWord(TapiFamily::LineCallFeature, 0xFFFFFFFF, 2);
  EXPECT_TRUE(all.starts_with("LINECALLFEATURE_SETCALLDATA\n| LINECALLFEATURE_SETQOS\n")) << all;
  EXPECT_TRUE(all.ends_with("\n| LINECALLFEATURE_ADDTOCONF\n| LINECALLFEATURE_ACCEPT")) << all;
  EXPECT_EQ(all.find("<unknown bits>"), std::string::npos);
}

}  // namespace
