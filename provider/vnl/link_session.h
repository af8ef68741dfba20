#pragma once
// The link with the exchange as a whole, as a sans-IO core: start
// (VNL_START_REQ) and end (VNL_END_REQ, then the exchange's VNL_END_IND)
// counted by users, the exchange's address list, and the registration and
// line information of TAPI lines.
// In: operations (each with a completion callback), the confirmations and
// VNL_END_IND through the dispatcher, OnTimer(now) when a requested timer is
// due. Out: requests through the sender, the connection through Layer2, a
// timer request (arm at a tick / cancel) through LinkTimer, and each
// operation's result code through its callback.
// One operation runs at a time: the others wait in a queue and start, in
// order, when the previous one finished. The core never waits, sleeps or
// owns a thread; everything runs under the provider lock on whichever thread
// holds it (a TAPI thread starting an operation, the link interface thread
// delivering a confirmation, a waiter driving the timer). BlockingLink turns
// the operations into the synchronous ones the provider calls.
#include <cstdint>
#include <deque>
#include <functional>

#include "platform/clock.h"
#include "provider/call_model.h"
#include "provider/line_config.h"
#include "provider/vnl/layer2.h"
#include "provider/vnl/pending_requests.h"
#include "provider/vnl/vnl_dispatcher.h"
#include "provider/vnl/vnl_sender.h"

namespace kvarsp {

// Result codes of the link operations (0 is success).
enum LinkResult : int {
  kLinkOk = 0,
  kStartOpenFailed = 1,
  kStartSendFailed = 2,
  kStartTimeout = 3,
  kStartRefusedC0 = 4,
  kStartRefusedC1 = 5,
  kStartRefusedFF = 7,
  kStartFailed = 8,
  kAddressListNotStarted = 20,
  kAddressListSendFailed = 21,
  kAddressListTimeout = 22,
  kAddressListFailed = 23,
  kEndSendFailed = 30,
  kEndTimeout = 31,
  kEndIndMissing = 32,
  kEndFailed = 33,
  kRegisterTimeout = 40,
  kRegisterRefused = 41,
  kUnregisterTimeout = 50,
  kUnregisterRefused = 51,
  kLineInfoTimeout = 60,
  kLineInfoRefused = 61,
  kLinkDownWhileWaiting = 99,
};

// How long the end waits for the exchange's VNL_END_IND.
constexpr uint32_t kEndIndicationWaitMs = 5000;
// The bound of a wait for a confirmation when no scan ends it (the 500 ms
// tick does not come): a little past the transaction's own time-out.
constexpr uint32_t kTxnWaitBoundMs = kTxnTimeoutMs + 1000;

// Where the core asks for its one timer: OnTimer(now) once the clock reaches
// dueTick (wrap-around aware); a new request replaces the previous one.
class LinkTimer {
 public:
  virtual ~LinkTimer() = default;
  virtual void ArmTimer(uint32_t dueTick) = 0;
  virtual void CancelTimer() = 0;
};

// The result code of a finished operation (the codes above, or 0 /
// LINEERR_OPERATIONFAILED for register, unregister and line information).
using LinkDone = std::function<void(int result)>;

class LinkSession {
 public:
  // The clock arms the timers; CallModel takes the forwarding a line
  // information brings.
  LinkSession(Layer2& layer2, VnlSender& sender, PendingRequests& txns, ConfigTables& config, CallModel& calls,
              platform::Clock& clock, LinkTimer& timer);
  LinkSession(const LinkSession&) = delete;
  LinkSession& operator=(const LinkSession&) = delete;

  // The confirmation and indication handlers of this session.
  void RegisterHandlers(VnlDispatcher& dispatcher);

  // The operations; each calls `done` exactly once, at once or later.
  void Start(uint8_t protocolVersion, LinkDone done);
  void End(LinkDone done);
  void GetAddressList(LinkDone done);
  void RegisterLine(bool lineId16, uint16_t lineId, LinkDone done);
  void UnregisterLine(bool lineId16, uint16_t lineId, LinkDone done);
  // The line must still be open when the operation's turn comes (else it
  // fails without sending); on success its forwarding is set from the answer.
  void GetLineInfo(OpenLine& line, bool lineId16, uint16_t lineId, LinkDone done);

  // The requested timer is due: ends the wait for VNL_END_IND, or a wait for
  // a confirmation that no scan ended within kTxnWaitBoundMs (as its time-out).
  void OnTimer(uint32_t now);

  // Layer 2 lost the link: nobody has the link started any more.
  void ResetStartCount() { startCount_ = 0; }
  int StartCount() const { return startCount_; }
  // An operation runs (sent, waiting for the exchange).
  bool Busy() const { return busy_; }
  // Operations waiting for their turn.
  size_t Queued() const { return queue_.size(); }

 private:
  enum class Phase { Idle, Confirmation, EndIndication };
  // An operation waiting for its turn: its completion, the code it fails
  // with when it cannot run, and what it does when its turn comes.
  struct QueuedOperation {
    int failCode = 0;
    LinkDone done;
    std::function<void()> body;
  };
  using Continuation = void (LinkSession::*)(int result);

  void Submit(int failCode, LinkDone done, std::function<void()> body);
  void RunQueue();
  // Ends the running operation with its result and starts the next one.
  void Finish(int result);
  // Registers the running operation's transaction and arms the bound of its
  // wait; `then` gets its result (-1 when no handler set one) once the entry
  // left the table. False when registering failed.
  bool Await(uint8_t refId, uint32_t kind, OpenLine* line, Continuation then);
  void StartConfirmed(int result);
  void EndConfirmed(int result);
  void AddressListConfirmed(int result);
  void LineRequestConfirmed(int result);
  void EndIndicationWaitOver(bool received);
  // The register / unregister / line-information request.
  // hdLine: the line of a line information (looked up when its turn comes), else null.
  void LineRequest(uint32_t kind, HDRVLINE hdLine, bool lineId16, uint16_t lineId);

  void OnStartConf(const vnl::Message& m);
  void OnEndConf(const vnl::Message& m);
  void OnEndInd(const vnl::Message& m);
  void OnAddressListConf(const vnl::Message& m);
  void OnRegisterConf(const vnl::Message& m);
  void OnUnregisterConf(const vnl::Message& m);
  void OnLineInfoConf(const vnl::Message& m);
  void TraceAddressMap() const;

  Layer2& layer2_;
  VnlSender& sender_;
  PendingRequests& txns_;
  ConfigTables& config_;
  CallModel& calls_;
  platform::Clock& clock_;
  LinkTimer& timer_;

  int startCount_ = 0;
  std::deque<QueuedOperation> queue_;
  bool runningQueue_ = false;
  bool busy_ = false;        // an operation runs
  LinkDone current_;         // its completion
  int currentFailCode_ = 0;  // its code when it cannot go on

  Phase phase_ = Phase::Idle;
  uint32_t phaseStart_ = 0;
  PendingRequest* awaited_ = nullptr;  // the running operation's entry (Phase::Confirmation)
  Continuation then_ = nullptr;        // what follows its confirmation
  int endIndication_ = -1;             // 0 once VNL_END_IND arrived
};

}  // namespace kvarsp
