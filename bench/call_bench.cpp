// Benchmark of calls through the whole LAN stack: the telephony host drives
// KVARSP64, which reaches the simulated exchange (tksim) through vnlsock,
// VNL2D32, the link control process VNL2C64 and a loopback TCP connection.
//
//   (a) call set-up latency: TSPI_lineMakeCall to its completion and to
//       LINECALLSTATE_DIALTONE, median, p99 and p99.9, each beside the raw
//       loopback TCP round trip measured in the same run, with the ratio and
//       the targets (completion: median <= 5 x raw, p99 <= 20 x raw);
//   (d) the same through the telephony service (libtapi32 -> tapisrv ->
//       KVARSP64): lineMakeCallW to its LINE_REPLY and to DIALTONE, beside
//       the raw round trip and the figures of (a), with the ratio of the
//       medians against the target (the service's median within 1.25 x the
//       in-process one);
//   (b) sustained complete calls per second (make, connected, drop, idle),
//       with every completion checked to arrive exactly once (target: 1000
//       calls/s in every 10 s of the run). The completions are counted as the
//       run goes and the host's event log is trimmed behind every reader, so
//       a run of minutes neither grows in memory nor slows down;
//   (e) the same through the service from four client processes (copies of
//       this program, hidden option --client) at full load, each on lines of
//       its own, with every LINE_REPLY checked to arrive exactly once;
//   (c) CPU used by the host process (per thread too) and by VNL2C64 while
//       256 open lines stay idle, in nanoseconds from the processes' CPU
//       clocks, as milliseconds per hour (target <= 1 s per hour each);
//       once with keep-alive off and once with it on at its default period.
//
//   call_bench [--latency-calls N] [--seconds S] [--service-seconds S] [--client-lines N]
//              [--idle-seconds S] [--idle-lines N] [--skip-idle] [--skip-keepalive] [--skip-service]
//              [--summary FILE]
//
// Each part runs under a temporary root folder of its own, removed at the
// end, with its processes (tksim, VNL2C64, tapisrv, the clients). With
// --summary every figure with a target or baseline is also appended to FILE
// as one tab-separated line (bench/bench_summary.h) for `make bench`.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "bench/bench_summary.h"
#include "bench/call_bench_service.h"
#include "bench/call_bench_setup.h"
#include "platform/process.h"
#include "platform/process_query.h"
#include "tests/support/raw_tcp_ping_pong.h"
#include "tests/support/round_trips.h"

namespace {

using benchsummary::Text;
using benchsummary::Verdict;
using callbench::BenchSystem;
using callbench::Fail;
using callbench::SetupLatency;
using tapihost::HostEvent;
using BenchClock = std::chrono::steady_clock;

constexpr uint32_t kWaitMs = 10000;
constexpr char16_t kDestination[] = u"0301234567";
// Targets of the figures.
constexpr double kMedianTarget = 5;       // x the raw round trip
constexpr double kP99Target = 20;         // x the raw round trip
constexpr double kCallsTarget = 1000;     // calls per second in every slice of the run
constexpr int kSliceSeconds = 10;         // the slices of a calls-per-second run
constexpr double kIdleTargetMsPerHour = 1000;
constexpr int kMinRawRoundTrips = 10000;

std::string summaryFile;  // --summary

void Summarise(const benchsummary::Row& row) {
  if (!benchsummary::Append(summaryFile, row))
    callbench::defects.push_back("cannot append to the summary file " + summaryFile);
}

double MicrosSince(BenchClock::time_point start) {
  return std::chrono::duration<double, std::micro>(BenchClock::now() - start).count();
}

// The median, p99 and p99.9 of a series of microseconds.
struct Spread {
  double median = 0, p99 = 0, p999 = 0;
  size_t samples = 0;
};

Spread SpreadOf(std::vector<double> micros) {
  std::sort(micros.begin(), micros.end());
  Spread s;
  s.median = tktest::Percentile(micros, 0.5);
  s.p99 = tktest::Percentile(micros, 0.99);
  s.p999 = tktest::Percentile(micros, 0.999);
  s.samples = micros.size();
  return s;
}

void PrintSpread(const char* what, const Spread& s) {
  std::printf("  %-34s median %9.1f us   p99 %9.1f us   p99.9 %9.1f us   (%zu samples)\n", what, s.median, s.p99,
              s.p999, s.samples);
}

// One percentile of a figure beside the same percentile of the raw round
// trip; target 0 = none. Also into the summary, as "<figure> <which>".
void BesideRaw(const std::string& figure, const char* which, double value, double raw, double target) {
  const double ratio = value / raw;
  std::string text = Text("%s %.1f us = %.1f x raw %.1f us", which, value, ratio, raw);
  benchsummary::Row row;
  row.figure = figure + ", " + which;
  row.measured = Text("%.1f us", value);
  row.raw = Text("%.1f us", raw);
  row.ratio = Text("%.1f x", ratio);
  if (target > 0) {
    row.target = Text("<= %g x raw", target);
    row.met = Verdict(ratio <= target);
    text += " (target " + row.target + ": " + row.met + ")";
  }
  std::printf("      %s\n", text.c_str());
  Summarise(row);
}

// A latency figure with its spread, then each percentile beside the raw
// round trip's.
void Report(const std::string& figure, const Spread& s, const Spread& raw, double medianTarget = 0,
            double p99Target = 0) {
  PrintSpread(figure.c_str(), s);
  BesideRaw(figure, "median", s.median, raw.median, medianTarget);
  BesideRaw(figure, "p99", s.p99, raw.p99, p99Target);
  BesideRaw(figure, "p99.9", s.p999, raw.p999, 0);
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

// The set-up latencies of (a) and the raw round trips of the same run.
struct HostLatency {
  SetupLatency figures;
  Spread raw;
};

HostLatency Latency(int count) {
  std::printf("(a) call set-up latency, %d calls\n", count);
  // Enough raw round trips for a steady p99.9 however few calls are timed.
  std::vector<double> raw = tktest::RawTcpRoundTrips(std::max(count, kMinRawRoundTrips), 16);
  if (raw.empty()) Fail("raw loopback round trips failed");
  BenchSystem system(2);
  if (system.host().OpenLine(0) != 0) Fail("lineOpen failed");
  HostLatency result;
  std::vector<double>& toCompletion = result.figures.toCompletion;
  std::vector<double>& toDialtone = result.figures.toDialtone;
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
  result.raw = SpreadOf(raw);
  PrintSpread("raw loopback TCP round trip", result.raw);
  Report("(a) lineMakeCall -> completion", SpreadOf(toCompletion), result.raw, kMedianTarget, kP99Target);
  Report("(a) lineMakeCall -> DIALTONE", SpreadOf(toDialtone), result.raw);
  return result;
}

// The service's median beside the in-process one and the target ratio.
void Compare(const char* what, const std::vector<double>& host, const std::vector<double>& service) {
  constexpr double kTarget = 1.25;
  const double inProcess = SpreadOf(host).median, viaService = SpreadOf(service).median;
  const double ratio = viaService / inProcess;
  std::printf("  %-34s median in-process %9.1f us, service %9.1f us: ratio %.2f, target <= %.2f %s\n", what,
              inProcess, viaService, ratio, kTarget, Verdict(ratio <= kTarget));
  benchsummary::Row row;
  row.figure = std::string("(d) service ") + what + " median vs in-process";
  row.measured = Text("%.1f us", viaService);
  row.raw = Text("in-process %.1f us", inProcess);
  row.ratio = Text("%.2f x", ratio);
  row.target = Text("<= %.2f x in-process", kTarget);
  row.met = Verdict(ratio <= kTarget);
  Summarise(row);
}

void ServiceLatency(int count, const HostLatency& host) {
  std::printf("(d) call set-up latency through libtapi32 -> tapisrv, %d calls\n", count);
  const SetupLatency service = callbench::ServiceLatency(count);
  std::printf("  (raw loopback TCP round trip as in (a): median %.1f us, p99 %.1f us, p99.9 %.1f us)\n",
              host.raw.median, host.raw.p99, host.raw.p999);
  Report("(d) lineMakeCallW -> LINE_REPLY", SpreadOf(service.toCompletion), host.raw);
  Report("(d) lineMakeCallW -> DIALTONE", SpreadOf(service.toDialtone), host.raw);
  Report("(d) lineGetCallStatus round trip", SpreadOf(service.roundTrip), host.raw);
  std::printf("  beside (a):\n");
  Compare("completion", host.figures.toCompletion, service.toCompletion);
  Compare("DIALTONE", host.figures.toDialtone, service.toDialtone);
}

// Counts the completions of a calls-per-second run as they come, and frees
// the events of the host's log that every reader has passed.
class CompletionTally {
 public:
  explicit CompletionTally(BenchSystem& system) : system_(system) {}

  void Issued(DRV_REQUESTID id) { counts_.emplace(id, 0); }

  // Takes the events logged since the last look; then frees what the
  // bench's state cursor and the host's call bookkeeping have also passed.
  void Take(size_t stateCursor) {
    for (const HostEvent& e : system_.host().EventsSince(cursor_)) {
      if (e.kind != tapihost::CallbackRecord::Kind::Completion) continue;
      if (auto it = counts_.find(e.requestId); it != counts_.end()) ++it->second;
    }
    const size_t callsCursor = system_.calls().Refresh();
    system_.host().DiscardEventsBefore(std::min({cursor_, stateCursor, callsCursor}));
  }

  size_t requests() const { return counts_.size(); }
  size_t Wrong() const {
    size_t wrong = 0;
    for (const auto& [id, count] : counts_)
      if (count != 1) ++wrong;
    return wrong;
  }

 private:
  BenchSystem& system_;
  size_t cursor_ = 0;
  std::unordered_map<DRV_REQUESTID, int> counts_;  // completions per request issued
};

double Throughput(int seconds) {
  std::printf("(b) complete calls (make, connected, drop, idle) for %d s\n", seconds);
  BenchSystem system(2);
  if (system.host().OpenLine(0) != 0) Fail("lineOpen failed");
  CompletionTally tally(system);
  constexpr int kTakeEvery = 64;  // calls between two looks at the completions
  size_t cursor = 0;
  int calls = 0;
  const int sliceSeconds = std::min(seconds, kSliceSeconds);
  std::vector<int> perSlice((seconds + sliceSeconds - 1) / sliceSeconds, 0);
  const auto begin = BenchClock::now();
  const auto end = begin + std::chrono::seconds(seconds);
  while (BenchClock::now() < end) try {
    HTAPICALL call = nullptr;
    tapihost::AsyncCall make = system.calls().MakeCall(0, kDestination, u"", &call);
    tally.Issued(make.requestId);
    Complete(system.host(), make, "lineMakeCall");
    WaitState(system.host(), cursor, call, LINECALLSTATE_CONNECTED);
    tapihost::AsyncCall drop = system.calls().Drop(call);
    tally.Issued(drop.requestId);
    Complete(system.host(), drop, "lineDrop");
    WaitState(system.host(), cursor, call, LINECALLSTATE_IDLE);
    if (system.calls().CloseCall(call) != 0) Fail("lineCloseCall failed");
    const auto now = BenchClock::now();
    if (now < end) ++perSlice[std::chrono::duration_cast<std::chrono::seconds>(now - begin).count() / sliceSeconds];
    if (++calls % kTakeEvery == 0) tally.Take(cursor);
  } catch (const callbench::BenchFailure& failure) {
    Fail(std::string(failure.what()) + "\nthe exchange's calls: " + system.tksim().Command("calls"));
  }
  const double elapsed = std::chrono::duration<double>(BenchClock::now() - begin).count();
  // Let late duplicates arrive before counting.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  tally.Take(cursor);
  const size_t wrong = tally.Wrong();
  const double rate = calls / elapsed;
  std::printf("  %d calls in %.1f s: %.1f calls/s; %zu requests, %zu completed other than exactly once\n", calls,
              elapsed, rate, tally.requests(), wrong);
  double slowest = 0;
  std::string slices;
  for (size_t i = 0; i < perSlice.size(); ++i) {
    const int length = std::min(sliceSeconds, seconds - static_cast<int>(i) * sliceSeconds);  // the last may be short
    const double sliceRate = static_cast<double>(perSlice[i]) / length;
    slowest = i == 0 ? sliceRate : std::min(slowest, sliceRate);
    slices += Text(" %.0f", sliceRate);
  }
  std::printf("  calls/s in each %d s:%s; events kept in the host's log at the end: %zu of %zu\n", sliceSeconds,
              slices.c_str(), system.host().KeptEventCount(), cursor);
  const bool met = slowest >= kCallsTarget && wrong == 0;
  std::printf("  slowest %d s: %.1f calls/s, target >= %.0f calls/s sustained, every request completed exactly "
              "once: %s\n",
              sliceSeconds, slowest, kCallsTarget, Verdict(met));
  benchsummary::Row row;
  row.figure = Text("(b) calls/s over %d s, slowest %d s", seconds, sliceSeconds);
  row.measured = Text("%.1f calls/s (whole run %.1f)", slowest, rate);
  row.target = Text(">= %.0f calls/s, each completed once", kCallsTarget);
  row.met = Verdict(met);
  Summarise(row);
  row.figure = Text("(b) of %zu requests completed other than once", tally.requests());
  row.measured = std::to_string(wrong);
  row.target = "0";
  row.met = Verdict(wrong == 0);
  Summarise(row);
  if (wrong != 0) Fail("a completion was lost or repeated");
  return rate;
}

void ServiceThroughput(int seconds, uint32_t linesPerClient, double host) {
  std::printf("(e) complete calls (make, connected, drop, idle, deallocate) through libtapi32 -> tapisrv from 4 client "
              "processes, %u lines each, for %d s\n",
              linesPerClient, seconds);
  const double service = callbench::ServiceThroughput(seconds, linesPerClient);
  std::printf("  beside (b): in-process %.1f calls/s on one line; service %.1f calls/s on %u lines\n", host, service,
              4 * linesPerClient);
  benchsummary::Row row;
  row.figure = Text("(e) service calls/s over %d s, %u lines", seconds, 4 * linesPerClient);
  row.measured = Text("%.1f calls/s", service);
  row.raw = Text("in-process %.1f calls/s", host);
  row.ratio = Text("%.2f x", service / host);
  Summarise(row);
}

// CPU in milliseconds per hour from nanoseconds used over seconds.
double MsPerHour(uint64_t ns, double seconds) { return static_cast<double>(ns) / 1e6 * 3600.0 / seconds; }

void IdleLoad(uint32_t lines, int seconds, BenchSystem::KeepAlive keepAlive) {
  const bool on = keepAlive == BenchSystem::KeepAlive::On;
  const char* label = on ? "keep-alive on (default periods)" : "keep-alive off";
  std::printf("(c) CPU while %u open lines stay idle for %d s, %s\n", lines, seconds, label);
  BenchSystem system(lines, BenchSystem::Path::Host, keepAlive);
  const auto openStart = BenchClock::now();
  for (uint32_t device = 0; device < lines; ++device)
    if (system.host().OpenLine(device) != 0) Fail("lineOpen of line " + std::to_string(device) + " failed");
  std::printf("  opening %u lines took %.2f s\n", lines,
              std::chrono::duration<double>(BenchClock::now() - openStart).count());
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const uint32_t self = platform::currentProcessId();
  const uint32_t control = system.ControlProcessId();
  if (!control) Fail("no link control process");
  const std::vector<platform::ThreadCpuTime> threadsBefore = platform::threadCpuTimes(self);
  const std::optional<uint64_t> hostBefore = platform::processCpuTimeNs(self);
  const std::optional<uint64_t> controlBefore = platform::processCpuTimeNs(control);
  const auto measureStart = BenchClock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const std::optional<uint64_t> hostAfter = platform::processCpuTimeNs(self);
  const std::optional<uint64_t> controlAfter = platform::processCpuTimeNs(control);
  const double measured = std::chrono::duration<double>(BenchClock::now() - measureStart).count();
  const std::vector<platform::ThreadCpuTime> threadsAfter = platform::threadCpuTimes(self);
  if (!hostBefore || !hostAfter) Fail("cannot read the CPU time of this process");
  if (!controlBefore || !controlAfter) Fail("cannot read the CPU time of VNL2C64 (pid " + std::to_string(control) + ")");
  struct Figure {
    const char* who;
    const char* summaryName;
    uint64_t ns;
  };
  for (const Figure& f : {Figure{"host process (with the provider)", "host", *hostAfter - *hostBefore},
                          Figure{"VNL2C64", "VNL2C64", *controlAfter - *controlBefore}}) {
    const double perHour = MsPerHour(f.ns, measured);
    std::printf("  %-34s %10.3f ms CPU in %.1f s = %8.1f ms per hour, target <= %.0f ms per hour: %s\n", f.who,
                static_cast<double>(f.ns) / 1e6, measured, perHour, kIdleTargetMsPerHour,
                Verdict(perHour <= kIdleTargetMsPerHour));
    benchsummary::Row row;
    row.figure = Text("(c) idle CPU %s, %s", f.summaryName, on ? "keep-alive on" : "keep-alive off");
    row.measured = Text("%.1f ms/h", perHour);
    row.target = Text("<= %.0f ms/h", kIdleTargetMsPerHour);
    row.met = Verdict(perHour <= kIdleTargetMsPerHour);
    Summarise(row);
  }
  // The host's threads that ran through the whole measurement (threads
  // started or ended meanwhile are left out; the process figure has them).
  std::printf("  host threads (a window's receiver thread has the name of the thread that made it; the main\n"
              "  thread's figure includes reading these figures):\n");
  for (const platform::ThreadCpuTime& after : threadsAfter) {
    auto before = std::find_if(threadsBefore.begin(), threadsBefore.end(),
                               [&](const platform::ThreadCpuTime& t) { return t.threadId == after.threadId; });
    if (before == threadsBefore.end()) continue;
    const uint64_t ns = after.cpuNs - before->cpuNs;
    std::printf("    %-16s tid %-8u %10.3f ms = %8.1f ms per hour\n", after.name.c_str(), after.threadId,
                static_cast<double>(ns) / 1e6, MsPerHour(ns, measured));
  }
}

constexpr char kUsage[] =
    "usage: call_bench [--latency-calls N] [--seconds S] [--service-seconds S] [--client-lines N]\n"
    "                  [--idle-seconds S] [--idle-lines N] [--skip-idle] [--skip-keepalive] [--skip-service]\n"
    "                  [--summary FILE]\n"
    "Calls through the provider in this process and through the telephony service (tapisrv), each part\n"
    "against its own simulated exchange under a temporary root folder:\n"
    "  (a) set-up latency in this process, (d) the same through the service beside it,\n"
    "  (b) calls per second in this process, (e) calls per second through the service from 4 client\n"
    "  processes, (c) CPU while lines stay idle (keep-alive off, then on at its default periods).\n"
    "Every latency figure is shown beside the raw loopback TCP round trip of the same run, with the\n"
    "ratio and, where there is one, the target and whether it is met.\n"
    "  --latency-calls N    calls timed for the set-up latency (default 1000)\n"
    "  --seconds S          duration of the calls-per-second run in this process (b) (default 60)\n"
    "  --service-seconds S  duration of the calls-per-second run through the service (e) (default 10)\n"
    "  --client-lines N     lines each of the 4 client processes drives at once in (e) (default 1, at most 16)\n"
    "  --idle-seconds S     duration of each idle CPU measurement (default 40)\n"
    "  --idle-lines N       lines open during it (default 256, at most 256)\n"
    "  --skip-idle          leave the idle measurements (c) out\n"
    "  --skip-keepalive     leave the idle measurement with keep-alive on out\n"
    "  --skip-service       leave the parts through the service (d, e) out\n"
    "  --summary FILE       also append each figure with a baseline or target to FILE, one line each:\n"
    "                       figure, measured, raw baseline, ratio, target, met (tab-separated)\n"
    "  --help               this text\n"
    "Exit code 0 done (whether or not the targets are met), 1 a part failed (lost or doubled completions\n"
    "among them, or the summary file could not be written), 2 usage.\n";

int UsageError(const std::string& problem) {
  std::fprintf(stderr, "call_bench: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // Lines in order with the messages on standard error, also into a pipe.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc > 1 && std::string(argv[1]) == "--client") return callbench::RunClient(argc, argv);
  int latencyCalls = 1000, seconds = 60, serviceSeconds = 10, idleSeconds = 40;
  uint32_t idleLines = 256, clientLines = 1;
  bool skipIdle = false, skipKeepAlive = false, skipService = false;
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
    else if (arg == "--service-seconds") ok = number(serviceSeconds, 1, 3600);
    else if (arg == "--client-lines") ok = number(clientLines, 1, 16);
    else if (arg == "--idle-seconds") ok = number(idleSeconds, 1, 3600);
    else if (arg == "--idle-lines") ok = number(idleLines, 1, 256);
    else if (arg == "--skip-idle") skipIdle = true;
    else if (arg == "--skip-keepalive") skipKeepAlive = true;
    else if (arg == "--skip-service") skipService = true;
    else if (arg == "--summary") {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') return UsageError("--summary needs a file name");
      summaryFile = argv[++i];
    } else if (arg == "--help") return std::printf("%s", kUsage) < 0 ? 1 : 0;
    else return UsageError("unknown option " + arg);
    if (!ok) return UsageError(arg + " needs a whole number");
  }
  try {
    const HostLatency host = Latency(latencyCalls);
    if (!skipService) ServiceLatency(latencyCalls, host);
    const double hostRate = Throughput(seconds);
    if (!skipService) ServiceThroughput(serviceSeconds, clientLines, hostRate);
    if (!skipIdle) IdleLoad(idleLines, idleSeconds, BenchSystem::KeepAlive::Off);
    if (!skipIdle && !skipKeepAlive) IdleLoad(idleLines, idleSeconds, BenchSystem::KeepAlive::On);
  } catch (const callbench::BenchFailure& failure) {
    std::fprintf(stderr, "call_bench: %s\n", failure.what());
    return 1;
  }
  for (const std::string& defect : callbench::defects) std::fprintf(stderr, "call_bench: %s\n", defect.c_str());
  return callbench::defects.empty() ? 0 : 1;
}
