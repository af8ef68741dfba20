#pragma once
// The records the provider keeps of the exchange's consultation calls of
// blind transfers: no call object stands for such a call, yet the exchange
// reports its progress (VNL_CALLINFO_IND) and its end (VNL_CLOSECALL_IND) by
// its CALL_ID. In: a record per confirmed blind transfer, the call states the
// exchange reports, line close, link loss and deleted calls. Out: the last
// state of a consultation call and the transferred call attached to it.
// Plain data, no thread; under the provider lock.
#include <cstddef>
#include <cstdint>
#include <list>

namespace kvarsp {

struct OpenLine;
struct TspCall;

struct TransferRecord {
  uint16_t pbxCallId = 0;           // the consultation call's CALL_ID
  const OpenLine* line = nullptr;
  uint8_t lastCallState = 0;        // the last CALL_STATE byte reported, 0 before any
  const TspCall* attached = nullptr;  // the transferred call while it waits
};

class TransferRecords {
 public:
  // A new record for the CALL_ID (an older one for the same CALL_ID goes);
  // throws std::bad_alloc.
  TransferRecord& Create(uint16_t pbxCallId, const OpenLine& line);
  TransferRecord* Find(uint16_t pbxCallId);
  // False when there was none.
  bool Delete(uint16_t pbxCallId);
  // Line close and link loss: the line's records go.
  void DeleteLine(const OpenLine& line);
  // A call object goes: no record keeps it attached.
  void ForgetCall(const TspCall* call);
  size_t Count() const { return records_.size(); }

 private:
  std::list<TransferRecord> records_;
};

}  // namespace kvarsp
