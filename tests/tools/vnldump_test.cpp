// The vnldump program, run as users run it on hex dumps and trace files.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/test_root.h"
#include "tests/support/tool_run.h"

namespace {

struct DumpRun {
  int exitCode = -1;
  std::vector<std::string> lines;  // standard output, split at '\n'
  std::string err;
};

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// Runs vnldump with args; standard input comes from the text stdinText.
DumpRun vnldump(const std::vector<std::string>& args, const std::string& stdinText = "") {
  std::string root = tktest::currentRoot();
  std::string inFile = root + "/vnldump.in";
  std::string outFile = root + "/vnldump.out";
  std::string errFile = root + "/vnldump.err";
  tktest::writeFile(inFile, stdinText);
  std::vector<std::string> shellArgs = {"-c", "exec \"$0\" \"$@\" <\"$DUMP_IN\" >\"$DUMP_OUT\" 2>\"$DUMP_ERR\"",
                                        TK_VNLDUMP};
  shellArgs.insert(shellArgs.end(), args.begin(), args.end());
  DumpRun run;
  tktest::ChildProcess child;
  if (!child.start("/bin/sh", shellArgs, {{"DUMP_IN", inFile}, {"DUMP_OUT", outFile}, {"DUMP_ERR", errFile}})) {
    ADD_FAILURE() << "cannot start vnldump";
    return run;
  }
  auto code = child.wait(std::chrono::seconds(30));
  EXPECT_TRUE(code.has_value()) << "vnldump did not end";
  run.exitCode = code.value_or(-1);
  run.lines = splitLines(tktest::readFile(outFile));
  run.err = tktest::readFile(errFile);
  return run;
}

// A KVARVNL.LOG as the provider writes it: records with the time prefix,
// decoded and raw lines, a multi-line record, CR LF line ends and
// Windows-1252 text.
constexpr const char* kCapturedLog =
    "[07.12.26 23:59:01,120] PC -> TK: VNL_REGISTER_REQ( LINE_ID: 5 )\r\n"
    "[07.12.26 23:59:01,121] PC -> TK: 10 01 00 03 10 01 05 \r\n"
    "[07.12.26 23:59:01,180] TK -> PC: 11 01 00 03 d0 01 00 \r\n"
    "[07.12.26 23:59:01,181] TK -> PC: VNL_REGISTER_CONF( RefID: 1, RESULT: 0 )\r\n"
    "[07.12.26 23:59:02,400] TK -> PC: 60 07 00 0b 10 01 05 11 02 00 2a 14 02 00 00 \r\n"
    "[07.12.26 23:59:02,401] TK -> PC: VNL_NEWCALL_IND( RefID: 7, LINE_ID: 5, CALL_ID: 42, REFCALL_ID: 0 )\r\n"
    "[07.12.26 23:59:02,402] PC -> TK: VNL_NEWCALL_RESP( RESULT: 0 )\r\n"
    "[07.12.26 23:59:02,403] PC -> TK: 61 07 00 03 d0 01 00 \r\n"
    "[07.12.26 23:59:03,000] Verbindung zur TK-Anlage unterbrochen (L\xe4nge 0)\r\n"
    "                        ab cd ef\r\n"
    "[07.12.26 23:59:05,500] TK -> PC: 11 02 00 05 d0 01 00 10 \r\n"
    "[07.12.26 23:59:05,501] Error: Parameter not complete\r\n"
    "[07.12.26 23:59:05,502] TK -> PC: VNL_REGISTER_CONF( RefID: 2, RESULT: 0 )\r\n";

TEST(Vnldump, DecodesTheRawLinesOfACapturedTraceFile) {
  std::string log = tktest::currentRoot() + "/KVARVNL.LOG";
  tktest::writeFile(log, kCapturedLog);
  DumpRun run = vnldump({log});
  EXPECT_EQ(run.exitCode, 1) << "the last message is cut short";
  std::vector<std::string> expected = {
      "PC -> TK: VNL_REGISTER_REQ( LINE_ID: 5 )",
      "TK -> PC: VNL_REGISTER_CONF( RefID: 1, RESULT: 0 )",
      "TK -> PC: VNL_NEWCALL_IND( RefID: 7, LINE_ID: 5, CALL_ID: 42, REFCALL_ID: 0 )",
      "PC -> TK: VNL_NEWCALL_RESP( RESULT: 0 )",
      "line 11: Error: Parameter not complete",
      "TK -> PC: VNL_REGISTER_CONF( RefID: 2, RESULT: 0 )",
  };
  EXPECT_EQ(run.lines, expected);
  EXPECT_EQ(run.err, "");
}

TEST(Vnldump, WellFormedInputEndsWithStatusZero) {
  DumpRun run = vnldump({}, "10 01 00 03 10 01 05\n# answer\n110100 03d00100\n");
  EXPECT_EQ(run.exitCode, 0);
  std::vector<std::string> expected = {
      "PC -> TK: VNL_REGISTER_REQ( LINE_ID: 5 )",
      "TK -> PC: VNL_REGISTER_CONF( RefID: 1, RESULT: 0 )",
  };
  EXPECT_EQ(run.lines, expected);
}

TEST(Vnldump, LineIdWidthFollowsTheSixteenBitOption) {
  const std::string register16 = "10 01 00 04 10 02 00 05\n";
  DumpRun wide = vnldump({"--16bit"}, register16);
  EXPECT_EQ(wide.exitCode, 0);
  EXPECT_EQ(wide.lines, std::vector<std::string>{"PC -> TK: VNL_REGISTER_REQ( LINE_ID: 5 )"});
  // With 8-bit line IDs only the first byte of the value counts.
  DumpRun narrow = vnldump({"-"}, register16);
  EXPECT_EQ(narrow.exitCode, 0);
  EXPECT_EQ(narrow.lines, std::vector<std::string>{"PC -> TK: VNL_REGISTER_REQ( LINE_ID: 0 )"});
}

TEST(Vnldump, WindowsTextIsPrintedAsUtf8) {
  // VNL_LINEINFO_IND, RefID 3, LINE_ID 5, LINE_STATE 1, DEST_ADDRESS "M\xe4x".
  DumpRun run = vnldump({}, "6a 03 00 0b 10 01 05 52 01 01 30 03 4d e4 78\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.lines, std::vector<std::string>{
                           "TK -> PC: VNL_LINEINFO_IND( RefID: 3, LINE_ID: 5, LINE_STATE: 0x01, DEST_ADDRESS: "
                           "\"M\xc3\xa4x\" )"});
}

TEST(Vnldump, MalformedMessagesAreReportedAndDecodingGoesOn) {
  DumpRun run = vnldump({"--raw"},
                        "60 01 00\n"                 // shorter than the header
                        "b0 01 00 00\n"              // undefined message type
                        "10 01 0\n"                  // not hex
                        "11 04 00 05 99 00 d0 01 01\n"  // unknown parameter type, then RESULT 1
                        "ae 02 00 00\n");
  EXPECT_EQ(run.exitCode, 1);
  std::vector<std::string> expected = {
      "TK -> PC: 60 01 00",
      "line 1: Error: Message shorter then predefined Message Header",
      "TK -> PC: b0 01 00 00",
      "line 2: Invalid Message Type: 0xb0",
      "line 3: odd number of hex digits: \"0\"",
      "TK -> PC: 11 04 00 05 99 00 d0 01 01",
      "line 4: Invalid parameter type: 0x99",
      "TK -> PC: VNL_REGISTER_CONF( RefID: 4, RESULT: 1 )",
      "PC -> TK: ae 02 00 00",
      "PC -> TK: VNL_GETADDRESSLIST_REQ()",
  };
  EXPECT_EQ(run.lines, expected);
}

TEST(Vnldump, SeveralFilesNameTheFileOfEachError) {
  std::string good = tktest::currentRoot() + "/good.txt";
  std::string bad = tktest::currentRoot() + "/bad.txt";
  tktest::writeFile(good, "ae 02 00 00\n");
  tktest::writeFile(bad, "\nzz\n");
  DumpRun run = vnldump({good, bad});
  EXPECT_EQ(run.exitCode, 1);
  std::vector<std::string> expected = {"PC -> TK: VNL_GETADDRESSLIST_REQ()", bad + " line 2: not a hex byte: \"zz\""};
  EXPECT_EQ(run.lines, expected);
}

// Bad input: unknown options and files that cannot be read end with 2 and no
// half dump; odd text in the input is read (BOM, CR LF) or shown escaped.
TEST(Vnldump, BadInputIsNamedAndNothingReachesTheTerminalUnescaped) {
  const std::string root = tktest::currentRoot();
  const std::string good = root + "/good.txt";
  tktest::writeFile(good, "ae 02 00 00\n");
  const std::string bom = root + "/bom.txt";
  tktest::writeFile(bom, "\xEF\xBB\xBF" "ae 02 00 00\r\n10 01 00 03 10 01 05\r\n");
  const std::string odd = root + "/odd\x1b[2J.txt";
  tktest::writeFile(odd, "zz\n");
  struct Case {
    std::vector<std::string> args;
    std::string input;  // standard input
    int exitCode;
    std::string err;  // standard error, whole
    std::string out;  // standard output, whole
  };
  const Case cases[] = {
      {{"--bogus"}, "ae 02 00 00\n", 2, "vnldump: unknown option --bogus\nTry 'vnldump --help'.\n", ""},
      {{"-x", good}, "", 2, "vnldump: unknown option -x\nTry 'vnldump --help'.\n", ""},
      {{good, root + "/no-such.log"}, "", 2,
       "vnldump: cannot open " + root + "/no-such.log: No such file or directory\n", ""},
      {{good, root}, "", 2, "vnldump: cannot read " + root + ": it is a folder, not a file\n", ""},
      {{bom}, "", 0, "", "PC -> TK: VNL_GETADDRESSLIST_REQ()\nPC -> TK: VNL_REGISTER_REQ( LINE_ID: 5 )\n"},
      {{}, "\xEF\xBB\xBF" "10 01 00 03 10 01 05\r\n", 0, "", "PC -> TK: VNL_REGISTER_REQ( LINE_ID: 5 )\n"},
      {{"--", "-"}, "zz\x1b[31m\xFF\n", 1, "", "line 1: not a hex byte: \"zz\\x1b[31m\\xff\"\n"},
      {{good, odd}, "", 1, "",
       "PC -> TK: VNL_GETADDRESSLIST_REQ()\n" + root + "/odd\\x1b[2J.txt line 1: not a hex byte: \"zz\"\n"},
      // VNL_LINEINFO_IND whose DEST_ADDRESS holds ESC and a carriage return.
      {{}, "6a 03 00 0b 10 01 05 52 01 01 30 03 4d 1b 0d\n", 0, "",
       "TK -> PC: VNL_LINEINFO_IND( RefID: 3, LINE_ID: 5, LINE_STATE: 0x01, DEST_ADDRESS: \"M\\x1b\\r\" )\n"},
  };
  for (const Case& c : cases) {
    std::string argsText;
    for (const std::string& arg : c.args) argsText += " " + arg;
    tktest::ToolRunOptions options;
    options.inputFile = root + "/stdin.txt";
    tktest::writeFile(options.inputFile, c.input);
    tktest::ToolRun run = tktest::runTool(TK_VNLDUMP, c.args, options);
    EXPECT_EQ(run.exitCode, c.exitCode) << argsText;
    EXPECT_EQ(run.err, c.err) << argsText;
    EXPECT_EQ(run.out, c.out) << argsText;
  }
}

TEST(Vnldump, HelpDescribesTheInputFormsAndOptions) {
  DumpRun run = vnldump({"--help"});
  EXPECT_EQ(run.exitCode, 0);
  std::string text;
  for (const auto& line : run.lines) text += line + "\n";
  for (const char* part : {"PC -> TK: 10 01 00 03 10 01 05", "KVARVNL.LOG", "--16bit", "--raw", "example"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part;
  }
}

}  // namespace
