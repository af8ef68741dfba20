#pragma once
// One completion or event as the telephony host hands it to a program: what
// the provider reported, with the host's line device ID already resolved
// from the htLine it carries, and the message's name for printing.
#include <cstdint>
#include <optional>
#include <string>

#include "tapi/host/callback_record.h"
#include "tapi/tapi_types.h"

namespace tapihost {

// The provider's callback as recorded, with the host's additions. The
// sequence is the order of arrival at the host, from 1.
struct HostEvent : CallbackRecord {
  // The line device the event belongs to: the one opened with htLine, or,
  // for LINE_CREATE, the device ID the host gave the new device once it
  // has been created. Empty when there is none (yet).
  std::optional<uint32_t> deviceId;

  // "ASYNC_COMPLETION" for completions, else the message's name
  // ("LINE_CALLSTATE"), or "message <number>" for an unknown one.
  std::string name;

  // For an application of the telephony service: its privilege on the call
  // when the event gave it one or changed it (LINECALLPRIVILEGE_), else 0.
  DWORD privilege = 0;
};

// The event for a callback the provider made; the sequence is left to the log.
HostEvent hostEventFrom(const CallbackRecord& record, std::optional<uint32_t> deviceId);

// One line of text for logs and program output.
std::string describe(const HostEvent& event);

}  // namespace tapihost
