// The line reader of vnldump: which lines of hex dumps and trace files hold
// a message, and which bytes.
#include <gtest/gtest.h>

#include "tools/vnldump_input.h"

namespace {

using vnldump::Direction;
using vnldump::InputLine;
using vnldump::ParseInputLine;
using Bytes = std::vector<uint8_t>;

const Bytes kRegisterReq = {0x10, 0x01, 0x00, 0x03, 0x10, 0x01, 0x05};

void expectMessage(std::string_view line, Direction direction, const Bytes& bytes) {
  InputLine in = ParseInputLine(line);
  EXPECT_EQ(in.kind, InputLine::Kind::Message) << line << ": " << in.error;
  EXPECT_EQ(in.direction, direction) << line;
  EXPECT_EQ(in.bytes, bytes) << line;
}

void expectSkipped(std::string_view line) {
  InputLine in = ParseInputLine(line);
  EXPECT_EQ(in.kind, InputLine::Kind::Skipped) << line;
  EXPECT_TRUE(in.bytes.empty()) << line;
}

void expectBadHex(std::string_view line, std::string_view errorPart) {
  InputLine in = ParseInputLine(line);
  EXPECT_EQ(in.kind, InputLine::Kind::BadHex) << line;
  EXPECT_NE(in.error.find(errorPart), std::string::npos) << line << " gave: " << in.error;
  EXPECT_TRUE(in.bytes.empty()) << line;
}

TEST(VnldumpInput, PlainHexWithOrWithoutBlanksInAnyCase) {
  expectMessage("10 01 00 03 10 01 05", Direction::Unknown, kRegisterReq);
  expectMessage("10010003100105", Direction::Unknown, kRegisterReq);
  expectMessage("1001 0003 100105", Direction::Unknown, kRegisterReq);
  expectMessage("  10 01 00 03 10 01 05  \r\n", Direction::Unknown, kRegisterReq);
  expectMessage("61 07 00 04 D0 02 FF 80", Direction::Unknown, {0x61, 0x07, 0x00, 0x04, 0xD0, 0x02, 0xFF, 0x80});
  expectMessage("d0\tFf", Direction::Unknown, {0xD0, 0xFF});
}

TEST(VnldumpInput, RawTraceLinesKeepTheirDirection) {
  expectMessage("PC -> TK: 10 01 00 03 10 01 05 ", Direction::PcToTk, kRegisterReq);
  expectMessage("TK -> PC: 11 01 00 03 d0 01 00 \r\n", Direction::TkToPc, {0x11, 0x01, 0x00, 0x03, 0xD0, 0x01, 0x00});
  expectMessage("PC -> TK: 10010003100105", Direction::PcToTk, kRegisterReq);
}

TEST(VnldumpInput, TraceFileRecordsYieldTheirRawLines) {
  expectMessage("[07.12.26 23:59:01,123] PC -> TK: 10 01 00 03 10 01 05 \r\n", Direction::PcToTk, kRegisterReq);
  expectMessage("[31.01.00 00:00:00,000] TK -> PC: ae 02 00 00 ", Direction::TkToPc, {0xAE, 0x02, 0x00, 0x00});
}

TEST(VnldumpInput, DecodedLinesContinuationsAndOtherRecordsAreSkipped) {
  expectSkipped("[07.12.26 23:59:01,123] PC -> TK: VNL_REGISTER_REQ( LINE_ID: 5 )\r\n");
  expectSkipped("[07.12.26 23:59:01,123] TK -> PC: VNL_REGISTER_CONF( RefID: 1, RESULT: 0 )\r\n");
  expectSkipped("[07.12.26 23:59:01,123] Error: Parameter not complete\r\n");
  expectSkipped("[07.12.26 23:59:01,123] Invalid Message Type: 0xb0\r\n");
  expectSkipped("[07.12.26 23:59:01,123] \r\n");
  // A record without a direction is no raw line, even when it looks like hex.
  expectSkipped("[07.12.26 23:59:01,123] 10 01 00 03\r\n");
  // Windows-1252 text in a decoded line.
  expectSkipped("[07.12.26 23:59:01,123] TK -> PC: VNL_LINEINFO_IND( DEST_ADDRESS: \"M\xe4x\" )\r\n");
  // Continuation lines are indented by 24 blanks, whatever follows.
  expectSkipped("                                    DRIVER_TYPE: 1,\r\n");
  expectSkipped("                        ab cd ef\r\n");
  // Decoded lines without the time prefix.
  expectSkipped("PC -> TK: VNL_REGISTER_REQ( LINE_ID: 5 )");
  expectSkipped("TK -> PC: VNL_NEWCALL_IND( RefID: 7, LINE_ID: 5, CALL_ID: 42, REFCALL_ID: 0 )");
}

TEST(VnldumpInput, EmptyLinesAndCommentsAreSkipped) {
  expectSkipped("");
  expectSkipped("\r\n");
  expectSkipped("   \t ");
  expectSkipped("# REGISTER_REQ for line 5");
  expectSkipped("  # indented comment");
}

TEST(VnldumpInput, LinesThatAreNotHexAreReported) {
  expectBadHex("10 01 0g", "\"0g\"");
  expectBadHex("10 01 0", "odd number");
  expectBadHex("100", "odd number");
  expectBadHex("hello", "\"hello\"");
  expectBadHex("PC -> TK: 10 zz 00", "\"zz\"");
  expectBadHex("0x10 0x01", "\"0x10\"");
  // A raw line inside a record that is cut in the middle of a byte.
  expectBadHex("[07.12.26 23:59:01,123] TK -> PC: 11 01 0", "odd number");
  // A broken time prefix is no record: the line is not hex.
  expectBadHex("[07.12.26 23:59:01] PC -> TK: 10 01 00 03", "[07.12.26");
}

TEST(VnldumpInput, ADirectionWithoutBytesIsAnEmptyMessage) {
  // The decoder then reports the message as shorter than its header.
  expectMessage("PC -> TK: ", Direction::PcToTk, {});
  expectMessage("[07.12.26 23:59:01,123] TK -> PC: ", Direction::TkToPc, {});
}

}  // namespace
