#pragma once
// A LinkInterface double for provider tests that do not need an exchange:
// the link operations return the results set here, and the call requests
// are recorded (with a result to return) so tests can see what the provider
// asked the exchange for.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/sync.h"
#include "provider/link_interface.h"
#include "provider/open_line.h"
#include "provider/tsp_call.h"

namespace kvarsp_test {

class FakeLink : public kvarsp::LinkInterface {
 public:
  struct CallRequest {
    std::string what;  // "make", "dial", ..., "forward", "blind-transfer", ..., "pickup"
    DRV_REQUESTID requestId = 0;
    const kvarsp::TspCall* call = nullptr;
    std::u16string digits;
    std::u16string dialString;
    uint8_t callOptions = 0;  // forward: the FORWARDING_TYPE
    uint16_t firstCallId = 0;
    uint16_t secondCallId = 0;
  };

  int linkStartResult = 0;
  int addressListResult = 0;
  LONG registerResult = 0;
  LONG unregisterResult = 0;
  LONG lineInfoResult = 0;
  LONG callRequestResult = 0;  // what every call request returns
  std::vector<CallRequest> callRequests;

  int Load(uint32_t* status) override {
    *status = 0;
    return 0;
  }
  int Unload() override { return 0; }
  int LinkStart(uint8_t, ScopedLock&) override { return linkStartResult; }
  int LinkEnd(ScopedLock&) override { return 0; }
  int GetAddressList(ScopedLock&) override { return addressListResult; }
  LONG RegisterLine(uint16_t, ScopedLock&) override { return registerResult; }
  LONG UnregisterLine(uint16_t, ScopedLock&) override { return unregisterResult; }
  LONG GetLineInfo(kvarsp::OpenLine&, uint16_t, ScopedLock&) override { return lineInfoResult; }
  void AbortLineRequests(kvarsp::OpenLine&) override {}

  LONG MakeCall(DRV_REQUESTID requestId, kvarsp::OpenLine&, const kvarsp::TspCall& call, std::u16string_view digits,
                uint8_t callOptions) override {
    return Record({"make", requestId, &call, std::u16string(digits), {}, callOptions, 0, 0});
  }
  LONG Dial(DRV_REQUESTID requestId, kvarsp::OpenLine&, const kvarsp::TspCall& call, std::u16string_view digits,
            std::u16string_view dialString) override {
    return Record({"dial", requestId, &call, std::u16string(digits), std::u16string(dialString), 0, 0, 0});
  }
  LONG Answer(DRV_REQUESTID requestId, kvarsp::OpenLine&, const kvarsp::TspCall& call, uint8_t callOptions) override {
    return Record({"answer", requestId, &call, {}, {}, callOptions, 0, 0});
  }
  LONG Drop(DRV_REQUESTID requestId, kvarsp::OpenLine&, const kvarsp::TspCall& call) override {
    return Record({"drop", requestId, &call, {}, {}, 0, 0, 0});
  }
  LONG DropTwo(DRV_REQUESTID requestId, kvarsp::OpenLine&, const kvarsp::TspCall& call, uint16_t firstCallId,
               uint16_t secondCallId) override {
    return Record({"drop-two", requestId, &call, {}, {}, 0, firstCallId, secondCallId});
  }
  LONG SwapHold(DRV_REQUESTID requestId, kvarsp::OpenLine&, const kvarsp::TspCall& connected,
                const kvarsp::TspCall& held) override {
    return Record({"swap-hold", requestId, &connected, {}, {}, 0, connected.pbxCallId, held.pbxCallId});
  }
  LONG Redirect(DRV_REQUESTID requestId, kvarsp::OpenLine&, const kvarsp::TspCall& call,
                std::u16string_view digits) override {
    return Record({"redirect", requestId, &call, std::u16string(digits), {}, 0, 0, 0});
  }
  LONG Forward(DRV_REQUESTID requestId, kvarsp::OpenLine&, uint8_t forwardingType, uint32_t, uint32_t,
               std::optional<std::u16string> destination) override {
    return Record({"forward", requestId, nullptr, destination.value_or(u""), {}, forwardingType, 0, 0});
  }

  LONG BlindTransfer(DRV_REQUESTID requestId, kvarsp::OpenLine&, const kvarsp::TspCall& call,
                     std::u16string_view digits, uint8_t callOptions) override {
    return Record({"blind-transfer", requestId, &call, std::u16string(digits), {}, callOptions, call.pbxCallId, 0});
  }
  LONG SetupTransfer(DRV_REQUESTID requestId, kvarsp::OpenLine&, const kvarsp::TspCall& transferred,
                     const kvarsp::TspCall& consultation, std::u16string_view digits, uint8_t callOptions) override {
    return Record({"setup-transfer", requestId, &consultation, std::u16string(digits), {}, callOptions,
                   transferred.pbxCallId, 0});
  }
  LONG CompleteTransfer(DRV_REQUESTID requestId, kvarsp::OpenLine&, const kvarsp::TspCall& call,
                        const kvarsp::TspCall& held) override {
    return Record({"complete-transfer", requestId, &call, {}, {}, 0, call.pbxCallId, held.pbxCallId});
  }
  LONG Conference(DRV_REQUESTID requestId, kvarsp::OpenLine&, const kvarsp::TspCall& conference,
                  const kvarsp::TspCall& connected, const kvarsp::TspCall& held) override {
    return Record({"conference", requestId, &conference, {}, {}, 0, connected.pbxCallId, held.pbxCallId});
  }
  LONG Park(DRV_REQUESTID requestId, kvarsp::OpenLine&, const kvarsp::TspCall& call, LPVARSTRING) override {
    return Record({"park", requestId, &call, {}, {}, 0, call.pbxCallId, 0});
  }
  LONG Unpark(DRV_REQUESTID requestId, kvarsp::OpenLine&, const kvarsp::TspCall& call, uint16_t parkAddress,
              uint8_t callOptions) override {
    return Record({"unpark", requestId, &call, {}, {}, callOptions, parkAddress, 0});
  }
  LONG Pickup(DRV_REQUESTID requestId, kvarsp::OpenLine&, const kvarsp::TspCall& call, std::u16string_view digits,
              uint8_t callOptions) override {
    return Record({"pickup", requestId, &call, std::u16string(digits), {}, callOptions, 0, 0});
  }

 private:
  LONG Record(CallRequest request) {
    callRequests.push_back(std::move(request));
    return callRequestResult;
  }
};

}  // namespace kvarsp_test
