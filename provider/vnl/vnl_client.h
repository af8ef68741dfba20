#pragma once
// The provider's protocol client: the send and receive paths, the pending
// transactions and the link session over one layer-2 connection, offered to
// the provider as its LinkInterface, and driven by the link interface thread
// through Layer2Events (ticks, received messages, link loss). The protocol
// parts are sans-IO; the one place that waits is the BlockingLink behind the
// synchronous link operations (the waiter decides how).
#include <cstdint>
#include <functional>
#include <memory>

#include "common/sync.h"
#include "platform/clock.h"
#include "provider/call_model.h"
#include "provider/line_config.h"
#include "provider/link_interface.h"
#include "provider/vnl/blocking_link.h"
#include "provider/vnl/call_requests.h"
#include "provider/vnl/call_supervision.h"
#include "provider/vnl/indication_handlers.h"
#include "provider/vnl/layer2.h"
#include "provider/vnl/link_session.h"
#include "provider/vnl/pending_requests.h"
#include "provider/vnl/refid_allocator.h"
#include "provider/vnl/service_requests.h"
#include "provider/vnl/transfer_records.h"
#include "provider/vnl/transfer_requests.h"
#include "provider/vnl/vnl_dispatcher.h"
#include "provider/vnl/vnl_sender.h"

namespace kvarsp {

class VnlClient : public LinkInterface, public Layer2Events {
 public:
  // The clock runs the transaction deadlines and the wait for VNL_END_IND;
  // the waiter (null: the real one, on an event) is where a synchronous link
  // operation waits.
  explicit VnlClient(Layer2& layer2, platform::Clock& clock = platform::systemClock(), LinkWaiter* waiter = nullptr);
  VnlClient(const VnlClient&) = delete;
  VnlClient& operator=(const VnlClient&) = delete;

  // Connects the client with the provider whose lines and configuration it
  // serves (its lock, configuration tables, call model and the permanent
  // provider ID of the moment), and the layer 2 with the provider lock.
  // Before the first Load.
  void Attach(CCritSec& providerLock, ConfigTables& config, CallModel& calls,
              std::function<uint32_t()> permanentProviderId);

  // LinkInterface
  int Load(uint32_t* status) override;
  int Unload() override;
  int LinkStart(uint8_t protocolVersion, ScopedLock& providerLock) override;
  int LinkEnd(ScopedLock& providerLock) override;
  int GetAddressList(ScopedLock& providerLock) override;
  LONG RegisterLine(uint16_t pbxLineId, ScopedLock& providerLock) override;
  LONG UnregisterLine(uint16_t pbxLineId, ScopedLock& providerLock) override;
  LONG GetLineInfo(OpenLine& line, uint16_t pbxLineId, ScopedLock& providerLock) override;
  void AbortLineRequests(OpenLine& line) override;
  LONG MakeCall(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits,
                uint8_t callOptions) override;
  LONG Dial(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits,
            std::u16string_view dialString) override;
  LONG Answer(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, uint8_t callOptions) override;
  LONG Drop(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call) override;
  LONG DropTwo(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, uint16_t firstCallId,
               uint16_t secondCallId) override;
  LONG SwapHold(DRV_REQUESTID requestId, OpenLine& line, const TspCall& connected, const TspCall& held) override;
  LONG Redirect(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits) override;
  LONG Forward(DRV_REQUESTID requestId, OpenLine& line, uint8_t forwardingType, uint32_t mode, uint32_t countryCode,
               std::optional<std::u16string> destination) override;
  LONG BlindTransfer(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits,
                     uint8_t callOptions) override;
  LONG SetupTransfer(DRV_REQUESTID requestId, OpenLine& line, const TspCall& transferred, const TspCall& consultation,
                     std::u16string_view digits, uint8_t callOptions) override;
  LONG CompleteTransfer(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, const TspCall& held) override;
  LONG Conference(DRV_REQUESTID requestId, OpenLine& line, const TspCall& conference, const TspCall& connected,
                  const TspCall& held) override;
  LONG Park(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, LPVARSTRING nonDirAddress) override;
  LONG Unpark(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, uint16_t parkAddress,
              uint8_t callOptions) override;
  LONG Pickup(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits,
              uint8_t callOptions) override;

  // Layer2Events
  void OnLayer2Tick() override;
  void OnLayer2Message(const uint8_t* bytes, size_t count) override;
  void OnLayer2Disconnect() override;

  PendingRequests& transactions() { return txns_; }
  VnlSender& sender() { return sender_; }
  VnlDispatcher& dispatcher() { return dispatcher_; }
  LinkSession& session() { return *session_; }
  CallRequests& callRequests() { return *callRequests_; }
  TransferRecords& transferRecords() { return transferRecords_; }

 private:
  bool LineId16() const;

  Layer2& layer2_;
  platform::Clock& clock_;
  ConfigTables* config_ = nullptr;
  CallModel* calls_ = nullptr;
  RefIdAllocator refIds_;
  VnlSender sender_;
  VnlDispatcher dispatcher_;
  PendingRequests txns_;
  BlockingLink blocking_;
  std::unique_ptr<LinkSession> session_;
  std::unique_ptr<CallRequests> callRequests_;
  std::unique_ptr<ServiceRequests> serviceRequests_;
  TransferRecords transferRecords_;
  std::unique_ptr<TransferRequests> transferRequests_;
  std::unique_ptr<CallSupervision> supervision_;
  std::unique_ptr<IndicationHandlers> indications_;
};

}  // namespace kvarsp
