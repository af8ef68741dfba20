#include "provider/vnl/indication_handlers.h"

#include <array>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "provider/config_store.h"
#include "provider/trace.h"
#include "provider/vnl/call_state_tables.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "provider/vnl/conference_links.h"
#include "provider/vnl/received_message.h"

namespace kvarsp {
namespace {

constexpr uint8_t kApplied = 0;
constexpr uint8_t kRefused = 255;
constexpr std::array<uint8_t, 1> kUnknownLine{kUnknownLineDetail};
constexpr std::array<uint8_t, 1> kUnknownCall{kUnknownCallDetail};

std::optional<uint8_t> Present(const vnl::Message& m, uint8_t param, uint8_t value) {
  if (!m.Has(param)) return std::nullopt;
  return value;
}

bool OriginKnown(uint32_t origin) {
  return origin != 0 && origin != LINECALLORIGIN_UNKNOWN && origin != LINECALLORIGIN_UNAVAIL;
}

// Caller IDs are taken for calls that came from elsewhere.
bool TakesCallerId(uint32_t origin) {
  return origin != 0 && origin != LINECALLORIGIN_OUTBOUND && origin != LINECALLORIGIN_CONFERENCE;
}

bool LeavesConference(uint32_t state) {
  switch (state) {
    case LINECALLSTATE_IDLE:
    case LINECALLSTATE_BUSY:
    case LINECALLSTATE_CONNECTED:
    case LINECALLSTATE_ONHOLDPENDTRANSFER:
    case LINECALLSTATE_DISCONNECTED: return true;
    default: return false;
  }
}

// Party IDs change only through here, keeping any name the party has.
void SetParty(CallModel& calls, const TspCall& call, PartyRole role, uint32_t flags,
              std::optional<std::u16string_view> number) {
  const std::optional<std::u16string>& name = call.party(role).name;
  calls.SetPartyId(call, role, flags, number, name ? std::optional<std::u16string_view>(*name) : std::nullopt, true);
}

// A party ID or the charging information that cannot be stored for want of
// memory stays as it was; the report is still answered as applied.
template <typename Store>
void UnlessOutOfMemory(Store&& store) {
  try {
    store();
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace

IndicationHandlers::IndicationHandlers(VnlSender& sender, CallModel& calls,
                                       std::function<uint32_t()> permanentProviderId)
    : sender_(sender), calls_(calls), permanentProviderId_(std::move(permanentProviderId)) {}

void IndicationHandlers::RegisterHandlers(VnlDispatcher& d) {
  d.SetHandler(vnl::kNewCallInd, [this](const vnl::Message& m) { OnNewCall(m); });
  d.SetHandler(vnl::kCallInfoInd, [this](const vnl::Message& m) { OnCallInfo(m); });
  d.SetHandler(vnl::kCloseCallInd, [this](const vnl::Message& m) { OnCloseCall(m); });
  d.SetHandler(vnl::kLineInfoInd, [this](const vnl::Message& m) { OnLineInfo(m); });
  d.SetHandler(vnl::kFailureInd, [this](const vnl::Message& m) { OnFailure(m); });
  d.SetHandler(vnl::kGetCallInfoConf, [this](const vnl::Message& m) { OnGetCallInfoConf(m); });
  d.SetHandler(vnl::kGetCtiCapsConf, [this](const vnl::Message& m) { OnGetCtiCapsConf(m); });
}

OpenLine* IndicationHandlers::UsableLine(uint16_t pbxLineId) {
  for (OpenLine* line : calls_.Lines())
    if (line->pbxLineId == pbxLineId && !line->outOfService) return line;
  return nullptr;
}

void IndicationHandlers::OnNewCall(const vnl::Message& m) {
  TraceReceived(m);
  OpenLine* line = UsableLine(m.lineId);
  if (!line) {
    sender_.SendNewCallResp(kRefused, kUnknownLine, m.refId);
    return;
  }
  const TspCall* call = calls_.CreateOfferedCall(*line, m.callId, u"", 0);
  if (call && !call->htCall) {
    // TAPI answered LINE_NEWCALL without a handle: it could not take the
    // call, and nothing may be reported for it.
    calls_.DeleteCall(call);
    call = nullptr;
  }
  if (!call) {
    sender_.SendNewCallResp(kRefused, {}, m.refId);
    return;
  }
  // The exchange's new calls start on the line's first address.
  calls_.SetAddressId(*call, 0, false);
  sender_.SendNewCallResp(kApplied, {}, m.refId);
}

void IndicationHandlers::OnCloseCall(const vnl::Message& m) {
  TraceReceived(m);
  if (const TspCall* call = calls_.FindCallByPbxId(m.callId)) {
    // A member that ends leaves its conference as one reported idle does.
    DissolveConference(calls_, *call);
    calls_.CloseCallByExchange(*call);
  } else if (!DeleteTransferRecord(m.callId)) {
    sender_.SendCloseCallResp(kRefused, kUnknownCall, m.refId);
    return;
  }
  sender_.SendCloseCallResp(kApplied, {}, m.refId);
}

void IndicationHandlers::OnLineInfo(const vnl::Message& m) {
  TraceReceived(m);
  OpenLine* line = UsableLine(m.lineId);
  if (!line) {
    sender_.SendLineInfoResp(kRefused, kUnknownLine, m.refId);
    return;
  }
  uint32_t mode = ForwardModeOfLineState(m.lineState);
  std::optional<std::u16string> destination;
  if (m.destAddress.empty()) {
    mode = 0;
  } else if (mode != 0) {
    destination = platform::ansiToWide(m.destAddress);
  }
  calls_.SetLineForwarding(*line, mode, 0, std::move(destination));
  sender_.SendLineInfoResp(kApplied, {}, m.refId);
}

void IndicationHandlers::OnFailure(const vnl::Message& m) { TraceReceived(m); }

void IndicationHandlers::OnGetCallInfoConf(const vnl::Message& m) { TraceReceived(m); }

void IndicationHandlers::OnGetCtiCapsConf(const vnl::Message& m) { TraceReceived(m); }

void IndicationHandlers::AttachTransfers(TransferRecords& records,
                                         std::function<void(uint16_t)> onConsultationState) {
  transferRecords_ = &records;
  onConsultationState_ = std::move(onConsultationState);
}

bool IndicationHandlers::RecordTransferState(uint16_t pbxCallId, uint8_t callState) {
  TransferRecord* record = transferRecords_ ? transferRecords_->Find(pbxCallId) : nullptr;
  if (!record) return false;
  record->lastCallState = callState;  // 0 when the report has no CALL_STATE
  return true;
}

bool IndicationHandlers::DeleteTransferRecord(uint16_t pbxCallId) {
  return transferRecords_ && transferRecords_->Delete(pbxCallId);
}

void IndicationHandlers::FinishBlindTransfer(uint16_t pbxCallId) {
  if (onConsultationState_) onConsultationState_(pbxCallId);
}

void IndicationHandlers::OnCallInfo(const vnl::Message& m) {
  TraceReceived(m);
  const bool transferRecord = RecordTransferState(m.callId, m.Has(vnl::kCallState) ? m.callState : 0);
  const TspCall* call = calls_.FindCallByPbxId(m.callId);
  if (!call) {
    if (!transferRecord) {
      sender_.SendCallInfoResp(kRefused, kUnknownCall, m.refId);
      return;
    }
    sender_.SendCallInfoResp(kApplied, {}, m.refId);
    FinishBlindTransfer(m.callId);
    return;
  }
  OpenLine* line = calls_.FindLine(reinterpret_cast<HDRVLINE>(call->line));
  const uint32_t tspiVersion = line ? line->tspiVersion : 0;

  const CallStateEntry stateEntry = CallStateOf(m.callState);
  uint32_t state = stateEntry.state;
  uint32_t origin = stateEntry.origin;
  bool originForced = false;
  const CallTypeEntry typeEntry = CallTypeOf(m.callType);
  uint32_t reason = typeEntry.reason;
  if (typeEntry.originOverride != 0 && origin != LINECALLORIGIN_OUTBOUND && call->origin != LINECALLORIGIN_OUTBOUND) {
    origin = typeEntry.originOverride;
    originForced = true;
  }
  if (m.Has(vnl::kCallReason)) {
    if (const uint32_t listed = CallReasonOf(m.callReason)) reason = listed;
  }

  // An idle call stays idle when the exchange reports it disconnected.
  if (call->callState == LINECALLSTATE_IDLE && state == LINECALLSTATE_DISCONNECTED) state = LINECALLSTATE_IDLE;
  SetState(*call, line, state, tspiVersion, m);

  if (LeavesConference(state)) DissolveConference(calls_, *call);
  UpdateOrigin(*call, origin, originForced, m);
  if (reason != 0) calls_.SetReason(*call, reason, true);
  const bool rings = call->callState == LINECALLSTATE_OFFERING || call->callState == LINECALLSTATE_ACCEPTED;
  // A call TAPI has already closed is not rung for.
  if (rings && call->bound && !call->ringTimer.IsRunning()) calls_.StartRinging(*call);
  if (!m.externalAddress.empty() && call->origin != LINECALLORIGIN_OUTBOUND) {
    UnlessOutOfMemory([&] {
      SetParty(calls_, *call, PartyRole::Called, LINECALLPARTYID_ADDRESS, platform::ansiToWide(m.externalAddress));
    });
  }
  if (state == LINECALLSTATE_CONNECTED || state == LINECALLSTATE_CONFERENCED) calls_.StopNoAnswerTimer(*call);
  UnlessOutOfMemory([&] { AppendDialledDigits(*call, m); });
  UnlessOutOfMemory([&] { UpdateParties(*call, m); });
  if (m.Has(vnl::kChargingInfo)) {
    UnlessOutOfMemory([&] {
      const std::string text = ChargingText(m.charging, EnvironmentDecimalPoint());
      std::vector<uint8_t> blob(text.begin(), text.end());
      blob.push_back(0);  // stored as ANSI text with its terminator
      calls_.SetBlob(*call, CallBlob::ChargingInfo, std::move(blob), true);
    });
  }
  sender_.SendCallInfoResp(kApplied, {}, m.refId);
}

void IndicationHandlers::SetState(const TspCall& call, OpenLine* line, uint32_t state, uint32_t tspiVersion,
                                  const vnl::Message& m) {
  if (state == 0) return;
  if (state != LINECALLSTATE_CONFERENCED) {
    calls_.SetCallState(call, state,
                        CallStateMode(state, tspiVersion, Present(m, vnl::kCause, m.cause), call.noAnswerDropped));
    return;
  }
  const uint32_t activeMode = CallStateMode(LINECALLSTATE_CONNECTED, tspiVersion, std::nullopt, false);
  const TspCall* conference = line ? JoinConference(calls_, *line, call, activeMode) : nullptr;
  calls_.SetCallState(call, LINECALLSTATE_CONFERENCED, ConferenceModeOf(conference));
}

void IndicationHandlers::UpdateOrigin(const TspCall& call, uint32_t origin, bool forced, const vnl::Message& m) {
  if (origin == LINECALLORIGIN_INBOUND && m.Has(vnl::kOrigAddressType) && m.origAddressType == kAddressTypeInternal)
    origin = LINECALLORIGIN_INTERNAL;
  if (origin != 0 && (!OriginKnown(call.origin) || forced)) calls_.SetOrigin(call, origin, true);
}

void IndicationHandlers::AppendDialledDigits(const TspCall& call, const vnl::Message& m) {
  if (call.origin != LINECALLORIGIN_OUTBOUND || !m.Has(vnl::kDestAddress)) return;
  if (call.callState != LINECALLSTATE_DIALTONE && call.callState != LINECALLSTATE_DIALING) return;
  calls_.AppendDialledDigits(call, platform::ansiToWide(m.destAddress));
  if (call.dialledNumber.empty())
    SetParty(calls_, call, PartyRole::Called, LINECALLPARTYID_UNKNOWN, std::nullopt);
  else
    SetParty(calls_, call, PartyRole::Called, LINECALLPARTYID_ADDRESS, call.dialledNumber);
}

void IndicationHandlers::UpdateParty(const TspCall& call, PartyRole role, const std::string& address,
                                     std::optional<uint8_t> addressType) {
  if (!address.empty()) {
    const std::u16string number =
        PrefixNumber(permanentProviderId_(), addressType.value_or(kAddressTypeUnknown), platform::ansiToWide(address));
    SetParty(calls_, call, role, PartyIdFlags(addressType, number.empty()), number);
  } else if (addressType) {
    SetParty(calls_, call, role, PartyIdFlags(addressType, true), std::nullopt);
  }
}

void IndicationHandlers::UpdateParties(const TspCall& call, const vnl::Message& m) {
  const bool callerSide = TakesCallerId(call.origin);
  if (callerSide)
    UpdateParty(call, PartyRole::Caller, m.origAddress, Present(m, vnl::kOrigAddressType, m.origAddressType));
  UpdateParty(call, PartyRole::Connected, m.connectedAddress,
              Present(m, vnl::kConnectedAddressType, m.connectedAddressType));
  UpdateParty(call, PartyRole::Redirecting, m.redirectingAddress,
              Present(m, vnl::kRedirectingAddressType, m.redirectingAddressType));
  UpdateParty(call, PartyRole::Redirection, m.redirectionAddress,
              Present(m, vnl::kRedirectionAddressType, m.redirectionAddressType));
  // A connected incoming call whose other party the exchange did not name is
  // connected to its caller.
  const uint32_t connectedFlags = call.party(PartyRole::Connected).flags;
  if (callerSide && call.callState == LINECALLSTATE_CONNECTED &&
      (connectedFlags == LINECALLPARTYID_UNKNOWN || connectedFlags == LINECALLPARTYID_UNAVAIL)) {
    const PartyId& caller = call.party(PartyRole::Caller);
    SetParty(calls_, call, PartyRole::Connected, caller.flags,
             caller.number ? std::optional<std::u16string_view>(*caller.number) : std::nullopt);
  }
}

}  // namespace kvarsp
