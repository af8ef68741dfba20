#pragma once
// One call a provider made to TAPI: a completion of an asynchronous request,
// a line event through a line's event callback, or a LINE_CREATE through the
// line-create callback of TSPI_providerEnumDevices.
#include <cstdint>
#include <string>

#include "tapi/tapi_types.h"

namespace tapihost {

struct CallbackRecord {
  enum class Kind { Completion, LineEvent, LineCreate };

  Kind kind = Kind::Completion;
  uint64_t sequence = 0;  // order of arrival, from 1
  uint32_t threadId = 0;  // the provider thread that called

  // Completion
  DRV_REQUESTID requestId = 0;
  LONG result = 0;

  // LineEvent, LineCreate
  HTAPILINE htLine = nullptr;
  HTAPICALL htCall = nullptr;
  DWORD msg = 0;
  DWORD_PTR param1 = 0;
  DWORD_PTR param2 = 0;
  DWORD_PTR param3 = 0;

  // LINE_NEWCALL: the htCall the host wrote through param2.
  HTAPICALL newHtCall = nullptr;
};

// One line of text for logs and failure messages.
std::string describe(const CallbackRecord& record);

}  // namespace tapihost
