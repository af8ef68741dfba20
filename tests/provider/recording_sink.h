#pragma once
// An EventSink that records what the provider queues, in order, and plays
// TAPI's part for LINE_NEWCALL: it writes an htCall through dwParam2 before
// it returns, as delivery with the wait flag guarantees.
#include <cstdint>
#include <vector>

#include "provider/event_sink.h"

namespace tktest {

struct QueuedEntry {
  bool completion = false;
  HTAPILINE line = nullptr;
  LINEEVENT callback = nullptr;
  DRV_REQUESTID requestId = 0;
  LONG result = 0;
  HTAPILINE htLine = nullptr;
  HTAPICALL htCall = nullptr;
  DWORD msg = 0;
  DWORD_PTR param1 = 0, param2 = 0, param3 = 0;
  bool waited = false;
};

class RecordingSink : public kvarsp::EventSink {
 public:
  bool QueueCompletion(HTAPILINE line, DRV_REQUESTID requestId, LONG result, bool wait) override {
    entries.push_back({true, line, nullptr, requestId, result, nullptr, nullptr, 0, 0, 0, 0, wait});
    return true;
  }
  bool QueueEvent(HTAPILINE line, LINEEVENT callback, HTAPILINE htLine, HTAPICALL htCall, DWORD msg, DWORD_PTR p1,
                  DWORD_PTR p2, DWORD_PTR p3, bool wait) override {
    entries.push_back({false, line, callback, 0, 0, htLine, htCall, msg, p1, p2, p3, wait});
    if (msg == LINE_NEWCALL && wait && p2) *reinterpret_cast<HTAPICALL*>(p2) = nextHtCall();
    return true;
  }

  std::vector<DWORD> messages() const {
    std::vector<DWORD> out;
    for (const auto& e : entries)
      if (!e.completion) out.push_back(e.msg);
    return out;
  }

  std::vector<QueuedEntry> entries;

 private:
  HTAPICALL nextHtCall() { return reinterpret_cast<HTAPICALL>(uintptr_t{0xC000} + 0x10 * ++newCalls_); }
  int newCalls_ = 0;
};

}  // namespace tktest
