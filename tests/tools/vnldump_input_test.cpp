// The line reader of vnldump: which lines of hex dumps and trace files hold
// a message, and which bytes.
#include <gtest/gtest.h>

#include "tools/vnldump_input.h"

namespace {

using vnldump::Direction;
using vnldump::InputLine;
using vnldump::ParseInputLine;
using Bytes = std::vector<uint8_t>;
using Kind = InputLine::Kind;

const Bytes kRegisterReq = {0x10, 0x01, 0x00, 0x03, 0x10, 0x01, 0x05};

TEST(VnldumpInput, EachKindOfLineGivesItsMessageOrItsReason) {
  constexpr auto kUnknown = Direction::Unknown, kPcToTk = Direction::PcToTk, kTkToPc = Direction::TkToPc;
  const struct {
    std::string_view line;
    Kind kind;
    Direction direction;  // of a Message
    Bytes bytes;
    std::string_view error;  // part of the reason of a BadHex line
  } cases[] = {
      // Plain hex with or without blanks, in any case.
      {"10 01 00 03 10 01 05", Kind::Message, kUnknown, kRegisterReq, ""},
      {"10010003100105", Kind::Message, kUnknown, kRegisterReq, ""},
      {"1001 0003 100105", Kind::Message, kUnknown, kRegisterReq, ""},
      {"  10 01 00 03 10 01 05  \r\n", Kind::Message, kUnknown, kRegisterReq, ""},
      {"61 07 00 04 D0 02 FF 80", Kind::Message, kUnknown, {0x61, 0x07, 0x00, 0x04, 0xD0, 0x02, 0xFF, 0x80}, ""},
      {"d0\tFf", Kind::Message, kUnknown, {0xD0, 0xFF}, ""},
      // Raw trace lines keep their direction, also inside a trace file record.
      {"PC -> TK: 10 01 00 03 10 01 05 ", Kind::Message, kPcToTk, kRegisterReq, ""},
      {"TK -> PC: 11 01 00 03 d0 01 00 \r\n", Kind::Message, kTkToPc, {0x11, 0x01, 0x00, 0x03, 0xD0, 0x01, 0x00}, ""},
      {"PC -> TK: 10010003100105", Kind::Message, kPcToTk, kRegisterReq, ""},
      {"[07.12.26 23:59:01,123] PC -> TK: 10 01 00 03 10 01 05 \r\n", Kind::Message, kPcToTk, kRegisterReq, ""},
      {"[31.01.00 00:00:00,000] TK -> PC: ae 02 00 00 ", Kind::Message, kTkToPc, {0xAE, 0x02, 0x00, 0x00}, ""},
      // A direction without bytes is an empty message (the decoder reports it
      // as shorter than its header).
      {"PC -> TK: ", Kind::Message, kPcToTk, {}, ""},
      {"[07.12.26 23:59:01,123] TK -> PC: ", Kind::Message, kTkToPc, {}, ""},
      // Decoded lines, continuations and other records are skipped.
      {"[07.12.26 23:59:01,123] PC -> TK: VNL_REGISTER_REQ( LINE_ID: 5 )\r\n", Kind::Skipped, kUnknown, {}, ""},
      {"[07.12.26 23:59:01,123] TK -> PC: VNL_REGISTER_CONF( RefID: 1, RESULT: 0 )\r\n", Kind::Skipped, kUnknown, {}, ""},
      {"[07.12.26 23:59:01,123] Error: Parameter not complete\r\n", Kind::Skipped, kUnknown, {}, ""},
      {"[07.12.26 23:59:01,123] Invalid Message Type: 0xb0\r\n", Kind::Skipped, kUnknown, {}, ""},
      {"[07.12.26 23:59:01,123] \r\n", Kind::Skipped, kUnknown, {}, ""},
      // A record without a direction is no raw line, even when it looks like hex.
      {"[07.12.26 23:59:01,123] 10 01 00 03\r\n", Kind::Skipped, kUnknown, {}, ""},
      // Windows-1252 text in a decoded line.
      {"[07.12.26 23:59:01,123] TK -> PC: VNL_LINEINFO_IND( DEST_ADDRESS: \"M\xe4x\" )\r\n", Kind::Skipped, kUnknown,
       {}, ""},
      // Continuation lines are indented by 24 blanks, whatever follows.
      {"                                    DRIVER_TYPE: 1,\r\n", Kind::Skipped, kUnknown, {}, ""},
      {"                        ab cd ef\r\n", Kind::Skipped, kUnknown, {}, ""},
      // Decoded lines without the time prefix.
      {"PC -> TK: VNL_REGISTER_REQ( LINE_ID: 5 )", Kind::Skipped, kUnknown, {}, ""},
      {"TK -> PC: VNL_NEWCALL_IND( RefID: 7, LINE_ID: 5, CALL_ID: 42, REFCALL_ID: 0 )", Kind::Skipped, kUnknown, {}, ""},
      // Empty lines and comments.
      {"", Kind::Skipped, kUnknown, {}, ""},
      {"\r\n", Kind::Skipped, kUnknown, {}, ""},
      {"   \t ", Kind::Skipped, kUnknown, {}, ""},
      {"# REGISTER_REQ for line 5", Kind::Skipped, kUnknown, {}, ""},
      {"  # indented comment", Kind::Skipped, kUnknown, {}, ""},
      // Lines that are not hex are reported.
      {"10 01 0g", Kind::BadHex, kUnknown, {}, "\"0g\""},
      {"10 01 0", Kind::BadHex, kUnknown, {}, "odd number"},
      {"100", Kind::BadHex, kUnknown, {}, "odd number"},
      {"hello", Kind::BadHex, kUnknown, {}, "\"hello\""},
      {"PC -> TK: 10 zz 00", Kind::BadHex, kUnknown, {}, "\"zz\""},
      {"0x10 0x01", Kind::BadHex, kUnknown, {}, "\"0x10\""},
      // A raw line inside a record that is cut in the middle of a byte.
      {"[07.12.26 23:59:01,123] TK -> PC: 11 01 0", Kind::BadHex, kUnknown, {}, "odd number"},
      // A broken time prefix is no record: the line is not hex.
      {"[07.12.26 23:59:01] PC -> TK: 10 01 00 03", Kind::BadHex, kUnknown, {}, "[07.12.26"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    InputLine in = ParseInputLine(c.line);
    EXPECT_EQ(in.kind, c.kind) << in.error;
    if (c.kind == Kind::Message) {
      EXPECT_EQ(in.direction, c.direction);
    }
    EXPECT_EQ(in.bytes, c.bytes);
    if (c.kind == Kind::BadHex) {
      EXPECT_NE(in.error.find(c.error), std::string::npos) << in.error;
    }
  }
}

}  // namespace
