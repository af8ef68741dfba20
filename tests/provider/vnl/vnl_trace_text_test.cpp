// The protocol trace's decoded lines for each kind of VNL message.
#include <gtest/gtest.h>

#include <string>

#include "provider/vnl/codec/vnl_decoder.h"
#include "provider/vnl/codec/vnl_trace_text.h"
#include "tests/provider/vnl/vnl_test_bytes.h"

namespace {

std::string TraceOf(const char* hex, bool lineId16 = false) {
  vnl::Message m;
  vnl::DecodeMessage(vnltest::Bytes(hex), lineId16, m, nullptr);
  return vnl::DecodedTraceText(m);
}

TEST(VnlTraceText, RequestsNameEveryParameter) {
  EXPECT_EQ(TraceOf("10 01 00 03 10 01 05"), "PC -> TK: VNL_REGISTER_REQ( LINE_ID: 5 )");
  EXPECT_EQ(TraceOf("AE 02 00 00"), "PC -> TK: VNL_GETADDRESSLIST_REQ()");
  EXPECT_EQ(TraceOf("00 01 00 0A 00 01 02 01 01 03 02 03 41 42 43"),
            "PC -> TK: VNL_START_REQ( LINK_PROTOCOL_VERSION: 0x02,\n"
            "            DRIVER_TYPE: 3,\n"
            "            MANUFACTURER_INFO: \"ABC\" )");
  EXPECT_EQ(TraceOf("42 03 00 0B 10 01 04 43 02 00 07 42 01 01"),
            "PC -> TK: VNL_UNPARKCALL_REQ( LINE_ID: 4,\n"
            "            PARK_ADDRESS: 7,\n"
            "            CALL_OPTIONS: 0x01 )");
  EXPECT_EQ(TraceOf("22 04 00 06 11 02 12 34 30 00"),
            "PC -> TK: VNL_DIAL_REQ( CALL_ID: 4660,\n            DEST_ADDRESS: \"\" )");
}

TEST(VnlTraceText, ConfirmationsCarryRefIdResultDetailsAndTheirFields) {
  EXPECT_EQ(TraceOf("11 01 00 03 D0 01 00"), "TK -> PC: VNL_REGISTER_CONF( RefID: 1, RESULT: 0 )");
  EXPECT_EQ(TraceOf("11 01 00 05 D0 03 02 B0 07"),
            "TK -> PC: VNL_REGISTER_CONF( RefID: 1, RESULT: 2 ( 176, 7, 0, 0 ))");
  EXPECT_EQ(TraceOf("21 09 00 07 D0 01 00 11 02 00 2A"),
            "TK -> PC: VNL_CALLESTABLISH_CONF( RefID: 9, RESULT: 0, CALL_ID: 42 )");
  EXPECT_EQ(TraceOf("41 09 00 08 D0 02 03 01 43 02 01 00"),
            "TK -> PC: VNL_PARKCALL_CONF( RefID: 9, RESULT: 3 ( 1, 0, 0, 0 ), PARK_ADDRESS: 256 )");
  EXPECT_EQ(TraceOf("A3 05 00 10 D0 01 00 11 04 00 01 00 02 52 01 10 30 02 32 31"),
            "TK -> PC: VNL_GETLINEINFO_CONF( RefID: 5, RESULT: 0, CALL_ID: 1, 2,\n"
            "            LINE_STATE: 16, DEST_ADDRESS: \"21\" )");
  EXPECT_EQ(TraceOf("AD 04 00 0B D0 01 00 0A 02 01 FF 0B 01 7E"),
            "TK -> PC: VNL_GETCTICAPS_CONF( 4, 0x0, 0x0, 0x0, \"01 ff \", \"7e \" )");
}

TEST(VnlTraceText, ResponsesAndIndications) {
  EXPECT_EQ(TraceOf("61 07 00 03 D0 01 00"), "PC -> TK: VNL_NEWCALL_RESP( RESULT: 0 )");
  EXPECT_EQ(TraceOf("61 07 00 04 D0 02 FF 80"), "PC -> TK: VNL_NEWCALL_RESP( RESULT: 255 ( 128, 0, 0, 0 ))");
  EXPECT_EQ(TraceOf("60 07 00 0B 10 01 03 11 02 00 05 14 02 00 04"),
            "TK -> PC: VNL_NEWCALL_IND( RefID: 7, LINE_ID: 3, CALL_ID: 5, REFCALL_ID: 4 )");
  EXPECT_EQ(TraceOf("06 02 00 03 0F 01 10"), "TK -> PC: VNL_END_IND( RefID: 2, CAUSE: 16 )");
  EXPECT_EQ(TraceOf("0E 02 00 04 D0 02 05 06"), "TK -> PC: VNL_FAILURE_IND( RefID: 2, RESULT: 5 ( 6, 0, 0, 0 ))");
  EXPECT_EQ(TraceOf("6A 02 00 0A 10 01 03 52 01 10 30 02 32 31"),
            "TK -> PC: VNL_LINEINFO_IND( RefID: 2, LINE_ID: 3, LINE_STATE: 0x10, DEST_ADDRESS: \"21\" )");
}

TEST(VnlTraceText, CallInfoListsEveryFieldWithAbsentOnesEmptyOrZero) {
  EXPECT_EQ(TraceOf("68 03 00 0B 11 02 00 11 20 01 13 32 02 32 32"),
            "TK -> PC: VNL_CALLINFO_IND( RefID: 3,\n"
            "            CALL_ID: 17,\n"
            "            CALL_STATE: \"connected\",\n"
            "            DEST_ADDRESS: \"\",\n"
            "            ORIG_ADDRESS: \"22\",\n"
            "            ORIG_ADDRESS_TYPE: 0,\n"
            "            CONNECTED_ADDRESS: \"\",\n"
            "            CONNECTED_ADDRESS_TYPE: 0,\n"
            "            REDIRECTING_ADDRESS: \"\",\n"
            "            REDIRECTING_ADDRESS_TYPE: 0,\n"
            "            CALL_TYPE: 255,\n"
            "            CAUSE: 0,\n"
            "            CALL_REASON: 0,\n"
            "            EXTERNAL_ADDRESS: \"\",\n"
            "            REDIRECTION_ADDRESS: \"\",\n"
            "            REDIRECTION_ADDRESS_TYPE: 0 )");
}

TEST(VnlTraceText, RawLinesAndUndefinedTypes) {
  EXPECT_EQ(vnl::RawTraceLine(true, vnltest::Bytes("10 01 00 03 10 01 05")), "PC -> TK: 10 01 00 03 10 01 05 ");
  EXPECT_EQ(vnl::RawTraceLine(false, vnltest::Bytes("ae")), "TK -> PC: ae ");
  EXPECT_EQ(TraceOf("B0 01 00 00"), "");
  EXPECT_EQ(vnl::InvalidMessageTypeText(0xB0), "Invalid Message Type: 0xb0");
}

}  // namespace
