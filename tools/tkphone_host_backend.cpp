#include "tools/tkphone_host_backend.h"

#include "platform/codepage.h"

namespace tkphone {

std::string HostBackend::LineName(uint32_t line) { return platform::wideToUtf8(host_.LineName(line)); }

LONG HostBackend::CloseLine(uint32_t line) {
  LONG rc = host_.CloseLine(line);
  // The host forgets the line whatever the provider answers, and its calls with it.
  if (rc != LINEERR_INVALLINEHANDLE) calls_.ForgetLine(line);
  return rc;
}

tapihost::AsyncCall HostBackend::MakeCall(uint32_t line, const std::string& number, const std::string& address,
                                          HTAPICALL* htCall) {
  return calls_.MakeCall(line, platform::utf8ToWide(number), platform::utf8ToWide(address), htCall);
}

tapihost::AsyncCall HostBackend::Dial(HTAPICALL htCall, const std::string& digits) {
  return calls_.Dial(htCall, platform::utf8ToWide(digits));
}

std::vector<tapihost::HostEvent> HostBackend::NextEvents(uint32_t timeoutMs) {
  std::vector<tapihost::HostEvent> events = host_.EventsSince(cursor_);
  if (!events.empty() || timeoutMs == 0) return events;
  auto first = host_.WaitEvent(cursor_, [](const tapihost::HostEvent&) { return true; }, timeoutMs);
  if (!first) return events;
  events.push_back(std::move(*first));
  for (auto& more : host_.EventsSince(cursor_)) events.push_back(std::move(more));
  return events;
}

}  // namespace tkphone
