#include "tapi/host/provider_harness.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace tapihost {
namespace {

std::atomic<ProviderHarness*> g_active{nullptr};

}  // namespace

void ProviderHarness::abortOnViolation(const std::string& message) {
  std::fprintf(stderr, "TSPI contract broken: %s\n", message.c_str());
  std::fflush(stderr);
  std::abort();
}

ProviderHarness::ProviderHarness(ViolationHandler onViolation) : onViolation_(std::move(onViolation)) {
  ProviderHarness* expected = nullptr;
  if (!g_active.compare_exchange_strong(expected, this)) {
    report({"a second ProviderHarness was created while another is active"});
  }
}

ProviderHarness::~ProviderHarness() {
  bool active;
  {
    std::lock_guard lock(m_);
    active = checker_.providerActive();
  }
  if (active) {
    report({"the harness ends while the provider is still initialised (TSPI_providerShutdown missing)"});
    // Its threads may still run: keep the code loaded.
    module_.keepLoaded();
  } else {
    module_.unload();
  }
  ProviderHarness* self = this;
  g_active.compare_exchange_strong(self, nullptr);
}

bool ProviderHarness::load(const std::string& providerPath) { return module_.load(providerPath); }

HPROVIDER ProviderHarness::providerHandle() { return reinterpret_cast<HPROVIDER>(uintptr_t{0x7A91}); }

LINEEVENT ProviderHarness::lineEventCallback() { return &ProviderHarness::lineEventTrampoline; }

LONG ProviderHarness::enumDevices(DWORD permanentProviderId, DWORD* numLines, DWORD* numPhones) {
  return TSPI_CALL(*this, TSPI_providerEnumDevices, permanentProviderId, numLines, numPhones, providerHandle(),
                   &ProviderHarness::lineCreateTrampoline, static_cast<PHONEEVENT>(nullptr));
}

LONG ProviderHarness::init(DWORD tspiVersion, DWORD permanentProviderId, DWORD lineDeviceIdBase, DWORD numLines,
                           DWORD* tspiOptions) {
  LONG r = TSPI_CALL(*this, TSPI_providerInit, tspiVersion, permanentProviderId, lineDeviceIdBase, DWORD{0},
                     DWORD_PTR{numLines}, DWORD_PTR{0}, &ProviderHarness::completionTrampoline, tspiOptions);
  if (r == 0) {
    std::lock_guard lock(m_);
    checker_.providerInitialised();
  }
  return r;
}

LONG ProviderHarness::shutdown(DWORD tspiVersion, DWORD permanentProviderId) {
  LONG r = TSPI_CALL(*this, TSPI_providerShutdown, tspiVersion, permanentProviderId);
  if (r == 0) {
    ContractChecker::Violations v;
    {
      std::lock_guard lock(m_);
      v = checker_.providerShutDown();
    }
    report(v);
  }
  return r;
}

ProviderHarness::CallScope::CallScope(ProviderHarness& h, const char* name) : h_(h) {
  std::lock_guard lock(h_.m_);
  h_.checker_.callEntered(platform::currentThreadId(), name);
}

ProviderHarness::CallScope::~CallScope() {
  std::lock_guard lock(h_.m_);
  h_.checker_.callLeft(platform::currentThreadId());
}

DRV_REQUESTID ProviderHarness::issueRequest(const char* name) {
  std::lock_guard lock(m_);
  DRV_REQUESTID id = nextRequestId_++;
  checker_.requestIssued(id, name);
  return id;
}

void ProviderHarness::returnRequest(DRV_REQUESTID id, LONG result) {
  ContractChecker::Violations v;
  {
    std::lock_guard lock(m_);
    v = checker_.requestReturned(id, result);
  }
  report(v);
}

void ProviderHarness::completionTrampoline(DRV_REQUESTID id, LONG result) {
  if (ProviderHarness* h = g_active.load()) h->onCompletion(id, result);
}

void ProviderHarness::lineEventTrampoline(HTAPILINE htLine, HTAPICALL htCall, DWORD msg, DWORD_PTR p1,
                                          DWORD_PTR p2, DWORD_PTR p3) {
  if (ProviderHarness* h = g_active.load()) h->onLineEvent(CallbackRecord::Kind::LineEvent, htLine, htCall, msg, p1, p2, p3);
}

void ProviderHarness::lineCreateTrampoline(HTAPILINE htLine, HTAPICALL htCall, DWORD msg, DWORD_PTR p1,
                                           DWORD_PTR p2, DWORD_PTR p3) {
  if (ProviderHarness* h = g_active.load()) h->onLineEvent(CallbackRecord::Kind::LineCreate, htLine, htCall, msg, p1, p2, p3);
}

void ProviderHarness::onCompletion(DRV_REQUESTID id, LONG result) {
  CallbackRecord r;
  r.kind = CallbackRecord::Kind::Completion;
  r.threadId = platform::currentThreadId();
  r.requestId = id;
  r.result = result;
  ContractChecker::Violations v;
  {
    std::lock_guard lock(m_);
    v = checker_.completion(r.threadId, id, result);
  }
  report(v);
  record(r);
}

void ProviderHarness::onLineEvent(CallbackRecord::Kind kind, HTAPILINE htLine, HTAPICALL htCall, DWORD msg,
                                  DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3) {
  CallbackRecord r;
  r.kind = kind;
  r.threadId = platform::currentThreadId();
  r.htLine = htLine;
  r.htCall = htCall;
  r.msg = msg;
  r.param1 = p1;
  r.param2 = p2;
  r.param3 = p3;
  ContractChecker::Violations v;
  {
    std::lock_guard lock(m_);
    v = checker_.event(r.threadId, describe(r));
    if (msg == LINE_NEWCALL) {
      if (p2 == 0) {
        v.push_back("LINE_NEWCALL without the address of the provider's htCall field in dwParam2");
      } else {
        r.newHtCall = reinterpret_cast<HTAPICALL>(nextHtCall_);
        nextHtCall_ += 0x10;
      }
    }
  }
  // TAPI answers LINE_NEWCALL by writing its handle for the new call.
  if (r.newHtCall) *reinterpret_cast<HTAPICALL*>(p2) = r.newHtCall;
  report(v);
  record(r);
}

void ProviderHarness::record(CallbackRecord r) {
  std::lock_guard lock(m_);
  r.sequence = records_.size() + 1;
  records_.push_back(r);
  if (listener_) listener_(records_.back());
  changed_.notify_all();
}

void ProviderHarness::setRecordListener(RecordListener listener) {
  std::lock_guard lock(m_);
  listener_ = std::move(listener);
}

void ProviderHarness::report(const ContractChecker::Violations& v) {
  for (const std::string& message : v) {
    {
      std::lock_guard lock(m_);
      violations_.push_back(message);
    }
    onViolation_(message);
  }
}

std::vector<CallbackRecord> ProviderHarness::records() const {
  std::lock_guard lock(m_);
  return records_;
}

bool ProviderHarness::waitFor(const std::function<bool(const std::vector<CallbackRecord>&)>& pred,
                              uint32_t timeoutMs) {
  std::unique_lock lock(m_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return pred(records_); });
}

std::optional<LONG> ProviderHarness::waitForCompletion(DRV_REQUESTID requestId, uint32_t timeoutMs) {
  std::optional<LONG> result;
  waitFor(
      [&](const std::vector<CallbackRecord>& records) {
        for (const auto& r : records) {
          if (r.kind == CallbackRecord::Kind::Completion && r.requestId == requestId) {
            result = r.result;
            return true;
          }
        }
        return false;
      },
      timeoutMs);
  return result;
}

std::vector<std::string> ProviderHarness::violations() const {
  std::lock_guard lock(m_);
  return violations_;
}

}  // namespace tapihost
