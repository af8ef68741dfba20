// Benchmark of calls through the whole LAN stack: the telephony host drives
// KVARSP64, which reaches the simulated exchange (tksim) through vnlsock,
// VNL2D32, the link control process VNL2C64 and a loopback TCP connection.
//
//   (a) call set-up latency: TSPI_lineMakeCall to its completion and to
//       LINECALLSTATE_DIALTONE, median and p99, next to the raw loopback TCP
//       round trip measured in the same run;
//   (b) sustained complete calls per second (make, connected, drop, idle),
//       with every completion checked to arrive exactly once;
//   (c) CPU used by the host process and by VNL2C64 while 256 open lines
//       stay idle.
//
//   call_bench [--latency-calls N] [--seconds S] [--idle-seconds S] [--idle-lines N] [--skip-idle]
//
// Each part runs under a temporary root folder of its own, removed at the end.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/call_bench_setup.h"
#include "platform/process.h"
#include "tests/support/raw_tcp_ping_pong.h"
#include "tests/support/round_trips.h"

namespace {

using callbench::BenchSystem;
using callbench::Fail;
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

void Latency(int count) {
  std::printf("(a) call set-up latency, %d calls\n", count);
  std::vector<double> raw = tktest::RawTcpRoundTrips(count, 16);
  if (raw.empty()) Fail("raw loopback round trips failed");
  BenchSystem system(2);
  if (system.host().OpenLine(0) != 0) Fail("lineOpen failed");
  std::vector<double> toCompletion, toDialtone;
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
  std::sort(toCompletion.begin(), toCompletion.end());
  std::printf("  median ratio completion / raw round trip: %.1f\n",
              tktest::Percentile(toCompletion, 0.5) / tktest::Percentile(raw, 0.5));
}

void Throughput(int seconds) {
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

int Usage(int status) {
  std::printf(
      "usage: call_bench [--latency-calls N] [--seconds S] [--idle-seconds S] [--idle-lines N] [--skip-idle]\n"
      "  --latency-calls N  calls timed for the set-up latency (default 300)\n"
      "  --seconds S        duration of the calls-per-second run (default 10)\n"
      "  --idle-seconds S   duration of the idle CPU measurement (default 60)\n"
      "  --idle-lines N     lines open during it (default 256, at most 256)\n"
      "  --skip-idle        leave the idle measurement out\n");
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  int latencyCalls = 300, seconds = 10, idleSeconds = 60;
  uint32_t idleLines = 256;
  bool skipIdle = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto number = [&](int low, int high) {
      if (i + 1 >= argc) std::exit(Usage(2));
      return std::clamp(std::atoi(argv[++i]), low, high);
    };
    if (arg == "--latency-calls") latencyCalls = number(1, 100000);
    else if (arg == "--seconds") seconds = number(1, 3600);
    else if (arg == "--idle-seconds") idleSeconds = number(1, 3600);
    else if (arg == "--idle-lines") idleLines = static_cast<uint32_t>(number(1, 256));
    else if (arg == "--skip-idle") skipIdle = true;
    else return Usage(arg == "--help" ? 0 : 2);
  }
  try {
    Latency(latencyCalls);
    Throughput(seconds);
    if (!skipIdle) IdleLoad(idleLines, idleSeconds);
  } catch (const callbench::BenchFailure& failure) {
    std::fprintf(stderr, "call_bench: %s\n", failure.what());
    return 1;
  }
  return 0;
}
