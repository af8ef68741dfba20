// Party rules as the party command gives them, the rule table with its
// default, and how a caller's number is presented to the PC.
#include "exchange/call_party.h"

#include <gtest/gtest.h>

namespace {

using exchange::PartyRule;
using Words = std::vector<std::string>;

TEST(PartyRule, ParsesEveryBehaviourAndPrintsItBack) {
  struct Case {
    Words words;
    std::string text;
  };
  const Case cases[] = {
      {{"answer"}, "answer 1000"},
      {{"answer", "250"}, "answer 250"},
      {{"answer", "hangup-after", "3000"}, "answer 1000 hangup-after 3000"},
      {{"answer", "0", "hangup-after", "5", "charge", "1.25", "EUR"}, "answer 0 hangup-after 5 charge 1.250 EUR"},
      {{"answer", "charge", "7", "hangup-after", "9"}, "answer 1000 hangup-after 9 charge 7.000"},
      {{"busy"}, "busy"},
      {{"reject"}, "reject"},
      {{"noanswer"}, "noanswer"},
      {{"unreachable"}, "unreachable"},
  };
  for (const Case& c : cases) {
    std::string error;
    auto rule = exchange::ParsePartyRule(c.words, &error);
    ASSERT_TRUE(rule) << c.text << ": " << error;
    EXPECT_EQ(exchange::PartyRuleText(*rule), c.text);
  }
  auto charged = exchange::ParsePartyRule({"answer", "charge", "0.005", "CHF"}, nullptr);
  ASSERT_TRUE(charged && charged->charge);
  EXPECT_EQ(charged->charge->amount, 5u) << "thousandths";
  EXPECT_EQ(charged->charge->exponent, 0);
  EXPECT_EQ(charged->charge->currency, "CHF");
  // The currency goes on the wire in Windows-1252 and is shown as UTF-8.
  auto euro = exchange::ParsePartyRule({"answer", "charge", "2", "\xE2\x82\xAC"}, nullptr);
  ASSERT_TRUE(euro && euro->charge);
  EXPECT_EQ(euro->charge->currency, "\x80");
  EXPECT_EQ(exchange::PartyRuleText(*euro), "answer 1000 charge 2.000 \xE2\x82\xAC");
}

TEST(PartyRule, RefusesWhatItDoesNotKnow) {
  for (const Words& words : {Words{}, Words{"sometimes"}, Words{"busy", "1"}, Words{"answer", "soon"},
                             Words{"answer", "hangup-after"}, Words{"answer", "hangup-after", "1", "hangup-after", "2"},
                             Words{"answer", "charge"}, Words{"answer", "charge", "1.2345"},
                             Words{"answer", "charge", "-1"}, Words{"answer", "charge", "4294967.296"},
                             Words{"answer", "charge", "1.", "EUR"}, Words{"answer", "3600001"},
                             Words{"answer", "charge", "1", "\xCE\xA9"}, Words{"answer", "charge", "1", "\xFF"}}) {
    std::string error;
    EXPECT_FALSE(exchange::ParsePartyRule(words, &error)) << (words.empty() ? "" : words.back());
    EXPECT_FALSE(error.empty());
  }
}

TEST(PartyRules, ANumberWithoutARuleOfItsOwnTakesTheDefault) {
  exchange::PartyRules rules;
  EXPECT_EQ(exchange::PartyRuleText(rules.For("123")), "answer 1000");
  rules.Set("123", PartyRule{PartyRule::Kind::Busy, 0, std::nullopt, std::nullopt});
  rules.Set("*", PartyRule{PartyRule::Kind::Reject, 0, std::nullopt, std::nullopt});
  EXPECT_EQ(rules.For("123").kind, PartyRule::Kind::Busy);
  EXPECT_EQ(rules.For("1234").kind, PartyRule::Kind::Reject);
  EXPECT_EQ(rules.For("*").kind, PartyRule::Kind::Reject);
}

TEST(PresentCaller, ExternalNumbersLoseTheirPrefixAndTellItByTheirType) {
  using exchange::PresentCaller;
  auto shown = [](std::string_view number, bool internal) {
    auto presented = PresentCaller(number, internal);
    return presented.number + "/" + std::to_string(presented.type);
  };
  EXPECT_EQ(shown("0301234567", false), "301234567/4");
  EXPECT_EQ(shown("00441234", false), "441234/5");
  EXPECT_EQ(shown("+441234", false), "441234/5");
  EXPECT_EQ(shown("1234567", false), "1234567/0");
  EXPECT_EQ(shown("0", false), "0/0") << "nothing left to send without the prefix";
  EXPECT_EQ(shown("0301234567", true), "0301234567/3");
  EXPECT_EQ(shown("22", true), "22/3");
}

}  // namespace
