// The provider's send operations: RefIDs, trace lines before sending, and
// refusals by the link or the encoder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "provider/vnl/vnl_sender.h"
#include "tests/provider/vnl/trace_recorder.h"
#include "tests/provider/vnl/vnl_test_bytes.h"

namespace {

using vnltest::Hex;

class FakeLink : public kvarsp::VnlLink {
 public:
  explicit FakeLink(vnltest::TraceRecorder& trace) : trace_(trace) {}
  bool SendBlock(std::span<const uint8_t> message) override {
    sent.emplace_back(message.begin(), message.end());
    traceLinesAtSend.push_back(trace_.Vnl().size());
    return accept;
  }
  bool accept = true;
  std::vector<std::vector<uint8_t>> sent;
  std::vector<size_t> traceLinesAtSend;

 private:
  vnltest::TraceRecorder& trace_;
};

class VnlSenderTest : public ::testing::Test {
 protected:
  vnltest::TraceRecorder trace;
  FakeLink link{trace};
  kvarsp::RefIdAllocator refIds;
  kvarsp::VnlSender sender{link, refIds};
};

TEST_F(VnlSenderTest, RefIdsRunFrom1To255AndTheRequestAfterThatCarries1Again) {
  uint8_t refId = 0;
  for (int i = 1; i <= 255; ++i) {
    ASSERT_EQ(sender.iSendGetAddressListReq(refId), 1);
    ASSERT_EQ(refId, i);
  }
  ASSERT_EQ(sender.iSendGetAddressListReq(refId), 1);
  EXPECT_EQ(refId, 1);
  EXPECT_EQ(Hex(link.sent.back()), "AE 01 00 00");
  for (const auto& message : link.sent) EXPECT_NE(message[1], 0);
}

TEST_F(VnlSenderTest, ResponsesEchoTheIndicationsRefIdWithoutTakingANewOne) {
  const uint8_t detail = 0x80;
  sender.SendNewCallResp(255, std::span(&detail, 1), 7);
  EXPECT_EQ(Hex(link.sent.back()), "61 07 00 04 D0 02 FF 80");
  EXPECT_EQ(trace.Vnl().back(), "PC -> TK: VNL_NEWCALL_RESP( RESULT: 255 ( 128, 0, 0, 0 ))");
  uint8_t refId = 0;
  sender.iSendEndReq(0, refId);
  EXPECT_EQ(refId, 1);
}

TEST_F(VnlSenderTest, TheDecodedLineIsWrittenBeforeTheMessageIsSent) {
  uint8_t refId = 0;
  ASSERT_EQ(sender.iSendRegisterReq(true, 5, refId), 1);
  EXPECT_EQ(Hex(link.sent.back()), "10 01 00 04 10 02 00 05");
  ASSERT_EQ(link.traceLinesAtSend.back(), 1u);
  EXPECT_EQ(trace.Vnl()[0], "PC -> TK: VNL_REGISTER_REQ( LINE_ID: 5 )");

  ASSERT_EQ(sender.iSendSetForwardReq(false, 3, 1, u"0815", refId), 1);
  EXPECT_EQ(trace.Vnl().back(),
            "PC -> TK: VNL_SETFORWARD_REQ( LINE_ID: 3,\n"
            "            FORWARDING_TYPE: 1,\n"
            "            DEST_ADDRESS: \"0815\" )");
}

TEST_F(VnlSenderTest, DestinationsAreConvertedToAnsiAndCut) {
  uint8_t refId = 0;
  ASSERT_EQ(sender.iSendDialReq(0x0102, u"", refId), 1);
  EXPECT_EQ(Hex(link.sent.back()), "22 01 00 06 11 02 01 02 30 00");
  ASSERT_EQ(sender.iSendCallEstablishReq(false, 4, u"", 0, refId), 1);
  EXPECT_EQ(Hex(link.sent.back()), "20 02 00 03 10 01 04");

  ASSERT_EQ(sender.iSendCallEstablishReq(false, 4, std::u16string(300, u'9'), 0, refId), 1);
  const std::vector<uint8_t>& long_ = link.sent.back();
  ASSERT_EQ(long_.size(), 4u + 3u + 2u + 255u);
  EXPECT_EQ(long_[8], 255);

  ASSERT_EQ(sender.iSendRedirectCallReq(1, u"M\u00fcller", refId), 1);
  EXPECT_EQ(Hex(link.sent.back()), "48 04 00 0C 11 02 00 01 30 06 4D FC 6C 6C 65 72");
  EXPECT_EQ(trace.Vnl().back(), "PC -> TK: VNL_REDIRECTCALL_REQ( CALL_ID: 1,\n            DEST_ADDRESS: \"M\u00fcller\" )");
}

TEST_F(VnlSenderTest, ARefusedSendOrAFullMessageFails) {
  uint8_t refId = 0;
  link.accept = false;
  EXPECT_EQ(sender.iSendDisconnectReq(9, refId), 0);
  EXPECT_EQ(link.sent.size(), 1u);

  link.accept = true;
  std::vector<vnl::Param> params(70, vnl::Param::Text(vnl::kDestAddress, std::string(255, 'x')));
  EXPECT_EQ(sender.iVnlIntfBuildAndSend(false, vnl::kDialReq, refId, params), 0);
  EXPECT_EQ(link.sent.size(), 1u);
}

}  // namespace
