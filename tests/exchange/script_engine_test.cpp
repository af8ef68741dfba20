// Rules of the script engine: pattern matching, answers built from the
// received block, and what is reported when no rule answers.
#include <gtest/gtest.h>

#include "exchange/block_pattern.h"
#include "exchange/echo_engine.h"
#include "exchange/script_engine.h"
#include "tests/exchange/frame_client.h"
#include "tests/exchange/recording_events.h"

namespace {

using exchange::AnswerTemplate;
using exchange::BlockPattern;
using exchange::ScriptEngine;
using exchangetest::Bytes;
using exchangetest::Hex;

TEST(BlockPattern, MatchesExactLengthWildcardsAndOpenTails) {
  auto exact = BlockPattern::Parse("10??0003").value();
  EXPECT_TRUE(exact.Matches(Hex("10010003")));
  EXPECT_TRUE(exact.Matches(Hex("10ff0003")));
  EXPECT_FALSE(exact.Matches(Hex("11010003")));
  EXPECT_FALSE(exact.Matches(Hex("1001000305")) ) << "longer block without *";
  EXPECT_FALSE(exact.Matches(Hex("100100")));

  auto open = BlockPattern::Parse("AE*").value();
  EXPECT_TRUE(open.Matches(Hex("ae")));
  EXPECT_TRUE(open.Matches(Hex("ae020000")));
  EXPECT_FALSE(open.Matches(Hex("af020000")));

  EXPECT_TRUE(BlockPattern::Parse("*").value().Matches(Bytes{}));
}

TEST(BlockPattern, RejectsMalformedPatterns) {
  for (const char* bad : {"", "1", "1?", "zz", "10*00", "**"}) {
    EXPECT_FALSE(BlockPattern::Parse(bad).has_value()) << bad;
  }
}

TEST(AnswerTemplate, InsertsBytesOfTheReceivedBlock) {
  auto answer = AnswerTemplate::Parse("11[1]0003d00100").value();
  EXPECT_EQ(answer.Build(Hex("10070003100105")), Hex("11070003d00100"));
  auto twice = AnswerTemplate::Parse("[0][0]").value();
  EXPECT_EQ(twice.Build(Hex("ab")), Hex("abab"));
  EXPECT_FALSE(AnswerTemplate::Parse("[5]").value().Build(Hex("0102")).has_value());
}

TEST(AnswerTemplate, RejectsMalformedTemplates) {
  for (const char* bad : {"", "1", "[]", "[x]", "[1", "11[1]0", "g0"}) {
    EXPECT_FALSE(AnswerTemplate::Parse(bad).has_value()) << bad;
  }
}

TEST(ScriptEngine, FirstMatchingRuleAnswersWithAllItsBlocksInOrder) {
  exchangetest::RecordingEvents events;
  ScriptEngine engine(events);
  ASSERT_TRUE(engine.AddRule("10??0003* 11[1]0003d00100 6a000003100105"));
  ASSERT_TRUE(engine.AddRule("10* ff"));
  exchangetest::RecordingBlocks out;
  engine.OnBlock(Hex("10040003100105"), out);
  EXPECT_EQ(out.Take(), (std::vector<Bytes>{Hex("11040003d00100"), Hex("6a000003100105")}));

  engine.OnBlock(Hex("1004"), out);
  EXPECT_EQ(out.Take(), (std::vector<Bytes>{Hex("ff")}));
  EXPECT_TRUE(events.Lines().empty());
}

TEST(ScriptEngine, UnmatchedBlocksAreReportedAndSilentRulesSwallow) {
  exchangetest::RecordingEvents events;
  ScriptEngine engine(events);
  ASSERT_TRUE(engine.AddRule("0400*"));
  exchangetest::RecordingBlocks out;
  engine.OnBlock(Hex("040100020f00"), out);
  engine.OnBlock(Hex("0400"), out);
  EXPECT_TRUE(out.Take().empty());
  EXPECT_EQ(events.Lines(), (std::vector<std::string>{"unanswered 040100020f00"}));
}

TEST(ScriptEngine, AnAnswerReferringPastTheBlockSendsNothingAndIsReported) {
  exchangetest::RecordingEvents events;
  ScriptEngine engine(events);
  ASSERT_TRUE(engine.AddRule("01* 02 03[4]"));
  exchangetest::RecordingBlocks out;
  engine.OnBlock(Hex("0102"), out);
  EXPECT_EQ(out.Take(), (std::vector<Bytes>{Hex("02")})) << "answers before the failing one are sent";
  EXPECT_EQ(events.Lines(), (std::vector<std::string>{"answer-failed 0102"}));
}

TEST(ScriptEngine, RuleCommandsAddAndClearRules) {
  exchangetest::RecordingEvents events;
  ScriptEngine engine(events);
  exchangetest::RecordingBlocks out;
  auto added = engine.OnCommand("rule", "ae* af[1]0003d00100", out);
  ASSERT_TRUE(added);
  EXPECT_TRUE(added->ok);
  EXPECT_EQ(added->text, "rule 1");

  auto bad = engine.OnCommand("rule", "ae* zz", out);
  ASSERT_TRUE(bad);
  EXPECT_FALSE(bad->ok);
  EXPECT_NE(bad->text.find("bad answer 'zz'"), std::string::npos);
  EXPECT_EQ(engine.RuleCount(), 1u);

  engine.OnBlock(Hex("ae020000"), out);
  EXPECT_EQ(out.Take(), (std::vector<Bytes>{Hex("af020003d00100")}));

  ASSERT_TRUE(engine.OnCommand("rules-clear", "", out));
  EXPECT_EQ(engine.RuleCount(), 0u);
  EXPECT_FALSE(engine.OnCommand("send", "00", out).has_value()) << "not the engine's command";
}

TEST(EchoEngine, SendsEveryBlockBack) {
  exchange::EchoEngine engine;
  exchangetest::RecordingBlocks out;
  engine.OnBlock(Hex("0102"), out);
  engine.OnBlock(Hex("f0"), out);
  EXPECT_EQ(out.Take(), (std::vector<Bytes>{Hex("0102"), Hex("f0")}));
}

}  // namespace
