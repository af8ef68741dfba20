#pragma once
// tkphone: one line of output for every event and completion, as readable
// text or as one JSON object, and the small JSON writer both of its JSON
// outputs use.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tapi/host/host_event.h"

namespace tkphone {

// What tkphone knows of an event besides the event itself.
struct EventContext {
  uint32_t elapsedMs = 0;         // since tkphone started
  std::optional<uint32_t> line;   // the line device
  std::optional<uint32_t> call;   // tkphone's number of the call
  std::string command;            // completion: the command that made the request
  std::optional<std::string> parkAddress;  // completion of a park: where the call waits
  // LINE_CALLSTATE CONFERENCED: tkphone's number of the conference call
  // that dwParam2 names.
  std::optional<uint32_t> conferenceCall;
};

// "[   1.250] line 0 call 1 LINE_CALLSTATE OFFERING (ACTIVE) media INTERACTIVEVOICE"
std::string EventText(const tapihost::HostEvent& event, const EventContext& context);
// {"time_ms":1250,"event":"LINE_CALLSTATE","line":0,"call":1,"state":"OFFERING",...,
//  "param1":2,"param2":1,"param3":4}
std::string EventJson(const tapihost::HostEvent& event, const EventContext& context);

// The text in double quotes with JSON escapes (", \ and control characters,
// C1 controls included); bytes that are not UTF-8 become U+FFFD, so the
// result is always valid JSON.
std::string JsonString(std::string_view utf8);

// One JSON object, members in the order added.
class JsonObject {
 public:
  JsonObject& Str(std::string_view key, std::string_view value);
  JsonObject& Num(std::string_view key, uint64_t value);
  JsonObject& Null(std::string_view key);
  JsonObject& OptNum(std::string_view key, const std::optional<uint32_t>& value);
  // A member whose value is JSON text already (a nested object).
  JsonObject& Raw(std::string_view key, std::string_view json);
  std::string Text() const { return body_ + "}"; }

 private:
  void key(std::string_view key);
  std::string body_ = "{";
};

}  // namespace tkphone
