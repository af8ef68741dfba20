// Wire format of VNL messages: building, decoding and the decoder's checks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "provider/vnl/codec/vnl_decoder.h"
#include "provider/vnl/codec/vnl_encoder.h"
#include "tests/provider/vnl/vnl_test_bytes.h"

namespace {

using vnltest::Bytes;
using vnltest::Hex;

std::string Encoded(const vnl::Message& m, bool lineId16 = false) {
  std::vector<uint8_t> out;
  EXPECT_EQ(vnl::EncodeMessage(m, lineId16, out), vnl::BuildStatus::Ok);
  return Hex(out);
}

struct Decoded {
  vnl::Message message;
  vnl::DecodeResult result;
  std::vector<std::string> errors;
};

Decoded Decode(const std::vector<uint8_t>& bytes, bool lineId16 = false) {
  Decoded d;
  d.result = vnl::DecodeMessage(bytes, lineId16, d.message,
                                [&](std::string_view text) { d.errors.emplace_back(text); });
  return d;
}

TEST(VnlEncoder, RequestsHaveTheExactBytesOfTheProtocol) {
  vnl::Message reg;
  reg.type = vnl::kRegisterReq;
  reg.refId = 1;
  reg.lineId = 5;
  EXPECT_EQ(Encoded(reg), "10 01 00 03 10 01 05");
  EXPECT_EQ(Encoded(reg, true), "10 01 00 04 10 02 00 05");

  vnl::Message list;
  list.type = vnl::kGetAddressListReq;
  list.refId = 2;
  EXPECT_EQ(Encoded(list), "AE 02 00 00");

  vnl::Message resp;
  resp.type = vnl::kNewCallResp;
  resp.refId = 7;
  EXPECT_EQ(Encoded(resp), "61 07 00 03 D0 01 00");
  resp.result = 255;
  resp.resultDetails = {0x80};
  EXPECT_EQ(Encoded(resp), "61 07 00 04 D0 02 FF 80");
}

TEST(VnlEncoder, OptionalParametersAreLeftOutWhenEmptyButAlwaysParametersAreNot) {
  vnl::Message establish;
  establish.type = vnl::kCallEstablishReq;
  establish.refId = 3;
  establish.lineId = 9;
  EXPECT_EQ(Encoded(establish), "20 03 00 03 10 01 09");
  establish.destAddress = "12";
  establish.callOptions = 1;
  EXPECT_EQ(Encoded(establish), "20 03 00 0A 10 01 09 30 02 31 32 42 01 01");

  vnl::Message dial;
  dial.type = vnl::kDialReq;
  dial.refId = 4;
  dial.callId = 0x1234;
  EXPECT_EQ(Encoded(dial), "22 04 00 06 11 02 12 34 30 00");

  vnl::Message start;
  start.type = vnl::kStartReq;
  start.refId = 1;
  start.linkProtocolVersion = 2;
  EXPECT_EQ(Encoded(start), "00 01 00 03 00 01 02");
}

TEST(VnlEncoder, TextsAreCutTo255BytesAndResultDetailsTo19) {
  vnl::Message dial;
  dial.type = vnl::kDialReq;
  dial.destAddress = std::string(300, '7');
  std::vector<uint8_t> out;
  ASSERT_EQ(vnl::EncodeMessage(dial, false, out), vnl::BuildStatus::Ok);
  ASSERT_EQ(out.size(), 4u + 4u + 2u + 255u);
  EXPECT_EQ(out[8], 0x30);
  EXPECT_EQ(out[9], 255);

  vnl::Param result = vnl::Param::Result(1, std::vector<uint8_t>(30, 0xEE));
  ASSERT_EQ(vnl::BuildMessage(vnl::kEndResp, 9, std::span(&result, 1), out), vnl::BuildStatus::Ok);
  EXPECT_EQ(out[5], 20);  // result byte + 19 details
  EXPECT_EQ(out.size(), 4u + 2u + 20u);
}

TEST(VnlEncoder, AMessageThatWouldNotKeepTenBytesFreeIsRefused) {
  // Long-form octets fill the area: value + 10 must stay within 16384.
  std::vector<uint8_t> out;
  vnl::Param fits = vnl::Param::Octets(vnl::kMsnList, std::vector<uint8_t>(16384 - 10));
  EXPECT_EQ(vnl::BuildMessage(vnl::kGetAddressListConf, 1, std::span(&fits, 1), out), vnl::BuildStatus::Ok);
  vnl::Param tooLong = vnl::Param::Octets(vnl::kMsnList, std::vector<uint8_t>(16384 - 9));
  EXPECT_EQ(vnl::BuildMessage(vnl::kGetAddressListConf, 1, std::span(&tooLong, 1), out), vnl::BuildStatus::Full);
  EXPECT_TRUE(out.empty());

  // The area counts every parameter written before.
  std::vector<vnl::Param> params(70, vnl::Param::Text(vnl::kDestAddress, std::string(255, 'x')));
  EXPECT_EQ(vnl::BuildMessage(vnl::kDialReq, 1, params, out), vnl::BuildStatus::Full);
}

TEST(VnlDecoder, ReceivedWidthsOfCallIdAndLineId) {
  Decoded one = Decode(Bytes("21 05 00 06 D0 01 00 11 01 2A"));
  EXPECT_EQ(one.message.callId, 0x2A);
  EXPECT_TRUE(one.message.callIds.empty());

  Decoded two = Decode(Bytes("21 05 00 07 D0 01 00 11 02 01 02"));
  EXPECT_EQ(two.message.callId, 0x0102);

  Decoded list = Decode(Bytes("A3 05 00 0A D0 01 00 11 05 00 01 00 02 07"));
  EXPECT_EQ(list.message.callIds, (std::vector<uint16_t>{1, 2}));
  EXPECT_EQ(list.message.callId, 1);

  const auto newCall = Bytes("60 08 00 04 10 02 01 05");
  EXPECT_EQ(Decode(newCall, false).message.lineId, 0x01);
  EXPECT_EQ(Decode(newCall, true).message.lineId, 0x0105);

  Decoded empty = Decode(Bytes("60 08 00 04 10 00 11 00"));
  EXPECT_EQ(empty.message.lineId, 0);
  EXPECT_EQ(empty.message.callId, 0);
  EXPECT_TRUE(empty.message.Has(vnl::kLineId));
}

TEST(VnlDecoder, ChargingInfoAmountsExponentsAndCurrency) {
  auto charging = [](const char* value) {
    std::vector<uint8_t> bytes = Bytes(value);
    std::vector<uint8_t> message = {vnl::kCallInfoInd, 1, 0, static_cast<uint8_t>(bytes.size() + 2), 0x80,
                                    static_cast<uint8_t>(bytes.size())};
    message.insert(message.end(), bytes.begin(), bytes.end());
    return Decode(message).message;
  };
  vnl::Message plain = charging("00 01 00 00");
  EXPECT_TRUE(plain.Has(vnl::kChargingInfo));
  EXPECT_DOUBLE_EQ(plain.charging.Value(), 256.0);

  EXPECT_DOUBLE_EQ(charging("00 01 00 00 00").charging.Value(), 0.256);

  vnl::Message euro = charging("E2 04 00 00 00 45 55 52");
  EXPECT_EQ(euro.charging.amount, 1250u);
  EXPECT_EQ(euro.charging.currency, "EUR");
  EXPECT_DOUBLE_EQ(euro.charging.Value(), 1.25);

  EXPECT_FALSE(charging("01 02 03").Has(vnl::kChargingInfo));
}

TEST(VnlDecoder, ShortAndTruncatedMessages) {
  Decoded tooShort = Decode(Bytes("10 01 00"));
  EXPECT_FALSE(tooShort.result.headerComplete);
  EXPECT_EQ(tooShort.errors, std::vector<std::string>{"Error: Message shorter then predefined Message Header"});

  // CALL_ID decodes, the cut-short CALL_STATE after it does not.
  Decoded cut = Decode(Bytes("68 02 00 08 11 02 00 07 20 03 13"));
  EXPECT_TRUE(cut.result.headerComplete);
  EXPECT_EQ(cut.message.callId, 7);
  EXPECT_FALSE(cut.message.Has(vnl::kCallState));
  EXPECT_EQ(cut.errors, std::vector<std::string>{"Error: Parameter Value not complete"});

  // A declared length beyond the bytes: the next parameter has no header.
  Decoded noHeader = Decode(Bytes("68 02 00 08 11 02 00 07 20"));
  EXPECT_EQ(noHeader.errors, std::vector<std::string>{"Error: Parameter not complete"});

  // A long-form parameter needs three header bytes.
  Decoded longHeader = Decode(Bytes("AF 02 00 05 D0 01 00 0C 00"));
  EXPECT_EQ(longHeader.errors, std::vector<std::string>{"Error: Parameter not complete"});
  Decoded longValue = Decode(Bytes("AF 02 00 08 D0 01 00 0C 00 05 01 02"));
  EXPECT_EQ(longValue.errors, std::vector<std::string>{"Error: Parameter Value not complete"});
  EXPECT_FALSE(longValue.message.Has(vnl::kLineList));
}

TEST(VnlDecoder, UnknownParameterTypesAreSkippedAndBytesBehindTheAreaIgnored) {
  Decoded d = Decode(Bytes("62 04 00 08 77 02 AA BB 11 02 00 09 FF FF"));
  EXPECT_EQ(d.errors, std::vector<std::string>{"Invalid parameter type: 0x77"});
  EXPECT_EQ(d.message.callId, 9);
  EXPECT_EQ(d.result.errors, 1);
}

TEST(VnlDecoder, TextsAbsentValuesAndSecondCodes) {
  Decoded d = Decode(Bytes("68 01 00 0F 30 00 33 02 41 42 38 01 43 45 01 04 39 01 05"));
  EXPECT_TRUE(d.errors.empty());
  EXPECT_FALSE(d.message.Has(vnl::kDestAddress));
  EXPECT_EQ(d.message.redirectingAddress, "C");  // the later code wins
  EXPECT_EQ(d.message.redirectingAddressType, 5);
  EXPECT_TRUE(d.message.Has(vnl::kRedirectingAddressType));
  EXPECT_EQ(d.message.callType, 255);
  EXPECT_FALSE(d.message.Has(vnl::kCause));
  EXPECT_EQ(d.message.cause, 0);

  Decoded result = Decode(Bytes("11 03 00 02 D0 00"));
  EXPECT_EQ(result.message.result, 0);
  EXPECT_TRUE(result.message.resultDetails.empty());
}

TEST(VnlCodec, IndicationsAndConfirmationsSurviveARoundTrip) {
  vnl::Message info;
  info.type = vnl::kCallInfoInd;
  info.refId = 0x33;
  info.callId = 0x1234;
  info.callState = 0x13;
  info.origAddress = "0301234";
  info.origAddressType = 4;
  info.callType = 1;
  info.cause = 0x14;
  info.charging = vnl::Charging{1250, 0, "EUR"};
  for (uint8_t t : {vnl::kCallId, vnl::kCallState, vnl::kOrigAddress, vnl::kOrigAddressType, vnl::kCallType,
                    vnl::kCause, vnl::kChargingInfo})
    info.Set(t);
  std::vector<uint8_t> bytes;
  ASSERT_EQ(vnl::EncodeMessage(info, false, bytes), vnl::BuildStatus::Ok);
  Decoded back = Decode(bytes);
  EXPECT_TRUE(back.errors.empty());
  EXPECT_EQ(back.message.present, info.present);
  EXPECT_EQ(back.message.callId, 0x1234);
  EXPECT_EQ(back.message.origAddress, "0301234");
  EXPECT_EQ(back.message.charging.currency, "EUR");
  EXPECT_EQ(back.message.callType, 1);

  vnl::Message lines;
  lines.type = vnl::kGetLineInfoConf;
  lines.callIds = {3, 0x0104};
  lines.Set(vnl::kCallId);
  ASSERT_EQ(vnl::EncodeMessage(lines, false, bytes), vnl::BuildStatus::Ok);
  EXPECT_EQ(Hex(bytes), "A3 00 00 09 D0 01 00 11 04 00 03 01 04");

  vnl::Message list;
  list.type = vnl::kGetAddressListConf;
  list.lineList = {0x00, 0x21};
  list.lineList16 = true;
  list.Set(vnl::kLineList16);
  ASSERT_EQ(vnl::EncodeMessage(list, false, bytes), vnl::BuildStatus::Ok);
  EXPECT_EQ(Hex(bytes), "AF 00 00 08 D0 01 00 0E 00 02 00 21");
  EXPECT_TRUE(Decode(bytes).message.lineList16);
}

}  // namespace
