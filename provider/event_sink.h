#pragma once
// Where the provider's completions and line events go on their way to TAPI.
// The provider's event queue (CAsyncComplEvent2Tapi) is the real one; the
// line and call model talks only to this interface, so that it can be
// exercised with a recording sink.
#include "tapi/tspi.h"

namespace kvarsp {

class EventSink {
 public:
  virtual ~EventSink() = default;

  // line: the provider line (its htLine) the entry belongs to, or null.
  // With waitForDelivery the call returns only after TAPI's callback returned.
  // False when the entry could not be queued (it is then lost).
  virtual bool QueueCompletion(HTAPILINE line, DRV_REQUESTID requestId, LONG result,
                               bool waitForDelivery = false) = 0;
  virtual bool QueueEvent(HTAPILINE line, LINEEVENT callback, HTAPILINE htLine, HTAPICALL htCall, DWORD msg,
                          DWORD_PTR param1, DWORD_PTR param2, DWORD_PTR param3, bool waitForDelivery = false) = 0;
};

}  // namespace kvarsp
