#include "provider/event_records.h"

#include <gtest/gtest.h>

#include "tapi/tapi_constants.h"

namespace {

using kvarsp::LineEventRecord;

HTAPILINE Line(uintptr_t value) { return reinterpret_cast<HTAPILINE>(value); }
HTAPICALL Call(uintptr_t value) { return reinterpret_cast<HTAPICALL>(value); }

TEST(CallStateRecord, ConnectedWithItsModeAndTheMediaModes) {
  EXPECT_EQ(LineEventRecord(Line(0x10), Call(0x20), LINE_CALLSTATE, LINECALLSTATE_CONNECTED,
                            LINECONNECTEDMODE_ACTIVE, LINEMEDIAMODE_INTERACTIVEVOICE),
            "LINE_CALLSTATE\n"
            "  (\n"
            "  htLine = 0x10\n"
            "  htCall = 0x20\n"
            "  dwLineCallState = LINECALLSTATE_CONNECTED\n"
            "  dwConnectedMode = LINECONNECTEDMODE_ACTIVE\n"
            "  dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE\n"
            "  )");
  // Several media modes: further names line up under the first.
  EXPECT_EQ(LineEventRecord(Line(0x10), Call(0x20), LINE_CALLSTATE, LINECALLSTATE_CONNECTED, 0,
                            LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_UNKNOWN),
            "LINE_CALLSTATE\n"
            "  (\n"
            "  htLine = 0x10\n"
            "  htCall = 0x20\n"
            "  dwLineCallState = LINECALLSTATE_CONNECTED\n"
            "  dwConnectedMode = <not used (zero)>\n"
            "  dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE\n"
            "              | LINEMEDIAMODE_UNKNOWN\n"
            "  )");
}

TEST(CallStateRecord, TheStateDecidesWhatTheSecondParameterIs) {
  EXPECT_EQ(LineEventRecord(Line(1), Call(2), LINE_CALLSTATE, LINECALLSTATE_CONFERENCED, 0x7ffd0040,
                            LINEMEDIAMODE_INTERACTIVEVOICE),
            "LINE_CALLSTATE\n  (\n  htLine = 0x1\n  htCall = 0x2\n  dwLineCallState = LINECALLSTATE_CONFERENCED\n"
            "  htConfCall = 0x7ffd0040\n  dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE\n  )");
  EXPECT_EQ(LineEventRecord(Line(1), Call(2), LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BUSY,
                            LINEMEDIAMODE_INTERACTIVEVOICE),
            "LINE_CALLSTATE\n  (\n  htLine = 0x1\n  htCall = 0x2\n  dwLineCallState = LINECALLSTATE_DISCONNECTED\n"
            "  dwDisconnectMode = LINEDISCONNECTMODE_BUSY\n  dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE\n  )");

  struct Case {
    DWORD state, detail;
    const char* line;
  };
  for (const Case& c : {
           Case{LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE, "  dwOfferingMode = LINEOFFERINGMODE_ACTIVE\n"},
           Case{LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL, "  dwDialToneMode = LINEDIALTONEMODE_NORMAL\n"},
           Case{LINECALLSTATE_BUSY, LINEBUSYMODE_STATION, "  dwBusyMode = LINEBUSYMODE_STATION\n"},
           Case{LINECALLSTATE_SPECIALINFO, LINESPECIALINFO_NOCIRCUIT, "  dwSpecialInfo = LINESPECIALINFO_NOCIRCUIT\n"},
           Case{LINECALLSTATE_DIALING, 0x55, "  dwParam2 = <not used>\n"},
           Case{LINECALLSTATE_IDLE, 0, "  dwParam2 = <not used>\n"},
       }) {
    std::string record = LineEventRecord(Line(1), Call(2), LINE_CALLSTATE, c.state, c.detail, 0);
    EXPECT_NE(record.find(std::string("\n") + c.line + "  dwMediaMode = <not used (zero)>\n  )"), std::string::npos)
        << record;
  }
  // A state word with no single state in it.
  EXPECT_NE(LineEventRecord(Line(1), Call(2), LINE_CALLSTATE, 0x31, 0, 0).find("  dwLineCallState = <unknown>\n"),
            std::string::npos);
}

TEST(LineDevStateRecord, RingingAddsRingModeAndCount) {
  EXPECT_EQ(LineEventRecord(Line(0x30), nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 1, 3),
            "LINE_LINEDEVSTATE\n  (\n  htLine = 0x30\n  dwLineDevState = LINEDEVSTATE_RINGING\n"
            "  dwRingMode = 1\n  dwRingCount = 3\n  )");
  EXPECT_EQ(LineEventRecord(Line(0x30), nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_INSERVICE | LINEDEVSTATE_OPEN, 1, 3),
            "LINE_LINEDEVSTATE\n  (\n  htLine = 0x30\n  dwLineDevState = LINEDEVSTATE_OPEN\n"
            "                 | LINEDEVSTATE_INSERVICE\n  )");
}

TEST(AddressAndCallInfoRecords, ShowTheAddressAndTheChangedStates) {
  EXPECT_EQ(LineEventRecord(Line(0x30), nullptr, LINE_ADDRESSSTATE, 2, LINEADDRESSSTATE_OTHER, 0),
            "LINE_ADDRESSSTATE\n  (\n  htLine = 0x30\n  dwAddressID = 2\n  dwAddressState = LINEADDRESSSTATE_OTHER\n  )");
  EXPECT_EQ(LineEventRecord(Line(0x30), Call(0x44), LINE_CALLINFO, LINECALLINFOSTATE_CALLERID | 0x80000000u, 0, 0),
            "LINE_CALLINFO\n  (\n  htLine = 0x30\n  htCall = 0x44\n  dwCallInfoState = LINECALLINFOSTATE_CALLERID\n"
            "                  | <unknown bits>\n  )");
}

}  // namespace
