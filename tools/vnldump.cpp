// vnldump: decodes VNL messages given as hex bytes, raw protocol-trace lines
// or whole KVARVNL.LOG files into the protocol trace's decoded texts.
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/file_read.h"
#include "platform/printable_text.h"
#include "provider/vnl/codec/vnl_decoder.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "provider/vnl/codec/vnl_trace_text.h"
#include "tools/vnldump_input.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitMalformed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage = R"(usage: vnldump [--16bit] [--raw] [FILE...]

Decodes VNL messages into the texts of the protocol trace. Reads the FILEs,
or standard input when there is none or FILE is "-", line by line. A line
holds one message in one of these forms:

  10 01 00 03 10 01 05                    hex bytes, blanks optional, any case
  PC -> TK: 10 01 00 03 10 01 05          a raw line of the protocol trace
  [07.12.26 23:59:01,123] TK -> PC: 11 01 00 03 d0 01 00
                                          a record of a KVARVNL.LOG file

Of a KVARVNL.LOG file only the raw lines are read; its decoded lines,
continuation lines and other records are skipped, as are empty lines and
lines starting with '#'. Lines may end in LF or CR LF; a UTF-8 byte order
mark before the first line is skipped.

For each message vnldump prints its decoded text. Errors found in a message
are printed before it, prefixed with the line they come from ("line 12: ",
with several files "FILE line 12: "). Texts of messages (Windows-1252) are
printed as UTF-8; control characters in them, and bytes of a line that are
not UTF-8, are shown escaped (\x1b, \xe4, ...).

options:
  --16bit   read LINE_ID as a 16-bit word (the provider's "16BitLineId")
  --raw     print the raw trace line of each message before its decoded text
  --help    show this text

example:
  echo '10 01 00 03 10 01 05' | vnldump
  PC -> TK: VNL_REGISTER_REQ( LINE_ID: 5 )

Exit status: 0 all messages well-formed, 1 some message malformed (a decoder
error, an undefined message type or a line that is not hex), 2 wrong usage or
an unreadable file.
)";

struct Options {
  bool lineId16 = false;
  bool raw = false;
  std::vector<std::string> files;
};

// A file is read whole before any output; standard input is read as it
// comes, so that vnldump can decode lines typed or piped one by one.
struct Input {
  std::string name;  // "" for standard input
  std::unique_ptr<std::istringstream> file;
  std::istream& stream() { return file ? *file : std::cin; }
};

// Prints where (UTF-8, from the command line) and then a text in the ANSI
// code page (a trace text, which may run over several lines), made safe for
// a terminal line by line.
void printLine(const std::string& where, const std::string& ansi) {
  std::string out = platform::printableText(where);
  const std::string utf8 = platform::ansiToUtf8(ansi);
  for (std::string_view rest = utf8;;) {
    size_t end = rest.find('\n');
    out += platform::printableText(rest.substr(0, end));
    out += '\n';
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
}

void printLine(const std::string& ansi) { printLine({}, ansi); }

std::string trimRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

bool sentByPc(vnldump::Direction direction, uint8_t type) {
  if (direction != vnldump::Direction::Unknown) return direction == vnldump::Direction::PcToTk;
  vnl::Kind kind;
  return vnl::MessageKind(type, kind) && (kind == vnl::Kind::Request || kind == vnl::Kind::Response);
}

// Decodes and prints one message; false when it is malformed.
bool dumpMessage(const vnldump::InputLine& in, const std::string& where, const Options& options) {
  bool wellFormed = true;
  auto report = [&](std::string_view text) {
    wellFormed = false;
    printLine(where, std::string(text));
  };
  if (options.raw) {
    uint8_t type = in.bytes.empty() ? 0 : in.bytes[0];
    printLine(trimRight(vnl::RawTraceLine(sentByPc(in.direction, type), in.bytes)));
  }
  vnl::Message message;
  vnl::DecodeResult result = vnl::DecodeMessage(in.bytes, options.lineId16, message, report);
  if (!result.headerComplete) return false;
  if (result.outOfMemory || result.errors > 0) wellFormed = false;

  vnl::Kind kind;
  if (!vnl::MessageKind(message.type, kind)) {
    report(vnl::InvalidMessageTypeText(message.type));
    return false;
  }
  std::string text = vnl::DecodedTraceText(message);
  if (!text.empty()) printLine(text);
  return wellFormed;
}

// Returns false when some message of the input was malformed.
bool dumpInput(Input& input, bool nameLines, const Options& options) {
  bool allWellFormed = true;
  std::string line;
  unsigned long lineNumber = 0;
  while (std::getline(input.stream(), line)) {
    ++lineNumber;
    if (lineNumber == 1) line = std::string(platform::withoutUtf8ByteOrderMark(line));
    std::string where = (nameLines ? (input.name.empty() ? "-" : input.name) + " " : "") + "line " +
                        std::to_string(lineNumber) + ": ";
    vnldump::InputLine in = vnldump::ParseInputLine(line);
    switch (in.kind) {
      case vnldump::InputLine::Kind::Skipped:
        break;
      case vnldump::InputLine::Kind::BadHex:
        // The error quotes the line as it was, which need not be text.
        std::fputs(platform::printableText(where + in.error).append("\n").c_str(), stdout);
        allWellFormed = false;
        break;
      case vnldump::InputLine::Kind::Message:
        if (!dumpMessage(in, where, options)) allWellFormed = false;
        break;
    }
  }
  return allWellFormed;
}

int usageError(const std::string& message) {
  std::fprintf(stderr, "vnldump: %s\nTry 'vnldump --help'.\n", platform::printableText(message).c_str());
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (arg == "--help" || arg == "-h")) {
      std::fputs(kUsage, stdout);
      return kExitOk;
    } else if (!optionsEnded && arg == "--16bit") {
      options.lineId16 = true;
    } else if (!optionsEnded && arg == "--raw") {
      options.raw = true;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      return usageError("unknown option " + arg);
    } else {
      options.files.push_back(arg);
    }
  }
  if (options.files.empty()) options.files.push_back("-");

  // Every file is read before any output, so a wrong name costs no half dump.
  std::vector<Input> inputs;
  for (const std::string& name : options.files) {
    Input input;
    if (name != "-") {
      input.name = name;
      std::string text;
      std::string error;
      if (!platform::readWholeFileText(name, &text, &error)) {
        std::fprintf(stderr, "vnldump: %s\n", platform::printableText(error).c_str());
        return kExitUsage;
      }
      input.file = std::make_unique<std::istringstream>(std::move(text));
    }
    inputs.push_back(std::move(input));
  }

  bool allWellFormed = true;
  for (Input& input : inputs) {
    if (!dumpInput(input, inputs.size() > 1, options)) allWellFormed = false;
    if (input.stream().bad()) {
      std::fprintf(stderr, "vnldump: cannot read %s\n",
                   input.name.empty() ? "standard input" : platform::printableText(input.name).c_str());
      return kExitUsage;
    }
  }
  std::fflush(stdout);
  return allWellFormed ? kExitOk : kExitMalformed;
}
