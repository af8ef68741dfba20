#pragma once
// The services that move calls between parties (blind, setup and complete
// transfer, three-party conference, park, unpark, pickup) with their pending
// transactions, and the confirmations that finish them: VNL_TRANSFER_CONF,
// VNL_COMPLETETRANSFER_CONF, VNL_3PTYCONFERENCE_CONF, VNL_PARKCALL_CONF,
// VNL_UNPARKCALL_CONF and VNL_PICKUPCALL_CONF.
// In: the LinkInterface requests (already checked by the provider's
// ServiceOperations), the exchange's confirmations through the dispatcher,
// the states it reports for blind-transfer consultation calls, the 500 ms
// tick, line close and deleted calls. Out: one TAPI completion per request
// (confirmation, "VNL_..._CONF Timeout" after 5000 ms, the blind-transfer
// wait of 10000 ms, or line close), call objects bound on success and
// deleted on failure, and the blind transfer's follow-up requests.
// No thread of its own: everything runs under the provider lock.
#include <cstdint>
#include <functional>
#include <string_view>

#include "provider/call_model.h"
#include "provider/vnl/pending_requests.h"
#include "provider/vnl/transfer_records.h"
#include "provider/vnl/vnl_dispatcher.h"
#include "provider/vnl/vnl_sender.h"
#include "tapi/tapi_structs.h"

namespace kvarsp {

// How long a blind transfer waits for its consultation call to ring.
constexpr uint32_t kBlindTransferWaitMs = 10000;

// CALL_STATE bytes a blind transfer's consultation call is judged by.
constexpr uint8_t kPbxStateIdle = 0x10;
constexpr uint8_t kPbxStateConnected = 0x13;
constexpr uint8_t kPbxStateBusy = 0x14;
constexpr uint8_t kPbxStateDelivered = 0x17;
constexpr uint8_t kPbxStateDisconnected = 0x18;

// Writes the park address into the caller's VARSTRING as a terminated wide
// decimal string of at most 6 characters after the 24-byte fixed part: 0,
// or LINEERR_STRUCTURETOOSMALL (dwNeededSize tells, no string) when
// dwTotalSize is too small.
LONG FillParkAddress(VARSTRING& target, uint16_t parkAddress);

class TransferRequests {
 public:
  TransferRequests(VnlSender& sender, PendingRequests& txns, CallModel& calls, TransferRecords& records,
                   std::function<bool()> lineId16);
  TransferRequests(const TransferRequests&) = delete;
  TransferRequests& operator=(const TransferRequests&) = delete;

  void RegisterHandlers(VnlDispatcher& dispatcher);

  // The LinkInterface requests (see there).
  LONG BlindTransfer(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits,
                     uint8_t callOptions);
  LONG SetupTransfer(DRV_REQUESTID requestId, OpenLine& line, const TspCall& transferred,
                     const TspCall& consultation, std::u16string_view digits, uint8_t callOptions);
  LONG CompleteTransfer(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, const TspCall& held);
  LONG Conference(DRV_REQUESTID requestId, OpenLine& line, const TspCall& conference, const TspCall& connected,
                  const TspCall& held);
  LONG Park(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, LPVARSTRING nonDirAddress);
  LONG Unpark(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, uint16_t parkAddress,
              uint8_t callOptions);
  LONG Pickup(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits,
              uint8_t callOptions);

  // The exchange reported a state for a consultation call that has a
  // transfer record (already stored there): the waiting blind transfer is
  // completed when the call rings or answers, failed when it is busy or gone.
  void OnConsultationState(uint16_t pbxCallId);
  // The 500 ms duty: blind transfers that waited 10000 ms fail, and their
  // consultation call is disconnected.
  void OnTick();
  // Line close and link loss: the line's blind-transfer waits fail and its
  // transfer records go (its pending requests are aborted by the caller).
  void AbortLine(const OpenLine& line);
  // A call object goes: a blind transfer still waiting for it fails.
  void ForgetCall(const TspCall& call);

 private:
  LONG Register(uint8_t refId, DRV_REQUESTID requestId, uint32_t kind, OpenLine& line, const TspCall* call,
                TxnContext context, TxnHandler onTimeout);
  OpenLine* LineOf(const TspCall& call);
  // A VNL_DISCONNECT_REQ nothing waits for.
  void Disconnect(uint16_t callId);
  // Ends the call's blind-transfer wait and fails its request; the
  // consultation call is disconnected when it still waits for this call.
  void FailBlindTransfer(const TspCall& call);
  void StartBlindTransferWait(PendingRequest& entry, const TspCall& call, uint16_t consultationId);

  // Time-out and abort handlers: each traces its text and fails the request.
  int TransferFailed(const TspCall* call, PendingRequest& entry, const char* text);
  int ConferenceFailed(const TspCall* call, PendingRequest& entry, const char* text);
  int NewCallFailed(const TspCall* call, PendingRequest& entry, const char* text);

  void OnTransferConf(const vnl::Message& m);
  void OnConferenceConf(const vnl::Message& m);
  void OnParkConf(const vnl::Message& m);
  // Unpark and pickup: the new call is bound with the CALL_ID it got.
  void OnNewCallConf(const vnl::Message& m, uint32_t kind, const char* name);

  VnlSender& sender_;
  PendingRequests& txns_;
  CallModel& calls_;
  TransferRecords& records_;
  std::function<bool()> lineId16_;
};

}  // namespace kvarsp
