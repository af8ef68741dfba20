#include "link/common/link_config.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "link/common/link_log.h"
#include "platform/fake_clock.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "tests/support/files.h"
#include "tests/support/registry_helpers.h"

namespace {

using tktest::Bytes;

constexpr char kServerAddrWarning[] = "LoadConfiguration  RegQueryValue TapiSvrIpAddr failed using 192.168.1.250\n\r";

// Each case gets the link key (unless it wants none) and a link log whose
// lines it can read back.
class LinkConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logPath_ = platform::systemDir() + "/vnl2.log";
    tktest::writeFile(logPath_, "");
    LinkLogSetProgramNameForTest("CFG");
    LinkLogSetClockForTest(&clock_);  // 2024-01-01 00:00:00
    LinkLogSetup(&mask_);
  }
  void TearDown() override {
    static uint32_t parked = 0;
    LinkLogSetup(&parked);
    LinkLogSetProgramNameForTest("");
    LinkLogSetClockForTest(nullptr);
  }

  platform::RegKeyHandle key() {
    if (!key_.h) {
      EXPECT_EQ(platform::regCreateKeyExA(platform::kHkeyLocalMachine, kLinkConfigKey, &key_.h, nullptr), 0);
    }
    return key_.h;
  }
  void text(const char* name, std::string_view bytes) { ASSERT_EQ(tktest::setAnsiSz(key(), name, bytes), 0); }
  void dword(const char* name, uint32_t v) {
    Bytes b{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    ASSERT_EQ(platform::regSetValueExA(key(), name, platform::kRegDword, b.data(), 4), 0);
  }
  // Stored type and bytes of a value, or nothing when it is missing.
  std::optional<std::pair<uint32_t, std::string>> stored(const char* name) {
    uint32_t type = 0, size = 64;
    std::string data(64, '\0');
    if (platform::regQueryValueExA(key(), name, &type, reinterpret_cast<uint8_t*>(data.data()), &size) != 0)
      return std::nullopt;
    data.resize(size);
    return std::make_pair(type, data);
  }
  LinkConfig load() {
    LinkConfig c;
    std::memset(&c, 0xAA, sizeof c);  // leftovers must not show through
    EXPECT_EQ(LoadConfiguration(&c), 1);
    return c;
  }
  std::string log() { return tktest::readFile(logPath_); }

  std::string logPath_;
  uint32_t mask_ = 0;
  platform::FakeClock clock_;
  tktest::Key key_;
};

void expectDefaults(const LinkConfig& c, const char* link) {
  EXPECT_STREQ(c.Link, link);
  EXPECT_STREQ(c.LinkSpeed, "9600");
  EXPECT_EQ(c.ControlLines, 0u);
  EXPECT_STREQ(c.TapiSvrIpAddr, "192.168.1.250");
  EXPECT_EQ(c.TapiSvrIpPort, 5002u);
  EXPECT_EQ(c.Keepalive, 3u);
}

TEST_F(LinkConfigTest, WithoutKeyTakesDefaultsAndLogsTheFailure) {
  expectDefaults(load(), "COM2");
  EXPECT_EQ(log(), "[01.01.24 00:00:00] CFG: LoadConfiguration failed!\n\r\r\n");
}

TEST_F(LinkConfigTest, DefaultLinkIsUsbOnlyForANonZeroDwordUsbEnabled) {
  dword("USBEnabled", 1);
  expectDefaults(load(), "USB");
  dword("USBEnabled", 0);
  EXPECT_STREQ(load().Link, "COM2");
  text("USBEnabled", "1");
  EXPECT_STREQ(load().Link, "COM2");
  EXPECT_EQ(log(), "") << "an open key without Link is no failure";
}

TEST_F(LinkConfigTest, StoredTcpReadsAsLanAndSavingLanStoresTcp) {
  LinkConfig c;
  DefaultLinkConfiguration(&c);
  std::strcpy(c.Link, "LAN/USB");
  std::strcpy(c.LinkSpeed, "115200");
  c.ControlLines = 1;
  std::strcpy(c.TapiSvrIpAddr, "10.0.0.7");
  c.TapiSvrIpPort = 6000;
  c.Keepalive = 1;
  ASSERT_TRUE(SaveLinkConfiguration(c));

  EXPECT_EQ(stored("Link"), std::make_pair(platform::kRegSz, std::string("TCP\0\0\0\0\0", 8)));
  EXPECT_EQ(stored("LinkSpeed"), std::make_pair(platform::kRegSz, std::string("115200")));
  EXPECT_EQ(stored("ControlLines"), std::make_pair(platform::kRegDword, std::string("\1\0\0\0", 4)));
  EXPECT_EQ(stored("TapiSvrIpAddr"), std::make_pair(platform::kRegSz, std::string("10.0.0.7")));
  EXPECT_EQ(stored("TapiSvrIpPort"), std::make_pair(platform::kRegDword, std::string("\x70\x17\0\0", 4)));
  EXPECT_EQ(stored("Keepalive"), std::make_pair(platform::kRegDword, std::string("\1\0\0\0", 4)));

  LinkConfig back = load();
  EXPECT_STREQ(back.Link, "LAN/USB");
  EXPECT_STREQ(back.TapiSvrIpAddr, "10.0.0.7");
  EXPECT_EQ(back.TapiSvrIpPort, 6000u);
  EXPECT_EQ(back.Keepalive, 1u);
  // Serial values are not read for a LAN link.
  EXPECT_STREQ(back.LinkSpeed, "9600");
  EXPECT_EQ(back.ControlLines, 0u);
}

TEST_F(LinkConfigTest, SavingASerialLinkPadsTheTextsAndLeavesTheLanValuesAlone) {
  LinkConfig c;
  DefaultLinkConfiguration(&c);
  std::strcpy(c.Link, "COM3");
  ASSERT_TRUE(SaveLinkConfiguration(c));
  EXPECT_EQ(stored("Link"), std::make_pair(platform::kRegSz, std::string("COM3\0\0\0\0", 8)));
  EXPECT_EQ(stored("LinkSpeed"), std::make_pair(platform::kRegSz, std::string("9600\0\0", 6)));
  EXPECT_FALSE(stored("TapiSvrIpAddr"));
  EXPECT_FALSE(stored("TapiSvrIpPort"));
  EXPECT_STREQ(load().Link, "COM3");
}

TEST_F(LinkConfigTest, SerialLinkReadsSpeedAndControlLinesButNotTheLanValues) {
  text("Link", std::string("COM1\0\0\0\0", 8));
  text("LinkSpeed", "115200");  // exactly 6 bytes, no terminator
  dword("ControlLines", 0x0101);
  text("TapiSvrIpAddr", "10.1.1.1");
  dword("TapiSvrIpPort", 1234);
  dword("Keepalive", 0);
  LinkConfig c = load();
  EXPECT_STREQ(c.Link, "COM1");
  EXPECT_STREQ(c.LinkSpeed, "115200");
  EXPECT_EQ(c.ControlLines, 1u);
  EXPECT_STREQ(c.TapiSvrIpAddr, "192.168.1.250");
  EXPECT_EQ(c.TapiSvrIpPort, 5002u);
  EXPECT_EQ(c.Keepalive, 3u);
}

TEST_F(LinkConfigTest, ControlLinesCountsOnlyTheLowByteOfADword) {
  text("Link", "COM4");
  dword("ControlLines", 0x0100);
  EXPECT_EQ(load().ControlLines, 0u);
  dword("ControlLines", 7);
  EXPECT_EQ(load().ControlLines, 1u);
  text("ControlLines", "1");
  EXPECT_EQ(load().ControlLines, 0u);
}

TEST_F(LinkConfigTest, LinkSpeedThatDoesNotFitKeepsTheDefault) {
  text("Link", "COM1");
  text("LinkSpeed", "1152000");
  EXPECT_STREQ(load().LinkSpeed, "9600");
  // A terminated copy, as a hand-made .reg file stores it, is taken.
  text("LinkSpeed", std::string("57600\0", 6));
  EXPECT_STREQ(load().LinkSpeed, "57600");
  text("LinkSpeed", std::string("115200\0", 7));
  EXPECT_STREQ(load().LinkSpeed, "115200");
}

TEST_F(LinkConfigTest, OverlongLinkIsCutToTheField) {
  text("Link", "COM12345678");
  text("LinkSpeed", "38400");
  LinkConfig c = load();
  EXPECT_EQ(std::string(c.Link, sizeof c.Link), std::string("COM1234\0", 8));
  EXPECT_STREQ(c.LinkSpeed, "38400") << "the value read decides the serial values";
  text("Link", "ABCDEFGH");  // 8 bytes without terminator
  EXPECT_EQ(std::string(load().Link, 8), std::string("ABCDEFG\0", 8));
}

TEST_F(LinkConfigTest, AnyTcpNameIsALanLinkAndMissingLinkReadsNothingElse) {
  text("Link", "TCP/IP");
  text("TapiSvrIpAddr", std::string("172.16.0.9\0\0\0\0\0\0", 16));
  EXPECT_STREQ(load().Link, "LAN/USB");
  EXPECT_STREQ(load().TapiSvrIpAddr, "172.16.0.9");

  ASSERT_EQ(platform::regDeleteValue(key(), u"Link"), 0);
  text("LinkSpeed", "19200");
  dword("TapiSvrIpPort", 99);
  expectDefaults(load(), "COM2");
  EXPECT_EQ(log(), "");
}

TEST_F(LinkConfigTest, MissingOrUnusableServerAddressKeepsTheDefaultAndWarns) {
  text("Link", "TCP");
  dword("TapiSvrIpPort", 7000);
  text("Keepalive", "0000");  // not a DWORD: the default stays
  LinkConfig c = load();
  EXPECT_STREQ(c.TapiSvrIpAddr, "192.168.1.250");
  EXPECT_EQ(c.TapiSvrIpPort, 7000u);
  EXPECT_EQ(c.Keepalive, 3u);

  dword("TapiSvrIpAddr", 0x0A000001);
  EXPECT_STREQ(load().TapiSvrIpAddr, "192.168.1.250");
  text("TapiSvrIpAddr", "192.168.100.1001");  // 16 characters cannot be an address
  EXPECT_STREQ(load().TapiSvrIpAddr, "192.168.1.250");
  text("TapiSvrIpAddr", "192.168.100.100");  // 15 characters without terminator fit
  EXPECT_STREQ(load().TapiSvrIpAddr, "192.168.100.100");

  std::string lines = log();
  size_t count = 0;
  for (size_t pos = 0; (pos = lines.find(std::string("CFG: ") + kServerAddrWarning + "\r\n", pos)) != std::string::npos;
       ++pos)
    ++count;
  EXPECT_EQ(count, 3u) << lines;
}

}  // namespace
