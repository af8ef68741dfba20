#pragma once
// Picks VNL messages out of the text lines vnldump reads: plain hex bytes,
// raw protocol-trace lines ("PC -> TK: 10 01 00 03 10 01 05 ") and whole
// KVARVNL.LOG files, whose records carry a 24-character time prefix.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vnldump {

enum class Direction { Unknown, PcToTk, TkToPc };

struct InputLine {
  enum class Kind {
    Skipped,  // no message: empty, a comment, a decoded trace line, a continuation or another record
    Message,  // bytes holds one message
    BadHex,   // meant to be a message but not readable as hex bytes; error says why
  };
  Kind kind = Kind::Skipped;
  Direction direction = Direction::Unknown;
  std::vector<uint8_t> bytes;
  std::string error;
};

// Classifies one line (its line end, CR LF or LF, may still be attached).
// Accepted message forms:
//   "10 01 00 03 10 01 05" or "10010003100105" (either case)
//   "PC -> TK: 10 01 00 03 10 01 05 " and "TK -> PC: ..."
//   "[07.12.26 23:59:01,123] PC -> TK: 10 01 00 03 10 01 05 "
// Inside a time-stamped record only a raw line counts; every other record
// (decoded lines, error texts) is skipped. Without the time prefix, a line
// after "PC -> TK: " that starts with "VNL_" is a decoded line and skipped.
// Lines starting with '#' are comments.
InputLine ParseInputLine(std::string_view line);

}  // namespace vnldump
