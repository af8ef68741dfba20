// The fault soak: complete calls through the whole chain while the simulated
// exchange injects faults, then checks that nothing was lost on the way.
//
//   soak [--calls N] [--fault-rate R] [--seed S] [--links lan,serial]
//        [--clients K] [--fault-kinds LIST] [--kill-rate R]
//
// For each link asked for (LAN over loopback TCP, serial over a
// pseudo-terminal) it builds the system under a temporary root of its own:
// tksim with the vnl engine and random faults (--fault-rate, --fault-seed
// derived from --seed), VNL2C64 where VNL2D32 looks for it, and KVARSP64 in
// a telephony host of this process with one line per client. K client
// threads, one per line device, run complete calls (lineMakeCall ->
// CONNECTED -> lineDrop -> IDLE -> lineCloseCall) until the link's share of
// the N calls is done. A call that fails (refused, timed out, line lost)
// counts as failed, not as a violation; a line that is lost (LINE_CLOSE) is
// closed and opened again. Now and then (--kill-rate, by default R/4 after
// each call) the soak kills VNL2C64 itself (SIGKILL): the application must
// hear of the lost link (LINE_CLOSE) within 15 s and the next open must
// start a new control process. A call whose drops never bring it to IDLE
// is closed all the same and counted ("given up").
//
// Checks, each a violation (exit 1): every asynchronous request completed
// exactly once (and no completion for a request never made); no request
// without its completion within 60 s; every kill of VNL2C64 heard of; the
// telephony host's contract checker clean; no call left in the host once
// every line is closed; every lost line opened again (no line failing to
// open for 60 s); at least as many losses reported to the application
// (LINE_CLOSE, failed opens) as the exchange saw connections end; resident
// memory and open descriptors at the end within a small bound of
// their value after the first 10% of the calls; no tksim and no VNL2C64 left
// running at the end.
//
// Progress goes to standard error every 5 s, the table to standard output.
// Exit codes: 0 all checks passed, 1 a violation (or the system did not come
// up), 2 usage.
//
// Threads: the client threads drive their lines; the main thread counts the
// completions from the host's event log, frees the log behind every reader,
// kills VNL2C64 now and then, samples memory and prints progress.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_lines.h"
#include "bench/soak_exchange.h"
#include "exchange/fault_injector.h"
#include "platform/process.h"
#include "platform/reg_text.h"
#include "platform/registry.h"
#include "platform/stop_request.h"
#include "platform/window.h"
#include "tapi/host/host_calls.h"
#include "tapi/host/telephony_host.h"
#include "tests/link/control/loopback_link.h"
#include "tests/support/files.h"
#include "tests/support/test_root.h"

namespace {

using Clock = std::chrono::steady_clock;
using tapihost::HostEvent;

constexpr int kExitOk = 0;
constexpr int kExitViolation = 1;
constexpr int kExitUsage = 2;

constexpr uint32_t kProviderId = 4;
constexpr char16_t kDestination[] = u"0301234567";
constexpr char kControlClass[] = "VNL2ControlProg";
constexpr unsigned kSerialCom = 1;

// A request waits 5 s for its confirmation, one at a time; a completion
// that has not come after this long is lost.
constexpr uint32_t kCompletionWaitMs = 60000;
// A call state that has not come after this long was lost with its frame
// (on an idle system it comes within milliseconds).
constexpr uint32_t kStateWaitMs = 3000;
constexpr int kDropAttempts = 3;
// A call refused at once on a lost line: its LINE_CLOSE comes within this.
constexpr uint32_t kCloseWaitMs = 2000;
constexpr auto kRecoveryLimit = std::chrono::seconds(60);
constexpr uint32_t kReopenPauseMs = 200;
constexpr auto kProgressEvery = std::chrono::seconds(5);
constexpr uint32_t kTallyPauseMs = 100;
constexpr uint32_t kLateDuplicateMs = 500;
// A killed VNL2C64 is heard of (LINE_CLOSE on the open lines) within this.
constexpr auto kKillReportLimit = std::chrono::seconds(15);
// How far memory and descriptors may grow after the warm-up.
constexpr uint64_t kRssSlackKiB = 8 * 1024;
constexpr double kRssSlackShare = 0.10;
constexpr long kFdSlack = 4;
// Under a sanitizer freed memory is held back (ASan's quarantine) and
// shadow memory grows with use, so resident memory says nothing of leaks
// there (the sanitizer itself reports those).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMemoryChecked = false;
#else
constexpr bool kMemoryChecked = true;
#endif

struct Options {
  uint64_t calls = 10000;
  double faultRate = 0.01;
  uint64_t seed = 1;
  std::vector<std::string> links{"lan", "serial"};
  uint32_t clients = 4;
  std::string faultKinds = "all";
  std::optional<double> killRate;  // default: faultRate / 4
};

// Resident memory of this process in KiB, and its open descriptors.
uint64_t ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  uint64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) / 1024;
}

uint64_t PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string word;
  while (status >> word) {
    if (word == "VmHWM:") {
      uint64_t kib = 0;
      status >> kib;
      return kib;
    }
  }
  return 0;
}

long OpenDescriptors() {
  std::error_code ec;
  long count = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
    ++count;
  return count;
}

// True for a process that runs (not one that ended and waits to be reaped).
bool Alive(uint32_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return false;
  const size_t close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

uint32_t ControlProcessId() {
  platform::WindowHandle control = platform::findWindow(kControlClass);
  return control ? platform::windowProcessId(control) : 0;
}

// Completions per request ID (the host hands out IDs from 1 upwards).
class CompletionTally {
 public:
  void Issued(DRV_REQUESTID id) {
    std::lock_guard lock(mutex_);
    Grow(id);
    issued_[id] = 1;
  }
  void Completed(DRV_REQUESTID id) {
    std::lock_guard lock(mutex_);
    Grow(id);
    if (completed_[id] < 255) ++completed_[id];
  }
  // Requests issued, completed exactly once, completed more than once,
  // never completed, completions of requests never issued.
  struct Sums {
    uint64_t issued = 0, once = 0, twice = 0, never = 0, unknown = 0;
  };
  Sums Count() const {
    std::lock_guard lock(mutex_);
    Sums sums;
    for (size_t id = 0; id < issued_.size(); ++id) {
      if (issued_[id]) {
        ++sums.issued;
        if (completed_[id] == 1) ++sums.once;
        if (completed_[id] > 1) ++sums.twice;
        if (completed_[id] == 0) ++sums.never;
      } else if (completed_[id] != 0) {
        ++sums.unknown;
      }
    }
    return sums;
  }

 private:
  void Grow(DRV_REQUESTID id) {
    if (id < issued_.size()) return;
    // In steps, so that the tally's own growth does not show as a leak.
    const size_t size = (static_cast<size_t>(id) / 65536 + 1) * 65536;
    issued_.resize(size, 0);
    completed_.resize(size, 0);
  }
  mutable std::mutex mutex_;
  std::vector<uint8_t> issued_, completed_;
};

// What every client and the main thread share on one link.
struct Shared {
  Shared(tapihost::TelephonyHost& h, tapihost::HostCalls& c, uint64_t calls) : host(h), calls(c), total(calls) {}
  tapihost::TelephonyHost& host;
  tapihost::HostCalls& calls;
  uint64_t total = 0;
  std::atomic<uint64_t> next{0};
  std::atomic<uint64_t> done{0};
  std::atomic<bool> abort{false};
  CompletionTally tally;
  std::mutex violationsMutex;
  std::vector<std::string> violations;

  void Violation(const std::string& what) {
    std::lock_guard lock(violationsMutex);
    if (violations.size() < 50) violations.push_back(what);
  }
};

// One application on one line device, a tkphone running calls.
class Client {
 public:
  Client(Shared& shared, uint32_t device) : shared_(shared), device_(device) {}

  void Run() {
    shared_.host.EventsSince(cursor_);
    cursorSeen_ = cursor_;
    while (!shared_.abort) {
      if (shared_.next++ >= shared_.total) break;
      if (!open_ && !Open()) {
        ++failed_;
      } else {
        Call();
      }
      ++shared_.done;
    }
    // A line lost at the end is opened once more: every loss must recover.
    while (!open_ && !shared_.abort && !Open()) {
    }
    cursorSeen_ = SIZE_MAX;
  }

  size_t Cursor() const { return cursorSeen_; }
  bool IsOpen() const { return open_; }
  uint64_t ok() const { return ok_; }
  uint64_t failed() const { return failed_; }
  uint64_t losses() const { return losses_; }
  uint64_t recoveries() const { return recoveries_; }
  uint64_t openFailures() const { return openFailures_; }
  uint64_t givenUp() const { return givenUp_; }

 private:
  bool Open() {
    if (shared_.host.OpenLine(device_) == 0) {
      open_ = true;
      if (lost_) ++recoveries_;
      lost_ = false;
      failingSince_.reset();
      return true;
    }
    ++openFailures_;
    if (!failingSince_) failingSince_ = Clock::now();
    if (Clock::now() - *failingSince_ > kRecoveryLimit) {
      shared_.Violation("line " + std::to_string(device_) + " could not be opened for 60 s");
      shared_.abort = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kReopenPauseMs));
    return false;
  }

  bool LineDown(const HostEvent& e) const {
    return e.kind == tapihost::CallbackRecord::Kind::LineEvent && e.deviceId == device_ && e.msg == LINE_CLOSE;
  }

  // The next event of the call in one of the states, or the line's loss.
  std::optional<HostEvent> WaitState(HTAPICALL call, DWORD states) {
    auto event = shared_.host.WaitEvent(
        cursor_,
        [&](const HostEvent& e) {
          return LineDown(e) || (e.msg == LINE_CALLSTATE && e.htCall == call && (e.param1 & states) != 0);
        },
        kStateWaitMs);
    cursorSeen_ = cursor_;
    if (event && LineDown(*event)) lineClosed_ = true;
    return event;
  }

  // Waits for a request's completion; nothing (a violation) when it is lost.
  std::optional<LONG> Complete(const tapihost::AsyncCall& request, const char* what) {
    shared_.tally.Issued(request.requestId);
    auto result = shared_.host.WaitCompletion(request.requestId, kCompletionWaitMs);
    if (!result) {
      shared_.Violation(std::string(what) + " on line " + std::to_string(device_) + " (request " +
                        std::to_string(request.requestId) + "): no completion within 60 s");
      shared_.abort = true;
    }
    return result;
  }

  void Call() {
    const auto started = Clock::now();
    struct Timing {
      const Clock::time_point& started;
      uint32_t device;
      ~Timing() {
        if (!std::getenv("SOAK_TRACE")) return;
        std::fprintf(stderr, "line %u call %.0f ms\n", device,
                     std::chrono::duration<double, std::milli>(Clock::now() - started).count());
      }
    } timing{started, device_};
    HTAPICALL call = nullptr;
    const tapihost::AsyncCall make = shared_.calls.MakeCall(device_, kDestination, u"", &call);
    bool connected = false, idle = false;
    if (!make.accepted()) {
      // Refused at once: a line out of service; its LINE_CLOSE is on the way.
      ++failed_;
      auto closed = shared_.host.WaitEvent(cursor_, [&](const HostEvent& e) { return LineDown(e); }, kCloseWaitMs);
      cursorSeen_ = cursor_;
      if (closed) lineClosed_ = true;
      CheckLine();
      return;
    }
    std::optional<LONG> made = Complete(make, "lineMakeCall");
    if (!made || *made != 0) {
      // A failed make call leaves no call behind.
      ++failed_;
      CheckLine();
      return;
    }
    if (auto e = WaitState(call, LINECALLSTATE_CONNECTED | LINECALLSTATE_IDLE); e && !lineClosed_) {
      connected = e->param1 == LINECALLSTATE_CONNECTED;
      idle = e->param1 == LINECALLSTATE_IDLE;
    }
    for (int attempt = 0; attempt < kDropAttempts && !idle && !lineClosed_ && !shared_.abort; ++attempt) {
      const tapihost::AsyncCall drop = shared_.calls.Drop(call);
      if (!drop.accepted()) continue;
      const std::optional<LONG> dropped = Complete(drop, "lineDrop");
      if (!dropped) break;
      if (std::getenv("SOAK_TRACE"))
        std::fprintf(stderr, "line %u drop %d: %ld\n", device_, attempt, static_cast<long>(*dropped));
      // A refused drop leaves the call as it was: drop again.
      if (*dropped != 0) continue;
      if (auto e = WaitState(call, LINECALLSTATE_IDLE); e && !lineClosed_) idle = true;
    }
    // The exchange's end of the call lost with a frame: the application
    // gives the call up (lineCloseCall).
    if (!idle && !lineClosed_ && !shared_.abort) ++givenUp_;
    shared_.calls.CloseCall(call);
    if (connected && idle) {
      ++ok_;
    } else {
      ++failed_;
    }
    CheckLine();
  }

  // After a failure: a line the provider closed is closed here too.
  void CheckLine() {
    if (!lineClosed_) {
      // Events of the line up to now: was it lost meanwhile?
      for (const HostEvent& e : shared_.host.EventsSince(cursor_))
        if (LineDown(e)) lineClosed_ = true;
      cursorSeen_ = cursor_;
    }
    if (!lineClosed_) return;
    lineClosed_ = false;
    shared_.host.CloseLine(device_);
    shared_.calls.ForgetLine(device_);
    open_ = false;
    ++losses_;
    lost_ = true;
  }

  Shared& shared_;
  const uint32_t device_;
  size_t cursor_ = 0;
  std::atomic<size_t> cursorSeen_{0};
  std::atomic<bool> open_{false};
  bool lineClosed_ = false;
  bool lost_ = false;  // lost (LINE_CLOSE) and not opened again yet
  std::optional<Clock::time_point> failingSince_;
  uint64_t ok_ = 0, failed_ = 0, losses_ = 0, recoveries_ = 0, openFailures_ = 0, givenUp_ = 0;
};

// The figures of one link's run.
struct LinkResult {
  std::string link;
  bool ran = false;
  uint64_t calls = 0, ok = 0, failed = 0;
  CompletionTally::Sums requests;
  std::vector<uint64_t> faults = std::vector<uint64_t>(6, 0);
  uint64_t kills = 0;
  uint64_t killsUnreported = 0;  // kills no line heard of
  uint64_t linksLost = 0;     // connections of the exchange that ended
  uint64_t linesLost = 0;     // LINE_CLOSE seen by the clients
  uint64_t givenUp = 0;       // calls not idle after their drops, closed
  uint64_t recoveries = 0;
  uint64_t openFailures = 0;
  uint64_t rssWarm = 0, rssEnd = 0, rssPeak = 0;
  long fdsWarm = 0, fdsEnd = 0;
  double seconds = 0;
  std::vector<std::string> violations;
};

constexpr const char* kFaultNames[] = {"corrupt", "drop", "silence", "rnr", "disconnect", "refuse"};

class LinkRun {
 public:
  LinkRun(const Options& options, std::string link, uint64_t calls) : options_(options) {
    result_.link = std::move(link);
    result_.calls = calls;
  }

  LinkResult Run() {
    root_ = tktest::makeTempDir("soak-");
    setenv("TK_ROOT", root_.c_str(), 1);
    std::string error;
    if (!Setup(&error)) {
      result_.violations.push_back(result_.link + ": the system did not come up: " + error);
    } else {
      result_.ran = true;
      Drive();
    }
    TearDown();
    return result_;
  }

 private:
  bool Setup(std::string* error) {
    tktest::InstallLinkControl(TK_VNL2C64_PATH);
    const std::string exchangeFile = root_ + "/exchange.conf";
    tktest::writeFile(exchangeFile, benchlines::ExchangeConfiguration(options_.clients));
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.6f", options_.faultRate);
    const bool lan = result_.link == "lan";
    const uint64_t seed = options_.seed * 2 + (lan ? 0 : 1);
    const std::vector<std::string> tksimOptions{"--engine",     "vnl",         "--exchange-config",
                                                exchangeFile,   "--fault-rate", rate,
                                                "--fault-seed", std::to_string(seed), "--fault-kinds",
                                                options_.faultKinds};
    if (!exchange_.Start(lan ? soak::SoakExchange::Link::Lan : soak::SoakExchange::Link::Serial, tksimOptions,
                         error))
      return false;
    if (exchange_.Command("party * answer 0").rfind("ok", 0) != 0) return *error = "tksim refused 'party'", false;
    const bool linked = lan ? tktest::WriteLoopbackLinkConfiguration(exchange_.Port())
                            : tktest::WriteSerialLinkConfiguration(kSerialCom, exchange_.SerialPath());
    if (!linked) return *error = "cannot write the link configuration", false;
    if (platform::regImport(benchlines::ProviderConfiguration(options_.clients, kProviderId), "provider configuration") != 0)
      return *error = "cannot write the provider configuration", false;
    host_ = std::make_unique<tapihost::TelephonyHost>();
    if (!host_->Load(TK_KVARSP_PATH, kProviderId, error)) return false;
    if (host_->Start() != 0) return *error = "the provider did not start", false;
    if (host_->LineCount() != options_.clients) return *error = "the provider offers too few lines", false;
    calls_ = std::make_unique<tapihost::HostCalls>(*host_);
    return true;
  }

  void Drive() {
    Shared shared(*host_, *calls_, result_.calls);
    std::vector<std::unique_ptr<Client>> clients;
    for (uint32_t d = 0; d < options_.clients; ++d) clients.push_back(std::make_unique<Client>(shared, d));
    std::mt19937_64 random(options_.seed * 7919 + result_.link.size());
    const double killChance = options_.killRate.value_or(options_.faultRate / 4);
    size_t cursor = 0;
    std::optional<Clock::time_point> killedAt;  // a kill no line has heard of yet
    const auto begin = Clock::now();
    auto lastProgress = begin;
    uint64_t accounted = 0;
    bool warm = false;
    std::vector<std::thread> threads;
    for (auto& client : clients) threads.emplace_back([&client] { client->Run(); });

    auto take = [&] {
      for (const HostEvent& e : host_->EventsSince(cursor)) {
        if (e.kind == tapihost::CallbackRecord::Kind::Completion) shared.tally.Completed(e.requestId);
        if (e.kind == tapihost::CallbackRecord::Kind::LineEvent && e.msg == LINE_CLOSE) killedAt.reset();
      }
      if (killedAt && Clock::now() - *killedAt > kKillReportLimit) {
        shared.Violation("VNL2C64 was killed and no line heard of the lost link within 15 s");
        ++result_.killsUnreported;
        killedAt.reset();
      }
      size_t lowest = std::min(cursor, calls_->Refresh());
      for (auto& client : clients) lowest = std::min(lowest, client->Cursor());
      host_->DiscardEventsBefore(lowest);
    };

    for (;;) {
      if (int signal = platform::stopRequest(); signal != 0 && !shared.abort) {
        // Interrupted: the clients end their calls, then everything is
        // cleaned up as after a run.
        shared.Violation("stopped by signal " + std::to_string(signal) + " before the end");
        shared.abort = true;
      }
      const bool finished = shared.done >= shared.total || shared.abort;
      take();
      const uint64_t done = shared.done;
      for (; accounted < done; ++accounted) {
        if (std::generate_canonical<double, 53>(random) >= killChance) continue;
        const uint32_t pid = ControlProcessId();
        if (pid != 0 && Alive(pid) && ::kill(static_cast<pid_t>(pid), SIGKILL) == 0) {
          ++result_.kills;
          killed_.push_back(pid);
          if (!killedAt) killedAt = Clock::now();
        }
      }
      if (!warm && done * 10 >= shared.total) {
        warm = true;
        result_.rssWarm = ResidentKiB();
        result_.fdsWarm = OpenDescriptors();
      }
      if (Clock::now() - lastProgress >= kProgressEvery) {
        lastProgress = Clock::now();
        std::fprintf(stderr, "soak %s: %llu of %llu calls, %.0f s, VNL2C64 killed %llu\n", result_.link.c_str(),
                     static_cast<unsigned long long>(done), static_cast<unsigned long long>(shared.total),
                     std::chrono::duration<double>(lastProgress - begin).count(),
                     static_cast<unsigned long long>(result_.kills));
      }
      if (finished) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(kTallyPauseMs));
    }
    for (auto& thread : threads) thread.join();
    // A kill near the end must be heard of all the same.
    while (killedAt && !shared.abort) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kTallyPauseMs));
      take();
    }
    result_.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    // Late duplicates arrive now or never.
    std::this_thread::sleep_for(std::chrono::milliseconds(kLateDuplicateMs));
    take();
    result_.rssEnd = ResidentKiB();
    result_.rssPeak = PeakResidentKiB();
    result_.fdsEnd = OpenDescriptors();
    if (!warm) {
      result_.rssWarm = result_.rssEnd;
      result_.fdsWarm = result_.fdsEnd;
    }

    for (auto& client : clients) {
      result_.ok += client->ok();
      result_.failed += client->failed();
      result_.linesLost += client->losses();
      result_.recoveries += client->recoveries();
      result_.openFailures += client->openFailures();
      result_.givenUp += client->givenUp();
    }
    result_.requests = shared.tally.Count();
    const auto lan = result_.link == "lan";
    // The exchange's connections (LAN) or link set-ups (serial); every one
    // after the first followed a loss.
    if (auto ups = exchange_.StatusCounter(lan ? "connections" : "link-ups"); ups && *ups > 0)
      result_.linksLost = *ups - 1;
    for (size_t k = 0; k < result_.faults.size(); ++k)
      result_.faults[k] = exchange_.StatusCounter(std::string("fault-") + kFaultNames[k]).value_or(0);

    std::vector<std::string>& v = result_.violations;
    v.insert(v.end(), shared.violations.begin(), shared.violations.end());
    const std::string on = result_.link + ": ";
    auto count = [](uint64_t n) { return std::to_string(n); };
    if (result_.requests.twice) v.push_back(on + count(result_.requests.twice) + " requests completed more than once");
    if (result_.requests.never) v.push_back(on + count(result_.requests.never) + " requests never completed");
    if (result_.requests.unknown)
      v.push_back(on + count(result_.requests.unknown) + " completions of requests never made");
    if (result_.recoveries != result_.linesLost)
      v.push_back(on + count(result_.linesLost) + " lines lost but " + count(result_.recoveries) + " opened again");
    // Each loss closes the lines open then, or fails the open that set
    // the link up; a loss nobody heard of leaves lines open on a dead link.
    if (result_.linesLost + result_.openFailures < result_.linksLost)
      v.push_back(on + "the exchange lost its link " + count(result_.linksLost) + " times, the application heard of " +
                  count(result_.linesLost + result_.openFailures));
    const uint64_t rssBound =
        result_.rssWarm + std::max<uint64_t>(kRssSlackKiB, static_cast<uint64_t>(result_.rssWarm * kRssSlackShare));
    if (kMemoryChecked && result_.rssEnd > rssBound)
      v.push_back(on + "resident memory grew from " + count(result_.rssWarm) + " KiB to " + count(result_.rssEnd) +
                  " KiB");
    if (result_.fdsEnd > result_.fdsWarm + kFdSlack)
      v.push_back(on + "open descriptors grew from " + std::to_string(result_.fdsWarm) + " to " +
                  std::to_string(result_.fdsEnd));

    // Every line closed: the host holds no call any more.
    for (uint32_t d = 0; d < options_.clients; ++d)
      if (clients[d]->IsOpen()) host_->CloseLine(d);
    calls_->Refresh();
    if (size_t left = calls_->Calls().size()) v.push_back(on + std::to_string(left) + " calls left after every line closed");
    for (const std::string& breach : host_->violations()) {
      if (v.size() > 60) break;
      v.push_back(on + "contract: " + breach);
    }
  }

  void TearDown() {
    calls_.reset();
    if (host_) host_->Stop();
    host_.reset();
    if (uint32_t pid = ControlProcessId()) killed_.push_back(pid);
    tktest::EndLinkControlProcesses();
    const int tksimPid = exchange_.Pid();
    exchange_.Stop();
    for (uint32_t pid : killed_) {
      if (Alive(pid) && !platform::waitForProcessExit(pid, 5000) && Alive(pid))
        result_.violations.push_back(result_.link + ": VNL2C64 (pid " + std::to_string(pid) + ") left running");
    }
    if (tksimPid > 0 && platform::processRunning(static_cast<uint32_t>(tksimPid)))
      result_.violations.push_back(result_.link + ": tksim (pid " + std::to_string(tksimPid) + ") left running");
    tktest::removeTree(root_);
  }

  const Options& options_;
  LinkResult result_;
  std::string root_;
  soak::SoakExchange exchange_;
  std::unique_ptr<tapihost::TelephonyHost> host_;
  std::unique_ptr<tapihost::HostCalls> calls_;
  std::vector<uint32_t> killed_;
};

void PrintTable(const Options& options, const std::vector<LinkResult>& results) {
  std::printf("soak: %llu calls, fault rate %g, seed %llu, %u clients per link\n",
              static_cast<unsigned long long>(options.calls), options.faultRate,
              static_cast<unsigned long long>(options.seed), options.clients);
  std::printf("%-28s", "");
  for (const LinkResult& r : results) std::printf(" %12s", r.link.c_str());
  std::printf(" %12s\n", "total");
  auto row = [&](const char* name, auto value) {
    std::printf("%-28s", name);
    unsigned long long total = 0;
    for (const LinkResult& r : results) {
      const unsigned long long v = static_cast<unsigned long long>(value(r));
      total += v;
      std::printf(" %12llu", v);
    }
    std::printf(" %12llu\n", total);
  };
  row("calls", [](const LinkResult& r) { return r.calls; });
  row("calls connected and idle", [](const LinkResult& r) { return r.ok; });
  row("calls failed", [](const LinkResult& r) { return r.failed; });
  for (size_t k = 0; k < 6; ++k) {
    const std::string name = std::string("faults ") + kFaultNames[k];
    row(name.c_str(), [k](const LinkResult& r) { return r.faults[k]; });
  }
  row("faults VNL2C64 killed", [](const LinkResult& r) { return r.kills; });
  row("kills nobody heard of", [](const LinkResult& r) { return r.killsUnreported; });
  row("calls given up not idle", [](const LinkResult& r) { return r.givenUp; });
  row("requests", [](const LinkResult& r) { return r.requests.issued; });
  row("completed exactly once", [](const LinkResult& r) { return r.requests.once; });
  row("completed more than once", [](const LinkResult& r) { return r.requests.twice; });
  row("never completed", [](const LinkResult& r) { return r.requests.never; });
  row("links lost (exchange)", [](const LinkResult& r) { return r.linksLost; });
  row("lines lost (LINE_CLOSE)", [](const LinkResult& r) { return r.linesLost; });
  row("lines opened again", [](const LinkResult& r) { return r.recoveries; });
  row("line opens failed", [](const LinkResult& r) { return r.openFailures; });
  row("RSS KiB after warm-up", [](const LinkResult& r) { return r.rssWarm; });
  row("RSS KiB at the end", [](const LinkResult& r) { return r.rssEnd; });
  row("peak RSS KiB", [](const LinkResult& r) { return r.rssPeak; });
  row("fds after warm-up", [](const LinkResult& r) { return r.fdsWarm; });
  row("fds at the end", [](const LinkResult& r) { return r.fdsEnd; });
  row("seconds", [](const LinkResult& r) { return static_cast<uint64_t>(r.seconds + 0.5); });
  if (!kMemoryChecked) std::printf("memory growth not checked: built with a sanitizer\n");
  size_t violations = 0;
  for (const LinkResult& r : results) violations += r.violations.size();
  std::printf("violations: %zu\n", violations);
  for (const LinkResult& r : results)
    for (const std::string& v : r.violations) std::printf("  %s\n", v.c_str());
}

const char kHelp[] =
    "usage: soak [OPTIONS]\n"
    "\n"
    "Complete calls (lineMakeCall, CONNECTED, lineDrop, IDLE, lineCloseCall)\n"
    "through KVARSP64, VNL2D32, VNL2C64 and tksim while tksim injects random\n"
    "faults (corrupted, dropped frames, RNR, silence, dropped connections,\n"
    "refusals) and the soak kills VNL2C64 now and then; then checks that every\n"
    "request completed exactly once, no call is left, every lost line was\n"
    "reported and opened again, memory and descriptors stayed flat and no\n"
    "process is left. Each link runs under a temporary root of its own with its\n"
    "own processes, on loopback (LAN) or a pseudo-terminal (serial).\n"
    "\n"
    "Options:\n"
    "  --calls N          calls in all, shared out evenly over the links\n"
    "                     (default 10000)\n"
    "  --fault-rate R     tksim's chance of a fault per frame sent and per block\n"
    "                     received, 0 to 1 (default 0.01); VNL2C64 is killed\n"
    "                     with chance R/4 after each call\n"
    "  --seed S           seed of the faults and kills (default 1)\n"
    "  --links LIST       lan, serial or lan,serial (default)\n"
    "  --clients K        line devices, each driven by its own thread, per link\n"
    "                     (1 to 64, default 4)\n"
    "  --fault-kinds LIST the kinds tksim injects (see tksim --help; default all)\n"
    "  --kill-rate R      the chance of killing VNL2C64 after each call, 0 to 1\n"
    "                     (default: the fault rate / 4); each kill must reach\n"
    "                     the application as LINE_CLOSE within 15 s\n"
    "  --help             show this text\n"
    "\n"
    "Progress goes to standard error every 5 s, the table of calls, faults,\n"
    "completions, losses and recoveries, memory and descriptors to standard\n"
    "output, followed by every violation.\n"
    "Exit status: 0 no violation, 1 a violation (or the system did not come up),\n"
    "2 usage.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "soak: %s (try --help)\n", problem.c_str());
  return kExitUsage;
}

template <typename T>
bool Parse(const std::string& text, T& value) {
  auto [end, code] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && code == std::errc() && end == text.data() + text.size();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return kExitOk;
    }
    const bool takesValue = arg == "--calls" || arg == "--fault-rate" || arg == "--seed" || arg == "--links" ||
                            arg == "--clients" || arg == "--fault-kinds" || arg == "--kill-rate";
    if (!takesValue) return Usage("unknown option " + arg);
    if (i + 1 >= argc) return Usage(arg + " needs a value");
    const std::string value = argv[++i];
    if (arg == "--calls") {
      if (!Parse(value, options.calls) || options.calls == 0) return Usage("--calls '" + value + "' is no number >= 1");
    } else if (arg == "--fault-rate") {
      if (!Parse(value, options.faultRate) || !(options.faultRate >= 0 && options.faultRate <= 1))
        return Usage("--fault-rate '" + value + "' is no chance 0 to 1");
    } else if (arg == "--kill-rate") {
      double rate = 0;
      if (!Parse(value, rate) || !(rate >= 0 && rate <= 1)) return Usage("--kill-rate '" + value + "' is no chance 0 to 1");
      options.killRate = rate;
    } else if (arg == "--seed") {
      if (!Parse(value, options.seed)) return Usage("--seed '" + value + "' is no number");
    } else if (arg == "--clients") {
      if (!Parse(value, options.clients) || options.clients == 0 || options.clients > 64)
        return Usage("--clients '" + value + "' is no number 1 to 64");
    } else if (arg == "--fault-kinds") {
      exchange::FaultKinds kinds = 0;
      std::string why;
      if (!exchange::ParseFaultKinds(value, kinds, &why)) return Usage("--fault-kinds: " + why);
      options.faultKinds = value;
    } else {
      options.links.clear();
      for (size_t from = 0; from <= value.size();) {
        size_t comma = value.find(',', from);
        if (comma == std::string::npos) comma = value.size();
        const std::string link = value.substr(from, comma - from);
        if (link != "lan" && link != "serial") return Usage("--links: unknown link '" + link + "' (lan, serial)");
        if (std::find(options.links.begin(), options.links.end(), link) == options.links.end())
          options.links.push_back(link);
        from = comma + 1;
      }
    }
  }

  // SIGINT or SIGTERM ends the run in order: no tksim or VNL2C64 left behind.
  platform::watchStopRequests();
  std::vector<LinkResult> results;
  const uint64_t share = options.calls / options.links.size();
  for (size_t i = 0; i < options.links.size() && platform::stopRequest() == 0; ++i) {
    // The first link takes what does not divide evenly.
    const uint64_t calls = share + (i == 0 ? options.calls % options.links.size() : 0);
    results.push_back(LinkRun(options, options.links[i], calls).Run());
  }
  PrintTable(options, results);
  for (const LinkResult& r : results)
    if (!r.violations.empty()) return kExitViolation;
  return kExitOk;
}
