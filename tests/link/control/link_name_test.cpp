#include "link/control/link_name.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

LinkConfig WithLink(const char* link) {
  LinkConfig config;
  DefaultLinkConfiguration(&config);
  std::memset(config.Link, 0, sizeof config.Link);
  std::memcpy(config.Link, link, std::min(std::strlen(link), sizeof config.Link - 1));
  return config;
}

TEST(LinkName, IsWhatFollowsTheProgramNameOnTheCommandLine) {
  EXPECT_EQ(LinkNameFromCommandLine("VNL2C64.EXE COM1"), "COM1");
  EXPECT_EQ(LinkNameFromCommandLine("VNL2C64.EXE "), "");
  EXPECT_EQ(LinkNameFromCommandLine("VNL2C64.EXE"), "");
  EXPECT_EQ(LinkNameFromCommandLine("\"C:\\Program Files\\VNL2C64.EXE\"  \tTCP"), "TCP");
  EXPECT_EQ(LinkNameFromCommandLine("/root/system/vnl2c64 --help"), "--help");
  EXPECT_EQ(LinkNameFromCommandLine(""), "");
}

TEST(LinkName, SelectsTheTransportByTheFirstCharacters) {
  EXPECT_EQ(TransportOf("USB"), Transport::Usb);
  EXPECT_EQ(TransportOf("USB3"), Transport::Usb);
  EXPECT_EQ(TransportOf("COM2"), Transport::Serial);
  EXPECT_EQ(TransportOf("TCP"), Transport::Lan);
  EXPECT_EQ(TransportOf("TCPX"), Transport::Lan);
  EXPECT_EQ(TransportOf("LAN/USB"), Transport::Lan);
  EXPECT_EQ(TransportOf("LAN"), Transport::None);
  EXPECT_EQ(TransportOf("com2"), Transport::None);
  EXPECT_EQ(TransportOf(""), Transport::None);
}

TEST(LinkName, ACommandLineNameReplacesAReplaceableConfiguredLink) {
  for (const char* configured : {"COM2", "USB", "TCP", "LAN/USB"}) {
    LinkConfig config = WithLink(configured);
    EXPECT_EQ(ApplyCommandLineLink(config, "COM7"), LinkChoice::Replaced) << configured;
    EXPECT_STREQ(config.Link, "COM7");
  }
  LinkConfig longer = WithLink("LAN/USB");
  ASSERT_EQ(ApplyCommandLineLink(longer, "USB"), LinkChoice::Replaced);
  EXPECT_EQ(std::string(longer.Link, sizeof longer.Link), std::string("USB\0\0\0\0\0", 8)) << "no rest of the old name";
}

TEST(LinkName, AnEmptyNameKeepsTheConfiguredLink) {
  LinkConfig config = WithLink("XYZ");
  EXPECT_EQ(ApplyCommandLineLink(config, ""), LinkChoice::Kept);
  EXPECT_STREQ(config.Link, "XYZ");
}

TEST(LinkName, AnOtherConfiguredLinkRefusesAGivenName) {
  for (const char* configured : {"XYZ", "LAN", "LAN/US", ""}) {
    LinkConfig config = WithLink(configured);
    EXPECT_EQ(ApplyCommandLineLink(config, "TCP"), LinkChoice::Refused) << configured;
    EXPECT_STRNE(config.Link, "TCP");
  }
}

TEST(LinkName, ANameLongerThanTheLinkFieldIsRefusedUncut) {
  LinkConfig config = WithLink("COM2");
  EXPECT_EQ(ApplyCommandLineLink(config, "COM1234"), LinkChoice::Replaced);  // 7 characters fit
  EXPECT_EQ(ApplyCommandLineLink(config, "COM12345"), LinkChoice::TooLong);
  EXPECT_STREQ(config.Link, "COM1234");
  EXPECT_EQ(config.LinkSpeed[0], '9') << "the fields behind Link are untouched";
}

}  // namespace
