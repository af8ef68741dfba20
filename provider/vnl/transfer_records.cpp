#include "provider/vnl/transfer_records.h"

namespace kvarsp {

TransferRecord& TransferRecords::Create(uint16_t pbxCallId, const OpenLine& line) {
  Delete(pbxCallId);
  TransferRecord& record = records_.emplace_back();
  record.pbxCallId = pbxCallId;
  record.line = &line;
  return record;
}

TransferRecord* TransferRecords::Find(uint16_t pbxCallId) {
  for (TransferRecord& r : records_)
    if (r.pbxCallId == pbxCallId) return &r;
  return nullptr;
}

bool TransferRecords::Delete(uint16_t pbxCallId) {
  return records_.remove_if([&](const TransferRecord& r) { return r.pbxCallId == pbxCallId; }) != 0;
}

void TransferRecords::DeleteLine(const OpenLine& line) {
  records_.remove_if([&](const TransferRecord& r) { return r.line == &line; });
}

void TransferRecords::ForgetCall(const TspCall* call) {
  for (TransferRecord& r : records_)
    if (r.attached == call) r.attached = nullptr;
}

}  // namespace kvarsp
