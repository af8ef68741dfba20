// Benchmark (not a test): building a VNL request and decoding a full
// indication, the two codec paths every call goes through.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "provider/vnl/codec/vnl_decoder.h"
#include "provider/vnl/codec/vnl_encoder.h"
#include "provider/vnl/codec/vnl_protocol.h"

namespace {

// VNL_CALLESTABLISH_REQ as TSPI_lineMakeCall sends it: LINE_ID, a 12-digit
// destination and CALL_OPTIONS.
void BM_EncodeCallEstablishReq(benchmark::State& state) {
  vnl::Message request;
  request.type = vnl::kCallEstablishReq;
  request.refId = 17;
  request.lineId = 5;
  request.destAddress = "004930123456";
  request.callOptions = 0x01;
  std::vector<uint8_t> out;
  out.reserve(vnl::kMaxMessage);
  for (auto _ : state) {
    if (vnl::EncodeMessage(request, false, out) != vnl::BuildStatus::Ok) {
      state.SkipWithError("encoding failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(out.size()));
}
BENCHMARK(BM_EncodeCallEstablishReq);

// VNL_CALLINFO_IND with every field of the message table, CHARGING_INFO with
// exponent and currency included.
std::vector<uint8_t> FullCallInfoInd() {
  vnl::Message m;
  m.type = vnl::kCallInfoInd;
  m.refId = 42;
  m.callId = 0x1234;
  m.callIds = {0x1234};
  m.callState = 3;
  m.destAddress = "004930123456";
  m.origAddress = "21";
  m.origAddressType = 1;
  m.connectedAddress = "004930123456";
  m.connectedAddressType = 2;
  m.redirectingAddress = "22";
  m.redirectingAddressType = 3;
  m.callType = 1;
  m.cause = 0x10;
  m.callReason = 2;
  m.externalAddress = "0049301234567";
  m.redirectionAddress = "23";
  m.redirectionAddressType = 4;
  m.charging.amount = 12345;
  m.charging.exponent = 2;
  m.charging.currency = "EUR";
  for (uint8_t type : {vnl::kCallId, vnl::kCallState, vnl::kDestAddress, vnl::kOrigAddress, vnl::kOrigAddressType,
                       vnl::kConnectedAddress, vnl::kConnectedAddressType, vnl::kRedirectingAddress,
                       vnl::kRedirectingAddressType, vnl::kCallType, vnl::kCause, vnl::kCallReason,
                       vnl::kExternalAddress, vnl::kRedirectionAddress, vnl::kRedirectionAddressType,
                       vnl::kChargingInfo}) {
    m.Set(type);
  }
  std::vector<uint8_t> bytes;
  vnl::EncodeMessage(m, false, bytes);
  return bytes;
}

void BM_DecodeCallInfoInd(benchmark::State& state) {
  const std::vector<uint8_t> bytes = FullCallInfoInd();
  int reported = 0;
  const vnl::ErrorReport report = [&](std::string_view) { ++reported; };
  vnl::Message message;
  vnl::DecodeResult check = vnl::DecodeMessage(bytes, false, message, report);
  if (!check.headerComplete || check.errors != 0 || message.charging.currency != "EUR" ||
      message.callId != 0x1234 || message.redirectionAddressType != 4) {
    state.SkipWithError("the CALLINFO_IND does not decode to what was encoded");
    return;
  }
  for (auto _ : state) {
    vnl::DecodeMessage(bytes, false, message, report);
    benchmark::DoNotOptimize(message);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_DecodeCallInfoInd);

}  // namespace

BENCHMARK_MAIN();
