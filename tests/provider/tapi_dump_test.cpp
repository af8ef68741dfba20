#include "provider/tapi_dump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "provider/text_builder.h"
#include "tapi/tapi_constants.h"

namespace {

using namespace kvarsp;

// A TAPI structure of type T at the start of a buffer of exactly dwTotalSize
// bytes, so that AddressSanitizer catches any read past it.
template <typename T>
class Buffer {
 public:
  explicit Buffer(size_t totalSize) : bytes_(totalSize) {
    DWORD size = static_cast<DWORD>(totalSize);
    std::memcpy(bytes_.data(), &size, sizeof size);
  }
  // The fixed part, for setting members; only valid while it fits.
  T& fixed() { return *reinterpret_cast<T*>(bytes_.data()); }
  const T* get() const { return reinterpret_cast<const T*>(bytes_.data()); }
  BYTE* at(size_t offset) { return bytes_.data() + offset; }

  // Places UTF-16 text (with its NUL) at offset; returns its size in bytes.
  DWORD putWide(size_t offset, std::u16string_view text) {
    std::memcpy(at(offset), text.data(), text.size() * 2);
    return static_cast<DWORD>(text.size() * 2);
  }
  DWORD putBytes(size_t offset, std::string_view bytes) {
    std::memcpy(at(offset), bytes.data(), bytes.size());
    return static_cast<DWORD>(bytes.size());
  }

 private:
  std::vector<BYTE> bytes_;
};

std::string PointerText(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%016zX", reinterpret_cast<size_t>(p));
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return lines;
    start = end + 1;
  }
}

// The line of a member ("  ->name = ..."), or "" when there is none.
std::string MemberLine(const std::string& text, std::string_view member) {
  std::string prefix = "  ->" + std::string(member) + " = ";
  for (const std::string& line : Lines(text)) {
    if (line.starts_with(prefix)) return line;
  }
  return "";
}

bool HasMember(const std::string& text, std::string_view member) { return !MemberLine(text, member).empty(); }

std::string Blanks(size_t count) { return std::string(count, ' '); }

// --- Text builder ------------------------------------------------------------

TEST(TextBuilder, GrowsInSteps) {
  TextBuilder builder;
  EXPECT_EQ(builder.capacity(), 0u);
  builder.append("x");
  EXPECT_EQ(builder.capacity(), 1024u);
  builder.append(1023, 'y');
  EXPECT_EQ(builder.capacity(), 1024u);
  builder.append("z");
  EXPECT_EQ(builder.capacity(), 2048u);
  builder.appendFormat("%s-%u", "abc", 42u);
  EXPECT_EQ(builder.length(), 1025u + 6u);
  EXPECT_TRUE(builder.text().ends_with("zabc-42"));
  builder.append(5000, 'w');
  EXPECT_EQ(builder.capacity(), 6144u);
  EXPECT_EQ(builder.take().size(), 6031u);
  EXPECT_EQ(builder.length(), 0u);
}

TEST(TextBuilder, NewLinesStartWithTheIndentationAndColumnsCountFromThem) {
  TextBuilder builder;
  builder.append("head");
  EXPECT_EQ(builder.column(), 4u);
  builder.setIndent(3);
  builder.newLine();
  builder.append("ab");
  EXPECT_EQ(builder.column(), 5u);
  builder.newLine(1);
  EXPECT_EQ(builder.column(), 1u);
  EXPECT_EQ(builder.take(), "head\n   ab\n ");
}

TEST(TextBuilder, FailedGrowthDropsEverything) {
  TextBuilder builder(2048);
  builder.append(1500, 'a');
  EXPECT_FALSE(builder.failed());
  builder.append(600, 'b');  // needs 3072 characters
  EXPECT_TRUE(builder.failed());
  EXPECT_EQ(builder.length(), 0u);
  builder.append("more");
  builder.appendFormat("%d", 7);
  builder.newLine();
  EXPECT_EQ(builder.length(), 0u);
  EXPECT_EQ(builder.take(), "");
}

// --- LINECALLPARAMS ----------------------------------------------------------

constexpr size_t kCallParams14 = offsetof(LINECALLPARAMS, dwPredictiveAutoTransferStates);

TEST(TapiDump, CallParamsWithStringsAndBinaryMember) {
  Buffer<LINECALLPARAMS> buffer(kCallParams14 + 30);
  LINECALLPARAMS& params = buffer.fixed();
  params.dwBearerMode = LINEBEARERMODE_VOICE;
  params.dwMaxRate = 64000;
  params.dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_DATAMODEM;
  params.dwCallParamFlags = LINECALLPARAMFLAGS_BLOCKID;
  params.dwAddressMode = LINEADDRESSMODE_DIALABLEADDR;
  params.dwAddressID = 1;
  params.DialParams.dwDigitDuration = 250;
  params.dwDisplayableAddressOffset = 0x70;  // size 0: empty
  params.dwCalledPartyOffset = 0x70;
  params.dwCalledPartySize = buffer.putWide(0x70, std::u16string_view(u"0123", 5));
  params.dwUserUserInfoOffset = 0x7A;
  params.dwUserUserInfoSize = buffer.putBytes(0x7A, "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a");
  params.dwDevSpecificSize = 4;  // offset 0: empty

  std::string expected = "lpCallParams = " + PointerText(buffer.get()) +
                         "\n"
                         "  ->dwTotalSize = 142\n"
                         "  ->dwBearerMode = LINEBEARERMODE_VOICE\n"
                         "  ->dwMinRate = 0\n"
                         "  ->dwMaxRate = 64000\n"
                         "  ->dwMediaMode = LINEMEDIAMODE_DATAMODEM\n" +
                         Blanks(16) +
                         "| LINEMEDIAMODE_INTERACTIVEVOICE\n"
                         "  ->dwCallParamFlags = LINECALLPARAMFLAGS_BLOCKID\n"
                         "  ->dwAddressMode = LINEADDRESSMODE_DIALABLEADDR\n"
                         "  ->dwAddressID = 1\n"
                         "  ->DialParams.dwDialPause = 0\n"
                         "  ->DialParams.dwDialSpeed = 0\n"
                         "  ->DialParams.dwDigitDuration = 250\n"
                         "  ->DialParams.dwWaitForDialtone = 0\n"
                         "  ->dwOrigAddressSize/Offset = <empty>\n"
                         "  ->dwDisplayableAddressSize/Offset = <empty>\n"
                         "  ->dwCalledPartySize/Offset = \"0123\\0\" ( 10/0x070)\n"
                         "  ->dwCommentSize/Offset = <empty>\n"
                         "  ->dwUserUserInfoSize/Offset = 0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 \n" +
                         Blanks(32) +
                         "0x09 0x0a ( 10/0x07a)\n"
                         "  ->dwHighLevelCompSize/Offset = <empty>\n"
                         "  ->dwLowLevelCompSize/Offset = <empty>\n"
                         "  ->dwDevSpecificSize/Offset = <empty>";
  EXPECT_EQ(DumpLineCallParams("lpCallParams", buffer.get(), TAPI_VERSION1_4), expected);
}

TEST(TapiDump, SizeOffsetPastTheStructureIsInvalidAndNotRead) {
  Buffer<LINECALLPARAMS> buffer(sizeof(LINECALLPARAMS) + 8);
  LINECALLPARAMS& params = buffer.fixed();
  params.dwCalledPartyOffset = sizeof(LINECALLPARAMS);
  params.dwCalledPartySize = 10;  // 2 bytes too long
  params.dwCommentOffset = 0xFFFFFFF0;
  params.dwCommentSize = 0x20;  // offset + size wraps in 32 bits
  params.dwUserUserInfoOffset = sizeof(LINECALLPARAMS);
  params.dwUserUserInfoSize = 8;  // exactly up to the end: valid
  params.dwTargetAddressOffset = sizeof(LINECALLPARAMS) + 8;
  params.dwTargetAddressSize = 1;

  std::string dump = DumpLineCallParams("lpCallParams", buffer.get(), TAPI_VERSION2_0);
  EXPECT_EQ(MemberLine(dump, "dwCalledPartySize/Offset"),
            "  ->dwCalledPartySize/Offset = <invalid size/offset ( 10/0x0b0)>");
  EXPECT_EQ(MemberLine(dump, "dwCommentSize/Offset"),
            "  ->dwCommentSize/Offset = <invalid size/offset ( 32/0xfffffff0)>");
  EXPECT_EQ(MemberLine(dump, "dwUserUserInfoSize/Offset"),
            "  ->dwUserUserInfoSize/Offset = 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 (  8/0x0b0)");
  EXPECT_EQ(MemberLine(dump, "dwTargetAddressSize/Offset"),
            "  ->dwTargetAddressSize/Offset = <invalid size/offset (  1/0x0b8)>");
}

TEST(TapiDump, StructureShorterThanItsFixedPartForTheVersion) {
  Buffer<LINECALLPARAMS> buffer(kCallParams14);
  std::string header = "lpCallParams = " + PointerText(buffer.get());
  EXPECT_EQ(DumpLineCallParams("lpCallParams", buffer.get(), TAPI_VERSION2_0), header + " (structure too short)");
  EXPECT_EQ(Lines(DumpLineCallParams("lpCallParams", buffer.get(), TAPI_VERSION1_4)).size(), 21u);

  Buffer<LINECALLSTATUS> tiny(8);
  EXPECT_EQ(DumpLineCallStatus("lpCallStatus", tiny.get(), TAPI_VERSION1_4),
            "lpCallStatus = " + PointerText(tiny.get()) + " (structure too short)");
}

TEST(TapiDump, NullPointerPrintsOnlyTheHeader) {
  EXPECT_EQ(DumpLineCallParams("lpCallParams", nullptr, TAPI_VERSION2_0), "lpCallParams = 0x0000000000000000");
  EXPECT_EQ(DumpLineForwardList("lpForwardList", nullptr, TAPI_VERSION2_0), "lpForwardList = 0x0000000000000000");
  EXPECT_EQ(DumpLineDevCaps("lpLineDevCaps", nullptr, TAPI_VERSION2_0), "lpLineDevCaps = 0x0000000000000000");
  EXPECT_EQ(DumpVarString("lpDeviceID", nullptr, TAPI_VERSION2_0), "lpDeviceID = 0x0000000000000000");
}

TEST(TapiDump, MembersOfVersionTwoOnlyForVersionTwo) {
  Buffer<LINECALLPARAMS> params(sizeof(LINECALLPARAMS));
  params.fixed().dwPredictiveAutoTransferStates = LINECALLSTATE_CONNECTED;
  params.fixed().dwNoAnswerTimeout = 30;
  std::string v20 = DumpLineCallParams("lpCallParams", params.get(), TAPI_VERSION2_0);
  EXPECT_EQ(MemberLine(v20, "dwPredictiveAutoTransferStates"),
            "  ->dwPredictiveAutoTransferStates = LINECALLSTATE_CONNECTED");
  EXPECT_EQ(MemberLine(v20, "dwNoAnswerTimeout"), "  ->dwNoAnswerTimeout = 30");
  EXPECT_EQ(Lines(v20).back(), "  ->dwCallingPartyIDSize/Offset = <empty>");
  std::string v14 = DumpLineCallParams("lpCallParams", params.get(), TAPI_VERSION1_4);
  EXPECT_FALSE(HasMember(v14, "dwPredictiveAutoTransferStates"));
  EXPECT_FALSE(HasMember(v14, "dwNoAnswerTimeout"));
  EXPECT_EQ(Lines(v14).back(), "  ->dwDevSpecificSize/Offset = <empty>");

  // LINEDEVCAPS has a member of 1.4 and members of 2.0.
  Buffer<LINEDEVCAPS> caps(sizeof(LINEDEVCAPS));
  caps.fixed().dwLineFeatures = LINEFEATURE_MAKECALL;
  caps.fixed().dwSettableDevStatus = LINEDEVSTATUSFLAGS_LOCKED;
  std::string caps20 = DumpLineDevCaps("lpLineDevCaps", caps.get(), TAPI_VERSION2_0);
  EXPECT_EQ(MemberLine(caps20, "dwLineFeatures"), "  ->dwLineFeatures = LINEFEATURE_MAKECALL");
  EXPECT_EQ(MemberLine(caps20, "dwSettableDevStatus"), "  ->dwSettableDevStatus = LINEDEVSTATUSFLAGS_LOCKED");
  std::string caps14 = DumpLineDevCaps("lpLineDevCaps", caps.get(), TAPI_VERSION1_4);
  EXPECT_TRUE(HasMember(caps14, "dwLineFeatures"));
  EXPECT_FALSE(HasMember(caps14, "dwSettableDevStatus"));
  EXPECT_FALSE(HasMember(DumpLineDevCaps("lpLineDevCaps", caps.get(), TAPI_VERSION1_0), "dwLineFeatures"));

  // A 1.0 LINEDEVCAPS ends before dwLineFeatures and is complete without it.
  Buffer<LINEDEVCAPS> caps10(offsetof(LINEDEVCAPS, dwLineFeatures));
  EXPECT_TRUE(HasMember(DumpLineDevCaps("lpLineDevCaps", caps10.get(), TAPI_VERSION1_0), "dwDevSpecificSize/Offset"));
  EXPECT_TRUE(DumpLineDevCaps("lpLineDevCaps", caps10.get(), TAPI_VERSION1_4).ends_with("(structure too short)"));
}

// --- Forwarding ----------------------------------------------------------------

TEST(TapiDump, ForwardListWithTwoEntries) {
  constexpr size_t kStrings = 8 + 2 * sizeof(LINEFORWARD);  // 0x38
  Buffer<LINEFORWARDLIST> buffer(kStrings + 16);
  LINEFORWARDLIST& list = buffer.fixed();
  list.dwNumEntries = 2;
  LINEFORWARD first{};
  first.dwForwardMode = LINEFORWARDMODE_UNCOND;
  first.dwDestAddressOffset = kStrings;
  first.dwDestAddressSize = buffer.putWide(kStrings, std::u16string_view(u"22", 3));
  LINEFORWARD second{};
  second.dwForwardMode = LINEFORWARDMODE_BUSYSPECIFIC;
  second.dwCallerAddressOffset = kStrings + 6;
  second.dwCallerAddressSize = buffer.putWide(kStrings + 6, std::u16string_view(u"1", 2));
  second.dwDestCountryCode = 49;
  second.dwDestAddressOffset = kStrings + 10;
  second.dwDestAddressSize = 8;  // reaches 2 bytes past the end
  std::memcpy(buffer.at(8), &first, sizeof first);
  std::memcpy(buffer.at(8 + sizeof(LINEFORWARD)), &second, sizeof second);

  std::string expected = "lpForwardList = " + PointerText(buffer.get()) +
                         "\n"
                         "  ->dwTotalSize = 72\n"
                         "  ->dwNumEntries = 2\n"
                         "  ->ForwardList[ 0 ]\n"
                         "      ->dwForwardMode = LINEFORWARDMODE_UNCOND\n"
                         "      ->dwCallerAddressSize/Offset = <empty>\n"
                         "      ->dwDestCountryCode = 0\n"
                         "      ->dwDestAddressSize/Offset = \"22\\0\" (  6/0x038)\n"
                         "  ->ForwardList[ 1 ]\n"
                         "      ->dwForwardMode = LINEFORWARDMODE_BUSYSPECIFIC\n"
                         "      ->dwCallerAddressSize/Offset = \"1\\0\" (  4/0x03e)\n"
                         "      ->dwDestCountryCode = 49\n"
                         "      ->dwDestAddressSize/Offset = <invalid size/offset (  8/0x042)>";
  EXPECT_EQ(DumpLineForwardList("lpForwardList", buffer.get(), TAPI_VERSION2_0), expected);
}

TEST(TapiDump, ForwardListAnnouncingMoreEntriesThanItHoldsIsTooShort) {
  Buffer<LINEFORWARDLIST> buffer(8 + sizeof(LINEFORWARD));
  buffer.fixed().dwNumEntries = 2;
  EXPECT_TRUE(DumpLineForwardList("lpForwardList", buffer.get(), TAPI_VERSION2_0).ends_with(" (structure too short)"));
  buffer.fixed().dwNumEntries = 0xFFFFFFFF;  // 24 * n must not wrap
  EXPECT_TRUE(DumpLineForwardList("lpForwardList", buffer.get(), TAPI_VERSION2_0).ends_with(" (structure too short)"));
  Buffer<LINEFORWARDLIST> empty(8);
  EXPECT_EQ(Lines(DumpLineForwardList("lpForwardList", empty.get(), TAPI_VERSION2_0)).size(), 3u);
}

TEST(TapiDump, AddressStatusShowsItsForwardEntriesOneLevelDeeper) {
  constexpr size_t kEntries = sizeof(LINEADDRESSSTATUS);  // 0x40
  Buffer<LINEADDRESSSTATUS> buffer(kEntries + sizeof(LINEFORWARD) + 4);
  LINEADDRESSSTATUS& status = buffer.fixed();
  status.dwForwardNumEntries = 3;  // more than dwForwardSize holds
  status.dwForwardOffset = kEntries;
  status.dwForwardSize = sizeof(LINEFORWARD);
  LINEFORWARD entry{};
  entry.dwForwardMode = LINEFORWARDMODE_NOANSW;
  entry.dwDestAddressOffset = kEntries + sizeof(LINEFORWARD);
  entry.dwDestAddressSize = buffer.putWide(entry.dwDestAddressOffset, std::u16string_view(u"7", 2));
  std::memcpy(buffer.at(kEntries), &entry, sizeof entry);

  std::vector<std::string> lines = Lines(DumpLineAddressStatus("lpAddressStatus", buffer.get(), TAPI_VERSION2_0));
  std::vector<std::string> forward = {
      "  ->dwForwardNumEntries = 3",
      "  ->dwForwardSize/Offset = ( 24/0x040)",
      "      ->Forward[ 0 ]",
      "          ->dwForwardMode = LINEFORWARDMODE_NOANSW",
      "          ->dwCallerAddressSize/Offset = <empty>",
      "          ->dwDestCountryCode = 0",
      "          ->dwDestAddressSize/Offset = \"7\\0\" (  4/0x058)",
      "  ->dwTerminalModesSize/Offset = <empty>",
  };
  auto start = std::find(lines.begin(), lines.end(), forward.front());
  ASSERT_NE(start, lines.end());
  EXPECT_EQ(std::vector<std::string>(start, std::min(lines.end(), start + forward.size())), forward);
}

// --- Strings -------------------------------------------------------------------

TEST(TapiDump, WideStringEscapesControlAndNonAsciiCharacters) {
  constexpr size_t kText = sizeof(LINECALLINFO);
  Buffer<LINECALLINFO> buffer(kText + 16);
  LINECALLINFO& info = buffer.fixed();
  info.dwCallerIDOffset = kText;
  info.dwCallerIDSize = buffer.putWide(kText, std::u16string_view(u"A\n\u00e4\u20ac\"z", 7));
  info.dwCallerIDNameOffset = kText;
  info.dwCallerIDNameSize = 3;  // an odd size: the last byte is no character

  std::string dump = DumpLineCallInfo("lpCallInfo", buffer.get(), TAPI_VERSION2_0);
  EXPECT_EQ(MemberLine(dump, "dwCallerIDSize/Offset"),
            "  ->dwCallerIDSize/Offset = \"A\\x000a\\x00e4\\x20ac\"z\\0\" ( 14/0x144)");
  EXPECT_EQ(MemberLine(dump, "dwCallerIDNameSize/Offset"), "  ->dwCallerIDNameSize/Offset = \"A\" (  3/0x144)");
}

TEST(TapiDump, VarStringFollowsItsStringFormat) {
  constexpr size_t kText = sizeof(VARSTRING);  // 0x18
  Buffer<VARSTRING> buffer(kText + 12);
  VARSTRING& var = buffer.fixed();
  var.dwNeededSize = kText + 12;
  var.dwUsedSize = kText + 12;
  var.dwStringOffset = kText;
  buffer.putBytes(kText, std::string_view("k\xe4\x1f\0COM3\0\x80\x01\x02", 12));
  var.dwStringSize = 12;

  var.dwStringFormat = STRINGFORMAT_ASCII;
  std::string header = "lpDeviceID = " + PointerText(buffer.get());
  EXPECT_EQ(DumpVarString("lpDeviceID", buffer.get(), TAPI_VERSION2_0),
            header +
                "\n"
                "  ->dwTotalSize = 36\n"
                "  ->dwNeededSize = 36\n"
                "  ->dwUsedSize = 36\n"
                "  ->dwStringFormat = STRINGFORMAT_ASCII\n"
                "  ->dwStringSize/Offset = \"k\u00e4\\x1f\\0COM3\\0\u20ac\\x01\\x02\" ( 12/0x018)");

  var.dwStringFormat = STRINGFORMAT_UNICODE;
  EXPECT_EQ(MemberLine(DumpVarString("lpDeviceID", buffer.get(), TAPI_VERSION2_0), "dwStringSize/Offset"),
            "  ->dwStringSize/Offset = \"\\xe46b\\x001f\\x4f43\\x334d\\x8000\\x0201\" ( 12/0x018)");

  var.dwStringFormat = STRINGFORMAT_BINARY;
  std::string binary = DumpVarString("lpDeviceID", buffer.get(), TAPI_VERSION2_0);
  EXPECT_TRUE(binary.ends_with("  ->dwStringSize/Offset = 0x6b 0xe4 0x1f 0x00 0x43 0x4f 0x4d 0x33 \n" + Blanks(26) +
                               "0x00 0x80 0x01 0x02 ( 12/0x018)"))
      << binary;

  // An unknown format names no encoding: the bytes are shown as they are.
  var.dwStringFormat = 9;
  std::string unknown = DumpVarString("lpDeviceID", buffer.get(), TAPI_VERSION2_0);
  EXPECT_EQ(MemberLine(unknown, "dwStringFormat"), "  ->dwStringFormat = <unknown>");
  EXPECT_TRUE(unknown.ends_with("0x00 0x80 0x01 0x02 ( 12/0x018)"));
}

TEST(TapiDump, DevCapsStringsFollowTheStructuresStringFormat) {
  constexpr size_t kText = sizeof(LINEDEVCAPS);
  Buffer<LINEDEVCAPS> buffer(kText + 8);
  LINEDEVCAPS& caps = buffer.fixed();
  caps.dwLineNameOffset = kText;
  caps.dwLineNameSize = buffer.putWide(kText, std::u16string_view(u"L1", 3));
  caps.dwStringFormat = STRINGFORMAT_UNICODE;
  EXPECT_EQ(MemberLine(DumpLineDevCaps("lpLineDevCaps", buffer.get(), TAPI_VERSION2_0), "dwLineNameSize/Offset"),
            "  ->dwLineNameSize/Offset = \"L1\\0\" (  6/0x0fc)");
  caps.dwStringFormat = STRINGFORMAT_ASCII;
  EXPECT_EQ(MemberLine(DumpLineDevCaps("lpLineDevCaps", buffer.get(), TAPI_VERSION2_0), "dwLineNameSize/Offset"),
            "  ->dwLineNameSize/Offset = \"L\\01\\0\\0\\0\" (  6/0x0fc)");
}

// --- Codes by context ------------------------------------------------------------

TEST(TapiDump, CallStatusNamesTheModeByItsStateAndPrintsTheEntryTime) {
  Buffer<LINECALLSTATUS> buffer(sizeof(LINECALLSTATUS));
  LINECALLSTATUS& status = buffer.fixed();
  status.dwCallState = LINECALLSTATE_DISCONNECTED;
  status.dwCallStateMode = LINEDISCONNECTMODE_BUSY;
  status.dwCallPrivilege = LINECALLPRIVILEGE_OWNER;
  status.dwCallFeatures = LINECALLFEATURE_DROP | LINECALLFEATURE_ANSWER;
  status.dwCallFeatures2 = LINECALLFEATURE2_TRANSFERCONF | 0x00100000;
  status.tStateEntryTime = SYSTEMTIME{2024, 3, 5, 7, 9, 8, 6, 42};

  std::string dump = DumpLineCallStatus("lpCallStatus", buffer.get(), TAPI_VERSION2_0);
  EXPECT_EQ(MemberLine(dump, "dwCallState"), "  ->dwCallState = LINECALLSTATE_DISCONNECTED");
  EXPECT_EQ(MemberLine(dump, "dwCallStateMode"), "  ->dwCallStateMode = LINEDISCONNECTMODE_BUSY");
  EXPECT_EQ(MemberLine(dump, "dwCallPrivilege"), "  ->dwCallPrivilege = LINECALLPRIVILEGE_OWNER");
  EXPECT_NE(dump.find("  ->dwCallFeatures = LINECALLFEATURE_DROP\n" + Blanks(19) + "| LINECALLFEATURE_ANSWER\n"),
            std::string::npos)
      << dump;
  EXPECT_NE(dump.find("  ->dwCallFeatures2 = LINECALLFEATURE2_TRANSFERCONF\n" + Blanks(20) + "| <unknown bits>\n"),
            std::string::npos)
      << dump;
  EXPECT_EQ(MemberLine(dump, "tStateEntryTime"), "  ->tStateEntryTime = 07.03.2024 09:08:06,042");

  status.dwCallState = LINECALLSTATE_CONNECTED;
  status.dwCallStateMode = LINECONNECTEDMODE_INACTIVE;
  EXPECT_EQ(MemberLine(DumpLineCallStatus("lpCallStatus", buffer.get(), TAPI_VERSION2_0), "dwCallStateMode"),
            "  ->dwCallStateMode = LINECONNECTEDMODE_INACTIVE");
  status.dwCallState = LINECALLSTATE_ONHOLD;
  status.dwCallStateMode = 5;
  EXPECT_EQ(MemberLine(DumpLineCallStatus("lpCallStatus", buffer.get(), TAPI_VERSION2_0), "dwCallStateMode"),
            "  ->dwCallStateMode = 5");
  std::string v14 = DumpLineCallStatus("lpCallStatus", buffer.get(), TAPI_VERSION1_4);
  EXPECT_FALSE(HasMember(v14, "tStateEntryTime"));
  EXPECT_FALSE(HasMember(v14, "dwCallFeatures2"));
}

TEST(TapiDump, CallInfoHandleAndPartyIdFlags) {
  Buffer<LINECALLINFO> buffer(sizeof(LINECALLINFO));
  LINECALLINFO& info = buffer.fixed();
  info.hLine = 0x1234abcd;
  info.dwOrigin = LINECALLORIGIN_EXTERNAL;
  info.dwCallerIDFlags = LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME;
  info.dwCallTreatment = LINECALLTREATMENT_MUSIC;
  std::string dump = DumpLineCallInfo("lpCallInfo", buffer.get(), TAPI_VERSION2_0);
  EXPECT_EQ(MemberLine(dump, "hLine"), "  ->hLine = 0x1234abcd");
  EXPECT_EQ(MemberLine(dump, "dwOrigin"), "  ->dwOrigin = LINECALLORIGIN_EXTERNAL");
  EXPECT_EQ(MemberLine(dump, "dwCallTreatment"), "  ->dwCallTreatment = LINECALLTREATMENT_MUSIC");
  EXPECT_EQ(MemberLine(dump, "dwReason"), "  ->dwReason = <not used (zero)>");
  EXPECT_NE(dump.find("  ->dwCallerIDFlags = LINECALLPARTYID_ADDRESS\n" + Blanks(20) + "| LINECALLPARTYID_NAME\n"),
            std::string::npos)
      << dump;
}

TEST(TapiDump, EveryStructureDumpsAZeroFilledStructureInFull) {
  // Members in TAPI's order, one line each: a zero-filled structure of the
  // full size prints the header and one line per member.
  Buffer<LINEDEVCAPS> devCaps(sizeof(LINEDEVCAPS));
  EXPECT_EQ(Lines(DumpLineDevCaps("p", devCaps.get(), TAPI_VERSION2_0)).size(), 1u + 56u);
  Buffer<LINEADDRESSCAPS> addressCaps(sizeof(LINEADDRESSCAPS));
  EXPECT_EQ(Lines(DumpLineAddressCaps("p", addressCaps.get(), TAPI_VERSION2_0)).size(), 1u + 52u);
  EXPECT_EQ(Lines(DumpLineAddressCaps("p", addressCaps.get(), TAPI_VERSION1_4)).size(), 1u + 42u);
  Buffer<LINEADDRESSSTATUS> addressStatus(sizeof(LINEADDRESSSTATUS));
  EXPECT_EQ(Lines(DumpLineAddressStatus("p", addressStatus.get(), TAPI_VERSION2_0)).size(), 1u + 13u);
  Buffer<LINEDEVSTATUS> devStatus(sizeof(LINEDEVSTATUS));
  EXPECT_EQ(Lines(DumpLineDevStatus("p", devStatus.get(), TAPI_VERSION2_0)).size(), 1u + 19u);
  Buffer<LINECALLINFO> callInfo(sizeof(LINECALLINFO));
  EXPECT_EQ(Lines(DumpLineCallInfo("p", callInfo.get(), TAPI_VERSION2_0)).size(), 1u + 57u);
  Buffer<LINECALLSTATUS> callStatus(sizeof(LINECALLSTATUS));
  EXPECT_EQ(Lines(DumpLineCallStatus("p", callStatus.get(), TAPI_VERSION2_0)).size(), 1u + 10u);
}

}  // namespace
