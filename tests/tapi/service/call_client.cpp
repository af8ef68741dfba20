// A telephony application for the tests that kill clients of tapisrv: it
// initialises through libtapi32, opens line 0 as owner, leaves a call that
// is never answered outstanding (destination 777 of the fake call
// provider), and then makes and drops calls one after the other, always
// holding one call while the next is made, so that at any moment it has
// calls, requests and events in flight. It prints "ready" once its first
// call is up.
//
//   tapisrv_call_client ROUNDS   ends after ROUNDS calls (at most 10000) or
//                                30 s, whichever comes first; exit 0 when
//                                every call went as it should, 1 otherwise
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tapi/tapi32.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr DWORD kVersion = 0x20000;
constexpr int kWaitMs = 10000;

int Fail(const std::string& what, LONG rc) {
  std::fprintf(stderr, "tapisrv_call_client: %s failed with 0x%08X\n", what.c_str(), static_cast<unsigned>(rc));
  return 1;
}

// Waits for the LINE_REPLY of request and, when idleCall is given, for that
// call to go idle; false when the reply is an error or something does not come.
bool Await(HLINEAPP app, LONG request, HCALL idleCall = 0) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
  bool replied = false, idle = idleCall == 0;
  while ((!replied || !idle) && Clock::now() < deadline) {
    LINEMESSAGE m{};
    if (lineGetMessage(app, &m, kWaitMs) != 0) return false;
    if (m.dwMessageID == LINE_REPLY && m.dwParam1 == static_cast<DWORD_PTR>(request)) {
      if (m.dwParam2 != 0) return false;
      replied = true;
    }
    if (m.dwMessageID == LINE_CALLSTATE && m.hDevice == idleCall && m.dwParam1 == LINECALLSTATE_IDLE) idle = true;
  }
  return replied && idle;
}

}  // namespace

int main(int argc, char** argv) {
  const long rounds = argc == 2 ? std::strtol(argv[1], nullptr, 10) : 0;
  if (rounds < 1 || rounds > 10000) {
    std::fprintf(stderr, "usage: tapisrv_call_client ROUNDS (1..10000)\n");
    return 2;
  }
  const auto end = Clock::now() + std::chrono::seconds(30);
  LINEINITIALIZEEXPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
  HLINEAPP app = 0;
  DWORD devices = 0, version = kVersion;
  if (LONG rc = lineInitializeExW(&app, nullptr, nullptr, u"call client", &devices, &version, &params); rc != 0) {
    return Fail("lineInitializeExW", rc);
  }
  HLINE line = 0;
  if (LONG rc = lineOpenW(app, 0, &line, kVersion, 0, 0, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE,
                          nullptr);
      rc != 0) {
    return Fail("lineOpenW", rc);
  }
  HCALL unanswered = 0;
  if (LONG rc = lineMakeCallW(line, &unanswered, u"777", 0, nullptr); rc <= 0) return Fail("lineMakeCallW 777", rc);

  HCALL held = 0;
  for (long round = 0; round < rounds && Clock::now() < end; ++round) {
    HCALL call = 0;
    const LONG make = lineMakeCallW(line, &call, u"22", 0, nullptr);
    if (make <= 0) return Fail("lineMakeCallW", make);
    if (!Await(app, make)) return Fail("the LINE_REPLY of lineMakeCallW", make);
    if (held != 0) {
      const LONG drop = lineDrop(held, nullptr, 0);
      if (drop <= 0 || !Await(app, drop, held)) return Fail("lineDrop", drop);
      if (LONG rc = lineDeallocateCall(held); rc != 0) return Fail("lineDeallocateCall", rc);
    }
    held = call;
    if (round == 0) {
      std::printf("ready\n");
      std::fflush(stdout);
    }
  }
  if (LONG rc = lineShutdown(app); rc != 0) return Fail("lineShutdown", rc);
  return 0;
}
