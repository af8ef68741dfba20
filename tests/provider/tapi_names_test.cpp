#include "provider/tapi_names.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>

#include "tapi/tapi_constants.h"

namespace {

using kvarsp::TapiFamily;
using kvarsp::TapiFlagWord;
using kvarsp::TapiValueName;

std::string Continuation(size_t valueColumn, std::string_view name) {
  return "\n" + std::string(valueColumn - 2, ' ') + "| " + std::string(name);
}

// The constant prefix of every family; a table filed under the wrong family,
// or a name copied into the wrong table, shows up as a foreign prefix.
const std::pair<TapiFamily, std::string_view> kFamilyPrefixes[] = {
    {TapiFamily::LineErr, "LINEERR_"},
    {TapiFamily::PhoneErr, "PHONEERR_"},
    {TapiFamily::LineCallState, "LINECALLSTATE_"},
    {TapiFamily::LineDevState, "LINEDEVSTATE_"},
    {TapiFamily::LineAddressState, "LINEADDRESSSTATE_"},
    {TapiFamily::LineCallInfoState, "LINECALLINFOSTATE_"},
    {TapiFamily::LineMediaMode, "LINEMEDIAMODE_"},
    {TapiFamily::LineBearerMode, "LINEBEARERMODE_"},
    {TapiFamily::LineAddressMode, "LINEADDRESSMODE_"},
    {TapiFamily::LineCallParamFlags, "LINECALLPARAMFLAGS_"},
    {TapiFamily::LineAddrCapFlags, "LINEADDRCAPFLAGS_"},
    {TapiFamily::LineCallFeature, "LINECALLFEATURE_"},
    {TapiFamily::LineCallFeature2, "LINECALLFEATURE2_"},
    {TapiFamily::LineAddrFeature, "LINEADDRFEATURE_"},
    {TapiFamily::LineFeature, "LINEFEATURE_"},
    {TapiFamily::LineDevCapFlags, "LINEDEVCAPFLAGS_"},
    {TapiFamily::LineDevStatusFlags, "LINEDEVSTATUSFLAGS_"},
    {TapiFamily::LineDisconnectMode, "LINEDISCONNECTMODE_"},
    {TapiFamily::LineDialToneMode, "LINEDIALTONEMODE_"},
    {TapiFamily::LineBusyMode, "LINEBUSYMODE_"},
    {TapiFamily::LineSpecialInfo, "LINESPECIALINFO_"},
    {TapiFamily::LineOfferingMode, "LINEOFFERINGMODE_"},
    {TapiFamily::LineConnectedMode, "LINECONNECTEDMODE_"},
    {TapiFamily::LineCallPartyId, "LINECALLPARTYID_"},
    {TapiFamily::LineCallOrigin, "LINECALLORIGIN_"},
    {TapiFamily::LineCallReason, "LINECALLREASON_"},
    {TapiFamily::LineCallPrivilege, "LINECALLPRIVILEGE_"},
    {TapiFamily::LineForwardMode, "LINEFORWARDMODE_"},
    {TapiFamily::LineParkMode, "LINEPARKMODE_"},
    {TapiFamily::LineTransferMode, "LINETRANSFERMODE_"},
    {TapiFamily::LineRemoveFromConf, "LINEREMOVEFROMCONF_"},
    {TapiFamily::LineCallComplCond, "LINECALLCOMPLCOND_"},
    {TapiFamily::LineCallComplMode, "LINECALLCOMPLMODE_"},
    {TapiFamily::LineAnswerMode, "LINEANSWERMODE_"},
    {TapiFamily::LineAddressSharing, "LINEADDRESSSHARING_"},
    {TapiFamily::LineRoamMode, "LINEROAMMODE_"},
    {TapiFamily::LineDigitMode, "LINEDIGITMODE_"},
    {TapiFamily::LineToneMode, "LINETONEMODE_"},
    {TapiFamily::LineGatherTerm, "LINEGATHERTERM_"},
    {TapiFamily::LineGenerateTerm, "LINEGENERATETERM_"},
    {TapiFamily::LineCallTreatment, "LINECALLTREATMENT_"},
    {TapiFamily::LineTermMode, "LINETERMMODE_"},
    {TapiFamily::LineCallSelect, "LINECALLSELECT_"},
    {TapiFamily::StringFormat, "STRINGFORMAT_"},
    {TapiFamily::TuispiDllObject, "TUISPIDLL_OBJECT_"},
};

TEST(TapiNames, EveryFamilyNamesItsOwnConstantsOnly) {
  for (const auto& [family, prefix] : kFamilyPrefixes) {
    int named = 0;
    for (DWORD value = 1; value <= 0x60; ++value) {
      std::string_view name = TapiValueName(family, value);
      if (name == "<unknown>") continue;
      EXPECT_TRUE(name.starts_with(prefix)) << name << " in the " << prefix << " table";
      ++named;
    }
    for (int bit = 7; bit < 32; ++bit) {
      std::string_view name = TapiValueName(family, DWORD{1} << bit);
      if (name == "<unknown>") continue;
      EXPECT_TRUE(name.starts_with(prefix)) << name << " in the " << prefix << " table";
      ++named;
    }
    // Result codes live at 0x80000000 (line) and 0x90000000 (phone) plus n.
    for (DWORD base : {DWORD{0x80000000}, DWORD{0x90000000}}) {
      for (DWORD n = 1; n <= 0x60; ++n) {
        std::string_view name = TapiValueName(family, base | n);
        if (name == "<unknown>") continue;
        EXPECT_TRUE(name.starts_with(prefix)) << name << " in the " << prefix << " table";
        ++named;
      }
    }
    EXPECT_GE(named, 2) << prefix;
  }
}

TEST(TapiNames, SingleValuesAcrossFamilies) {
  EXPECT_STREQ(TapiValueName(TapiFamily::LineCallState, 0x100), "LINECALLSTATE_CONNECTED");
  EXPECT_STREQ(TapiValueName(TapiFamily::LineDisconnectMode, LINEDISCONNECTMODE_CANCELLED),
               "LINEDISCONNECTMODE_CANCELLED");
  EXPECT_STREQ(TapiValueName(TapiFamily::LineMediaMode, LINEMEDIAMODE_VIDEO), "LINEMEDIAMODE_VIDEO");
  EXPECT_STREQ(TapiValueName(TapiFamily::LineAddrCapFlags, LINEADDRCAPFLAGS_ACDGROUP),
               "LINEADDRCAPFLAGS_ACDGROUP");
  EXPECT_STREQ(TapiValueName(TapiFamily::LineCallSelect, LINECALLSELECT_DEVICEID), "LINECALLSELECT_DEVICEID");
  EXPECT_STREQ(TapiValueName(TapiFamily::PhoneErr, static_cast<DWORD>(PHONEERR_REINIT)), "PHONEERR_REINIT");
  EXPECT_STREQ(TapiValueName(TapiFamily::LineErr, static_cast<DWORD>(LINEERR_INVALAGENTSESSIONSTATE)),
               "LINEERR_INVALAGENTSESSIONSTATE");
  // Families whose values are counted, not bits.
  EXPECT_STREQ(TapiValueName(TapiFamily::StringFormat, STRINGFORMAT_UNICODE), "STRINGFORMAT_UNICODE");
  EXPECT_STREQ(TapiValueName(TapiFamily::LineCallTreatment, 3), "LINECALLTREATMENT_BUSY");
  EXPECT_STREQ(TapiValueName(TapiFamily::TuispiDllObject, 4), "TUISPIDLL_OBJECT_DIALOGINSTANCE");
  EXPECT_STREQ(TapiValueName(TapiFamily::LineEvent, LINE_NEWCALL), "LINE_NEWCALL");
}

TEST(TapiNames, UnknownAndZeroSingleValues) {
  EXPECT_STREQ(TapiValueName(TapiFamily::LineCallState, 0x10000), "<unknown>");
  EXPECT_STREQ(TapiValueName(TapiFamily::LineCallState, 0x101), "<unknown>");
  EXPECT_STREQ(TapiValueName(TapiFamily::StringFormat, 5), "<unknown>");
  EXPECT_STREQ(TapiValueName(TapiFamily::PhoneErr, 0x9000001E), "<unknown>");
  // The event family has no phone messages.
  EXPECT_STREQ(TapiValueName(TapiFamily::LineEvent, PHONE_STATE), "<unknown>");

  EXPECT_STREQ(TapiValueName(TapiFamily::LineCallState, 0), "<not used (zero)>");
  EXPECT_STREQ(TapiValueName(TapiFamily::LineMediaMode, 0), "<not used (zero)>");
  EXPECT_STREQ(TapiValueName(TapiFamily::PhoneErr, 0), "<not used (zero)>");
  // Families with a real value 0 name it.
  EXPECT_STREQ(TapiValueName(TapiFamily::LineErr, 0), "SUCCESS");
  EXPECT_STREQ(TapiValueName(TapiFamily::LineEvent, 0), "LINE_ADDRESSSTATE");
  EXPECT_STREQ(kvarsp::LineResultName(0), "SUCCESS");
  EXPECT_STREQ(kvarsp::LineEventName(LINE_ADDRESSSTATE), "LINE_ADDRESSSTATE");
}

TEST(TapiNames, FlagWordWithOneName) {
  EXPECT_EQ(TapiFlagWord(TapiFamily::LineCallState, 0x100, 20), "LINECALLSTATE_CONNECTED");
  EXPECT_EQ(TapiFlagWord(TapiFamily::LineCallFeature, 0x80, 20), "LINECALLFEATURE_DROP");
  EXPECT_EQ(TapiFlagWord(TapiFamily::LineCallState, 0, 20), "<not used (zero)>");
  EXPECT_EQ(TapiFlagWord(TapiFamily::LineCallState, 0x00010000, 20), "<unknown bits>");
}

TEST(TapiNames, NamedBitPlusUnnamedBitShowsUnknownBitsOnItsOwnLine) {
  // Every bit of LINECALLFEATURE_ has a name, so the unnamed bit is taken from
  // the features of dwCallFeatures2 and the call states.
  EXPECT_EQ(TapiFlagWord(TapiFamily::LineCallFeature2, LINECALLFEATURE2_TRANSFERCONF | 0x00100000, 21),
            "LINECALLFEATURE2_TRANSFERCONF" + Continuation(21, "<unknown bits>"));
  // Several unnamed bits still print one "<unknown bits>".
  EXPECT_EQ(TapiFlagWord(TapiFamily::LineCallState, 0x100 | 0x00030000 | 0x80000000, 10),
            "LINECALLSTATE_CONNECTED" + Continuation(10, "<unknown bits>"));
}

TEST(TapiNames, FlagWordListsBitsFromHighToLowAlignedAtTheValueColumn) {
  const DWORD word = LINECALLSTATE_ACCEPTED | LINECALLSTATE_CONNECTED | LINECALLSTATE_UNKNOWN | 0x00200000;
  EXPECT_EQ(TapiFlagWord(TapiFamily::LineCallState, word, 18),
            "LINECALLSTATE_UNKNOWN" + Continuation(18, "LINECALLSTATE_CONNECTED") +
                Continuation(18, "LINECALLSTATE_ACCEPTED") + Continuation(18, "<unknown bits>"));

  // Bit 31 and bit 0 are both reached.
  std::string all = TapiFlagWord(TapiFamily::LineCallFeature, 0xFFFFFFFF, 2);
  EXPECT_TRUE(all.starts_with("LINECALLFEATURE_SETCALLDATA\n| LINECALLFEATURE_SETQOS\n")) << all;
  EXPECT_TRUE(all.ends_with("\n| LINECALLFEATURE_ADDTOCONF\n| LINECALLFEATURE_ACCEPT")) << all;
  EXPECT_EQ(all.find("<unknown bits>"), std::string::npos);
}

TEST(TapiNames, FlagWordWithNarrowValueColumnDoesNotUnderflow) {
  EXPECT_EQ(TapiFlagWord(TapiFamily::LineDigitMode, LINEDIGITMODE_PULSE | LINEDIGITMODE_DTMF, 0),
            "LINEDIGITMODE_DTMF\n| LINEDIGITMODE_PULSE");
}

TEST(TapiNames, FlagWordOfMultiBitValuesNamesTheWidestMatch) {
  EXPECT_EQ(TapiFlagWord(TapiFamily::LineRemoveFromConf, LINEREMOVEFROMCONF_ANY, 30), "LINEREMOVEFROMCONF_ANY");
  EXPECT_EQ(TapiFlagWord(TapiFamily::LineRemoveFromConf, LINEREMOVEFROMCONF_LAST, 30), "LINEREMOVEFROMCONF_LAST");
  // BUSY (3) covers SILENCE (1) and RINGBACK (2); MUSIC (4) is its own bit.
  EXPECT_EQ(TapiFlagWord(TapiFamily::LineCallTreatment, 7, 4),
            "LINECALLTREATMENT_MUSIC" + Continuation(4, "LINECALLTREATMENT_BUSY"));
  EXPECT_EQ(TapiFlagWord(TapiFamily::StringFormat, 0x13, 4),
            "STRINGFORMAT_UNICODE" + Continuation(4, "<unknown bits>"));
}

TEST(TapiNames, FlagWordOfAFamilyWithARealZero) {
  EXPECT_EQ(TapiFlagWord(TapiFamily::LineErr, 0, 8), "SUCCESS");
}

}  // namespace
