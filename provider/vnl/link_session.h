#pragma once
// The link with the exchange as a whole: start (VNL_START_REQ) and end
// (VNL_END_REQ, then the exchange's VNL_END_IND) counted by users, the
// exchange's address list, and the registration and line information of
// TAPI lines. Every operation here is synchronous: it sends its request,
// registers a pending transaction with a result slot and an event, hands the
// provider lock back while it waits, and returns the slot. One operation
// waits at a time (the waiting flag); the others wait for their turn.
#include <cstdint>
#include <functional>
#include <memory>

#include "common/sync.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "platform/wait.h"
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

class LinkSession {
 public:
  // sleep is the pause of the turn wait (50 ms); the clock measures the wait
  // for VNL_END_IND.
  LinkSession(Layer2& layer2, VnlSender& sender, PendingRequests& txns, ConfigTables& config, CallModel& calls,
              platform::Clock& clock, std::function<void(uint32_t)> sleep);
  LinkSession(const LinkSession&) = delete;
  LinkSession& operator=(const LinkSession&) = delete;

  // The confirmation and indication handlers of this session.
  void RegisterHandlers(VnlDispatcher& dispatcher);

  // Each runs with the provider lock taken once through `lock`.
  int iVnlLinkStart(uint8_t protocolVersion, ScopedLock& lock);
  int iVnlLinkEnd(ScopedLock& lock);
  int iVnlGetAddressList(ScopedLock& lock);
  LONG lVnlRegisterLine(bool lineId16, uint16_t lineId, ScopedLock& lock);
  LONG lVnlUnregisterLine(bool lineId16, uint16_t lineId, ScopedLock& lock);
  LONG lVnlGetLineInfo(OpenLine& line, bool lineId16, uint16_t lineId, ScopedLock& lock);

  // Layer 2 lost the link: nobody has the link started any more.
  void ResetStartCount() { startCount_ = 0; }
  int StartCount() const { return startCount_; }
  bool Waiting() const { return waiting_; }

 private:
  void WaitForTurn(ScopedLock& lock);
  // Registers the transaction and waits for its removal with the lock handed
  // back. False when registering failed; result keeps -1 when no handler set it.
  bool WaitForTransaction(uint8_t refId, uint32_t kind, OpenLine* line, int& result, ScopedLock& lock);
  // The synchronous register / unregister / line-information request.
  LONG LineRequest(uint32_t kind, OpenLine* line, bool lineId16, uint16_t lineId, ScopedLock& lock);

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
  std::function<void(uint32_t)> sleep_;

  int startCount_ = 0;
  bool waiting_ = false;
  int endIndication_ = -1;                         // 0 once VNL_END_IND arrived
  std::shared_ptr<platform::Event> endIndEvent_;  // only while the end waits for it
};

}  // namespace kvarsp
