#include "discovery/discovery_core.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace discovery;

TEST(DiscoveryCore, RecognisesAnswers) {
  const std::string answer(kAnswerText);
  const struct {
    std::string datagram;
    bool isAnswer;
  } rows[] = {
      {answer + "127.0.0.1", true},
      {"TK-Anlage " + answer, true},                       // after other bytes
      {answer.substr(0, 34), false},                       // one short
      {std::string(kRequestText), false},                  // our own request
      {std::string("x\0", 2) + answer, false},             // the text ends at the zero
      {std::string(220, 'x') + answer, true},               // ends at byte 255
      {std::string(221, 'x') + answer, false},              // ends past the 255 bytes read
      {std::string(200, 'x') + answer + std::string(900, 'y'), true},  // long datagrams are cut, not refused
  };
  for (const auto& row : rows) EXPECT_EQ(isAnswer(row.datagram), row.isAnswer) << row.datagram.substr(0, 40);
  EXPECT_EQ(kRequestText.size(), 29u);
  EXPECT_EQ(kAnswerText.size(), 35u);
}

TEST(DiscoveryCore, NormalisesAddressesLikeTheSocketInterface) {
  const struct {
    const char* text;
    uint32_t address;
    const char* normalised;
  } rows[] = {
      {"192.168.1.25", 0xC0A80119, "192.168.1.25"},
      {"", 0xFFFFFFFF, "255.255.255.255"},
      {"router", 0xFFFFFFFF, "255.255.255.255"},
      {"256.1.1.1", 0xFFFFFFFF, "255.255.255.255"},
      {"10.1", 0x0A000001, "10.0.0.1"},
      {"0x7f.1", 0x7F000001, "127.0.0.1"},
      {"192.168.001.010", 0xC0A80108, "192.168.1.8"},  // octal parts
      {"0.0.0.0", 0, "0.0.0.0"},
      {"4294967294", 0xFFFFFFFE, "255.255.255.254"},   // one part: all 32 bits
      {"10.65536", 0x0A010000, "10.1.0.0"},              // two parts: the last one 24 bits
      {"10.16777216", 0xFFFFFFFF, "255.255.255.255"},
      {"10.1.65535", 0x0A01FFFF, "10.1.255.255"},
      {"1.2.3.4.5", 0xFFFFFFFF, "255.255.255.255"},
      {"1.2.3.", 0xFFFFFFFF, "255.255.255.255"},
      {"08.1.1.1", 0xFFFFFFFF, "255.255.255.255"},      // 8 is no octal digit
      {"0XA.0.0.1", 0x0A000001, "10.0.0.1"},
      {"1.2.3.4 junk", 0x01020304, "1.2.3.4"},          // blanks end the address
      {"1.2.3.4junk", 0xFFFFFFFF, "255.255.255.255"},
      {"4294967296", 0xFFFFFFFF, "255.255.255.255"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(parseAddress(row.text), row.address) << row.text;
    EXPECT_EQ(normaliseAddress(row.text), row.normalised) << row.text;
  }
  EXPECT_EQ(addressFromOctets(192, 168, 1, 2), 0xC0A80102u);
  EXPECT_EQ(octet(0xC0A80102, 0), 192);
  EXPECT_EQ(octet(0xC0A80102, 3), 2);
}

TEST(DiscoveryCore, ChecksOctets) {
  const struct {
    const char* text;
    OctetCheck check;
    int value;
  } rows[] = {
      {"0", OctetCheck::Ok, 0},           {"255", OctetCheck::Ok, 255},
      {" 17 ", OctetCheck::Ok, 17},       {"+8", OctetCheck::Ok, 8},
      {"256", OctetCheck::OutOfRange, 0}, {"-1", OctetCheck::OutOfRange, 0},
      {"99999999999999999999", OctetCheck::OutOfRange, 0},
      {"", OctetCheck::NotNumber, 0},     {"1a", OctetCheck::NotNumber, 0},
      {"-", OctetCheck::NotNumber, 0},    {"1 2", OctetCheck::NotNumber, 0},
  };
  for (const auto& row : rows) {
    const OctetValue parsed = parseOctet(row.text);
    EXPECT_EQ(parsed.check, row.check) << row.text;
    if (row.check == OctetCheck::Ok) {
      EXPECT_EQ(parsed.value, row.value) << row.text;
    }
  }
}

TEST(DiscoveryCore, SearchTargetNeverFallsBackToBroadcast) {
  using Kind = SearchTarget::Kind;
  const struct {
    const char* setting;
    Kind kind;
    const char* bind;
    const char* send;
  } rows[] = {
      {nullptr, Kind::Broadcast, "0.0.0.0", "255.255.255.255"},
      {"127.0.0.2", Kind::Loopback, "127.0.0.1", "127.0.0.2"},
      {"127.255.255.254", Kind::Loopback, "127.0.0.1", "127.255.255.254"},
      {"", Kind::Refused, "", ""},
      {"192.168.1.1", Kind::Refused, "", ""},
      {"255.255.255.255", Kind::Refused, "", ""},
      {"localhost", Kind::Refused, "", ""},
      {"127.1", Kind::Refused, "", ""},
      {"127.0.0.01", Kind::Refused, "", ""},   // a leading zero
      {"127.0.0.1 ", Kind::Refused, "", ""},
      {"127.0.0.256", Kind::Refused, "", ""},
      {"0x7f.0.0.1", Kind::Refused, "", ""},
  };
  for (const auto& row : rows) {
    const SearchTarget target = searchTarget(row.setting);
    const std::string name = row.setting ? row.setting : "(unset)";
    EXPECT_EQ(target.kind, row.kind) << name;
    EXPECT_EQ(target.bindAddress, row.bind) << name;
    EXPECT_EQ(target.sendAddress, row.send) << name;
    EXPECT_EQ(target.reason.empty(), row.kind != Kind::Refused) << name;
  }
}

}  // namespace
