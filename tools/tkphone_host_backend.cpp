#include "tools/tkphone_host_backend.h"

#include <algorithm>

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

tapihost::AsyncCall HostBackend::BlindTransfer(HTAPICALL htCall, const std::string& number) {
  return calls_.BlindTransfer(htCall, platform::utf8ToWide(number));
}

std::optional<std::string> HostBackend::ParkAddress(DRV_REQUESTID requestId) {
  std::optional<std::u16string> address = calls_.ParkAddress(requestId);
  if (!address) return std::nullopt;
  return platform::wideToUtf8(*address);
}

tapihost::AsyncCall HostBackend::Unpark(uint32_t line, const std::string& address, HTAPICALL* newCall) {
  return calls_.Unpark(line, platform::utf8ToWide(address), newCall);
}

tapihost::AsyncCall HostBackend::Pickup(uint32_t line, const std::string& number, HTAPICALL* newCall) {
  return calls_.Pickup(line, platform::utf8ToWide(number), newCall);
}

tapihost::AsyncCall HostBackend::Redirect(HTAPICALL htCall, const std::string& number) {
  return calls_.Redirect(htCall, platform::utf8ToWide(number));
}

tapihost::AsyncCall HostBackend::Forward(uint32_t line, DWORD forwardMode, const std::string& number) {
  return calls_.Forward(line, forwardMode, platform::utf8ToWide(number));
}

std::vector<tapihost::HostEvent> HostBackend::NextEvents(uint32_t timeoutMs) {
  std::vector<tapihost::HostEvent> events = host_.EventsSince(cursor_);
  if (events.empty() && timeoutMs != 0) {
    if (auto first = host_.WaitEvent(cursor_, [](const tapihost::HostEvent&) { return true; }, timeoutMs)) {
      events.push_back(std::move(*first));
      for (auto& more : host_.EventsSince(cursor_)) events.push_back(std::move(more));
    }
  }
  // What both readers of the host's log have seen is of no further use: a
  // long session does not grow with every event.
  host_.DiscardEventsBefore(std::min(cursor_, calls_.Refresh()));
  return events;
}

}  // namespace tkphone
