// The exchange's configuration file: what it sets, what it refuses (with the
// line that is at fault), and the address list bytes built from it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "exchange/exchange_config.h"
#include "tests/exchange/frame_client.h"
#include "tests/support/test_root.h"

namespace {

using exchange::ExchangeConfig;
using exchange::ParseExchangeConfig;
using exchangetest::Hex;

// The error text of a configuration that must fail.
std::string ErrorOf(const std::string& text) {
  ExchangeConfig config;
  std::string error;
  EXPECT_FALSE(ParseExchangeConfig(text, config, &error)) << text;
  return error;
}

TEST(ExchangeConfig, ParsesEveryKeywordWithCommentsQuotesAndHexNumbers) {
  ExchangeConfig config;
  std::string error;
  ASSERT_TRUE(ParseExchangeConfig("# a test exchange\n"
                                  "line-list 8            # answer with LINE_LIST\n"
                                  "protocol-version 0x31\n"
                                  "manufacturer \"Marlix \\\"TK\\\" #1\"\n"
                                  "\n"
                                  "line 10 \"20\"\r\n"
                                  "line 0x0b 21 forward busy \"0301234\"\n"
                                  "line 12 forward unconditional 99\n"
                                  "msn 1 \"4711\" lines 10 11\n"
                                  "msn 0x02 4712\n",
                                  config, &error))
      << error;
  EXPECT_FALSE(config.lineList16);
  EXPECT_EQ(config.protocolVersion, 0x31);
  EXPECT_EQ(config.manufacturer, "Marlix \"TK\" #1");
  ASSERT_EQ(config.lines.size(), 3u);
  EXPECT_EQ(config.lines[0].lineId, 10);
  EXPECT_EQ(config.lines[0].address, "20");
  EXPECT_EQ(config.lines[0].lineState, exchange::kForwardNone);
  EXPECT_EQ(config.lines[1].lineId, 11);
  EXPECT_EQ(config.lines[1].address, "21");
  EXPECT_EQ(config.lines[1].lineState, exchange::kForwardBusy);
  EXPECT_EQ(config.lines[1].forwardDestination, "0301234");
  EXPECT_EQ(config.lines[2].address, "") << "the address may be left out";
  EXPECT_EQ(config.lines[2].lineState, exchange::kForwardUnconditional);
  EXPECT_EQ(config.lines[2].forwardDestination, "99");
  ASSERT_EQ(config.msns.size(), 2u);
  EXPECT_EQ(config.msns[0].index, 1);
  EXPECT_EQ(config.msns[0].number, "4711");
  EXPECT_EQ(config.msns[0].lineIds, (std::vector<uint16_t>{10, 11}));
  EXPECT_EQ(config.msns[1].index, 2);
  EXPECT_TRUE(config.msns[1].lineIds.empty());
}

TEST(ExchangeConfig, SixteenBitLinesMayComeBeforeTheLineListKeyword) {
  ExchangeConfig config;
  std::string error;
  ASSERT_TRUE(ParseExchangeConfig("line 300\nmsn 5 \"30\" lines 300\nline-list 16\n", config, &error)) << error;
  EXPECT_TRUE(config.lineList16);
  EXPECT_EQ(config.lines.at(0).lineId, 300);
  EXPECT_EQ(config.protocolVersion, 0x30) << "default";
}

TEST(ExchangeConfig, TextsAreKeptInTheAnsiCodePage) {
  ExchangeConfig config;
  std::string error;
  ASSERT_TRUE(ParseExchangeConfig("manufacturer \"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC\"\n", config, &error)) << error;
  EXPECT_EQ(config.manufacturer, "Gr\xFC\xDF \x80") << "UTF-8 u-umlaut, sharp s and euro as Windows-1252";
  EXPECT_NE(ErrorOf("manufacturer \"\xCE\xA9\"").find("line 1: manufacturer text has characters outside Windows-1252"),
            std::string::npos);
  EXPECT_NE(ErrorOf("line 1 \"\xFF\"").find("line 1: not UTF-8"), std::string::npos);
}

TEST(ExchangeConfig, FaultsNameTheirLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"line 10 \"20\"\nfrobnicate 1\n", "line 2: unknown keyword 'frobnicate'"},
      {"line-list 12\n", "line 1: usage: line-list 8|16"},
      {"protocol-version 256\n", "line 1: usage: protocol-version"},
      {"protocol-version 0xZZ\n", "line 1: usage: protocol-version"},
      {"line ten \"20\"\n", "line 1: bad line ID 'ten'"},
      {"line 70000\n", "line 1: bad line ID '70000'"},
      {"line 10 \"20\"\n# c\nline 10 \"21\"\n", "line 3: duplicate line ID 10 (first on line 1)"},
      {"line 10\nline 300 \"300\"\nline-list 8\n", "line 2: line ID 300 needs 'line-list 16'"},
      {"line 300\n", "line 1: line ID 300 needs 'line-list 16'"},
      {"line 10\nmsn 1 \"4711\" lines 10 12\n", "line 2: MSN 1 names the unknown line ID 12"},
      {"msn 1 \"4711\"\nmsn 1 \"4712\"\n", "line 2: duplicate MSN index 1 (first on line 1)"},
      {"msn 256 \"4711\"\n", "line 1: bad MSN index '256'"},
      {"msn 1 \"\"\n", "line 1: an MSN needs a number"},
      {"msn 1 \"4711\" 10\n", "line 1: unexpected '10'"},
      {"line 10 \"20\" forward sometimes \"1\"\n", "line 1: bad forwarding 'sometimes'"},
      {"line 10 \"20\" forward none \"1\"\n", "line 1: bad forwarding 'none'"},
      {"line 10 \"20\" forward busy\n", "line 1: usage: forward"},
      {"line 10 \"20\" forward busy \"\"\n", "line 1: forwarding needs a destination"},
      {"line 10 \"20\" extra\n", "line 1: unexpected 'extra'"},
      {"manufacturer \"open\n", "line 1: unterminated quoted text"},
      {"manufacturer \"a\\b\"\n", "line 1: only \\\" and \\\\ may follow a backslash"},
      {"manufacturer\n", "line 1: usage: manufacturer"},
      {"\"line\" 10\n", "line 1: a keyword is needed"},
      {"line 10 \"2\t0\"\n", "line 1: address holds a control character"},
      {"bogus\x1b[2J\n", "line 1: unknown keyword 'bogus\\x1b[2J'"},
      // Everything is defined once.
      {"line-list 8\nline-list 16\n", "line 2: duplicate line-list (first on line 1)"},
      {"protocol-version 0x30\n\nprotocol-version 0x31\n", "line 3: duplicate protocol-version (first on line 1)"},
      {"manufacturer A\nmanufacturer B\n", "line 2: duplicate manufacturer (first on line 1)"},
      {"line 10 \"20\"\nline 11 \"20\"\n", "line 2: duplicate address \"20\" (first on line 1)"},
      {"msn 1 \"4711\"\nmsn 2 \"4711\"\n", "line 2: duplicate MSN number \"4711\" (first on line 1)"},
      {"line 10\nmsn 1 \"4711\" lines 10 0x0a\n", "line 2: line ID 10 named twice"},
  };
  for (const Case& c : cases) {
    std::string error = ErrorOf(c.text);
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.text << " gave: " << error;
  }
}

TEST(ExchangeConfig, AcceptsAByteOrderMarkAndCrLfButNoOtherEncoding) {
  struct Case {
    const char* text;
    const char* error;  // nullptr: accepted, with lines 10 and 11
  };
  const Case cases[] = {
      {"\xEF\xBB\xBFline 10 \"20\"\nline 11\n", nullptr},
      {"line 10 \"20\"\r\nline 11\r\n", nullptr},
      {"\xEF\xBB\xBF# exported\r\nline 10 \"20\"\r\nline 11 forward busy \"0301\"\r\n", nullptr},
      {"line 10\nline 11 \"\xEF\xBB\xBF\"\n", "line 2: address has characters outside Windows-1252"},
      {"line 10\r\n\xEF\xBB\xBFline 11\r\n", "line 2: unknown keyword"},
      {"line 10\nline 11 \"2\xC3\"\n", "line 2: not UTF-8 text"},
      {"line 10 \"\xE4\"\n", "line 1: not UTF-8 text"},  // Windows-1252, not UTF-8
      {"\xFF\xFEl\0i\0n\0e\0", "line 1: not UTF-8 text"},  // UTF-16 (up to its first zero byte)
  };
  for (const Case& c : cases) {
    ExchangeConfig config;
    std::string error;
    bool ok = ParseExchangeConfig(c.text, config, &error);
    if (!c.error) {
      EXPECT_TRUE(ok) << c.text << " gave: " << error;
      ASSERT_EQ(config.lines.size(), 2u) << c.text;
      EXPECT_EQ(config.lines[0].address, "20") << c.text;
      EXPECT_EQ(config.lines[1].lineId, 11) << c.text;
    } else {
      EXPECT_FALSE(ok) << c.text;
      EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.text << " gave: " << error;
    }
  }
}

TEST(ExchangeConfig, RefusesWhatCannotBeSentOnTheWire) {
  std::string longText(256, 'a');
  EXPECT_NE(ErrorOf("line 1 \"" + longText + "\"\n").find("line 1: address longer than 255 bytes"), std::string::npos);
  EXPECT_NE(ErrorOf("manufacturer " + longText + "\n").find("line 1: manufacturer text longer than 255 bytes"), std::string::npos);

  // An MSN entry's length byte counts the number, the 0 byte and the IDs.
  std::string ok = "line 1\nmsn 1 \"" + std::string(253, '1') + "\" lines 1\n";
  ExchangeConfig config;
  std::string error;
  EXPECT_TRUE(ParseExchangeConfig(ok, config, &error)) << error;
  EXPECT_EQ(ErrorOf("line 1\nline 2\nmsn 1 \"" + std::string(253, '1') + "\" lines 1 2\n"),
            "line 3: MSN 1: number and line IDs take more than 255 bytes");

  // 70 lines with (distinct) 255-byte addresses do not fit into one message.
  std::string many;
  for (int id = 10; id < 80; ++id) {
    many += "line " + std::to_string(id) + " \"" + std::to_string(id) + std::string(253, '7') + "\"\n";
  }
  EXPECT_NE(ErrorOf(many).find("does not fit into one message"), std::string::npos);
}

TEST(ExchangeConfig, AFailedParseLeavesTheOutputAlone) {
  ExchangeConfig config = exchange::DefaultExchangeConfig();
  std::string error;
  EXPECT_FALSE(ParseExchangeConfig("line-list 16\nline 1\nbogus\n", config, &error));
  EXPECT_FALSE(config.lineList16);
  EXPECT_EQ(config.lines.size(), 3u);
}

TEST(ExchangeConfig, DefaultIsASmallConsistentExchange) {
  ExchangeConfig config = exchange::DefaultExchangeConfig();
  EXPECT_FALSE(config.lineList16);
  EXPECT_EQ(config.protocolVersion, 0x30);
  EXPECT_FALSE(config.manufacturer.empty());
  ASSERT_EQ(config.lines.size(), 3u);
  EXPECT_EQ(config.lines[0].lineId, 10);
  EXPECT_EQ(config.lines[0].address, "20");
  EXPECT_FALSE(config.msns.empty());
  for (const auto& msn : config.msns) {
    for (uint16_t id : msn.lineIds) {
      bool known = false;
      for (const auto& line : config.lines) known |= line.lineId == id;
      EXPECT_TRUE(known) << "MSN " << int(msn.index) << " line " << id;
    }
  }
}

TEST(ExchangeConfig, LoadsAFileAndNamesTheFileOfEveryFault) {
  std::string path = tktest::currentRoot() + "/exchange.conf";
  std::ofstream(path) << "line-list 16\nline 300\n";
  ExchangeConfig config;
  std::string error;
  ASSERT_TRUE(exchange::LoadExchangeConfig(path, config, &error)) << error;
  EXPECT_TRUE(config.lineList16);
  EXPECT_FALSE(exchange::LoadExchangeConfig(path + ".missing", config, &error));
  EXPECT_EQ(error, "cannot open " + path + ".missing: No such file or directory");
  std::string folder = tktest::currentRoot() + "/conf.d";
  std::filesystem::create_directory(folder);
  EXPECT_FALSE(exchange::LoadExchangeConfig(folder, config, &error));
  EXPECT_EQ(error, "cannot read " + folder + ": it is a folder, not a file");
  std::ofstream(path) << "line 1\nline 1\n";
  EXPECT_FALSE(exchange::LoadExchangeConfig(path, config, &error));
  EXPECT_EQ(error, path + ":2: duplicate line ID 1 (first on line 1)");
  EXPECT_TRUE(config.lineList16) << "a failed load changes nothing";
}

TEST(AddressListValue, EightBitEntriesCarryTheirAddresses) {
  ExchangeConfig config;
  config.lines = {{10, "20", 0, ""}, {11, "1234567890123456789012345", 0, ""}, {12, "", 0, ""}};
  config.msns = {{1, "4711", {10, 11}}, {7, "0815", {}}};
  EXPECT_EQ(exchange::LineListValue(config),
            Hex("0a02 3230 0b19 31323334353637383930313233343536373839303132333435 0c00"));
  EXPECT_EQ(exchange::MsnListValue(config), Hex("0107 34373131 00 0a0b  0705 30383135 00"));
}

TEST(AddressListValue, SixteenBitEntriesAreBareBigEndianIds) {
  ExchangeConfig config;
  config.lineList16 = true;
  config.lines = {{300, "ignored", 0, ""}, {5, "", 0, ""}};
  config.msns = {{2, "30", {300, 5}}};
  EXPECT_EQ(exchange::LineListValue(config), Hex("012c 0005"));
  EXPECT_EQ(exchange::MsnListValue(config), Hex("0207 3330 00 012c 0005"));
}

TEST(ForwardingStateNames, RoundTripAndShowUnnamedValuesInHex) {
  for (const char* name : {"none", "unconditional", "busy", "noanswer"}) {
    uint8_t state = 0xEE;
    ASSERT_TRUE(exchange::ForwardingStateFromName(name, state)) << name;
    EXPECT_EQ(exchange::ForwardingStateName(state), name);
  }
  uint8_t state = 0;
  EXPECT_FALSE(exchange::ForwardingStateFromName("always", state));
  EXPECT_EQ(exchange::ForwardingStateName(0x13), "0x13");
}

}  // namespace
