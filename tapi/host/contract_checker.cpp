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
  outstanding_[id] = Request{function, RequestState::Calling};
  if (!issuedAny_ || id < lowestIssued_) lowestIssued_ = id;
  if (!issuedAny_ || id > highestIssued_) highestIssued_ = id;
  issuedAny_ = true;
}

void ContractChecker::finish(std::map<DRV_REQUESTID, Request>::iterator it) {
  finished_[it->first] = std::move(it->second);
  finishOrder_.push_back(it->first);
  outstanding_.erase(it);
  while (finishOrder_.size() > kRecentFinished) {
    finished_.erase(finishOrder_.front());
    finishOrder_.pop_front();
  }
}

ContractChecker::Violations ContractChecker::requestReturned(DRV_REQUESTID id, LONG result) {
  Violations v;
  auto it = outstanding_.try_emplace(id).first;
  Request& r = it->second;
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
  if (r.state == RequestState::Completed || r.state == RequestState::Refused) finish(it);
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
  const std::string twice = what + ": request ID " + std::to_string(id) + " of ";
  if (auto it = outstanding_.find(id); it != outstanding_.end()) {
    Request& r = it->second;
    if (r.state == RequestState::Calling) {
      r.state = RequestState::CompletedWhileCalling;
    } else if (r.state == RequestState::Accepted) {
      r.state = RequestState::Completed;
      finish(it);
    } else {
      v.push_back(twice + r.function + " completed twice");
    }
  } else if (auto done = finished_.find(id); done != finished_.end()) {
    if (done->second.state == RequestState::Refused) {
      v.push_back(what + ": " + done->second.function + " had refused this request, so it must not be completed");
    } else {
      v.push_back(twice + done->second.function + " completed twice");
    }
  } else if (!issuedAny_ || id < lowestIssued_ || id > highestIssued_) {
    v.push_back(what + " for a request ID that was never issued");
  } else {
    v.push_back(what + ": request ID " + std::to_string(id) +
                " is not outstanding (completed or refused long ago, or issued to another provider)");
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
  for (const auto& [id, r] : outstanding_) {
    if (r.state == RequestState::Accepted || r.state == RequestState::Calling) {
      v.push_back("request ID " + std::to_string(id) + " of " + r.function +
                  " was never completed before TSPI_providerShutdown returned");
    }
  }
  return v;
}

}  // namespace tapihost
