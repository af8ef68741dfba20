// The service's message format: the bytes of one message of every value
// kind, values round-trip, a reader refuses what does not hold (one table),
// the splitter cuts streams at any split and refuses broken ones, and events
// round-trip with and without an attachment.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tapi/wire/tapi_functions.h"
#include "tapi/wire/tapi_wire.h"

namespace {

using tapiwire::Kind;
using Bytes = std::vector<uint8_t>;

Bytes Sample() {
  const Bytes block{0xAA, 0xBB};
  return tapiwire::Writer(Kind::Request, 7)
      .u32(0x11223344)
      .u64(0x0102030405060708ull)
      .bytes(std::span<const uint8_t>(block))
      .bytes(std::nullopt)
      .text(u"\u00e9x")
      .text(std::nullopt)
      .finish();
}

TEST(TapiWire, MessageBytesAreExact) {
  const Bytes expected{
      0x34, 0, 0, 0, 1, 0, 0, 0, 7, 0, 0, 0,            // length 52, request, sequence 7
      1, 0x44, 0x33, 0x22, 0x11,                        // u32
      2, 8, 7, 6, 5, 4, 3, 2, 1,                        // u64
      3, 2, 0, 0, 0, 0xAA, 0xBB,                        // bytes
      3, 0xFF, 0xFF, 0xFF, 0xFF,                        // null bytes
      4, 2, 0, 0, 0, 0xE9, 0x00, 'x', 0x00,             // text
      4, 0xFF, 0xFF, 0xFF, 0xFF,                        // null text
  };
  EXPECT_EQ(Sample(), expected);
}

TEST(TapiWire, ValuesRoundTrip) {
  const Bytes m = Sample();
  auto r = tapiwire::Reader::open(m);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->kind(), Kind::Request);
  EXPECT_EQ(r->sequence(), 7u);
  EXPECT_EQ(r->u32(), 0x11223344u);
  EXPECT_EQ(r->u64(), 0x0102030405060708ull);
  EXPECT_EQ(r->bytes(), (Bytes{0xAA, 0xBB}));
  EXPECT_EQ(r->bytes(), std::nullopt);
  EXPECT_EQ(r->text(), std::u16string(u"\u00e9x"));
  EXPECT_EQ(r->text(), std::nullopt);
  EXPECT_TRUE(r->ok());
  EXPECT_TRUE(r->atEnd());
}

TEST(TapiWire, ReaderRefusesWhatDoesNotHold) {
  auto withLength = [](Bytes m) {
    const auto n = static_cast<uint32_t>(m.size());
    for (int i = 0; i < 4; ++i) m[i] = static_cast<uint8_t>(n >> (8 * i));
    return m;
  };
  const Bytes header{0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
  auto body = [&](Bytes values) {
    Bytes m = header;
    m.insert(m.end(), values.begin(), values.end());
    return withLength(m);
  };
  // read: the value the reader is asked for ('u' u32, 'b' bytes, 't' text).
  struct Case {
    const char* what;
    Bytes message;
    bool opens;
    char read;
  };
  Bytes longer = body({1, 0, 0, 0, 0});
  longer[0] += 1;
  Bytes unknownKind = body({});
  unknownKind[4] = 9;
  const Case cases[] = {
      {"shorter than a header", {1, 2, 3}, false, 'u'},
      {"length disagrees", longer, false, 'u'},
      {"unknown kind", unknownKind, false, 'u'},
      {"no value left", body({}), true, 'u'},
      {"wrong tag", body({2, 0, 0, 0, 0}), true, 'u'},
      {"u32 cut short", body({1, 0, 0}), true, 'u'},
      {"bytes count past the end", body({3, 9, 0, 0, 0, 1}), true, 'b'},
      {"text count past the end", body({4, 2, 0, 0, 0, 'a', 0}), true, 't'},
  };
  for (const Case& c : cases) {
    auto r = tapiwire::Reader::open(c.message);
    EXPECT_EQ(r.has_value(), c.opens) << c.what;
    if (!r) continue;
    if (c.read == 'u') r->u32();
    if (c.read == 'b') r->bytes();
    if (c.read == 't') r->text();
    EXPECT_FALSE(r->ok()) << c.what;
    EXPECT_EQ(r->u32(), 0u) << c.what << ": failures are sticky";
  }
}

TEST(TapiWire, WriterRefusesMoreThanTheLimits) {
  tapiwire::Writer many(Kind::Reply, 1);
  for (uint32_t i = 0; i <= tapiwire::kMaxValues; ++i) many.u32(i);
  EXPECT_TRUE(many.finish().empty());
  const Bytes big(tapiwire::kMaxMessageSize, 0);
  EXPECT_TRUE(tapiwire::Writer(Kind::Reply, 1).bytes(std::span<const uint8_t>(big)).finish().empty());
}

TEST(TapiWire, SplitterCutsAStreamAtEverySplit) {
  Bytes stream = Sample();
  const Bytes second = tapiwire::Writer(Kind::Reply, 8).u32(1).finish();
  stream.insert(stream.end(), second.begin(), second.end());
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    tapiwire::Splitter s;
    ASSERT_TRUE(s.feed(std::span<const uint8_t>(stream).first(cut)));
    ASSERT_TRUE(s.feed(std::span<const uint8_t>(stream).subspan(cut)));
    EXPECT_EQ(s.next(), Sample()) << cut;
    EXPECT_EQ(s.next(), second) << cut;
    EXPECT_EQ(s.next(), std::nullopt);
    EXPECT_EQ(s.pending(), 0u);
  }
}

TEST(TapiWire, SplitterRefusesBrokenStreamsForGood) {
  const Bytes lengths[] = {
      {4, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0},        // below the header
      {0, 0, 0x20, 0, 1, 0, 0, 0, 0, 0, 0, 0},     // above the maximum
      {12, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0},       // unknown kind
  };
  for (const Bytes& b : lengths) {
    tapiwire::Splitter s;
    EXPECT_FALSE(s.feed(b));
    EXPECT_TRUE(s.broken());
    EXPECT_FALSE(s.feed(Sample()));
    EXPECT_EQ(s.next(), std::nullopt);
  }
}

TEST(TapiWire, EventsRoundTrip) {
  tapiwire::EventMessage e;
  e.hDevice = 0x10002;
  e.messageId = 2;
  e.callbackInstance = 0xFEDCBA9876543210ull;
  e.param1 = 4;
  e.param2 = 0x80000000ull;
  e.param3 = 1;
  EXPECT_EQ(tapiwire::decodeEvent(tapiwire::encodeEvent(e)), e);
  e.attachment = Bytes{1, 2, 3};
  EXPECT_EQ(tapiwire::decodeEvent(tapiwire::encodeEvent(e)), e);
  EXPECT_EQ(tapiwire::decodeEvent(Sample()), std::nullopt) << "a request is no event";
}

TEST(TapiWire, FunctionNames) {
  EXPECT_EQ(tapiwire::functionName(static_cast<uint32_t>(tapiwire::Function::MakeCall)), "MakeCall");
  EXPECT_EQ(tapiwire::functionName(999), "function 999");
}

}  // namespace
