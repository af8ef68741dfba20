#include "tapi/host/provider_harness.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/debug_output.h"

namespace tapihost {
namespace {

// A harness's slot sits in the upper 24 bits of its handles; the lower 40
// bits hold the value itself (room for any device ID's htLine).
constexpr int kSlotShift = 40;
static_assert(sizeof(uintptr_t) >= 8, "handles carry the harness's slot above bit 40");
constexpr uintptr_t kProviderHandle = 0x7A91;
// The htLine of device n is kHtLineBase + n * kHtLineStep (plus the tag):
// never null, and recognisable in traces.
constexpr uintptr_t kHtLineBase = 0x4C000000;
constexpr uintptr_t kHtLineStep = 0x10;
constexpr uintptr_t kValueMask = (uintptr_t{1} << kSlotShift) - 1;

uint32_t slotOf(uintptr_t handle) { return static_cast<uint32_t>(handle >> kSlotShift); }
uintptr_t tagOf(uint32_t slot) { return uintptr_t{slot} << kSlotShift; }

void dropped(const std::string& what) { platform::outputDebugStringA("TAPI host: " + what + "; dropped\n"); }

// The callbacks make.operator()<I>() gives for slots 0 .. kMaxHarnesses-1.
template <typename Fn, typename Make>
constexpr std::array<Fn, ProviderHarness::kMaxHarnesses> perSlot(Make make) {
  return [&]<uint32_t... I>(std::integer_sequence<uint32_t, I...>) {
    return std::array<Fn, sizeof...(I)>{make.template operator()<I>()...};
  }(std::make_integer_sequence<uint32_t, ProviderHarness::kMaxHarnesses>{});
}

CallbackRecord eventRecord(CallbackRecord::Kind kind, HTAPILINE htLine, HTAPICALL htCall, DWORD msg, DWORD_PTR p1,
                           DWORD_PTR p2, DWORD_PTR p3) {
  CallbackRecord r;
  r.kind = kind;
  r.threadId = platform::currentThreadId();
  r.htLine = htLine;
  r.htCall = htCall;
  r.msg = msg;
  r.param1 = p1;
  r.param2 = p2;
  r.param3 = p3;
  return r;
}

}  // namespace

// Which harness holds which slot and plug-in, and the request ID counter.
// Its lock is held only briefly, never while a harness runs: a callback
// marks its slot busy while it is delivered, and a harness that ends waits
// until it is not.
class HarnessRegistry {
 public:
  static HarnessRegistry& get() {
    // Never destroyed: a provider's thread may still call back at exit.
    static auto* registry = new HarnessRegistry;
    return *registry;
  }

  // The lowest free slot, or kMaxHarnesses when none is.
  uint32_t take(ProviderHarness* h) {
    std::lock_guard lock(m_);
    for (uint32_t i = 0; i < slots_.size(); ++i) {
      if (!slots_[i].taken) {
        slots_[i] = Slot{};
        slots_[i].taken = true;
        slots_[i].harness = h;
        return i;
      }
    }
    return ProviderHarness::kMaxHarnesses;
  }

  // Callbacks for the slot are dropped from now on; returns once none is
  // being delivered. A retired slot stays taken, with its plug-in.
  void release(uint32_t slot, bool retire) {
    if (slot >= slots_.size()) return;
    std::unique_lock lock(m_);
    slots_[slot].harness = nullptr;
    idle_.wait(lock, [&] { return slots_[slot].deliveries == 0; });
    if (!retire) slots_[slot] = Slot{};
  }

  // Records the plug-in the slot runs; the reason when another slot runs it.
  std::string claimModule(uint32_t slot, platform::ModuleHandle module, const std::string& path) {
    if (slot >= slots_.size()) {
      return "no room for another provider harness in this process (at most " +
             std::to_string(ProviderHarness::kMaxHarnesses) + ")";
    }
    std::lock_guard lock(m_);
    for (uint32_t i = 0; i < slots_.size(); ++i) {
      if (i == slot || !module || slots_[i].module != module) continue;
      return "the provider " + slots_[i].path +
             (slots_[i].harness ? " already runs in another harness of this process"
                                : " is still initialised in a harness of this process that has ended") +
             " (two would share its globals)";
    }
    slots_[slot].module = module;
    slots_[slot].path = path;
    return {};
  }

  DRV_REQUESTID issue() {
    std::lock_guard lock(m_);
    if (nextRequestId_ == 0) ++nextRequestId_;  // wrapped: 0 is no request ID
    return nextRequestId_++;
  }

  // The harness of a slot, kept from ending while the delivery lives.
  class Delivery {
   public:
    Delivery(HarnessRegistry& r, uint32_t slot) : r_(r), slot_(slot) {
      std::lock_guard lock(r_.m_);
      if (slot_ < r_.slots_.size() && r_.slots_[slot_].harness) {
        h_ = r_.slots_[slot_].harness;
        ++r_.slots_[slot_].deliveries;
      }
    }
    ~Delivery() {
      if (!h_) return;
      {
        std::lock_guard lock(r_.m_);
        --r_.slots_[slot_].deliveries;
      }
      r_.idle_.notify_all();
    }
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;
    ProviderHarness* harness() const { return h_; }

   private:
    HarnessRegistry& r_;
    uint32_t slot_;
    ProviderHarness* h_ = nullptr;
  };

  // One completion callback per slot: a completion reaches the harness whose
  // provider it is, also with a request ID nobody issued (which its contract
  // checker reports).
  template <uint32_t Slot>
  static void completion(DRV_REQUESTID id, LONG result) {
    Delivery d(get(), Slot);
    if (d.harness()) {
      d.harness()->onCompletion(id, result);
    } else {
      CallbackRecord r;
      r.requestId = id;
      r.result = result;
      dropped(describe(r) + " came through the callback of a harness that has ended");
    }
  }
  static ASYNC_COMPLETION completionCallback(uint32_t slot) {
    static constexpr auto table = perSlot<ASYNC_COMPLETION>([]<uint32_t I>() { return &completion<I>; });
    return slot < table.size() ? table[slot] : nullptr;
  }

  // One line-create callback per slot: LINE_REMOVE names no provider, so
  // the callback itself must say whose it is.
  template <uint32_t Slot>
  static void lineCreate(HTAPILINE htLine, HTAPICALL htCall, DWORD msg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3) {
    Delivery d(get(), Slot);
    if (d.harness()) {
      d.harness()->onLineEvent(CallbackRecord::Kind::LineCreate, htLine, htCall, msg, p1, p2, p3);
    } else {
      dropped(describe(eventRecord(CallbackRecord::Kind::LineCreate, htLine, htCall, msg, p1, p2, p3)) +
              " came through the callback of a harness that has ended");
    }
  }
  static LINEEVENT lineCreateCallback(uint32_t slot) {
    static constexpr auto table = perSlot<LINEEVENT>([]<uint32_t I>() { return &lineCreate<I>; });
    return slot < table.size() ? table[slot] : nullptr;
  }

 private:
  struct Slot {
    bool taken = false;
    ProviderHarness* harness = nullptr;  // null once it ends
    platform::ModuleHandle module = nullptr;
    std::string path;
    int deliveries = 0;  // callbacks being delivered to it
  };

  std::mutex m_;
  std::condition_variable idle_;
  std::array<Slot, ProviderHarness::kMaxHarnesses> slots_;
  DRV_REQUESTID nextRequestId_ = 1;  // one counter for every harness
};

void ProviderHarness::abortOnViolation(const std::string& message) {
  std::fprintf(stderr, "TSPI contract broken: %s\n", message.c_str());
  std::fflush(stderr);
  std::abort();
}

ProviderHarness::ProviderHarness(ViolationHandler onViolation)
    : onViolation_(std::move(onViolation)), slot_(HarnessRegistry::get().take(this)) {}

ProviderHarness::~ProviderHarness() {
  bool active;
  {
    std::lock_guard lock(m_);
    active = checker_.providerActive();
  }
  if (active) {
    report({"the harness ends while the provider is still initialised (TSPI_providerShutdown missing)"});
  }
  // From here on nothing reaches this harness.
  HarnessRegistry::get().release(slot_, active);
  if (active) {
    // Its threads may still run: keep the code loaded.
    module_.keepLoaded();
  } else {
    module_.unload();
  }
}

bool ProviderHarness::load(const std::string& providerPath) {
  HarnessRegistry& registry = HarnessRegistry::get();
  registry.claimModule(slot_, nullptr, {});
  if (!module_.load(providerPath)) return false;
  std::string refused = registry.claimModule(slot_, module_.handle(), providerPath);
  if (refused.empty()) return true;
  module_.refuse(refused);
  return false;
}

HPROVIDER ProviderHarness::hProvider() const { return reinterpret_cast<HPROVIDER>(handleTag() | kProviderHandle); }

HPROVIDER ProviderHarness::providerHandle() { return reinterpret_cast<HPROVIDER>(kProviderHandle); }

LINEEVENT ProviderHarness::lineEventCallback() { return &ProviderHarness::lineEventTrampoline; }

uintptr_t ProviderHarness::handleTag() const { return tagOf(slot_); }

HTAPILINE ProviderHarness::htLineFor(uint32_t deviceId) const {
  return reinterpret_cast<HTAPILINE>(handleTag() | (kHtLineBase + uintptr_t{deviceId} * kHtLineStep));
}

std::optional<uint32_t> ProviderHarness::deviceOfHtLine(HTAPILINE htLine) const {
  const auto handle = reinterpret_cast<uintptr_t>(htLine);
  const uintptr_t value = handle & kValueMask;
  if (slotOf(handle) != slot_ || value < kHtLineBase || (value - kHtLineBase) % kHtLineStep != 0) {
    return std::nullopt;
  }
  return static_cast<uint32_t>((value - kHtLineBase) / kHtLineStep);
}

LONG ProviderHarness::enumDevices(DWORD permanentProviderId, DWORD* numLines, DWORD* numPhones) {
  return TSPI_CALL(*this, TSPI_providerEnumDevices, permanentProviderId, numLines, numPhones, hProvider(),
                   HarnessRegistry::lineCreateCallback(slot_), static_cast<PHONEEVENT>(nullptr));
}

LONG ProviderHarness::init(DWORD tspiVersion, DWORD permanentProviderId, DWORD lineDeviceIdBase, DWORD numLines,
                           DWORD* tspiOptions) {
  LONG r = TSPI_CALL(*this, TSPI_providerInit, tspiVersion, permanentProviderId, lineDeviceIdBase, DWORD{0},
                     DWORD_PTR{numLines}, DWORD_PTR{0}, HarnessRegistry::completionCallback(slot_), tspiOptions);
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

ProviderHarness::CallScope::CallScope(ProviderHarness& h, const char* name)
    : h_(h), threadId_(platform::currentThreadId()) {
  {
    std::lock_guard lock(h_.m_);
    h_.checker_.callEntered(threadId_, name);
    watchdog_ = h_.watchdog_;
  }
  if (watchdog_) watchToken_ = watchdog_->Enter(&h_.watchName_, name, threadId_);
}

ProviderHarness::CallScope::~CallScope() {
  if (watchdog_) watchdog_->Leave(watchToken_);
  std::lock_guard lock(h_.m_);
  h_.checker_.callLeft(threadId_);
}

void ProviderHarness::watchCalls(CallWatchdog* watchdog, std::string who) {
  std::lock_guard lock(m_);
  watchdog_ = watchdog;
  watchName_ = std::move(who);
}

DRV_REQUESTID ProviderHarness::issueRequest(const char* name) {
  const DRV_REQUESTID id = HarnessRegistry::get().issue();
  std::lock_guard lock(m_);
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

void ProviderHarness::lineEventTrampoline(HTAPILINE htLine, HTAPICALL htCall, DWORD msg, DWORD_PTR p1,
                                          DWORD_PTR p2, DWORD_PTR p3) {
  HarnessRegistry::Delivery d(HarnessRegistry::get(), slotOf(reinterpret_cast<uintptr_t>(htLine)));
  if (d.harness()) {
    d.harness()->onLineEvent(CallbackRecord::Kind::LineEvent, htLine, htCall, msg, p1, p2, p3);
  } else {
    dropped(describe(eventRecord(CallbackRecord::Kind::LineEvent, htLine, htCall, msg, p1, p2, p3)) +
            " names an htLine no running harness gave out");
  }
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
  CallbackRecord r = eventRecord(kind, htLine, htCall, msg, p1, p2, p3);
  ContractChecker::Violations v;
  {
    std::lock_guard lock(m_);
    v = checker_.event(r.threadId, describe(r));
    if (msg == LINE_NEWCALL) {
      if (p2 == 0) {
        v.push_back("LINE_NEWCALL without the address of the provider's htCall field in dwParam2");
      } else {
        r.newHtCall = reinterpret_cast<HTAPICALL>(handleTag() | nextHtCall_);
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
  r.sequence = ++recordCount_;
  if (listener_) listener_(r);
  if (keepRecords_) {
    records_.push_back(std::move(r));
    changed_.notify_all();
  }
}

void ProviderHarness::keepRecords(bool keep) {
  std::lock_guard lock(m_);
  keepRecords_ = keep;
  if (!keep) records_ = {};
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
