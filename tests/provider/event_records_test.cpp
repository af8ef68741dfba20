// The TAPI trace's record of each line event the provider hands to TAPI.
#include "provider/event_records.h"

#include <gtest/gtest.h>

#include <string>

#include "tapi/tapi_constants.h"

namespace {

HTAPILINE Line(uintptr_t value) { return reinterpret_cast<HTAPILINE>(value); }
HTAPICALL Call(uintptr_t value) { return reinterpret_cast<HTAPICALL>(value); }

struct RecordCase {
  HTAPILINE htLine;
  HTAPICALL htCall;
  DWORD msg;
  DWORD_PTR param1, param2, param3;
  const char* record;
};

// A call state record around its state and second parameter, with no media mode.
std::string CallState(const char* state, const char* secondLine) {
  return std::string("LINE_CALLSTATE\n  (\n  htLine = 0x1\n  htCall = 0x2\n  dwLineCallState = ") + state + "\n  " +
         secondLine + "\n  dwMediaMode = <not used (zero)>\n  )";
}

TEST(LineEventRecord, EveryMessageInItsOwnShape) {
  const RecordCase cases[] = {
      // Call states: the state decides what the second parameter is.
      {Line(0x10), Call(0x20), LINE_CALLSTATE, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE,
       LINEMEDIAMODE_INTERACTIVEVOICE,
       "LINE_CALLSTATE\n  (\n  htLine = 0x10\n  htCall = 0x20\n  dwLineCallState = LINECALLSTATE_CONNECTED\n"
       "  dwConnectedMode = LINECONNECTEDMODE_ACTIVE\n  dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE\n  )"},
      // Several media modes: further names line up under the first.
      {Line(0x10), Call(0x20), LINE_CALLSTATE, LINECALLSTATE_CONNECTED, 0,
       LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_UNKNOWN,
       "LINE_CALLSTATE\n  (\n  htLine = 0x10\n  htCall = 0x20\n  dwLineCallState = LINECALLSTATE_CONNECTED\n"
       "  dwConnectedMode = <not used (zero)>\n  dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE\n"
       "              | LINEMEDIAMODE_UNKNOWN\n  )"},
      {Line(1), Call(2), LINE_CALLSTATE, LINECALLSTATE_CONFERENCED, 0x7ffd0040, LINEMEDIAMODE_INTERACTIVEVOICE,
       "LINE_CALLSTATE\n  (\n  htLine = 0x1\n  htCall = 0x2\n  dwLineCallState = LINECALLSTATE_CONFERENCED\n"
       "  htConfCall = 0x7ffd0040\n  dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE\n  )"},
      {Line(1), Call(2), LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BUSY,
       LINEMEDIAMODE_INTERACTIVEVOICE,
       "LINE_CALLSTATE\n  (\n  htLine = 0x1\n  htCall = 0x2\n  dwLineCallState = LINECALLSTATE_DISCONNECTED\n"
       "  dwDisconnectMode = LINEDISCONNECTMODE_BUSY\n  dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE\n  )"},
      // Line device states: ringing adds ring mode and count.
      {Line(0x30), nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 1, 3,
       "LINE_LINEDEVSTATE\n  (\n  htLine = 0x30\n  dwLineDevState = LINEDEVSTATE_RINGING\n"
       "  dwRingMode = 1\n  dwRingCount = 3\n  )"},
      {Line(0x30), nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_INSERVICE | LINEDEVSTATE_OPEN, 1, 3,
       "LINE_LINEDEVSTATE\n  (\n  htLine = 0x30\n  dwLineDevState = LINEDEVSTATE_OPEN\n"
       "                 | LINEDEVSTATE_INSERVICE\n  )"},
      // Address and call information: the address and the changed states.
      {Line(0x30), nullptr, LINE_ADDRESSSTATE, 2, LINEADDRESSSTATE_OTHER, 0,
       "LINE_ADDRESSSTATE\n  (\n  htLine = 0x30\n  dwAddressID = 2\n  dwAddressState = LINEADDRESSSTATE_OTHER\n  )"},
      {Line(0x30), Call(0x44), LINE_CALLINFO, LINECALLINFOSTATE_CALLERID | 0x80000000u, 0, 0,
       "LINE_CALLINFO\n  (\n  htLine = 0x30\n  htCall = 0x44\n  dwCallInfoState = LINECALLINFOSTATE_CALLERID\n"
       "                  | <unknown bits>\n  )"},
      // One-line records, and a simple one for the other messages.
      {Line(0xab12), nullptr, LINE_CLOSE, 0, 0, 0, "LINE_CLOSE( htLine = 0xab12 )"},
      {nullptr, nullptr, LINE_CREATE, 0x5f0, 17, 0, "LINE_CREATE( hProviderHandle = 0x5f0, dwTempDeviceID = 17 )"},
      {nullptr, nullptr, LINE_REMOVE, 4, 0, 0, "LINE_REMOVE( dwDeviceID = 4 )"},
      {Line(0x10), nullptr, LINE_NEWCALL, 0x2c, 0x7ffdeadbeef0, 0,
       "LINE_NEWCALL( htLine = 0x10, hdCall = 0x2c, htCall * = 0x00007FFDEADBEEF0 )"},
      {Line(1), Call(2), LINE_DEVSPECIFIC, 0x100, 0, 0xff,
       "LINE_DEVSPECIFIC( dwParam1 = 0x100, dwParam2 = 0x0, dwParam3 = 0xff )"},
      {Line(1), nullptr, PHONE_STATE, 1, 2, 3, "Unknown message from TSP to TAPI"},
  };
  for (const RecordCase& c : cases) {
    EXPECT_EQ(kvarsp::LineEventRecord(c.htLine, c.htCall, c.msg, c.param1, c.param2, c.param3), c.record);
  }
}

TEST(LineEventRecord, CallStatesWithoutMediaModeNameTheirSecondParameter) {
  struct Case {
    DWORD state, detail;
    const char* stateName;
    const char* second;
  };
  const Case cases[] = {
      {LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE, "LINECALLSTATE_OFFERING",
       "dwOfferingMode = LINEOFFERINGMODE_ACTIVE"},
      {LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL, "LINECALLSTATE_DIALTONE",
       "dwDialToneMode = LINEDIALTONEMODE_NORMAL"},
      {LINECALLSTATE_BUSY, LINEBUSYMODE_STATION, "LINECALLSTATE_BUSY", "dwBusyMode = LINEBUSYMODE_STATION"},
      {LINECALLSTATE_SPECIALINFO, LINESPECIALINFO_NOCIRCUIT, "LINECALLSTATE_SPECIALINFO",
       "dwSpecialInfo = LINESPECIALINFO_NOCIRCUIT"},
      {LINECALLSTATE_DIALING, 0x55, "LINECALLSTATE_DIALING", "dwParam2 = <not used>"},
      {LINECALLSTATE_IDLE, 0, "LINECALLSTATE_IDLE", "dwParam2 = <not used>"},
      // A state word with no single state in it.
      {0x31, 0, "<unknown>", "dwParam2 = <not used>"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kvarsp::LineEventRecord(Line(1), Call(2), LINE_CALLSTATE, c.state, c.detail, 0),
              CallState(c.stateName, c.second));
  }
}

}  // namespace
