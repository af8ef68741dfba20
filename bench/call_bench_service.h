#pragma once
// The call benchmark's parts through the telephony service: applications
// use libtapi32, which talks to tapisrv, which drives the provider.
//
//   (d) ServiceLatency: this process opens line 0 and times lineMakeCallW to
//       its LINE_REPLY and to LINECALLSTATE_DIALTONE, call after call, and
//       the round trip of a synchronous request on each call.
//   (e) ServiceThroughput: four copies of this program (RunClient, started
//       with the hidden option --client) each drive their own lines with
//       complete calls as fast as they can, from a common start, and report
//       their calls and every request ID whose LINE_REPLY was missing or
//       came more than once; the parent adds their figures up.
//
// Everything is single-threaded on the caller's side: messages are fetched
// with lineGetMessage (LINEINITIALIZEEXOPTION_USEEVENT), every wait bounded.
// Each part builds its own BenchSystem (Path::Service) under a root of its
// own; failures throw BenchFailure after the clients have been ended.
#include <cstdint>
#include <string>
#include <vector>

namespace callbench {

// Set-up latencies in microseconds, one per call.
struct SetupLatency {
  std::vector<double> toCompletion;  // to the completion (LINE_REPLY through the service)
  std::vector<double> toDialtone;    // to LINECALLSTATE_DIALTONE
  std::vector<double> roundTrip;     // through the service only: lineGetCallStatus, a synchronous request
};

SetupLatency ServiceLatency(int calls);

// Returns the total calls per second.
double ServiceThroughput(int seconds, uint32_t linesPerClient);

// What went wrong in a part that still gave its figures (calls that failed
// or lost their call states at full load); main reports them at the end and
// exits 1.
extern std::vector<std::string> defects;

// The client process: `--client FIRST COUNT SECONDS` drives lines FIRST ..
// FIRST+COUNT-1 of the running service for SECONDS. Prints "ready" once its
// lines are open, waits for the parent's start, and ends with one "result"
// line. Returns the exit code.
int RunClient(int argc, char** argv);

}  // namespace callbench
