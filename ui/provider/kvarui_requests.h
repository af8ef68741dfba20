#pragma once
// The configuration dialog's line to its provider: every read and change is
// a 6164-byte UiRequestBlock handed to the lpfnUIDLLCallback that the
// telephony service gave the current TUISPI entry point, which passes it to
// the provider's TSPI_providerGenericDialogData and brings the reply back in
// the same block.
//
// In: the callback target (set on entry to each TUISPI function, cleared
// before it returns) and the request's arguments. Out: the reply fields,
// checked before use: a text counts only when its terminator lies inside the
// output field (else it is empty), and it is cut to the caller's buffer size
// minus one. When the callback fails (nonzero return, or none set) each
// request yields its failure default: integer queries 0, texts empty,
// request 2 all ones with message 32, request 10 8, request 11 33, request
// 12 23. Each send writes its trace entries to KVARTAPI.LOG.
//
// Threads: the dialog's thread; one configuration run per process.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "provider/ui_request_block.h"
#include "tapi/tspi.h"

namespace ui::provider {

using kvarsp::UiRequestBlock;

// Whom the requests go to.
struct CallbackTarget {
  TUISPIDLLCALLBACK callback = nullptr;
  DWORD_PTR objectId = 0;
  DWORD objectType = 0;
};

// The process's target (one dialog at a time per process).
CallbackTarget& CurrentTarget();

// Sends a block as it is (trace entries included); true when the callback returned 0.
bool SendRequest(UiRequestBlock& block);

// An integer request: the reply's result, `failure` when the callback failed.
uint32_t RequestValue(uint32_t code, uint32_t arg1 = 0, uint32_t arg2 = 0, uint32_t failure = 0);
// A text request with a reply buffer of `bufferChars` characters (terminator
// included): the text cut to bufferChars - 1; *result (when given) the
// reply's result. Failure: empty and 0.
std::u16string RequestText(uint32_t code, uint32_t arg1, uint32_t arg2, size_t bufferChars, uint32_t* result = nullptr);
// A request that carries a text (at most 1023 characters are sent) and argument 2.
void SendText(uint32_t code, std::u16string_view text, uint32_t arg2 = 0);

// Request 2: the provider's layer-2 binding; result 0 when bound, else the
// error and the id of the message to show (28, 29 or 30; 32 otherwise).
struct LinkInitReply {
  uint32_t result = 0;
  int messageId = 0;
};
LinkInitReply RequestLinkInit();

// The name of a TAPI result for the trace: "SUCCESS", a LINEERR_ name,
// "<unknown>", or "dwRequestID (0x..)" for positive values.
std::string ResultText(LONG result);
// "%s return %s" into the trace.
void TraceReturn(const char* function, LONG result);

}  // namespace ui::provider
