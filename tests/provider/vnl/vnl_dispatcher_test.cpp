// Receiving: decoding checks, dispatch by message type and the invalid types.
#include <gtest/gtest.h>

#include <vector>

#include "provider/vnl/vnl_dispatcher.h"
#include "tests/provider/vnl/trace_recorder.h"
#include "tests/provider/vnl/vnl_test_bytes.h"

namespace {

class VnlDispatcherTest : public ::testing::Test {
 protected:
  VnlDispatcherTest() {
    for (uint8_t type : {vnl::kRegisterConf, vnl::kNewCallInd, vnl::kCallInfoInd})
      dispatcher.SetHandler(type, [this](const vnl::Message& m) { handled.push_back(m); });
  }

  int Receive(const char* hex) {
    std::vector<uint8_t> bytes = vnltest::Bytes(hex);
    return dispatcher.iVnlIntfDecodeMessage(bytes.data(), bytes.size());
  }

  vnltest::TraceRecorder trace;
  bool lineId16 = false;
  kvarsp::VnlDispatcher dispatcher{[this] { return lineId16; }};
  std::vector<vnl::Message> handled;
};

TEST_F(VnlDispatcherTest, AMessageReachesItsHandlerAfterItsRawTraceLine) {
  EXPECT_EQ(Receive("11 04 00 04 D0 02 02 B0"), 1);
  ASSERT_EQ(handled.size(), 1u);
  EXPECT_EQ(handled[0].refId, 4);
  EXPECT_EQ(handled[0].result, 2);
  EXPECT_EQ(handled[0].resultDetails, std::vector<uint8_t>{0xB0});
  EXPECT_EQ(trace.Vnl(), std::vector<std::string>{"TK -> PC: 11 04 00 04 d0 02 02 b0 "});
}

TEST_F(VnlDispatcherTest, TheLineIdWidthFollowsTheProvidersSwitchAtEveryMessage) {
  Receive("60 08 00 04 10 02 01 05");
  lineId16 = true;
  Receive("60 08 00 04 10 02 01 05");
  ASSERT_EQ(handled.size(), 2u);
  EXPECT_EQ(handled[0].lineId, 0x01);
  EXPECT_EQ(handled[1].lineId, 0x0105);
}

TEST_F(VnlDispatcherTest, ACutShortMessageIsStillDispatchedButAShortHeaderIsNot) {
  EXPECT_EQ(Receive("10 01 00"), 0);
  EXPECT_TRUE(handled.empty());
  EXPECT_EQ(trace.Vnl().back(), "Error: Message shorter then predefined Message Header");

  EXPECT_EQ(Receive("68 02 00 09 11 02 00 07 20 01 13 30 05 31"), 1);
  ASSERT_EQ(handled.size(), 1u);
  EXPECT_EQ(handled[0].callId, 7);
  EXPECT_EQ(handled[0].callState, 0x13);
  EXPECT_FALSE(handled[0].Has(vnl::kDestAddress));
  EXPECT_EQ(trace.Vnl().back(), "Error: Parameter Value not complete");
}

TEST_F(VnlDispatcherTest, TypesOutside1To175OrWithoutAHandlerAreInvalid) {
  dispatcher.SetHandler(0x00, [this](const vnl::Message& m) { handled.push_back(m); });
  dispatcher.SetHandler(0xB0, [this](const vnl::Message& m) { handled.push_back(m); });
  EXPECT_EQ(Receive("00 01 00 00"), 1);
  EXPECT_EQ(trace.Vnl().back(), "Invalid Message Type: 0x00");
  EXPECT_EQ(Receive("B0 01 00 00"), 1);
  EXPECT_EQ(trace.Vnl().back(), "Invalid Message Type: 0xb0");
  EXPECT_EQ(Receive("23 01 00 03 D0 01 00"), 1);  // DIAL_CONF: no handler here
  EXPECT_EQ(trace.Vnl().back(), "Invalid Message Type: 0x23");
  EXPECT_TRUE(handled.empty());
}

}  // namespace
