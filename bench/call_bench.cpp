// Benchmark of calls through the whole LAN stack: the telephony host drives
// KVARSP64, which reaches the simulated exchange (tksim) through vnlsock,
// VNL2D32, the link control process VNL2C64 and a loopback TCP connection.
//
//   (a) call set-up latency: TSPI_lineMakeCall to its completion and to
//       LINECALLSTATE_DIALTONE, median and p99, next to the raw loopback TCP
//       round trip measured in the same run;
//   (d) the same through the telephony service (libtapi32 -> tapisrv ->
//       KVARSP64): lineMakeCallW to its LINE_REPLY and to DIALTONE, beside
//       the figures of (a), with the ratio of the medians against the target
//       (the service's median within 1.25 x the in-process one);
//   (b) sustained complete calls per second (make, connected, drop, idle),
//       with every completion checked to arrive exactly once;
//   (e) the same through the service from four client processes (copies of
//       this program, hidden option --client) at full load, each on lines of
//       its own, with every LINE_REPLY checked to arrive exactly once;
//   (c) CPU used by the host process and by VNL2C64 while 256 open lines
//       stay idle.
//
//   call_bench [--latency-calls N] [--seconds S] [--client-lines N] [--idle-seconds S] [--idle-lines N]
//              [--skip-idle] [--skip-service]
//
// Each part runs under a temporary root folder of its own, removed at the
// end, with its processes (tksim, VNL2C64, tapisrv, the clients).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <type_traits>
#include <string>
#include <thread>
#include <vector>

#include "bench/call_bench_service.h"
#include "bench/call_bench_setup.h"
#include "platform/process.h"
#include "tests/support/raw_tcp_ping_pong.h"
#include "tests/support/round_trips.h"

namespace {

using callbench::BenchSystem;
using callbench::Fail;
using callbench::SetupLatency;
using tapihost::HostEvent;
using BenchClock = std::chrono::steady_clock;

constexpr uint32_t kWaitMs = 10000;
constexpr char16_t kDestination[] = u"0301234567";

double MicrosSince(BenchClock::time_point start) {
  return std::chrono::duration<double, std::micro>(BenchClock::now() - start).count();
}

void PrintSpread(const char* what, std::vector<double> micros) {
  std::sort(micros.begin(), micros.end());
  std::printf("  %-34s median %9.1f us   p99 %9.1f us   (%zu samples)\n", what, tktest::Percentile(micros, 0.5),
              tktest::Percentile(micros, 0.99), micros.size());
}

// Moves the cursor past everything logged so far.
void SkipToEnd(tapihost::TelephonyHost& host, size_t& cursor) { host.EventsSince(cursor); }

void WaitState(tapihost::TelephonyHost& host, size_t& cursor, HTAPICALL call, DWORD state) {
  auto event = host.WaitEvent(
      cursor,
      [&](const HostEvent& e) { return e.msg == LINE_CALLSTATE && e.htCall == call && e.param1 == state; },
      kWaitMs);
  if (!event) {
    // What did come, for the message.
    std::string seen;
    size_t from = cursor;
    for (const HostEvent& e : host.EventsSince(from)) seen += "\n  " + tapihost::describe(e);
    Fail("no LINE_CALLSTATE " + std::to_string(state) + " in time; events since the last match:" + seen);
  }
}

void Complete(tapihost::TelephonyHost& host, const tapihost::AsyncCall& request, const char* what) {
  if (!request.accepted()) Fail(std::string(what) + " refused at once: " + std::to_string(request.result));
  auto result = host.WaitCompletion(request.requestId, kWaitMs);
  if (!result) Fail(std::string(what) + " did not complete in time");
  if (*result != 0) Fail(std::string(what) + " completed with " + std::to_string(*result));
}

// Drops a call, waits until it is idle and closes it.
void EndCall(BenchSystem& system, size_t& cursor, HTAPICALL call) {
  Complete(system.host(), system.calls().Drop(call), "lineDrop");
  WaitState(system.host(), cursor, call, LINECALLSTATE_IDLE);
  if (system.calls().CloseCall(call) != 0) Fail("lineCloseCall failed");
}

SetupLatency Latency(int count) {
  std::printf("(a) call set-up latency, %d calls\n", count);
  std::vector<double> raw = tktest::RawTcpRoundTrips(count, 16);
  if (raw.empty()) Fail("raw loopback round trips failed");
  BenchSystem system(2);
  if (system.host().OpenLine(0) != 0) Fail("lineOpen failed");
  SetupLatency figures;
  std::vector<double>& toCompletion = figures.toCompletion;
  std::vector<double>& toDialtone = figures.toDialtone;
  size_t cursor = 0;
  for (int i = 0; i < count; ++i) {
    SkipToEnd(system.host(), cursor);
    HTAPICALL call = nullptr;
    const auto start = BenchClock::now();
    tapihost::AsyncCall make = system.calls().MakeCall(0, kDestination, u"", &call);
    Complete(system.host(), make, "lineMakeCall");
    toCompletion.push_back(MicrosSince(start));
    WaitState(system.host(), cursor, call, LINECALLSTATE_DIALTONE);
    toDialtone.push_back(MicrosSince(start));
    EndCall(system, cursor, call);
  }
  PrintSpread("raw loopback TCP round trip", raw);
  PrintSpread("lineMakeCall -> completion", toCompletion);
  PrintSpread("lineMakeCall -> DIALTONE", toDialtone);
  std::sort(raw.begin(), raw.end());
  std::vector<double> sorted = toCompletion;
  std::sort(sorted.begin(), sorted.end());
  std::printf("  median ratio completion / raw round trip: %.1f\n",
              tktest::Percentile(sorted, 0.5) / tktest::Percentile(raw, 0.5));
  return figures;
}

double Median(std::vector<double> micros) {
  std::sort(micros.begin(), micros.end());
  return tktest::Percentile(micros, 0.5);
}

// The service's median beside the in-process one and the target ratio.
void Compare(const char* what, const std::vector<double>& host, const std::vector<double>& service) {
  constexpr double kTarget = 1.25;
  const double ratio = Median(service) / Median(host);
  std::printf("  %-34s median in-process %9.1f us, service %9.1f us: ratio %.2f, target <= %.2f %s\n", what,
              Median(host), Median(service), ratio, kTarget, ratio <= kTarget ? "met" : "NOT MET");
}

void ServiceLatency(int count, const SetupLatency& host) {
  std::printf("(d) call set-up latency through libtapi32 -> tapisrv, %d calls\n", count);
  const SetupLatency service = callbench::ServiceLatency(count);
  PrintSpread("lineMakeCallW -> LINE_REPLY", service.toCompletion);
  PrintSpread("lineMakeCallW -> DIALTONE", service.toDialtone);
  PrintSpread("lineGetCallStatus round trip", service.roundTrip);
  std::printf("  beside (a):\n");
  Compare("completion", host.toCompletion, service.toCompletion);
  Compare("DIALTONE", host.toDialtone, service.toDialtone);
}

double Throughput(int seconds) {
  std::printf("(b) complete calls (make, connected, drop, idle) for %d s\n", seconds);
  BenchSystem system(2);
  if (system.host().OpenLine(0) != 0) Fail("lineOpen failed");
  std::vector<DRV_REQUESTID> requests;
  size_t cursor = 0;
  int calls = 0;
  const auto begin = BenchClock::now();
  const auto end = begin + std::chrono::seconds(seconds);
  while (BenchClock::now() < end) try {
    HTAPICALL call = nullptr;
    tapihost::AsyncCall make = system.calls().MakeCall(0, kDestination, u"", &call);
    requests.push_back(make.requestId);
    Complete(system.host(), make, "lineMakeCall");
    WaitState(system.host(), cursor, call, LINECALLSTATE_CONNECTED);
    tapihost::AsyncCall drop = system.calls().Drop(call);
    requests.push_back(drop.requestId);
    Complete(system.host(), drop, "lineDrop");
    WaitState(system.host(), cursor, call, LINECALLSTATE_IDLE);
    if (system.calls().CloseCall(call) != 0) Fail("lineCloseCall failed");
    ++calls;
  } catch (const callbench::BenchFailure& failure) {
    Fail(std::string(failure.what()) + "\nthe exchange's calls: " + system.tksim().Command("calls"));
  }
  const double elapsed = std::chrono::duration<double>(BenchClock::now() - begin).count();
  // Let late duplicates arrive before counting.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::map<DRV_REQUESTID, int> completions;
  size_t all = 0;
  for (const HostEvent& e : system.host().EventsSince(all))
    if (e.kind == tapihost::CallbackRecord::Kind::Completion) ++completions[e.requestId];
  size_t wrong = 0;
  for (DRV_REQUESTID id : requests)
    if (completions[id] != 1) ++wrong;
  std::printf("  %d calls in %.1f s: %.1f calls/s; %zu requests, %zu completed other than exactly once\n", calls,
              elapsed, calls / elapsed, requests.size(), wrong);
  if (wrong != 0) Fail("a completion was lost or repeated");
  return calls / elapsed;
}

void ServiceThroughput(int seconds, uint32_t linesPerClient, double host) {
  std::printf("(e) complete calls (make, connected, drop, idle, deallocate) through libtapi32 -> tapisrv from 4 client "
              "processes, %u lines each, for %d s\n",
              linesPerClient, seconds);
  const double service = callbench::ServiceThroughput(seconds, linesPerClient);
  std::printf("  beside (b): in-process %.1f calls/s on one line; service %.1f calls/s on %u lines\n", host, service,
              4 * linesPerClient);
}

void IdleLoad(uint32_t lines, int seconds) {
  std::printf("(c) CPU while %u open lines stay idle for %d s\n", lines, seconds);
  BenchSystem system(lines);
  const auto openStart = BenchClock::now();
  for (uint32_t device = 0; device < lines; ++device)
    if (system.host().OpenLine(device) != 0) Fail("lineOpen of line " + std::to_string(device) + " failed");
  std::printf("  opening %u lines took %.2f s\n", lines,
              std::chrono::duration<double>(BenchClock::now() - openStart).count());
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const uint32_t self = platform::currentProcessId();
  const uint32_t control = system.ControlProcessId();
  if (!control) Fail("no link control process");
  const uint64_t hostBefore = platform::processCpuTimeMs(self).value_or(0);
  const uint64_t controlBefore = platform::processCpuTimeMs(control).value_or(0);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const uint64_t hostUsed = platform::processCpuTimeMs(self).value_or(0) - hostBefore;
  const uint64_t controlUsed = platform::processCpuTimeMs(control).value_or(0) - controlBefore;
  const double wallMs = seconds * 1000.0;
  std::printf("  host process (with the provider): %6llu ms CPU = %.3f %% of one core\n",
              static_cast<unsigned long long>(hostUsed), 100.0 * hostUsed / wallMs);
  std::printf("  VNL2C64:                          %6llu ms CPU = %.3f %% of one core\n",
              static_cast<unsigned long long>(controlUsed), 100.0 * controlUsed / wallMs);
}

constexpr char kUsage[] =
    "usage: call_bench [--latency-calls N] [--seconds S] [--client-lines N] [--idle-seconds S] [--idle-lines N]\n"
    "                  [--skip-idle] [--skip-service]\n"
    "Calls through the provider in this process and through the telephony service (tapisrv), each part\n"
    "against its own simulated exchange under a temporary root folder:\n"
    "  (a) set-up latency in this process, (d) the same through the service beside it,\n"
    "  (b) calls per second in this process, (e) calls per second through the service from 4 client\n"
    "  processes, (c) CPU while lines stay idle.\n"
    "  --latency-calls N  calls timed for the set-up latency (default 300)\n"
    "  --seconds S        duration of the calls-per-second runs (default 10)\n"
    "  --client-lines N   lines each of the 4 client processes drives at once in (e) (default 1, at most 16)\n"
    "  --idle-seconds S   duration of the idle CPU measurement (default 60)\n"
    "  --idle-lines N     lines open during it (default 256, at most 256)\n"
    "  --skip-idle        leave the idle measurement (c) out\n"
    "  --skip-service     leave the parts through the service (d, e) out\n"
    "  --help             this text\n"
    "Exit code 0 done, 1 a part failed (lost or doubled completions among them), 2 usage.\n";

int UsageError(const std::string& problem) {
  std::fprintf(stderr, "call_bench: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // Lines in order with the messages on standard error, also into a pipe.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc > 1 && std::string(argv[1]) == "--client") return callbench::RunClient(argc, argv);
  int latencyCalls = 300, seconds = 10, idleSeconds = 60;
  uint32_t idleLines = 256, clientLines = 1;
  bool skipIdle = false, skipService = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // A whole number into target; values beyond the range are taken as its nearest end.
    auto number = [&](auto& target, long low, long high) {
      if (i + 1 >= argc) return false;
      char* end = nullptr;
      const long value = std::strtol(argv[++i], &end, 10);
      if (end == argv[i] || *end != '\0') return false;
      target = static_cast<std::remove_reference_t<decltype(target)>>(std::clamp(value, low, high));
      return true;
    };
    bool ok = true;
    if (arg == "--latency-calls") ok = number(latencyCalls, 1, 100000);
    else if (arg == "--seconds") ok = number(seconds, 1, 3600);
    else if (arg == "--client-lines") ok = number(clientLines, 1, 16);
    else if (arg == "--idle-seconds") ok = number(idleSeconds, 1, 3600);
    else if (arg == "--idle-lines") ok = number(idleLines, 1, 256);
    else if (arg == "--skip-idle") skipIdle = true;
    else if (arg == "--skip-service") skipService = true;
    else if (arg == "--help") return std::printf("%s", kUsage) < 0 ? 1 : 0;
    else return UsageError("unknown option " + arg);
    if (!ok) return UsageError(arg + " needs a whole number");
  }
  try {
    const SetupLatency host = Latency(latencyCalls);
    if (!skipService) ServiceLatency(latencyCalls, host);
    const double hostRate = Throughput(seconds);
    if (!skipService) ServiceThroughput(seconds, clientLines, hostRate);
    if (!skipIdle) IdleLoad(idleLines, idleSeconds);
  } catch (const callbench::BenchFailure& failure) {
    std::fprintf(stderr, "call_bench: %s\n", failure.what());
    return 1;
  }
  for (const std::string& defect : callbench::defects) std::fprintf(stderr, "call_bench: %s\n", defect.c_str());
  return callbench::defects.empty() ? 0 : 1;
}
