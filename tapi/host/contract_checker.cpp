#include "tapi/host/contract_checker.h"

#include <cstdio>

namespace tapihost {
namespace {

std::string hex(DWORD v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

}  // namespace

void ContractChecker::callEntered(uint32_t threadId, const std::string& function) {
  callsInProgress_[threadId] = function;
}

void ContractChecker::callLeft(uint32_t threadId) { callsInProgress_.erase(threadId); }

void ContractChecker::requestIssued(DRV_REQUESTID id, const std::string& function) {
  requests_[id] = Request{function, RequestState::Calling, 0};
}

ContractChecker::Violations ContractChecker::requestReturned(DRV_REQUESTID id, LONG result) {
  Violations v;
  Request& r = requests_[id];
  const bool accepted = result == static_cast<LONG>(id);
  if (!accepted && result >= 0) {
    v.push_back(r.function + " returned " + std::to_string(result) + " for request ID " + std::to_string(id) +
                ": an asynchronous function returns its request ID or a negative error");
  }
  if (r.state == RequestState::CompletedWhileCalling) {
    if (accepted) {
      r.state = RequestState::Completed;
    } else {
      v.push_back("request ID " + std::to_string(id) + " of " + r.function +
                  " was completed although the function refused it (" + hex(static_cast<DWORD>(result)) + ")");
      r.state = RequestState::Refused;
    }
  } else {
    r.state = accepted ? RequestState::Accepted : RequestState::Refused;
  }
  return v;
}

ContractChecker::Violations ContractChecker::checkCallback(uint32_t threadId, const std::string& what) const {
  Violations v;
  if (auto it = callsInProgress_.find(threadId); it != callsInProgress_.end()) {
    v.push_back(what + " arrived on the thread of " + it->second + " while that call was running");
  }
  if (shutDown_ && initCount_ == 0) v.push_back(what + " arrived after TSPI_providerShutdown had returned");
  return v;
}

ContractChecker::Violations ContractChecker::completion(uint32_t threadId, DRV_REQUESTID id, LONG result) {
  std::string what = "ASYNC_COMPLETION(" + std::to_string(id) + ", " + hex(static_cast<DWORD>(result)) + ")";
  Violations v = checkCallback(threadId, what);
  auto it = requests_.find(id);
  if (it == requests_.end()) {
    v.push_back(what + " for a request ID that was never issued");
    return v;
  }
  Request& r = it->second;
  switch (r.state) {
    case RequestState::Calling:
      r.state = RequestState::CompletedWhileCalling;
      r.completionResult = result;
      break;
    case RequestState::Accepted:
      r.state = RequestState::Completed;
      r.completionResult = result;
      break;
    case RequestState::Refused:
      v.push_back(what + ": " + r.function + " had refused this request, so it must not be completed");
      break;
    case RequestState::Completed:
    case RequestState::CompletedWhileCalling:
      v.push_back(what + ": request ID " + std::to_string(id) + " of " + r.function + " completed twice");
      break;
  }
  return v;
}

ContractChecker::Violations ContractChecker::event(uint32_t threadId, const std::string& what) {
  return checkCallback(threadId, what);
}

void ContractChecker::providerInitialised() {
  ++initCount_;
  shutDown_ = false;
}

ContractChecker::Violations ContractChecker::providerShutDown() {
  Violations v;
  if (initCount_ > 0) --initCount_;
  if (initCount_ > 0) return v;
  shutDown_ = true;
  for (const auto& [id, r] : requests_) {
    if (r.state == RequestState::Accepted || r.state == RequestState::Calling) {
      v.push_back("request ID " + std::to_string(id) + " of " + r.function +
                  " was never completed before TSPI_providerShutdown returned");
    }
  }
  return v;
}

}  // namespace tapihost
