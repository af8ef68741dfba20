#pragma once
// The text phases of the serial link's receive parser: the exchange's
// answer to the service request (ESC "C"), read ahead of the frames.
//
// In: the bytes the parser has buffered (its one 4096-byte buffer) and the
// phase it is in. Out: how many of them to drop from the front, the phase to
// go on in and, once found, the answer line from "CTI" on. The trace lines
// ("CTIINIT %s", "CTICHECK:%s", "CTICHECK:No CR", "CTICHECK2:%s") go to the
// parser's log sink. Also here: the line speed an answer announces.
// Threads: none; plain functions without I/O (the fuzzer builds them with
// the standard library alone).
//
// The answer is one line ended by a carriage return. Everything up to and
// including the first carriage return ever received is noise (CTIINIT);
// then each line is looked at in turn (CTICHECK) until one holds "CTI".
// Only the line is consumed: the bytes after its carriage return are the
// first frame bytes.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "link/control/layer2_frame.h"

namespace layer2 {

struct ServiceAnswerScan {
  size_t consumed = 0;    // bytes to drop from the front of the buffer
  bool checking = false;  // the phase to go on in: CTICHECK (true) or CTIINIT
  std::optional<std::string> answer;  // the answer line from "CTI" on, without its CR
};

// One pass over the buffered bytes in CTIINIT (checking false) or CTICHECK:
// works until it needs more bytes or has found the answer.
ServiceAnswerScan ScanServiceAnswer(std::span<const uint8_t> buffered, bool checking, const LogSink& log);

// The line speed an answer announces: the first of "1200", "2400", "4800",
// "9600", "19200", "38400", "57600", "115200" (searched in that order) that
// occurs in it. found: text is the answer from that number to its end (what
// the port is re-configured with); none: text is "9600" (what is logged).
struct AnnouncedSpeed {
  bool found = false;
  std::string text;
};
AnnouncedSpeed FindAnnouncedSpeed(std::string_view answer);

}  // namespace layer2
