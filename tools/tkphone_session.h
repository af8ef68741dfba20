#pragma once
// tkphone's core: runs parsed commands against a telephony backend, numbers
// the calls in order of appearance (made, offered, or opened by a service:
// consultation, conference, unparked and picked-up calls; from 1), shows
// every event and completion as it arrives, and matches `wait` against the
// events received since the previous wait, in order. A setuptransfer with a
// number dials it once its consultation call reports dial tone. It does no
// input or output of its own: the backend stands for the telephony host,
// lines of output go to two sinks, and time-outs are measured on an
// injected clock.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "tapi/host/host_event.h"
#include "tapi/host/provider_harness.h"
#include "tools/tkphone_command.h"

namespace tkphone {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;       // a command failed or a wait timed out
inline constexpr int kExitUsage = 2;        // wrong options or a script that does not parse
inline constexpr int kExitNoProvider = 3;   // the provider could not be loaded or started
inline constexpr int kExitInterrupted = 130;  // stopped from outside (128 + SIGINT)

// The telephony operations tkphone uses; calls are named by TAPI's htCall.
class PhoneBackend {
 public:
  virtual ~PhoneBackend() = default;
  virtual uint32_t LineCount() = 0;
  virtual std::string LineName(uint32_t line) = 0;  // UTF-8
  virtual LONG OpenLine(uint32_t line) = 0;
  virtual LONG CloseLine(uint32_t line) = 0;
  // number and address in UTF-8; an empty address names none.
  virtual tapihost::AsyncCall MakeCall(uint32_t line, const std::string& number, const std::string& address,
                                       HTAPICALL* htCall) = 0;
  virtual tapihost::AsyncCall Dial(HTAPICALL htCall, const std::string& digits) = 0;
  virtual tapihost::AsyncCall Accept(HTAPICALL htCall) = 0;
  virtual tapihost::AsyncCall Answer(HTAPICALL htCall) = 0;
  virtual tapihost::AsyncCall Drop(HTAPICALL htCall) = 0;
  virtual LONG CloseCall(HTAPICALL htCall) = 0;
  virtual LONG CallInfo(HTAPICALL htCall, std::vector<uint8_t>& buffer) = 0;
  virtual LONG CallStatus(HTAPICALL htCall, std::vector<uint8_t>& buffer) = 0;
  // The supplementary services; numbers in UTF-8. Those that create a call
  // write its handle to *newCall.
  virtual tapihost::AsyncCall BlindTransfer(HTAPICALL htCall, const std::string& number) = 0;
  virtual tapihost::AsyncCall SetupTransfer(HTAPICALL htCall, HTAPICALL* newCall) = 0;
  // transferMode LINETRANSFERMODE_; *newCall is the conference call.
  virtual tapihost::AsyncCall CompleteTransfer(HTAPICALL htCall, HTAPICALL htConsultCall, DWORD transferMode,
                                               HTAPICALL* newCall) = 0;
  virtual tapihost::AsyncCall SwapHold(HTAPICALL htActiveCall, HTAPICALL htHeldCall) = 0;
  virtual tapihost::AsyncCall Park(HTAPICALL htCall) = 0;
  // Where the park request put the call, once it completed with 0.
  virtual std::optional<std::string> ParkAddress(DRV_REQUESTID requestId) = 0;
  virtual tapihost::AsyncCall Unpark(uint32_t line, const std::string& address, HTAPICALL* newCall) = 0;
  virtual tapihost::AsyncCall Pickup(uint32_t line, const std::string& number, HTAPICALL* newCall) = 0;
  virtual tapihost::AsyncCall Redirect(HTAPICALL htCall, const std::string& number) = 0;
  // forwardMode LINEFORWARDMODE_; 0 cancels.
  virtual tapihost::AsyncCall Forward(uint32_t line, DWORD forwardMode, const std::string& number) = 0;
  // The events that arrived since the previous call, in order; waits up to
  // timeoutMs for the first one when none has.
  virtual std::vector<tapihost::HostEvent> NextEvents(uint32_t timeoutMs) = 0;
};

class Session {
 public:
  using LineSink = std::function<void(const std::string&)>;
  // The longest a wait or sleep blocks in one go before it looks at the
  // clock and at stopRequested again.
  static constexpr uint32_t kPollMs = 50;
  // How long the end of a run waits for the completions still outstanding:
  // the default wait time-out, well above the 5500 ms within which the
  // provider answers every request.
  static constexpr uint32_t kCompletionWaitMs = kDefaultWaitMs;

  // out takes the results and events, err the failures; stopRequested (may
  // be empty) ends the run between two looks at the events.
  Session(PhoneBackend& backend, const platform::Clock& clock, bool json, LineSink out, LineSink err,
          std::function<bool()> stopRequested = {});

  // Runs the commands in order; the exit code (kExitOk, kExitFailed or
  // kExitInterrupted). The first failing command ends the run with a message
  // on err naming its place and text. After the last command (or quit) it
  // waits up to kCompletionWaitMs for the completions of requests still
  // outstanding (and for the dial tone a setuptransfer with a number waits
  // for); one that fails or does not come fails the run like a failing
  // command (unless the command was a `try`, whose missing completion is
  // only shown). Text lines (not JSON) pass through
  // platform::printableText, since they carry text from the provider.
  int Run(const std::vector<Command>& commands);

  // tkphone's number of a call.
  std::optional<uint32_t> NumberOf(HTAPICALL htCall) const;

 private:
  struct CallEntry {
    HTAPICALL htCall = nullptr;
    std::optional<uint32_t> line;
    bool deallocated = false;
  };
  struct Request {
    const Command* command = nullptr;
    std::optional<uint32_t> line;
    std::optional<uint32_t> call;
    bool completed = false;
  };
  // A setuptransfer with NUMBER: dials it on its consultation call once
  // that has dial tone.
  struct PendingDial {
    const Command* command = nullptr;
    DRV_REQUESTID setupRequest = 0;
  };

  bool execute(const Command& c);
  bool lines(const Command& c);
  bool makeCall(const Command& c);
  bool callOperation(const Command& c);
  // The services that act on calls already known, and those that create one.
  bool serviceOnCalls(const Command& c);
  bool serviceWithNewCall(const Command& c);
  // Numbers a call the backend created for an accepted request.
  std::optional<uint32_t> numberNewCall(const tapihost::AsyncCall& request, HTAPICALL htCall,
                                        std::optional<uint32_t> line);
  // The dial of a setuptransfer, when e gives its consultation call dial
  // tone (or drops it when the setup failed).
  void dialAfterSetup(const tapihost::HostEvent& e);
  bool info(const Command& c);
  bool status(const Command& c);
  bool wait(const Command& c);
  bool sleep(const Command& c);
  // Waits for the completions still outstanding; false on a failure (told
  // on err) or when interrupted.
  bool awaitCompletions();

  // Reads the events that arrived (waiting up to waitMs for one), numbers
  // new calls, shows them and notes failed completions.
  void pump(uint32_t waitMs);
  bool matches(const WaitTarget& want, const tapihost::HostEvent& e) const;
  std::optional<uint32_t> callOfEvent(const tapihost::HostEvent& e) const;
  // The call of a number, or false (a failure) when there is none or it was deallocated.
  bool lookupCall(const Command& c, uint32_t number, CallEntry** entry);
  bool requestResult(const Command& c, const tapihost::AsyncCall& request, std::optional<uint32_t> line,
                     std::optional<uint32_t> call, const std::string& what);
  bool result(const Command& c, LONG rc, const std::string& what = {});
  bool failure(const Command& c, const std::string& message);
  bool interrupted() const;
  void emit(const std::string& text, const std::string& json);
  // A line of text output or of failure, made safe to print.
  void say(const std::string& text);
  void complain(const std::string& text);
  uint32_t elapsed() const;

  PhoneBackend& backend_;
  const platform::Clock& clock_;
  const bool json_;
  LineSink out_;
  LineSink err_;
  std::function<bool()> stopRequested_;
  const uint32_t start_;

  std::vector<CallEntry> calls_;                // call n is calls_[n - 1]
  std::map<HTAPICALL, uint32_t> numbers_;
  std::map<DRV_REQUESTID, Request> requests_;
  std::map<uint32_t, PendingDial> pendingDials_;  // by the consultation call's number
  std::deque<tapihost::HostEvent> unwaited_;    // received since the previous wait ended
  std::optional<std::string> failed_;           // a failed completion, with its place
};

}  // namespace tkphone
