#pragma once
// Checks, as a telephony service would, that a provider keeps the TSPI
// contract:
// - an asynchronous function returns its request ID or an error; a request
//   it accepted is completed exactly once, and one it refused never is;
// - no callback arrives on the thread of a TSPI call while that call runs;
// - nothing arrives after TSPI_providerShutdown has returned, and nothing
//   the provider accepted is still waiting for its completion then.
// It sees only what it is told: the host reports each step. Every method
// returns the violations the step revealed (empty when all is well).
//
// Memory stays bounded however long the provider runs: request IDs are
// issued in increasing order, so the checker keeps the requests still
// outstanding, the last kRecentFinished finished ones (to name the function
// of a late second completion), and the range of IDs it issued. A completion
// of an ID outside that range was never issued; one of an ID inside it that
// is neither outstanding nor recent is reported as no longer outstanding.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "tapi/tapi_types.h"

namespace tapihost {

class ContractChecker {
 public:
  using Violations = std::vector<std::string>;

  // A TSPI function starts or ends on a thread.
  void callEntered(uint32_t threadId, const std::string& function);
  void callLeft(uint32_t threadId);

  // An asynchronous function is about to be called with this request ID,
  // and has returned result.
  void requestIssued(DRV_REQUESTID id, const std::string& function);
  Violations requestReturned(DRV_REQUESTID id, LONG result);

  // The provider calls back.
  Violations completion(uint32_t threadId, DRV_REQUESTID id, LONG result);
  Violations event(uint32_t threadId, const std::string& what);

  // The provider was initialised, or TSPI_providerShutdown returned for the
  // last initialisation: from then on nothing may arrive.
  void providerInitialised();
  Violations providerShutDown();
  bool providerActive() const { return initCount_ > 0; }

  // How many finished requests are remembered by ID and function.
  static constexpr size_t kRecentFinished = 64;
  // The requests held: outstanding ones and recently finished ones.
  size_t size() const { return outstanding_.size() + finished_.size(); }

 private:
  // Outstanding requests are Calling, CompletedWhileCalling or Accepted;
  // a request that reaches Refused or Completed has finished.
  enum class RequestState { Calling, CompletedWhileCalling, Accepted, Refused, Completed };
  struct Request {
    std::string function;
    RequestState state = RequestState::Calling;
  };

  Violations checkCallback(uint32_t threadId, const std::string& what) const;
  // Moves an outstanding request that has reached Refused or Completed to
  // the recently finished ones.
  void finish(std::map<DRV_REQUESTID, Request>::iterator it);

  std::map<uint32_t, std::string> callsInProgress_;  // thread -> function
  std::map<DRV_REQUESTID, Request> outstanding_;
  std::map<DRV_REQUESTID, Request> finished_;  // the last kRecentFinished
  std::deque<DRV_REQUESTID> finishOrder_;      // of finished_, oldest first
  bool issuedAny_ = false;
  DRV_REQUESTID lowestIssued_ = 0, highestIssued_ = 0;
  int initCount_ = 0;
  bool shutDown_ = false;
};

}  // namespace tapihost
