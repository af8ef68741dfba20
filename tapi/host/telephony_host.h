#pragma once
// The telephony host as programs use it: loads one provider plug-in (given
// by file, or the first of TAPI's provider list), starts and stops it, gives
// it line device IDs (also for lines it announces later with LINE_CREATE),
// opens and closes lines, and hands every completion and event to the
// program in order of arrival.
//
// It is built on ProviderHarness and so checks the TSPI contract as it goes;
// a breach is recorded (see violations()) and never ends the program, since
// a fault of the provider must not take its host down.
//
// Threads: the provider calls back on threads of its own; every method may
// be called from any thread. Work the provider must not see from inside its
// own callbacks (creating an announced line device) is done on the thread
// of the next caller that reads or waits for events.
//
// Memory: the host keeps the events of its log until its owner frees those
// every reader has read (DiscardEventsBefore); the harness keeps no records
// of its own (the host takes each through the listener).
//
// Several hosts may run in one process, each with its own provider plug-in
// file (see ProviderHarness for how the provider's callbacks find their
// host); a plug-in another host runs is refused at Load.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "tapi/host/event_log.h"
#include "tapi/host/host_event.h"
#include "tapi/host/provider_harness.h"

namespace tapihost {

class TelephonyHost {
 public:
  // The TSPI version the host speaks at TSPI_providerInit, and the range it
  // negotiates per line device.
  static constexpr DWORD kTspiVersion = 0x20000;
  static constexpr DWORD kLowestLineVersion = 0x10003;
  static constexpr DWORD kHighestLineVersion = 0x20000;
  static constexpr uint32_t kDefaultWaitMs = 10000;
  // TSPI_lineGetDevCaps is asked at most this often for a structure that fits.
  static constexpr int kDevCapsAttempts = 3;
  // A provider that asks for a bigger LINEDEVCAPS than this gets what fits.
  static constexpr DWORD kMaxDevCapsSize = 64 * 1024;

  explicit TelephonyHost(const platform::Clock& clock = platform::systemClock());
  // Stops a started provider first.
  ~TelephonyHost();
  TelephonyHost(const TelephonyHost&) = delete;
  TelephonyHost& operator=(const TelephonyHost&) = delete;

  // Loads the plug-in (a path, or a module name resolved like any other)
  // to run under that permanent provider ID. False, with *error saying why
  // (error may be null), when it cannot be loaded or a provider runs.
  bool Load(const std::string& providerFile, uint32_t permanentProviderId, std::string* error);
  // Loads the first entry of TAPI's provider list in the registry store.
  bool LoadFirstFromRegistry(std::string* error);
  uint32_t PermanentProviderId() const;

  // TSPI_providerEnumDevices and TSPI_providerInit (line device IDs from 0):
  // 0 or the provider's error; LINEERR_NODRIVER when nothing is loaded,
  // LINEERR_OPERATIONFAILED when already started.
  LONG Start();
  // Closes the open lines, then TSPI_providerShutdown; its result.
  // LINEERR_OPERATIONFAILED when not started.
  LONG Stop();
  bool Started() const;

  // Line devices 0 .. LineCount()-1; 0 while not started.
  uint32_t LineCount() const;

  // TSPI_lineNegotiateTSPIVersion between kLowestLineVersion and
  // kHighestLineVersion. LINEERR_BADDEVICEID for an unknown device.
  LONG NegotiateVersion(uint32_t deviceId, DWORD* version);
  // TSPI_lineGetDevCaps with the negotiated version into buffer (LINEDEVCAPS
  // followed by its variable part). Starts with buffer's size (at least the
  // fixed part) and asks again with dwNeededSize while that does not fit.
  LONG GetDevCaps(uint32_t deviceId, std::vector<uint8_t>& buffer);
  // The line name from LINEDEVCAPS; empty when there is none.
  std::u16string LineName(uint32_t deviceId);

  // TSPI_lineOpen with the negotiated version and the host's htLine for the
  // device; LINEERR_RESOURCEUNAVAIL when the host has it open already.
  LONG OpenLine(uint32_t deviceId);
  // TSPI_lineClose; LINEERR_INVALLINEHANDLE when the line is not open.
  LONG CloseLine(uint32_t deviceId);
  // The provider's hdLine of an open line.
  std::optional<HDRVLINE> LineHandle(uint32_t deviceId) const;
  // The device the host opened with that htLine.
  std::optional<uint32_t> DeviceOf(HTAPILINE htLine) const;
  // The htLine the host gives the provider for a device (it names the host).
  HTAPILINE HtLineOf(uint32_t deviceId) const;

  // Events. A reader keeps a cursor, starting at 0 (see EventLog); a
  // predicate runs on the calling thread without the host's locks.
  // Creates the line devices the provider announced with LINE_CREATE, on the
  // calling thread; the reading and waiting methods below do this first.
  void ProcessEvents();
  std::vector<HostEvent> EventsSince(size_t& cursor);
  std::optional<HostEvent> WaitEvent(size_t& cursor, const EventLog::Predicate& pred,
                                     uint32_t timeoutMs = kDefaultWaitMs);
  std::optional<LONG> WaitCompletion(DRV_REQUESTID requestId, uint32_t timeoutMs = kDefaultWaitMs);
  // Frees the events before cursor, once every reader of the log (HostCalls
  // included: see HostCalls::Refresh) has read them. A reader left behind
  // goes on from the first kept event.
  void DiscardEventsBefore(size_t cursor);
  // How many events the log holds.
  size_t KeptEventCount() const;
  // notify is called after every event is appended to the log, on the
  // provider's thread, with the host's locks (and the harness's) held: it
  // must only signal (wake a poll loop, set an event) and never call into
  // the host. An empty function stops the calls.
  void SetEventNotifier(std::function<void()> notify);

  // Any TSPI function of the provider, as ProviderHarness::call and
  // callAsync; TSPI_CALL(host, ...) and TSPI_CALL_ASYNC(host, ...) work.
  template <typename Fn, typename... Args>
  LONG call(const char* name, Args&&... args) {
    return harness_->call<Fn>(name, std::forward<Args>(args)...);
  }
  template <typename Fn, typename... Args>
  AsyncCall callAsync(const char* name, Args&&... args) {
    return harness_->callAsync<Fn>(name, std::forward<Args>(args)...);
  }
  ProviderHarness& harness() { return *harness_; }

  // Every breach of the TSPI contract and every other fault of the
  // provider seen so far, in order.
  std::vector<std::string> violations() const;

 private:
  struct PendingCreate {
    DWORD_PTR provider = 0;  // dwParam1: must be the host's provider handle
    DWORD_PTR tempId = 0;    // dwParam2
    uint64_t sequence = 0;   // of the LINE_CREATE event in the log
  };
  struct OpenState {
    bool opened = false;  // false while TSPI_lineOpen runs
    HDRVLINE hdLine = nullptr;
  };

  void onRecord(const CallbackRecord& record);
  void addViolation(const std::string& message);
  std::optional<uint32_t> deviceOfLocked(HTAPILINE htLine) const;
  bool validDevice(uint32_t deviceId) const;

  EventLog log_;

  mutable std::mutex m_;
  bool loaded_ = false;
  bool started_ = false;
  uint32_t providerId_ = 0;
  uint32_t lineCount_ = 0;
  std::map<uint32_t, OpenState> open_;
  std::set<uint32_t> everOpened_;  // devices the host gave an htLine to since Start
  std::deque<PendingCreate> pendingCreates_;
  std::vector<std::string> violations_;
  std::function<void()> notify_;

  // Held while line devices are created and while the provider stops, so
  // device IDs are handed out one at a time and never during shutdown.
  std::mutex lifecycle_;

  // Last, so it goes first: its callbacks reach the members above.
  std::unique_ptr<ProviderHarness> harness_;
};

}  // namespace tapihost
