#include "tools/tkphone_session.h"

#include <algorithm>
#include <cstdio>

#include "platform/codepage.h"
#include "platform/printable_text.h"
#include "tapi/host/struct_text.h"
#include "tapi/tapi_constants.h"
#include "tapi/tapi_structs.h"
#include "tools/tkphone_format.h"
#include "tools/tkphone_names.h"

namespace tkphone {
namespace {

using tapihost::HostEvent;

std::string hex(DWORD value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", value);
  return buf;
}

std::string quoted(const std::string& text) { return JsonString(text); }

// One party ID of LINECALLINFO: its flags, number and name.
struct Party {
  const char* role;
  DWORD flags;
  std::string number;
  std::string name;
};

std::string text(const std::vector<uint8_t>& buffer, DWORD offset, DWORD size) {
  return platform::wideToUtf8(tapihost::structText(buffer, offset, size, STRINGFORMAT_UNICODE));
}

std::vector<Party> partiesOf(const std::vector<uint8_t>& b, const LINECALLINFO& i) {
  return {
      {"caller", i.dwCallerIDFlags, text(b, i.dwCallerIDOffset, i.dwCallerIDSize),
       text(b, i.dwCallerIDNameOffset, i.dwCallerIDNameSize)},
      {"called", i.dwCalledIDFlags, text(b, i.dwCalledIDOffset, i.dwCalledIDSize),
       text(b, i.dwCalledIDNameOffset, i.dwCalledIDNameSize)},
      {"connected", i.dwConnectedIDFlags, text(b, i.dwConnectedIDOffset, i.dwConnectedIDSize),
       text(b, i.dwConnectedIDNameOffset, i.dwConnectedIDNameSize)},
      {"redirection", i.dwRedirectionIDFlags, text(b, i.dwRedirectionIDOffset, i.dwRedirectionIDSize),
       text(b, i.dwRedirectionIDNameOffset, i.dwRedirectionIDNameSize)},
      {"redirecting", i.dwRedirectingIDFlags, text(b, i.dwRedirectingIDOffset, i.dwRedirectingIDSize),
       text(b, i.dwRedirectingIDNameOffset, i.dwRedirectingIDNameSize)},
  };
}

}  // namespace

Session::Session(PhoneBackend& backend, const platform::Clock& clock, bool json, LineSink out, LineSink err,
                 std::function<bool()> stopRequested)
    : backend_(backend),
      clock_(clock),
      json_(json),
      out_(std::move(out)),
      err_(std::move(err)),
      stopRequested_(std::move(stopRequested)),
      start_(clock.tickCount()) {}

uint32_t Session::elapsed() const { return clock_.tickCount() - start_; }

bool Session::interrupted() const { return stopRequested_ && stopRequested_(); }

std::optional<uint32_t> Session::NumberOf(HTAPICALL htCall) const {
  auto it = numbers_.find(htCall);
  if (it == numbers_.end()) return std::nullopt;
  return it->second;
}

int Session::Run(const std::vector<Command>& commands) {
  pump(0);
  bool ok = true;
  for (const Command& c : commands) {
    if (interrupted()) break;
    if (c.verb == Verb::Quit) {
      emit("> " + c.text, JsonObject().Str("command", c.text).Str("where", c.where).Text());
      break;
    }
    ok = execute(c);
    if (ok) {
      pump(0);
      ok = !failed_;
    }
    if (!ok) break;
  }
  if (ok && !interrupted()) ok = awaitCompletions();
  if (interrupted()) {
    complain("tkphone: interrupted");
    return kExitInterrupted;
  }
  if (!ok) {
    if (failed_) complain("tkphone: " + *failed_);
    return kExitFailed;
  }
  return kExitOk;
}

bool Session::awaitCompletions() {
  const uint32_t start = clock_.tickCount();
  for (;;) {
    if (failed_ || interrupted()) return false;
    if (pendingDials_.empty() &&
        std::all_of(requests_.begin(), requests_.end(), [](const auto& r) { return r.second.completed; })) {
      return true;
    }
    const uint32_t spent = clock_.tickCount() - start;
    if (spent >= kCompletionWaitMs) break;
    pump(std::min(kCompletionWaitMs - spent, kPollMs));
  }
  // The first command (in request order) that is not a `try` fails the run;
  // those of `try` commands are shown.
  const std::string missing = "no completion within " + std::to_string(kCompletionWaitMs) + " ms";
  for (const auto& [id, request] : requests_) {
    if (request.completed) continue;
    const Command& c = *request.command;
    if (!c.tolerant) return failure(c, missing);
    JsonObject json;
    json.Str("command", c.text).Str("where", c.where).Str("result", "NO_COMPLETION").Num("request", id);
    emit("> " + c.text + ": " + missing + " (request " + std::to_string(id) + ")", json.Text());
  }
  // A setuptransfer whose consultation call never had dial tone did not dial.
  for (const auto& [call, dial] : pendingDials_) {
    const Command& c = *dial.command;
    const std::string text = "no dial tone on call " + std::to_string(call) + " within " +
                             std::to_string(kCompletionWaitMs) + " ms";
    if (!c.tolerant) return failure(c, text);
    JsonObject json;
    json.Str("command", c.text).Str("where", c.where).Str("result", "NO_DIALTONE").Num("call", call);
    emit("> " + c.text + ": " + text, json.Text());
  }
  return true;
}

void Session::emit(const std::string& text, const std::string& json) {
  if (json_) {
    out_(json);
  } else {
    say(text);
  }
}

void Session::say(const std::string& text) { out_(platform::printableText(text)); }

void Session::complain(const std::string& text) { err_(platform::printableText(text)); }

bool Session::failure(const Command& c, const std::string& message) {
  complain("tkphone: " + c.where + ": " + c.text + ": " + message);
  return false;
}

bool Session::result(const Command& c, LONG rc, const std::string& what) {
  const std::string shown = what.empty() ? ResultText(rc) : what;
  emit("> " + c.text + ": " + shown,
       JsonObject().Str("command", c.text).Str("where", c.where).Str("result", ResultText(rc)).Text());
  if (rc != 0 && !c.tolerant) return failure(c, ResultText(rc));
  return true;
}

bool Session::requestResult(const Command& c, const tapihost::AsyncCall& request, std::optional<uint32_t> line,
                            std::optional<uint32_t> call, const std::string& what) {
  if (!request.accepted()) {
    // A positive result that is not the request ID is no error code either.
    const LONG rc = request.result < 0 ? request.result : LINEERR_OPERATIONFAILED;
    return result(c, rc);
  }
  requests_[request.requestId] = Request{&c, line, call};
  const std::string text = (what.empty() ? "" : what + ", ") + "request " + std::to_string(request.requestId);
  JsonObject json;
  json.Str("command", c.text).Str("where", c.where).Str("result", "PENDING").Num("request", request.requestId);
  if (call) json.Num("call", *call);
  emit("> " + c.text + ": " + text, json.Text());
  return true;
}

bool Session::lookupCall(const Command& c, uint32_t number, CallEntry** entry) {
  if (number == 0 || number > calls_.size()) return failure(c, "unknown call " + std::to_string(number));
  *entry = &calls_[number - 1];
  if ((*entry)->deallocated) return failure(c, "call " + std::to_string(number) + " was deallocated");
  return true;
}

bool Session::execute(const Command& c) {
  switch (c.verb) {
    case Verb::Lines: return lines(c);
    case Verb::Open: return result(c, backend_.OpenLine(c.line));
    case Verb::Close: return result(c, backend_.CloseLine(c.line));
    case Verb::Call: return makeCall(c);
    case Verb::Dial:
    case Verb::Accept:
    case Verb::Answer:
    case Verb::Drop: return callOperation(c);
    case Verb::Dealloc: {
      CallEntry* entry;
      if (!lookupCall(c, c.call, &entry)) return false;
      LONG rc = backend_.CloseCall(entry->htCall);
      entry->deallocated = true;
      return result(c, rc);
    }
    case Verb::Info: return info(c);
    case Verb::Status: return status(c);
    case Verb::Wait: return wait(c);
    case Verb::Sleep: return sleep(c);
    case Verb::BlindTransfer:
    case Verb::SwapHold:
    case Verb::Park:
    case Verb::Redirect:
    case Verb::Forward: return serviceOnCalls(c);
    case Verb::SetupTransfer:
    case Verb::CompleteTransfer:
    case Verb::Unpark:
    case Verb::Pickup: return serviceWithNewCall(c);
    case Verb::Quit: return true;
  }
  return true;
}

bool Session::lines(const Command& c) {
  const uint32_t count = backend_.LineCount();
  emit("> " + c.text + ": " + std::to_string(count) + " line device" + (count == 1 ? "" : "s"),
       JsonObject().Str("command", c.text).Str("where", c.where).Num("lines", count).Text());
  for (uint32_t line = 0; line < count; ++line) {
    const std::string name = backend_.LineName(line);
    emit("  line " + std::to_string(line) + " " + quoted(name), JsonObject().Num("line", line).Str("name", name).Text());
  }
  return true;
}

std::optional<uint32_t> Session::numberNewCall(const tapihost::AsyncCall& request, HTAPICALL htCall,
                                               std::optional<uint32_t> line) {
  if (!request.accepted()) return std::nullopt;
  calls_.push_back(CallEntry{htCall, line, false});
  const auto number = static_cast<uint32_t>(calls_.size());
  numbers_[htCall] = number;
  return number;
}

bool Session::makeCall(const Command& c) {
  HTAPICALL htCall = nullptr;
  tapihost::AsyncCall request = backend_.MakeCall(c.line, c.number, c.address, &htCall);
  std::optional<uint32_t> number = numberNewCall(request, htCall, c.line);
  return requestResult(c, request, c.line, number, number ? "call " + std::to_string(*number) : "");
}

bool Session::callOperation(const Command& c) {
  CallEntry* entry;
  if (!lookupCall(c, c.call, &entry)) return false;
  tapihost::AsyncCall request;
  switch (c.verb) {
    case Verb::Dial: request = backend_.Dial(entry->htCall, c.number); break;
    case Verb::Accept: request = backend_.Accept(entry->htCall); break;
    case Verb::Answer: request = backend_.Answer(entry->htCall); break;
    default: request = backend_.Drop(entry->htCall); break;
  }
  return requestResult(c, request, entry->line, c.call, "");
}

bool Session::serviceOnCalls(const Command& c) {
  if (c.verb == Verb::Forward) return requestResult(c, backend_.Forward(c.line, c.mode, c.number), c.line, {}, "");
  CallEntry* entry;
  if (!lookupCall(c, c.call, &entry)) return false;
  tapihost::AsyncCall request;
  switch (c.verb) {
    case Verb::BlindTransfer: request = backend_.BlindTransfer(entry->htCall, c.number); break;
    case Verb::Redirect: request = backend_.Redirect(entry->htCall, c.number); break;
    case Verb::Park: request = backend_.Park(entry->htCall); break;
    default: {
      CallEntry* held;
      if (!lookupCall(c, c.otherCall, &held)) return false;
      request = backend_.SwapHold(entry->htCall, held->htCall);
    }
  }
  return requestResult(c, request, entry->line, c.call, "");
}

bool Session::serviceWithNewCall(const Command& c) {
  HTAPICALL created = nullptr;
  tapihost::AsyncCall request;
  std::optional<uint32_t> line = c.line;
  if (c.verb == Verb::Unpark) {
    request = backend_.Unpark(c.line, c.number, &created);
  } else if (c.verb == Verb::Pickup) {
    request = backend_.Pickup(c.line, c.number, &created);
  } else {
    CallEntry* entry;
    if (!lookupCall(c, c.call, &entry)) return false;
    line = entry->line;
    if (c.verb == Verb::SetupTransfer) {
      request = backend_.SetupTransfer(entry->htCall, &created);
    } else {
      CallEntry* consult;
      if (!lookupCall(c, c.otherCall, &consult)) return false;
      request = backend_.CompleteTransfer(entry->htCall, consult->htCall, c.mode, &created);
      // A transfer creates no call: its parties leave the PC.
      if (c.mode != LINETRANSFERMODE_CONFERENCE) return requestResult(c, request, line, c.call, "");
    }
  }
  std::optional<uint32_t> number = numberNewCall(request, created, line);
  if (number && c.verb == Verb::SetupTransfer && !c.number.empty()) {
    pendingDials_[*number] = PendingDial{&c, request.requestId};
  }
  return requestResult(c, request, line, number, number ? "call " + std::to_string(*number) : "");
}

void Session::dialAfterSetup(const HostEvent& e) {
  if (pendingDials_.empty()) return;
  if (e.kind == HostEvent::Kind::Completion) {
    // A failed setup has no consultation call to dial on.
    if (e.result != 0) {
      std::erase_if(pendingDials_, [&](const auto& d) { return d.second.setupRequest == e.requestId; });
    }
    return;
  }
  if (e.kind != HostEvent::Kind::LineEvent || e.msg != LINE_CALLSTATE || e.param1 != LINECALLSTATE_DIALTONE) return;
  const std::optional<uint32_t> call = NumberOf(e.htCall);
  auto pending = call ? pendingDials_.find(*call) : pendingDials_.end();
  if (pending == pendingDials_.end()) return;
  const Command& c = *pending->second.command;
  pendingDials_.erase(pending);
  const std::string what = "dials " + c.number + " on call " + std::to_string(*call);
  const tapihost::AsyncCall request = backend_.Dial(e.htCall, c.number);
  if (request.accepted()) {
    requestResult(c, request, calls_[*call - 1].line, call, what);
    return;
  }
  // Refused at once: shown like a result; it ends the run after this look at the events.
  const std::string rc = ResultText(request.result < 0 ? request.result : LINEERR_OPERATIONFAILED);
  emit("> " + c.text + ": " + what + ": " + rc,
       JsonObject().Str("command", c.text).Str("where", c.where).Str("result", rc).Num("call", *call).Text());
  if (!c.tolerant && !failed_) failed_ = c.where + ": " + c.text + ": " + what + ": " + rc;
}

bool Session::info(const Command& c) {
  CallEntry* entry;
  if (!lookupCall(c, c.call, &entry)) return false;
  std::vector<uint8_t> buffer;
  LONG rc = backend_.CallInfo(entry->htCall, buffer);
  if (rc != 0) return result(c, rc);
  const auto& i = *reinterpret_cast<const LINECALLINFO*>(buffer.data());
  const std::vector<Party> parties = partiesOf(buffer, i);
  if (json_) {
    JsonObject json;
    json.Str("command", c.text).Str("where", c.where).Str("result", "OK").Num("call", c.call);
    json.Num("line", i.dwLineDeviceID).Num("address", i.dwAddressID).Num("call_id", i.dwCallID);
    json.Str("origin", FlagsText(TapiFamily::LineCallOrigin, i.dwOrigin)).Str("reason", FlagsText(TapiFamily::LineCallReason, i.dwReason));
    json.Str("media", FlagsText(TapiFamily::LineMediaMode, i.dwMediaMode));
    for (const Party& p : parties) {
      json.Raw(p.role, JsonObject()
                           .Str("flags", FlagsText(TapiFamily::LineCallPartyId, p.flags))
                           .Num("flags_value", p.flags)
                           .Str("number", p.number)
                           .Str("name", p.name)
                           .Text());
    }
    out_(json.Text());
    return true;
  }
  say("> " + c.text + ": line " + std::to_string(i.dwLineDeviceID) + " address " + std::to_string(i.dwAddressID) +
       " call ID " + hex(i.dwCallID) + " origin " + FlagsText(TapiFamily::LineCallOrigin, i.dwOrigin) + " reason " +
       FlagsText(TapiFamily::LineCallReason, i.dwReason) + " media " + FlagsText(TapiFamily::LineMediaMode, i.dwMediaMode));
  for (const Party& p : parties) {
    say("  " + std::string(p.role) + " " + FlagsText(TapiFamily::LineCallPartyId, p.flags) + " " + quoted(p.number) + " " +
         quoted(p.name));
  }
  return true;
}

bool Session::status(const Command& c) {
  CallEntry* entry;
  if (!lookupCall(c, c.call, &entry)) return false;
  std::vector<uint8_t> buffer;
  LONG rc = backend_.CallStatus(entry->htCall, buffer);
  if (rc != 0) return result(c, rc);
  const auto& s = *reinterpret_cast<const LINECALLSTATUS*>(buffer.data());
  const std::string state = ValueText(TapiFamily::LineCallState, s.dwCallState);
  const std::string mode = CallStateModeText(s.dwCallState, s.dwCallStateMode);
  emit("> " + c.text + ": " + state + (mode.empty() ? "" : " (" + mode + ")") + " features " + hex(s.dwCallFeatures) +
           " features2 " + hex(s.dwCallFeatures2),
       JsonObject()
           .Str("command", c.text)
           .Str("where", c.where)
           .Str("result", "OK")
           .Num("call", c.call)
           .Str("state", state)
           .Str("mode", mode)
           .Num("features", s.dwCallFeatures)
           .Num("features2", s.dwCallFeatures2)
           .Text());
  return true;
}

std::optional<uint32_t> Session::callOfEvent(const HostEvent& e) const {
  if (e.kind == HostEvent::Kind::Completion) {
    auto it = requests_.find(e.requestId);
    return it == requests_.end() ? std::nullopt : it->second.call;
  }
  return NumberOf(e.msg == LINE_NEWCALL ? e.newHtCall : e.htCall);
}

bool Session::matches(const WaitTarget& want, const HostEvent& e) const {
  if (want.completion) {
    if (e.kind != HostEvent::Kind::Completion) return false;
    if (want.result && e.result != *want.result) return false;
    auto it = requests_.find(e.requestId);
    if (want.line && (it == requests_.end() || it->second.line != want.line)) return false;
  } else {
    if (e.kind != HostEvent::Kind::LineEvent || e.msg != want.msg) return false;
    if (want.line && e.deviceId != want.line) return false;
    if (!want.states.empty()) {
      const DWORD value = static_cast<DWORD>(want.msg == LINE_ADDRESSSTATE ? e.param2 : e.param1);
      const bool exact = want.msg == LINE_CALLSTATE;
      if (std::none_of(want.states.begin(), want.states.end(),
                       [&](DWORD s) { return exact ? value == s : (value & s) != 0; })) {
        return false;
      }
    }
  }
  if (want.call && callOfEvent(e) != want.call) return false;
  return true;
}

void Session::pump(uint32_t waitMs) {
  for (HostEvent& e : backend_.NextEvents(waitMs)) {
    if (e.kind == HostEvent::Kind::LineEvent && e.msg == LINE_NEWCALL && e.newHtCall && !numbers_.count(e.newHtCall)) {
      calls_.push_back(CallEntry{e.newHtCall, e.deviceId, false});
      numbers_[e.newHtCall] = static_cast<uint32_t>(calls_.size());
    }
    EventContext context;
    context.elapsedMs = elapsed();
    context.line = e.deviceId;
    context.call = callOfEvent(e);
    if (e.kind == HostEvent::Kind::LineEvent && e.msg == LINE_CALLSTATE && e.param1 == LINECALLSTATE_CONFERENCED) {
      context.conferenceCall = NumberOf(reinterpret_cast<HTAPICALL>(e.param2));
    }
    if (e.kind == HostEvent::Kind::Completion) {
      auto it = requests_.find(e.requestId);
      if (it != requests_.end()) {
        it->second.completed = true;
        context.line = it->second.line;
        context.command = it->second.command->text;
        if (e.result == 0 && it->second.command->verb == Verb::Park) {
          context.parkAddress = backend_.ParkAddress(e.requestId);
        }
        if (e.result != 0 && !it->second.command->tolerant && !failed_) {
          failed_ = it->second.command->where + ": " + it->second.command->text + ": completed with " +
                    ResultText(e.result);
        }
      }
    }
    emit(EventText(e, context), EventJson(e, context));
    dialAfterSetup(e);
    unwaited_.push_back(std::move(e));
  }
}

bool Session::wait(const Command& c) {
  if (!json_) say("> " + c.text);
  const uint32_t start = clock_.tickCount();
  for (;;) {
    for (size_t i = 0; i < unwaited_.size(); ++i) {
      if (matches(c.wait, unwaited_[i])) {
        // The events before the match count as seen.
        unwaited_.erase(unwaited_.begin(), unwaited_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        if (json_) {
          out_(JsonObject().Str("command", c.text).Str("where", c.where).Str("result", "OK").Text());
        }
        return true;
      }
    }
    if (failed_ || interrupted()) return false;
    const uint32_t spent = clock_.tickCount() - start;
    if (spent >= c.wait.timeoutMs) {
      return failure(c, "timed out after " + std::to_string(c.wait.timeoutMs) + " ms");
    }
    pump(std::min(c.wait.timeoutMs - spent, kPollMs));
  }
}

bool Session::sleep(const Command& c) {
  emit("> " + c.text, JsonObject().Str("command", c.text).Str("where", c.where).Text());
  const uint32_t start = clock_.tickCount();
  for (;;) {
    if (failed_ || interrupted()) return false;
    const uint32_t spent = clock_.tickCount() - start;
    if (spent >= c.ms) return true;
    pump(std::min(c.ms - spent, kPollMs));
  }
}

}  // namespace tkphone
