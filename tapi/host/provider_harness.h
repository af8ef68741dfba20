#pragma once
// Plays the telephony service towards one provider plug-in: loads it,
// resolves its TSPI functions by name, drives TSPI_providerEnumDevices,
// TSPI_providerInit, TSPI_providerShutdown and any other TSPI call, and
// records every completion, line event and LINE_CREATE in order, with the
// thread that made it (kept for records(), or only handed to the owner's
// listener: see keepRecords). It writes htCall through dwParam2 of LINE_NEWCALL as
// TAPI does, and checks the TSPI contract as it goes (see ContractChecker):
// every breach goes to the violation handler, which by default prints it and
// aborts the process, so a broken contract can never pass unnoticed.
//
// Several harnesses may be active in one process, each with its own plug-in
// (one plug-in file runs in one harness at a time: two would share its
// globals). TAPI's callbacks carry no context, so a process-wide registry
// routes them: each harness holds a slot, and
// - request IDs come from one process-wide counter; each slot has its own
//   completion callback (given at TSPI_providerInit), so a completion goes
//   to the harness of the provider that sent it, and one with an ID that
//   harness never issued is its contract checker's to report;
// - the htLine values a harness makes (htLineFor) carry its slot in their
//   upper 24 bits, and a line event goes to the slot its htLine names; so do
//   the htCall values it writes for LINE_NEWCALL. Slot 0 has tag 0, so a lone
//   harness sees any htLine its caller chose, as before;
// - each slot has its own line-create callback, which routes LINE_CREATE and
//   LINE_REMOVE (that one carries no provider handle); every harness hands
//   out a distinct HPROVIDER, which the host checks against dwParam1.
// A callback nobody owns (an htLine of no running harness, a callback of a
// harness that has ended) is written to the debug output and dropped. A
// harness waits, when it ends, for callbacks still being delivered to it.
// A harness that ends with its provider still initialised leaves its slot
// (and its plug-in file) taken for the rest of the process.
//
// Given a CallWatchdog (watchCalls), every TSPI call is timed by it: one that
// does not return within its limit is logged with the stack of the thread
// that made it.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/thread.h"
#include "tapi/host/call_watchdog.h"
#include "tapi/host/callback_record.h"
#include "tapi/host/contract_checker.h"
#include "tapi/host/provider_module.h"
#include "tapi/tapi.h"
#include "tapi/tspi.h"

namespace tapihost {

struct AsyncCall {
  DRV_REQUESTID requestId = 0;
  LONG result = 0;  // what the function returned: the request ID, or an error
  bool accepted() const { return result == static_cast<LONG>(requestId); }
  // A request the host refuses itself, before the provider sees it.
  static AsyncCall Refused(LONG error) {
    AsyncCall c;
    c.result = error;
    return c;
  }
};

class ProviderHarness {
 public:
  using ViolationHandler = std::function<void(const std::string&)>;
  static void abortOnViolation(const std::string& message);

  explicit ProviderHarness(ViolationHandler onViolation = abortOnViolation);
  // Unloads the plug-in, unless the provider is still initialised (that is
  // reported as a violation, and the plug-in stays loaded, since its threads
  // may still run).
  ~ProviderHarness();
  ProviderHarness(const ProviderHarness&) = delete;
  ProviderHarness& operator=(const ProviderHarness&) = delete;

  // Refused (false, loadError says why) when another harness of this process
  // runs the same plug-in file, or no slot is left (kMaxHarnesses).
  bool load(const std::string& providerPath);
  const std::string& loadError() const { return module_.error(); }

  static constexpr uint32_t kMaxHarnesses = 64;

  // The handle this harness gives the provider in TSPI_providerEnumDevices.
  HPROVIDER hProvider() const;
  // The handle of the harness in slot 0 (the only one when one runs).
  static HPROVIDER providerHandle();
  // The event callback to pass to TSPI_lineOpen (the same for every harness:
  // events are routed by their htLine).
  static LINEEVENT lineEventCallback();
  // The htLine this harness gives for a line device, and the device of one
  // of its htLine values (nullopt for any other value).
  HTAPILINE htLineFor(uint32_t deviceId) const;
  std::optional<uint32_t> deviceOfHtLine(HTAPILINE htLine) const;
  // The bits (above bit 40) that mark this harness's htLine and htCall
  // values: 0 in slot 0. A host that makes htCall values of its own adds it.
  uintptr_t handleTag() const;

  LONG enumDevices(DWORD permanentProviderId, DWORD* numLines, DWORD* numPhones);
  LONG init(DWORD tspiVersion, DWORD permanentProviderId, DWORD lineDeviceIdBase, DWORD numLines,
            DWORD* tspiOptions);
  LONG shutdown(DWORD tspiVersion, DWORD permanentProviderId);

  // Calls a synchronous TSPI function; Fn is its pointer type
  // (use TSPI_CALL below). A missing export is a violation and returns
  // LINEERR_OPERATIONUNAVAIL.
  template <typename Fn, typename... Args>
  LONG call(const char* name, Args&&... args) {
    Fn fn = module_.function<Fn>(name);
    if (!fn) {
      report({std::string("the provider does not export ") + name});
      return LINEERR_OPERATIONUNAVAIL;
    }
    CallScope scope(*this, name);
    return fn(std::forward<Args>(args)...);
  }

  // Calls an asynchronous TSPI function with a fresh request ID as its first
  // argument (use TSPI_CALL_ASYNC below).
  template <typename Fn, typename... Args>
  AsyncCall callAsync(const char* name, Args&&... args) {
    AsyncCall c;
    c.requestId = issueRequest(name);
    c.result = call<Fn>(name, c.requestId, std::forward<Args>(args)...);
    returnRequest(c.requestId, c.result);
    return c;
  }

  // Whether records() keeps every record (the default). An owner that takes
  // each record through its listener switches keeping off, so a long-running
  // harness does not grow with every callback; records() is empty then, and
  // waitFor and waitForCompletion find nothing.
  void keepRecords(bool keep);

  // Everything recorded so far, in order of arrival.
  std::vector<CallbackRecord> records() const;
  // Waits until pred holds for the records (checked at every arrival); real
  // time, for providers with their own threads.
  bool waitFor(const std::function<bool(const std::vector<CallbackRecord>&)>& pred, uint32_t timeoutMs = 10000);
  // The result the request was completed with, once it is.
  std::optional<LONG> waitForCompletion(DRV_REQUESTID requestId, uint32_t timeoutMs = 10000);

  std::vector<std::string> violations() const;

  // Every TSPI call from now on is timed by watchdog (null: none), which
  // names the provider as who in its log. The watchdog must outlive the
  // harness's calls.
  void watchCalls(CallWatchdog* watchdog, std::string who);

  // Called with every record as it is stored, in order of arrival, on the
  // thread of the provider's callback and with the harness's lock held (so
  // it must not call back into the harness).
  using RecordListener = std::function<void(const CallbackRecord&)>;
  void setRecordListener(RecordListener listener);

 private:
  class CallScope {
   public:
    CallScope(ProviderHarness& h, const char* name);
    ~CallScope();

   private:
    ProviderHarness& h_;
    uint32_t threadId_;
    CallWatchdog* watchdog_ = nullptr;
    uint64_t watchToken_ = 0;
  };

  friend class HarnessRegistry;
  static void lineEventTrampoline(HTAPILINE htLine, HTAPICALL htCall, DWORD msg, DWORD_PTR p1, DWORD_PTR p2,
                                  DWORD_PTR p3);
  void onCompletion(DRV_REQUESTID id, LONG result);
  void onLineEvent(CallbackRecord::Kind kind, HTAPILINE htLine, HTAPICALL htCall, DWORD msg, DWORD_PTR p1,
                   DWORD_PTR p2, DWORD_PTR p3);

  DRV_REQUESTID issueRequest(const char* name);
  void returnRequest(DRV_REQUESTID id, LONG result);
  void record(CallbackRecord r);
  void report(const ContractChecker::Violations& v);

  ViolationHandler onViolation_;
  ProviderModule module_;
  uint32_t slot_;  // kMaxHarnesses when none was free

  mutable std::mutex m_;
  std::condition_variable changed_;
  ContractChecker checker_;
  std::vector<CallbackRecord> records_;
  bool keepRecords_ = true;
  uint64_t recordCount_ = 0;  // every record so far, kept or not
  std::vector<std::string> violations_;
  RecordListener listener_;
  uintptr_t nextHtCall_ = 0x10000;
  CallWatchdog* watchdog_ = nullptr;
  std::string watchName_;
};

}  // namespace tapihost

// TSPI_CALL(harness, TSPI_lineClose, hdLine) calls the provider's
// TSPI_lineClose with the argument types of its declaration;
// TSPI_CALL_ASYNC(harness, TSPI_lineDrop, hdCall, nullptr, 0) does the same
// for an asynchronous function, inserting the request ID.
#define TSPI_CALL(harness, fn, ...) (harness).call<decltype(&::fn)>(#fn __VA_OPT__(, ) __VA_ARGS__)
#define TSPI_CALL_ASYNC(harness, fn, ...) (harness).callAsync<decltype(&::fn)>(#fn __VA_OPT__(, ) __VA_ARGS__)
