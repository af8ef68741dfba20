#include "exchange/discovery_responder.h"

#include <gtest/gtest.h>

#include <string>

#include "exchange/tksim_options.h"
#include "tests/exchange/recording_events.h"

namespace {

using exchange::DiscoveryAnswerFor;

TEST(DiscoveryResponder, AnswersRequestsOnly) {
  const struct {
    std::string datagram;
    bool answered;
  } rows[] = {{"detect router in lan by Ondra", true},
              {std::string("\0\xff", 2) + "detect router in lan by Ondra and more", true},
              {"detect router in lan by Ondr", false},
              {"Ondra router received udpmsg from :127.0.0.1", false}};  // another exchange's answer
  for (const auto& row : rows) {
    auto answer = DiscoveryAnswerFor(row.datagram, "10.0.0.9");
    EXPECT_EQ(answer.has_value(), row.answered) << row.datagram;
    if (answer) {
      EXPECT_EQ(*answer, "Ondra router received udpmsg from :10.0.0.9");
    }
  }
}

TEST(DiscoveryResponder, AnswersTheSenderOverLoopbackAndStops) {
  exchangetest::RecordingEvents events;
  exchange::DiscoveryResponder responder(events);
  std::string error;
  EXPECT_FALSE(exchange::DiscoveryResponder(events).Start("10.0.0.1", false, &error, 0));
  EXPECT_NE(error.find("not a loopback address"), std::string::npos) << error;
  ASSERT_TRUE(responder.Start("127.0.0.2", false, &error, 0)) << error;

  platform::UdpSocket searcher;
  ASSERT_TRUE(searcher.open("127.0.0.1", 0));
  const std::string request = "detect router in lan by Ondra";
  ASSERT_TRUE(searcher.sendTo(request.data(), request.size(), "127.0.0.2", responder.Port()));
  char answer[128] = {};
  std::string sender;
  ASSERT_GT(searcher.receiveFrom(answer, sizeof answer - 1, &sender), 0);
  EXPECT_STREQ(answer, "Ondra router received udpmsg from :127.0.0.1");
  EXPECT_EQ(sender, "127.0.0.2");
  EXPECT_TRUE(events.WaitFor("discovery-answer 127.0.0.1:" + std::to_string(searcher.localPort())));
  responder.Stop();  // wakes and joins its thread
}

TEST(DiscoveryResponder, TksimOptionGoesWithEveryLink) {
  const struct {
    std::vector<std::string> args;
    exchange::ParseOutcome outcome;
  } rows[] = {{{"--discovery"}, exchange::ParseOutcome::Run},
              {{"--discovery", "--serial", "--allow-non-loopback", "--address", "0.0.0.0"}, exchange::ParseOutcome::Run},
              {{"--discovery", "--usb", "1"}, exchange::ParseOutcome::Run},
              {{"--serial", "--allow-non-loopback"}, exchange::ParseOutcome::Error}};
  for (const auto& row : rows) {
    exchange::TksimOptions options;
    std::string error;
    EXPECT_EQ(exchange::ParseTksimOptions(row.args, options, &error), row.outcome) << row.args.back() << error;
    EXPECT_EQ(options.discovery, row.args.front() == "--discovery");
  }
}

}  // namespace
