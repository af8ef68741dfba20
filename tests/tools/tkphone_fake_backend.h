#pragma once
// A telephony backend for the tests of tkphone's core: it records the
// operations it is asked for, answers with results the test sets, and hands
// out the events the test queues. When no event is queued, a wait for
// events moves the fake clock on by the whole time-out, as if nothing came.
#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/fake_clock.h"
#include "tapi/tapi_constants.h"
#include "tapi/tapi_structs.h"
#include "tools/tkphone_session.h"

namespace tktest {

class FakePhoneBackend : public tkphone::PhoneBackend {
 public:
  explicit FakePhoneBackend(platform::FakeClock& clock) : clock_(clock) {}

  // The handle of the n-th call made (from 1).
  static HTAPICALL MadeCall(int n) { return reinterpret_cast<HTAPICALL>(uintptr_t{0x7C000000} + 0x10 * n); }

  uint32_t LineCount() override { return 2; }
  std::string LineName(uint32_t line) override { return line == 0 ? line0Name : "Line B"; }
  LONG OpenLine(uint32_t line) override {
    ops.push_back("open " + std::to_string(line));
    return line < 2 ? 0 : LINEERR_BADDEVICEID;
  }
  LONG CloseLine(uint32_t line) override {
    ops.push_back("close " + std::to_string(line));
    return 0;
  }
  tapihost::AsyncCall MakeCall(uint32_t line, const std::string& number, const std::string& address,
                               HTAPICALL* htCall) override {
    ops.push_back("make " + std::to_string(line) + " " + number + " " + address);
    *htCall = MadeCall(++made_);
    return request(makeResult);
  }
  tapihost::AsyncCall Dial(HTAPICALL htCall, const std::string& digits) override {
    return op("dial", htCall, " " + digits);
  }
  tapihost::AsyncCall Accept(HTAPICALL htCall) override { return op("accept", htCall); }
  tapihost::AsyncCall Answer(HTAPICALL htCall) override { return op("answer", htCall); }
  tapihost::AsyncCall Drop(HTAPICALL htCall) override { return op("drop", htCall); }
  LONG CloseCall(HTAPICALL htCall) override {
    ops.push_back("dealloc " + hex(htCall));
    return 0;
  }
  LONG CallInfo(HTAPICALL htCall, std::vector<uint8_t>& buffer) override {
    ops.push_back("info " + hex(htCall));
    buffer = callInfo;
    return buffer.empty() ? LINEERR_OPERATIONFAILED : 0;
  }
  LONG CallStatus(HTAPICALL htCall, std::vector<uint8_t>& buffer) override {
    ops.push_back("status " + hex(htCall));
    buffer.assign(sizeof(LINECALLSTATUS), 0);
    auto* status = reinterpret_cast<LINECALLSTATUS*>(buffer.data());
    status->dwCallState = LINECALLSTATE_DISCONNECTED;
    status->dwCallStateMode = LINEDISCONNECTMODE_BUSY;
    status->dwCallFeatures = 0x200080;
    return 0;
  }
  tapihost::AsyncCall BlindTransfer(HTAPICALL htCall, const std::string& number) override {
    return op("blindtransfer", htCall, " " + number);
  }
  tapihost::AsyncCall SetupTransfer(HTAPICALL htCall, HTAPICALL* newCall) override {
    *newCall = MadeCall(++made_);
    return op("setuptransfer", htCall);
  }
  tapihost::AsyncCall CompleteTransfer(HTAPICALL htCall, HTAPICALL htConsultCall, DWORD mode,
                                       HTAPICALL* newCall) override {
    if (mode == LINETRANSFERMODE_CONFERENCE) *newCall = MadeCall(++made_);
    return op("completetransfer", htCall, " " + hex(htConsultCall) + " " + std::to_string(mode));
  }
  tapihost::AsyncCall SwapHold(HTAPICALL htActiveCall, HTAPICALL htHeldCall) override {
    return op("swaphold", htActiveCall, " " + hex(htHeldCall));
  }
  tapihost::AsyncCall Park(HTAPICALL htCall) override { return op("park", htCall); }
  std::optional<std::string> ParkAddress(DRV_REQUESTID requestId) override {
    ops.push_back("parkaddress " + std::to_string(requestId));
    return parkAddress;
  }
  tapihost::AsyncCall Unpark(uint32_t line, const std::string& address, HTAPICALL* newCall) override {
    *newCall = MadeCall(++made_);
    return lineOp("unpark " + std::to_string(line) + " " + address);
  }
  tapihost::AsyncCall Pickup(uint32_t line, const std::string& number, HTAPICALL* newCall) override {
    *newCall = MadeCall(++made_);
    return lineOp("pickup " + std::to_string(line) + " " + number);
  }
  tapihost::AsyncCall Redirect(HTAPICALL htCall, const std::string& number) override {
    return op("redirect", htCall, " " + number);
  }
  tapihost::AsyncCall Forward(uint32_t line, DWORD mode, const std::string& number) override {
    return lineOp("forward " + std::to_string(line) + " " + std::to_string(mode) + " " + number);
  }
  std::vector<tapihost::HostEvent> NextEvents(uint32_t timeoutMs) override {
    std::vector<tapihost::HostEvent> out;
    if (!events.empty()) {
      // One batch: the events up to the next gap the test marked.
      while (!events.empty()) {
        tapihost::HostEvent e = events.front();
        events.pop_front();
        if (e.kind == tapihost::HostEvent::Kind::LineCreate && e.msg == 0) break;  // a gap
        out.push_back(e);
      }
      if (!out.empty()) return out;
    }
    clock_.advance(timeoutMs);
    return out;
  }

  // Queues events; Gap(n) makes the next ones come n looks later.
  void Event(tapihost::HostEvent e) {
    e.sequence = ++sequence_;
    events.push_back(e);
  }
  void Gap(int n = 1) {
    tapihost::HostEvent gap;
    gap.kind = tapihost::HostEvent::Kind::LineCreate;
    for (int i = 0; i < n; ++i) events.push_back(gap);
  }
  void CallState(HTAPICALL htCall, DWORD state, DWORD mode = 0, uint32_t line = 0) {
    tapihost::HostEvent e;
    e.kind = tapihost::HostEvent::Kind::LineEvent;
    e.msg = LINE_CALLSTATE;
    e.name = "LINE_CALLSTATE";
    e.htCall = htCall;
    e.deviceId = line;
    e.param1 = state;
    e.param2 = mode;
    e.param3 = LINEMEDIAMODE_INTERACTIVEVOICE;
    Event(e);
  }
  void NewCall(HTAPICALL htCall, uint32_t line = 0) {
    tapihost::HostEvent e;
    e.kind = tapihost::HostEvent::Kind::LineEvent;
    e.msg = LINE_NEWCALL;
    e.name = "LINE_NEWCALL";
    e.newHtCall = htCall;
    e.deviceId = line;
    e.param1 = 0x5;
    e.param2 = 0x1234;
    Event(e);
  }
  void Completion(DRV_REQUESTID id, LONG result) {
    tapihost::HostEvent e;
    e.kind = tapihost::HostEvent::Kind::Completion;
    e.name = "ASYNC_COMPLETION";
    e.requestId = id;
    e.result = result;
    Event(e);
  }
  DRV_REQUESTID LastRequest() const { return nextRequest_ - 1; }

  std::vector<std::string> ops;
  std::string line0Name = "Line \"A\"";  // as the provider names it (UTF-8, or not)
  LONG makeResult = 0;   // 0: accepted, else the error MakeCall returns
  LONG callResult = 0;   // likewise for the other call operations and the services
  std::optional<std::string> parkAddress = "7";  // what ParkAddress tells
  std::deque<LONG> dialResults;  // when not empty: the results of the next dials, in order
  std::vector<uint8_t> callInfo;
  std::deque<tapihost::HostEvent> events;

 private:
  static std::string hex(HTAPICALL htCall) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(htCall)));
    return buf;
  }
  tapihost::AsyncCall request(LONG error) {
    tapihost::AsyncCall c;
    c.requestId = nextRequest_++;
    c.result = error ? error : static_cast<LONG>(c.requestId);
    return c;
  }
  tapihost::AsyncCall lineOp(const std::string& text) {
    ops.push_back(text);
    return request(callResult);
  }
  tapihost::AsyncCall op(const std::string& name, HTAPICALL htCall, const std::string& extra = "") {
    ops.push_back(name + " " + hex(htCall) + extra);
    LONG result = callResult;
    if (!dialResults.empty() && name == "dial") {
      result = dialResults.front();
      dialResults.pop_front();
    }
    return request(result);
  }

  platform::FakeClock& clock_;
  int made_ = 0;
  DRV_REQUESTID nextRequest_ = 1;
  uint64_t sequence_ = 0;
};

}  // namespace tktest
