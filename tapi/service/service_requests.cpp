// One request from an application: the header and the function are checked
// here, the function's handler reads its values (and ArgsDone checks that
// they were all there, of the right tags, and nothing was left over), and
// the reply goes out with the request's sequence: the result, then the out
// values when the result is not an error. Malformed input is answered with
// LINEERR_OPERATIONFAILED and logged; it never reaches a provider. A message
// whose header does not hold ends the connection (nothing after it can be
// trusted).
//
// An asynchronous request the provider accepts becomes Pending under the
// provider's request ID; the application gets a request ID of its own
// connection (positive, counting from 1) and later its LINE_REPLY.
#include <cstdio>

#include "tapi/service/service_state.h"

namespace tapisrv {

using tapiwire::Function;

void ServiceCore::State::SendReply(ClientId client, uint32_t sequence, LONG result, const OutValues& out) {
  tapiwire::Writer w(tapiwire::Kind::Reply, sequence);
  w.u32(static_cast<uint32_t>(result));
  if (result >= 0) {
    for (const OutValue& v : out) {
      if (const auto* n = std::get_if<uint32_t>(&v)) w.u32(*n);
      if (const auto* b = std::get_if<std::vector<uint8_t>>(&v)) w.bytes(std::span<const uint8_t>(*b));
      if (const auto* t = std::get_if<std::u16string>(&v)) w.text(std::u16string_view(*t));
    }
  }
  std::vector<uint8_t> message = w.finish();
  if (message.empty()) {
    log(Who(client) + ": reply too big for a message: LINEERR_NOMEM");
    message = tapiwire::Writer(tapiwire::Kind::Reply, sequence).u32(static_cast<uint32_t>(LINEERR_NOMEM)).finish();
  }
  sink.Send(client, std::move(message));
}

void ServiceCore::State::SendEvent(ClientId client, tapiwire::EventMessage event) {
  std::vector<uint8_t> message = tapiwire::encodeEvent(event);
  if (message.empty() && event.attachment) {
    log(Who(client) + ": attachment of " + std::to_string(event.attachment->size()) +
        " bytes too big for an event: sent without it");
    event.attachment.reset();
    message = tapiwire::encodeEvent(event);
  }
  if (!message.empty()) sink.Send(client, std::move(message));
}

bool ServiceCore::State::ArgsDone(Request& r) {
  if (r.in->ok() && r.in->atEnd()) return true;
  Refuse(r.client, tapiwire::functionName(static_cast<uint32_t>(r.function)) +
                       (r.in->ok() ? ": values left over" : ": values missing or of the wrong kind"));
  return false;
}

void ServiceCore::State::OnMessage(ClientId client, std::span<const uint8_t> message) {
  if (!clients.count(client)) {
    log(Who(client) + ": message from a connection the service does not know: ignored");
    return;
  }
  std::optional<tapiwire::Reader> in = tapiwire::Reader::open(message);
  if (!in) {
    Refuse(client, "a message whose header does not hold (" + std::to_string(message.size()) +
                       " bytes): connection closed");
    // The server does not report a connection the service ends itself.
    OnDisconnect(client);
    sink.Disconnect(client);
    return;
  }
  const uint32_t sequence = in->sequence();
  DropStaleAdds();
  if (in->kind() != tapiwire::Kind::Request) {
    Refuse(client, "a message of kind " + std::to_string(static_cast<uint32_t>(in->kind())) + " (not a request)");
    SendReply(client, sequence, LINEERR_OPERATIONFAILED, {});
    return;
  }
  const uint32_t function = in->u32();
  Request r;
  r.client = client;
  r.function = static_cast<Function>(function);
  r.in = &*in;
  LONG result;
  if (!in->ok()) {
    Refuse(client, "a request without a function");
    result = LINEERR_OPERATIONFAILED;
  } else {
    result = Dispatch(r);
  }
  SendReply(client, sequence, result, r.out);
}

LONG ServiceCore::State::Dispatch(Request& r) {
  switch (r.function) {
    case Function::Initialize: return Initialize(r);
    case Function::Shutdown: return Shutdown(r);
    case Function::NegotiateApiVersion: return NegotiateApiVersion(r);
    case Function::GetDevCaps: return GetDevCaps(r);
    case Function::GetAddressCaps: return GetAddressCaps(r);
    case Function::GetAddressStatus: return GetAddressStatus(r);
    case Function::GetLineDevStatus: return GetLineDevStatus(r);
    case Function::GetId: return GetId(r);
    case Function::Open: return Open(r);
    case Function::Close: return Close(r);
    case Function::SetStatusMessages: return SetStatusMessages(r);
    case Function::MakeCall: return MakeCall(r);
    case Function::Dial:
    case Function::Accept:
    case Function::Answer:
    case Function::Drop:
    case Function::SetCallData:
    case Function::SetCallParams:
    case Function::BlindTransfer:
    case Function::Redirect: return CallOperation(r);
    case Function::DeallocateCall: return DeallocateCall(r);
    case Function::GetCallInfo: return GetCallInfo(r);
    case Function::GetCallStatus: return GetCallStatus(r);
    case Function::SetAppSpecific:
    case Function::SetMediaMode: return SetCallValue(r);
    case Function::SetupTransfer: return SetupTransfer(r);
    case Function::CompleteTransfer: return CompleteTransfer(r);
    case Function::SwapHold: return SwapHold(r);
    case Function::Park: return Park(r);
    case Function::Unpark: return Unpark(r);
    case Function::Pickup: return Pickup(r);
    case Function::Forward: return Forward(r);
    case Function::DevSpecific: return DevSpecific(r);
    case Function::DevSpecificFeature: return DevSpecificFeature(r);
    case Function::GetProviderList: return GetProviderList(r);
    case Function::AddProviderBegin: return AddProviderBegin(r);
    case Function::AddProviderFinish: return AddProviderFinish(r);
    case Function::RemoveProvider: return RemoveProvider(r);
    case Function::ProviderUi: return ProviderUi(r);
    case Function::LineUi: return LineUi(r);
    case Function::GenericDialogData: return GenericDialogData(r);
  }
  Refuse(r.client, "an unknown " + tapiwire::functionName(static_cast<uint32_t>(r.function)));
  return LINEERR_OPERATIONFAILED;
}

LONG ServiceCore::State::Accepted(Request& r, size_t provider, const tapihost::AsyncCall& c, Pending p) {
  if (!c.accepted()) return c.result < 0 ? c.result : LINEERR_OPERATIONFAILED;
  p.client = r.client;
  p.function = r.function;
  App* app = AppOf(r.client);
  if (app) {
    p.appRequestId = app->nextRequestId++;
    if (app->nextRequestId > 0x7FFFFFFF) app->nextRequestId = 1;
  }
  const LONG result = app ? static_cast<LONG>(p.appRequestId) : LINEERR_OPERATIONFAILED;
  // Followed also without an application, so its completion finds its buffers.
  pending[{provider, c.requestId}] = std::move(p);
  return result;
}

}  // namespace tapisrv
