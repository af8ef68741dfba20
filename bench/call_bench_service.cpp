#include "bench/call_bench_service.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>

#include "bench/call_bench_setup.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "tapi/tapi32.h"
#include "tests/support/child_process.h"

namespace callbench {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint32_t kWaitMs = 10000;
// A call state a client has waited this long for counts as lost.
constexpr milliseconds kStateLostAfter{2000};
constexpr int kClients = 4;
constexpr DWORD kLowVersion = 0x00010004;
constexpr DWORD kHighVersion = 0x00020000;
// Held by the parent until every client has its lines open.
constexpr char kStartMutex[] = "call-bench-start";
constexpr char16_t kDestination[] = u"0301234567";

double MicrosSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

uint32_t MsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<uint32_t>(left) : 0;
}

std::string Code(LONG rc) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(rc));
  return text;
}

// One application (lineInitializeExW with an event) and its lines.
class ServiceApp {
 public:
  ServiceApp() {
    LINEINITIALIZEEXPARAMS params{};
    params.dwTotalSize = sizeof params;
    params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
    DWORD version = kHighVersion;
    if (LONG rc = lineInitializeExW(&app_, nullptr, nullptr, u"call_bench", &devices_, &version, &params); rc != 0)
      Fail("lineInitializeExW failed with " + Code(rc));
  }
  ~ServiceApp() { lineShutdown(app_); }
  ServiceApp(const ServiceApp&) = delete;
  ServiceApp& operator=(const ServiceApp&) = delete;

  HLINE Open(DWORD device) {
    const std::string which = "line " + std::to_string(device);
    if (device >= devices_) Fail(which + ": the service offers " + std::to_string(devices_) + " lines");
    DWORD version = 0;
    LINEEXTENSIONID extension{};
    LONG rc = lineNegotiateAPIVersion(app_, device, kLowVersion, kHighVersion, &version, &extension);
    if (rc != 0) Fail("lineNegotiateAPIVersion of " + which + " failed with " + Code(rc));
    HLINE line = 0;
    rc = lineOpenW(app_, device, &line, version, 0, device, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE,
                   nullptr);
    if (rc != 0) Fail("lineOpenW of " + which + " failed with " + Code(rc));
    return line;
  }

  // The next message, nothing when none came before the deadline.
  std::optional<LINEMESSAGE> Next(Clock::time_point deadline) {
    LINEMESSAGE m{};
    if (lineGetMessage(app_, &m, MsUntil(deadline)) != 0) return std::nullopt;
    return m;
  }

 private:
  HLINEAPP app_ = 0;
  DWORD devices_ = 0;
};

// Waits for the LINE_REPLY of request and for the call to reach state; the
// microseconds from start to each go to *replyUs and *stateUs when given.
void Await(ServiceApp& app, LONG request, HCALL call, DWORD state, const std::string& what, Clock::time_point start,
           double* replyUs = nullptr, double* stateUs = nullptr) {
  if (request <= 0) Fail(what + " refused at once: " + Code(request));
  bool replied = false, reached = false;
  const auto deadline = Clock::now() + milliseconds(kWaitMs);
  while ((!replied || !reached) && Clock::now() < deadline) {
    const std::optional<LINEMESSAGE> m = app.Next(deadline);
    if (!m) break;
    if (m->dwMessageID == LINE_REPLY && m->dwParam1 == static_cast<DWORD_PTR>(request)) {
      if (m->dwParam2 != 0) Fail(what + " completed with " + Code(static_cast<LONG>(m->dwParam2)));
      replied = true;
      if (replyUs) *replyUs = MicrosSince(start);
    } else if (m->dwMessageID == LINE_CALLSTATE && m->hDevice == call && m->dwParam1 == state) {
      reached = true;
      if (stateUs) *stateUs = MicrosSince(start);
    }
  }
  if (!replied) Fail(what + ": no LINE_REPLY for request " + std::to_string(request) + " within 10 s");
  if (!reached) Fail(what + ": the call did not reach call state " + Code(static_cast<LONG>(state)) + " within 10 s");
}

// What a client reports, as one line of its output.
struct ClientResult {
  int calls = 0;  // ended within the measured time
  size_t requests = 0, lost = 0, doubled = 0, unknown = 0, failed = 0, states = 0, stuck = 0;
};
constexpr char kResultFormat[] =
    "result calls=%d requests=%zu lost=%zu doubled=%zu unknown=%zu failed=%zu states=%zu stuck=%zu\n";

// A client process's calls: every line runs make, CONNECTED, drop, IDLE,
// deallocate, again, driven by the messages as they come. A CONNECTED that
// does not come is counted and the call dropped, so that the load goes on;
// a line whose LINE_REPLY or IDLE does not come stays stuck.
class ClientRun {
 public:
  ClientRun(uint32_t first, uint32_t count) {
    for (uint32_t device = first; device < first + count; ++device) {
      Line line;
      line.device = device;
      line.hLine = app_.Open(device);
      // A number of its own per line, so that the exchange sees separate parties.
      const std::string digits = std::to_string(10000 + device).substr(1);
      line.destination = u"030123" + std::u16string(digits.begin(), digits.end());
      lines_.push_back(std::move(line));
    }
  }

  void Run(int seconds) {
    end_ = Clock::now() + std::chrono::seconds(seconds);
    // Calls under way at the end finish, within this deadline.
    const auto hardEnd = end_ + milliseconds(kWaitMs);
    for (Line& line : lines_) StartCall(line);
    while (std::any_of(lines_.begin(), lines_.end(), [](const Line& l) { return !l.done && !l.stuck; }) &&
           Clock::now() < hardEnd) {
      if (const std::optional<LINEMESSAGE> m = app_.Next(std::min(hardEnd, Clock::now() + milliseconds(100)))) Take(*m);
      CheckWaits();
    }
    // Late duplicates of replies arrive here.
    const auto grace = Clock::now() + milliseconds(500);
    while (Clock::now() < grace)
      if (const std::optional<LINEMESSAGE> m = app_.Next(grace)) Take(*m);
  }

  void Report() const {
    ClientResult r;
    r.calls = calls_;
    r.requests = replies_.size();
    r.unknown = unknown_;
    r.failed = failedMakes_;
    r.states = lostStates_;
    for (const auto& [id, count] : replies_) {
      if (count == 0) ++r.lost;
      if (count > 1) ++r.doubled;
    }
    for (const Line& line : lines_) {
      if (line.done) continue;
      ++r.stuck;
      std::fprintf(stderr, "call_bench client: %s stuck %s call 0x%X: %s%s\n", Where(line).c_str(),
                   line.dropping ? "dropping" : "making", static_cast<unsigned>(line.call),
                   line.replied ? "" : ("no LINE_REPLY for request " + std::to_string(line.request) + "; ").c_str(),
                   line.reached ? "" : line.dropping ? "not IDLE" : "not CONNECTED");
    }
    std::printf(kResultFormat, r.calls, r.requests, r.lost, r.doubled, r.unknown, r.failed, r.states, r.stuck);
    std::fflush(stdout);
  }

 private:
  struct Line {
    uint32_t device = 0;
    HLINE hLine = 0;
    std::u16string destination;
    HCALL call = 0;
    LONG request = 0;  // the request under way
    bool dropping = false;
    bool replied = false;
    bool reached = false;  // CONNECTED while making, IDLE while dropping
    bool stateLost = false;  // this call's CONNECTED did not come
    Clock::time_point since;  // of the request under way
    bool stuck = false;
    bool done = false;
  };

  std::string Where(const Line& line) const { return "line " + std::to_string(line.device); }

  void Issue(Line& line, LONG request, const char* what) {
    if (request <= 0) Fail(std::string(what) + " on " + Where(line) + " refused at once: " + Code(request));
    if (!replies_.emplace(static_cast<DWORD>(request), 0).second)
      Fail(std::string(what) + " on " + Where(line) + " got request ID " + std::to_string(request) + " a second time");
    line.request = request;
    line.replied = false;
    line.reached = false;
    line.since = Clock::now();
  }

  void CheckWaits() {
    for (Line& line : lines_) {
      if (line.done || line.stuck || Clock::now() - line.since < kStateLostAfter) continue;
      if (line.dropping || !line.replied) {
        line.stuck = true;
        continue;
      }
      ++lostStates_;
      std::fprintf(stderr, "call_bench client: %s: call 0x%X did not reach CONNECTED within %lld ms; dropping it\n",
                   Where(line).c_str(), static_cast<unsigned>(line.call),
                   static_cast<long long>(kStateLostAfter.count()));
      line.stateLost = true;
      line.dropping = true;
      Issue(line, lineDrop(line.call, nullptr, 0), "lineDrop");
    }
  }

  void StartCall(Line& line) {
    if (Clock::now() >= end_) {
      line.done = true;
      return;
    }
    line.call = 0;
    line.dropping = false;
    line.stateLost = false;
    Issue(line, lineMakeCallW(line.hLine, &line.call, line.destination.c_str(), 0, nullptr), "lineMakeCallW");
  }

  // The next step once the request is answered and the call is where it should be.
  void Advance(Line& line) {
    if (!line.replied || !line.reached) return;
    if (!line.dropping) {
      line.dropping = true;
      Issue(line, lineDrop(line.call, nullptr, 0), "lineDrop");
      return;
    }
    if (LONG rc = lineDeallocateCall(line.call); rc != 0)
      Fail("lineDeallocateCall on " + Where(line) + " failed with " + Code(rc));
    line.request = 0;
    // Calls that end after the measured time are checked, not counted.
    if (Clock::now() <= end_ && !line.stateLost) ++calls_;
    StartCall(line);
  }

  void Take(const LINEMESSAGE& m) {
    if (m.dwMessageID == LINE_REPLY) {
      auto it = replies_.find(static_cast<DWORD>(m.dwParam1));
      if (it == replies_.end()) {
        ++unknown_;
        return;
      }
      if (++it->second > 1) return;
      for (Line& line : lines_) {
        if (line.request != static_cast<LONG>(m.dwParam1)) continue;
        if (m.dwParam2 != 0 && !line.dropping) {
          std::fprintf(stderr, "call_bench client: lineMakeCallW on %s completed with %s\n", Where(line).c_str(),
                       Code(static_cast<LONG>(m.dwParam2)).c_str());
          ++failedMakes_;
          StartCall(line);
          continue;
        }
        if (m.dwParam2 != 0)
          Fail("request " + std::to_string(line.request) + " on " + Where(line) + " completed with " +
               Code(static_cast<LONG>(m.dwParam2)));
        line.replied = true;
        Advance(line);
      }
    } else if (m.dwMessageID == LINE_CALLSTATE) {
      for (Line& line : lines_) {
        if (line.call == 0 || line.call != m.hDevice || line.done || line.stuck) continue;
        if (!line.dropping && m.dwParam1 == LINECALLSTATE_IDLE) Fail("a call on " + Where(line) + " went idle early");
        if (m.dwParam1 != (line.dropping ? LINECALLSTATE_IDLE : LINECALLSTATE_CONNECTED)) continue;
        line.reached = true;
        Advance(line);
      }
    }
  }

  ServiceApp app_;
  std::vector<Line> lines_;
  std::map<DWORD, int> replies_;  // LINE_REPLYs per request ID issued
  size_t unknown_ = 0;            // LINE_REPLYs for request IDs never issued
  size_t failedMakes_ = 0;        // lineMakeCallW completed with an error
  size_t lostStates_ = 0;         // CONNECTED states that never came
  int calls_ = 0;                 // ended within the measured time
  Clock::time_point end_;
};

std::string EndOf(tktest::ChildProcess& child) {
  const std::optional<int> code = child.wait(milliseconds(2000));
  return code ? " (exit code " + std::to_string(*code) + ")" : " (still running)";
}

bool ParseNumber(const char* text, unsigned long low, unsigned long high, unsigned long* value) {
  char* end = nullptr;
  *value = std::strtoul(text, &end, 10);
  return *text >= '0' && *text <= '9' && *end == '\0' && *value >= low && *value <= high;
}

}  // namespace

SetupLatency ServiceLatency(int calls) {
  BenchSystem system(2, BenchSystem::Path::Service);
  ServiceApp app;
  const HLINE line = app.Open(0);
  SetupLatency figures;
  for (int i = 0; i < calls; ++i) {
    HCALL call = 0;
    double toReply = 0, toDialtone = 0;
    const auto start = Clock::now();
    const LONG make = lineMakeCallW(line, &call, kDestination, 0, nullptr);
    Await(app, make, call, LINECALLSTATE_DIALTONE, "lineMakeCallW", start, &toReply, &toDialtone);
    figures.toCompletion.push_back(toReply);
    figures.toDialtone.push_back(toDialtone);
    LINECALLSTATUS status{};
    status.dwTotalSize = sizeof status;
    const auto asked = Clock::now();
    if (LONG rc = lineGetCallStatus(call, &status); rc != 0) Fail("lineGetCallStatus failed with " + Code(rc));
    figures.roundTrip.push_back(MicrosSince(asked));
    Await(app, lineDrop(call, nullptr, 0), call, LINECALLSTATE_IDLE, "lineDrop", start);
    if (LONG rc = lineDeallocateCall(call); rc != 0) Fail("lineDeallocateCall failed with " + Code(rc));
  }
  return figures;
}

double ServiceThroughput(int seconds, uint32_t linesPerClient) {
  BenchSystem system(kClients * linesPerClient, BenchSystem::Path::Service);
  platform::NamedMutex start(kStartMutex);
  if (start.lock(0) != platform::NamedMutex::LockResult::Acquired) Fail("cannot take the clients' start lock");
  // Released at the start, or on the way out (a second unlock does nothing).
  struct Release {
    platform::NamedMutex& mutex;
    ~Release() { mutex.unlock(); }
  } release{start};

  // Destroyed (killed where still running) before the lock and the system.
  std::vector<std::unique_ptr<tktest::ChildProcess>> clients;
  const std::string self = platform::currentProgramPath();
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(std::make_unique<tktest::ChildProcess>());
    if (!clients.back()->start(self, {"--client", std::to_string(i * linesPerClient), std::to_string(linesPerClient),
                                      std::to_string(seconds)}))
      Fail("cannot start client " + std::to_string(i + 1) + " (" + self + ")");
  }
  for (int i = 0; i < kClients; ++i) {
    const std::optional<std::string> said = clients[i]->readLine(milliseconds(30000));
    if (said != "ready") Fail("client " + std::to_string(i + 1) + " did not come up within 30 s" + EndOf(*clients[i]));
  }
  start.unlock();

  ClientResult total;
  for (int i = 0; i < kClients; ++i) {
    const std::string which = "client " + std::to_string(i + 1);
    const std::optional<std::string> said = clients[i]->readLine(milliseconds(1000 * (seconds + 30)));
    ClientResult r;
    if (!said || std::sscanf(said->c_str(), kResultFormat, &r.calls, &r.requests, &r.lost, &r.doubled, &r.unknown,
                             &r.failed, &r.states, &r.stuck) != 8)
      Fail(which + " reported no result" + EndOf(*clients[i]));
    if (const std::optional<int> code = clients[i]->wait(milliseconds(10000)); code != 0)
      Fail(which + " did not end well" + EndOf(*clients[i]));
    std::printf("  %s (lines %u..%u): %d calls: %.1f calls/s; %zu requests\n", which.c_str(), i * linesPerClient,
                (i + 1) * linesPerClient - 1, r.calls, static_cast<double>(r.calls) / seconds, r.requests);
    total.calls += r.calls;
    total.requests += r.requests;
    total.lost += r.lost;
    total.doubled += r.doubled;
    total.unknown += r.unknown;
    total.failed += r.failed;
    total.states += r.states;
    total.stuck += r.stuck;
  }
  const double rate = static_cast<double>(total.calls) / seconds;
  std::printf("  total: %d calls in %d s: %.1f calls/s (%.1f per line); %zu requests\n", total.calls, seconds, rate,
              rate / (kClients * linesPerClient), total.requests);
  std::printf("  LINE_REPLY lost %zu, doubled %zu, for unknown request IDs %zu; "
              "failed calls %zu, CONNECTED states lost %zu, lines stuck %zu\n",
              total.lost, total.doubled, total.unknown, total.failed, total.states, total.stuck);
  if (total.lost != 0 || total.doubled != 0 || total.unknown != 0)
    Fail(std::to_string(total.lost) + " LINE_REPLYs lost, " + std::to_string(total.doubled) + " doubled, " +
         std::to_string(total.unknown) + " for request IDs never issued");
  // Call states the link below the provider lost are a fault of their own,
  // not of the service: the run goes on to its other parts and ends failed.
  if (total.failed != 0 || total.states != 0 || total.stuck != 0)
    defects.push_back(std::to_string(total.failed) + " calls failed, " + std::to_string(total.states) +
                      " CONNECTED states lost, " + std::to_string(total.stuck) +
                      " lines stuck in (e) (see the clients' messages above)");
  if (total.calls == 0) Fail("no call completed through the service");
  return rate;
}

std::vector<std::string> defects;

int RunClient(int argc, char** argv) {
  unsigned long first = 0, count = 0, seconds = 0;
  if (argc != 5 || !ParseNumber(argv[2], 0, 1023, &first) || !ParseNumber(argv[3], 1, 64, &count) ||
      !ParseNumber(argv[4], 1, 3600, &seconds)) {
    std::fprintf(stderr, "call_bench: --client wants FIRST (0-1023) COUNT (1-64) SECONDS (1-3600)\n");
    return 2;
  }
  try {
    ClientRun run(static_cast<uint32_t>(first), static_cast<uint32_t>(count));
    std::printf("ready\n");
    std::fflush(stdout);
    platform::NamedMutex start(kStartMutex);
    const platform::NamedMutex::LockResult go = start.lock(30000);
    if (go != platform::NamedMutex::LockResult::Acquired) Fail("no start from call_bench within 30 s");
    start.unlock();
    run.Run(static_cast<int>(seconds));
    run.Report();
  } catch (const BenchFailure& failure) {
    std::fprintf(stderr, "call_bench client (lines %lu..%lu): %s\n", first, first + count - 1, failure.what());
    return 1;
  }
  return 0;
}

}  // namespace callbench
