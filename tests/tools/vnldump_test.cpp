// The vnldump program, run as users run it on hex dumps and trace files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/test_root.h"
#include "tests/support/tool_run.h"

namespace {

// Runs vnldump with args; standard input comes from the text stdinText.
tktest::ToolRun vnldump(const std::vector<std::string>& args, const std::string& stdinText = "") {
  tktest::ToolRunOptions options;
  options.inputFile = tktest::currentRoot() + "/stdin.txt";
  tktest::writeFile(options.inputFile, stdinText);
  return tktest::runTool(TK_VNLDUMP, args, options);
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

// Each run: its arguments and standard input, and all it writes. Unknown
// options and files that cannot be read end with 2 and no half dump; odd text
// in the input is read (BOM, CR LF) or shown escaped.
TEST(Vnldump, DecodesItsInputAndNamesWhatIsWrongWithIt) {
  const std::string root = tktest::currentRoot();
  const std::string log = root + "/KVARVNL.LOG";
  tktest::writeFile(log, kCapturedLog);
  const std::string good = root + "/good.txt";
  tktest::writeFile(good, "ae 02 00 00\n");
  const std::string bad = root + "/bad.txt";
  tktest::writeFile(bad, "\nzz\n");
  const std::string bom = root + "/bom.txt";
  tktest::writeFile(bom, "\xEF\xBB\xBF" "ae 02 00 00\r\n10 01 00 03 10 01 05\r\n");
  const std::string odd = root + "/odd\x1b[2J.txt";
  tktest::writeFile(odd, "zz\n");
  const std::string register16 = "10 01 00 04 10 02 00 05\n";
  struct Case {
    std::vector<std::string> args;
    std::string input;  // standard input
    int exitCode;
    std::string err;  // standard error, whole
    std::string out;  // standard output, whole
  };
  const Case cases[] = {
      // The raw lines of a captured trace file; its last message is cut short.
      {{log}, "", 1, "",
       "PC -> TK: VNL_REGISTER_REQ( LINE_ID: 5 )\n"
       "TK -> PC: VNL_REGISTER_CONF( RefID: 1, RESULT: 0 )\n"
       "TK -> PC: VNL_NEWCALL_IND( RefID: 7, LINE_ID: 5, CALL_ID: 42, REFCALL_ID: 0 )\n"
       "PC -> TK: VNL_NEWCALL_RESP( RESULT: 0 )\n"
       "line 11: Error: Parameter not complete\n"
       "TK -> PC: VNL_REGISTER_CONF( RefID: 2, RESULT: 0 )\n"},
      // Well-formed input ends with status 0.
      {{}, "10 01 00 03 10 01 05\n# answer\n110100 03d00100\n", 0, "",
       "PC -> TK: VNL_REGISTER_REQ( LINE_ID: 5 )\nTK -> PC: VNL_REGISTER_CONF( RefID: 1, RESULT: 0 )\n"},
      // The line ID's width follows --16bit; with 8 bits only the first byte counts.
      {{"--16bit"}, register16, 0, "", "PC -> TK: VNL_REGISTER_REQ( LINE_ID: 5 )\n"},
      {{"-"}, register16, 0, "", "PC -> TK: VNL_REGISTER_REQ( LINE_ID: 0 )\n"},
      // VNL_LINEINFO_IND, RefID 3, LINE_ID 5, LINE_STATE 1, DEST_ADDRESS "M\xe4x": printed as UTF-8.
      {{}, "6a 03 00 0b 10 01 05 52 01 01 30 03 4d e4 78\n", 0, "",
       "TK -> PC: VNL_LINEINFO_IND( RefID: 3, LINE_ID: 5, LINE_STATE: 0x01, DEST_ADDRESS: \"M\xc3\xa4x\" )\n"},
      // Malformed messages are reported and decoding goes on.
      {{"--raw"},
       "60 01 00\n"                    // shorter than the header
       "b0 01 00 00\n"                 // undefined message type
       "10 01 0\n"                     // not hex
       "11 04 00 05 99 00 d0 01 01\n"  // unknown parameter type, then RESULT 1
       "ae 02 00 00\n",
       1, "",
       "TK -> PC: 60 01 00\n"
       "line 1: Error: Message shorter then predefined Message Header\n"
       "TK -> PC: b0 01 00 00\n"
       "line 2: Invalid Message Type: 0xb0\n"
       "line 3: odd number of hex digits: \"0\"\n"
       "TK -> PC: 11 04 00 05 99 00 d0 01 01\n"
       "line 4: Invalid parameter type: 0x99\n"
       "TK -> PC: VNL_REGISTER_CONF( RefID: 4, RESULT: 1 )\n"
       "PC -> TK: ae 02 00 00\n"
       "PC -> TK: VNL_GETADDRESSLIST_REQ()\n"},
      // Several files name the file of each error.
      {{good, bad}, "", 1, "", "PC -> TK: VNL_GETADDRESSLIST_REQ()\n" + bad + " line 2: not a hex byte: \"zz\"\n"},
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
    SCOPED_TRACE(::testing::PrintToString(c.args) + " < " + ::testing::PrintToString(c.input));
    tktest::ToolRun run = vnldump(c.args, c.input);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.out, c.out);
  }
}

TEST(Vnldump, HelpDescribesTheInputFormsAndOptions) {
  tktest::ToolRun run = vnldump({"--help"});
  EXPECT_EQ(run.exitCode, 0);
  for (const char* part : {"PC -> TK: 10 01 00 03 10 01 05", "KVARVNL.LOG", "--16bit", "--raw", "example"}) {
    EXPECT_NE(run.out.find(part), std::string::npos) << part;
  }
}

}  // namespace
