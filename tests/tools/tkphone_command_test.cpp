// tkphone's command parser and command line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tapi/tapi_constants.h"
#include "tools/tkphone_command.h"
#include "tools/tkphone_options.h"

namespace {

using namespace tkphone;
using ::testing::ElementsAre;

Command Parse(const std::string& line) {
  std::string error;
  auto command = ParseCommand(line, &error);
  EXPECT_TRUE(command) << line << ": " << error;
  return command.value_or(Command{});
}

std::string ErrorOf(const std::string& line) {
  std::string error;
  EXPECT_FALSE(ParseCommand(line, &error)) << line;
  return error;
}

TEST(TkphoneCommand, QuotedWordsKeepTheirBlanksAndEscapes) {
  Command call = Parse(R"(call 1 "0 (123) 456-78" "47 \"11\"\\")");
  EXPECT_EQ(call.verb, Verb::Call);
  EXPECT_EQ(call.line, 1u);
  EXPECT_EQ(call.number, "0 (123) 456-78");
  EXPECT_EQ(call.address, R"(47 "11"\)");
  // The text shown in messages quotes what needs it.
  EXPECT_EQ(Parse("call 0   \"1 2\"  # to the office").text, "call 0 \"1 2\"");

  std::vector<std::string> words;
  std::string error;
  ASSERT_TRUE(SplitWords("  dial\t2 \"#1\" # comment", &words, &error));
  EXPECT_THAT(words, ElementsAre("dial", "2", "#1"));
  EXPECT_FALSE(SplitWords("call 0 \"123", &words, &error));
  EXPECT_EQ(error, "unfinished quote");
}

TEST(TkphoneCommand, EveryCommandTakesItsArguments) {
  EXPECT_EQ(Parse("lines").verb, Verb::Lines);
  EXPECT_EQ(Parse("open 2").line, 2u);
  EXPECT_EQ(Parse("close 0").verb, Verb::Close);
  Command dial = Parse("dial 3 \"12 34\"");
  EXPECT_EQ(dial.call, 3u);
  EXPECT_EQ(dial.number, "12 34");
  for (const char* verb : {"accept", "answer", "drop", "dealloc", "info", "status"}) {
    EXPECT_EQ(Parse(std::string(verb) + " 7").call, 7u) << verb;
  }
  EXPECT_EQ(Parse("sleep 250").ms, 250u);
  EXPECT_EQ(Parse("quit").verb, Verb::Quit);
  EXPECT_EQ(Parse("call 0 22").address, "");
  Command tolerant = Parse("try drop 1");
  EXPECT_TRUE(tolerant.tolerant);
  EXPECT_EQ(tolerant.verb, Verb::Drop);
  EXPECT_FALSE(Parse("drop 1").tolerant);
}

TEST(TkphoneCommand, TheServicesTakeTheirArguments) {
  struct Case {
    const char* line;
    Verb verb;
    uint32_t call, otherCall, lineId;
    const char* number;
    DWORD mode;
  };
  const Case cases[] = {
      {"blindtransfer 1 22", Verb::BlindTransfer, 1, 0, 0, "22", 0},
      {"setuptransfer 2 \"0 22\"", Verb::SetupTransfer, 2, 0, 0, "0 22", 0},
      {"completetransfer 1 2 transfer", Verb::CompleteTransfer, 1, 2, 0, "", LINETRANSFERMODE_TRANSFER},
      {"completetransfer 3 1 conference", Verb::CompleteTransfer, 3, 1, 0, "", LINETRANSFERMODE_CONFERENCE},
      {"swaphold 1 2", Verb::SwapHold, 1, 2, 0, "", 0},
      {"park 4", Verb::Park, 4, 0, 0, "", 0},
      {"unpark 1 3", Verb::Unpark, 0, 0, 1, "3", 0},
      {"pickup 1 22", Verb::Pickup, 0, 0, 1, "22", 0},
      {"redirect 2 21", Verb::Redirect, 2, 0, 0, "21", 0},
      {"forward 0 unconditional 22", Verb::Forward, 0, 0, 0, "22", LINEFORWARDMODE_UNCOND},
      {"forward 1 noanswer 22", Verb::Forward, 0, 0, 1, "22", LINEFORWARDMODE_NOANSW},
      {"forward 1 cancel", Verb::Forward, 0, 0, 1, "", 0},
  };
  for (const Case& c : cases) {
    Command command = Parse(c.line);
    EXPECT_EQ(command.verb, c.verb) << c.line;
    EXPECT_EQ(command.call, c.call) << c.line;
    EXPECT_EQ(command.otherCall, c.otherCall) << c.line;
    EXPECT_EQ(command.line, c.lineId) << c.line;
    EXPECT_EQ(command.number, c.number) << c.line;
    EXPECT_EQ(command.mode, c.mode) << c.line;
  }
}

TEST(TkphoneCommand, MistakesAreNamed) {
  EXPECT_EQ(ErrorOf("frob 1"), "unknown command 'frob'");
  EXPECT_EQ(ErrorOf("open"), "open: wrong number of arguments (see --help)");
  EXPECT_EQ(ErrorOf("call 0 1 2 3"), "call: wrong number of arguments (see --help)");
  EXPECT_EQ(ErrorOf("drop one"), "drop: CALL must be a number, not 'one'");
  EXPECT_EQ(ErrorOf("open -1"), "open: LINE must be a number, not '-1'");
  EXPECT_EQ(ErrorOf("sleep 99999999999"), "sleep: MS must be a number, not '99999999999'");
  EXPECT_EQ(ErrorOf("try"), "try needs a command");
  EXPECT_EQ(ErrorOf("completetransfer 1 2"), "completetransfer: wrong number of arguments (see --help)");
  EXPECT_EQ(ErrorOf("completetransfer 1 x transfer"), "completetransfer: CONSULTCALL must be a number, not 'x'");
  EXPECT_EQ(ErrorOf("completetransfer 1 2 join"),
            "completetransfer: MODE must be transfer or conference, not 'join'");
  EXPECT_EQ(ErrorOf("forward 0 always 22"),
            "forward: MODE must be unconditional, busy, noanswer or cancel, not 'always'");
  EXPECT_EQ(ErrorOf("forward 0 busy"), "forward: busy needs a NUMBER");
  EXPECT_EQ(ErrorOf("forward 0 cancel 22"), "forward: cancel takes no NUMBER");
  std::string error;
  EXPECT_FALSE(ParseCommand("   # nothing", &error));
  EXPECT_EQ(error, "");
  EXPECT_FALSE(ParseCommand("", &error));
  EXPECT_EQ(error, "");
}

TEST(TkphoneCommand, WaitNamesAnEventAndNarrowsItDown) {
  WaitTarget plain = Parse("wait CALLSTATE").wait;
  EXPECT_FALSE(plain.completion);
  EXPECT_EQ(plain.msg, LINE_CALLSTATE);
  EXPECT_TRUE(plain.states.empty());
  EXPECT_EQ(plain.timeoutMs, kDefaultWaitMs);

  WaitTarget full = Parse("wait LINE_CALLSTATE LINECALLSTATE_BUSY|disconnected 500 call=2 line=1").wait;
  EXPECT_EQ(full.msg, LINE_CALLSTATE);
  EXPECT_THAT(full.states, ElementsAre(LINECALLSTATE_BUSY, LINECALLSTATE_DISCONNECTED));
  EXPECT_EQ(full.timeoutMs, 500u);
  EXPECT_EQ(full.call, 2u);
  EXPECT_EQ(full.line, 1u);

  EXPECT_EQ(Parse("wait linedevstate RINGING").wait.states, std::vector<DWORD>{LINEDEVSTATE_RINGING});
  EXPECT_EQ(Parse("wait NEWCALL 2000").wait.timeoutMs, 2000u);
  for (const char* name : {"COMPLETION", "ASYNC_COMPLETION", "REPLY", "LINE_REPLY"}) {
    EXPECT_TRUE(Parse(std::string("wait ") + name).wait.completion) << name;
  }
  EXPECT_EQ(Parse("wait COMPLETION OPERATIONFAILED").wait.result, LINEERR_OPERATIONFAILED);
  EXPECT_EQ(Parse("wait REPLY OK").wait.result, 0);

  EXPECT_EQ(ErrorOf("wait"), "wait: wrong number of arguments (see --help)");
  EXPECT_EQ(ErrorOf("wait RINGS"), "unknown event 'RINGS'");
  EXPECT_EQ(ErrorOf("wait CALLSTATE RINGING"), "unknown state 'RINGING'");
  EXPECT_EQ(ErrorOf("wait CALLSTATE IDLE|"), "unknown state ''");
  EXPECT_EQ(ErrorOf("wait CLOSE IDLE"), "LINE_CLOSE takes no state");
  EXPECT_EQ(ErrorOf("wait COMPLETION FINE"), "unknown result 'FINE' (OK or a LINEERR_ name)");
  EXPECT_EQ(ErrorOf("wait CALLSTATE 100 IDLE"), "unexpected 'IDLE'");
  EXPECT_EQ(ErrorOf("wait CALLSTATE 100 200"), "wait takes one time-out");
  EXPECT_EQ(ErrorOf("wait CALLSTATE call=x"), "'call=x' needs a number");
}

TEST(TkphoneCommand, ScriptsAndArgumentsNameTheirPlaces) {
  std::vector<Command> commands;
  std::string error;
  ASSERT_TRUE(ParseScript("# demo\nopen 0\r\n\n  call 0 22 # out\n", "demo.script", &commands, &error)) << error;
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].where, "demo.script:2");
  EXPECT_EQ(commands[0].text, "open 0");
  EXPECT_EQ(commands[1].where, "demo.script:4");

  commands.clear();
  EXPECT_FALSE(ParseScript("open 0\nopen 1\nfrob\n", "x.script", &commands, &error));
  EXPECT_EQ(error, "x.script:3: unknown command 'frob'");

  // A byte order mark and CRLF line ends, as Windows editors write them; a
  // quoted word keeps no CR.
  commands.clear();
  ASSERT_TRUE(ParseScript("\xEF\xBB\xBFopen 0\r\ncall 0 \"22\"\r\n", "w.script", &commands, &error)) << error;
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].text, "open 0");
  EXPECT_EQ(commands[1].number, "22");
  struct Bad {
    const char* text;
    const char* error;
  };
  for (const Bad& bad : {Bad{"open 0\nopen \xff\n", "b.script:2: not valid UTF-8 text"},
                         Bad{"open 0\ncall 0 \"2\xc3\"\n", "b.script:2: not valid UTF-8 text"},
                         Bad{"\xFF\xFEo\0p\0", "b.script:1: UTF-16 text; save the script as UTF-8"},
                         Bad{"open 0\r\ncall 0 \"22\r\n", "b.script:2: unfinished quote"}}) {
    commands.clear();
    EXPECT_FALSE(ParseScript(bad.text, "b.script", &commands, &error)) << bad.error;
    EXPECT_EQ(error, bad.error);
  }

  commands.clear();
  ASSERT_TRUE(ParseArguments({"open 0", "call 0 \"1 2\""}, &commands, &error));
  EXPECT_EQ(commands[1].where, "argument 2");
  EXPECT_EQ(commands[1].number, "1 2");
  EXPECT_FALSE(ParseArguments({"open 0", ""}, &commands, &error));
  EXPECT_EQ(error, "argument 2: empty command");
  EXPECT_FALSE(ParseArguments({"open 0", "call 0 \xe2\x82"}, &commands, &error));
  EXPECT_EQ(error, "argument 2: not valid UTF-8 text");
}

TEST(TkphoneOptions, CommandLine) {
  PhoneOptions options;
  std::string error;
  ASSERT_TRUE(ParsePhoneOptions({"--json", "--provider", "x.tsp", "--provider-id", "7", "--script", "s", "open 0",
                                 "--", "--odd"},
                                &options, &error))
      << error;
  EXPECT_TRUE(options.json);
  EXPECT_EQ(options.providerFile, "x.tsp");
  EXPECT_EQ(options.providerId, 7u);
  EXPECT_EQ(options.scriptFile, "s");
  EXPECT_THAT(options.commands, ElementsAre("open 0", "--odd"));

  PhoneOptions defaults;
  ASSERT_TRUE(ParsePhoneOptions({"lines"}, &defaults, &error));
  EXPECT_FALSE(defaults.json);
  EXPECT_EQ(defaults.providerFile, "");

  PhoneOptions bad;
  EXPECT_FALSE(ParsePhoneOptions({"--frob"}, &bad, &error));
  EXPECT_EQ(error, "unknown option --frob");
  EXPECT_FALSE(ParsePhoneOptions({"--script"}, &bad, &error));
  EXPECT_EQ(error, "--script needs a file");
  for (const char* id : {"x", "0", "1000000000"}) {
    PhoneOptions badId;
    EXPECT_FALSE(ParsePhoneOptions({"--provider", "a", "--provider-id", id}, &badId, &error));
    EXPECT_EQ(error, "--provider-id needs a number from 1 to 999999999, not '" + std::string(id) + "'");
  }
  PhoneOptions fresh;
  EXPECT_FALSE(ParsePhoneOptions({"--provider-id", "3"}, &fresh, &error));
  EXPECT_EQ(error, "--provider-id needs --provider");
}

}  // namespace
