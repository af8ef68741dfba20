// tkphone's names of TAPI values and its text and JSON lines.
#include <gtest/gtest.h>

#include "tapi/tapi_constants.h"
#include "tools/tkphone_format.h"
#include "tools/tkphone_names.h"

namespace {

using namespace tkphone;
using tapihost::HostEvent;

HostEvent LineEvent(DWORD msg, const char* name, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3) {
  HostEvent e;
  e.kind = HostEvent::Kind::LineEvent;
  e.msg = msg;
  e.name = name;
  e.param1 = p1;
  e.param2 = p2;
  e.param3 = p3;
  return e;
}

TEST(TkphoneNames, ValuesFlagsAndResults) {
  EXPECT_EQ(ValueText(TapiFamily::LineCallState, LINECALLSTATE_OFFERING), "OFFERING");
  EXPECT_EQ(ValueText(TapiFamily::LineCallState, 0x10000), "0x10000");
  EXPECT_EQ(FlagsText(TapiFamily::LineCallPartyId, LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME), "NAME|ADDRESS");
  EXPECT_EQ(FlagsText(TapiFamily::LineCallPartyId, LINECALLPARTYID_UNKNOWN | 0x80000000), "UNKNOWN|0x80000000");
  EXPECT_EQ(FlagsText(TapiFamily::LineDevState, 0), "0");
  EXPECT_EQ(CallStateModeText(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BUSY), "BUSY");
  EXPECT_EQ(CallStateModeText(LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE), "ACTIVE");
  EXPECT_EQ(CallStateModeText(LINECALLSTATE_CONNECTED, 0), "");
  EXPECT_EQ(CallStateModeText(LINECALLSTATE_CONFERENCED, 0x10020), "0x10020");
  EXPECT_EQ(ResultText(0), "OK");
  EXPECT_EQ(ResultText(LINEERR_INVALCALLSTATE), "LINEERR_INVALCALLSTATE");
  EXPECT_EQ(ResultText(static_cast<LONG>(0x80000031)), "0x80000031");  // a gap in the codes

  EXPECT_EQ(ParseName(TapiFamily::LineCallState, "offering"), LINECALLSTATE_OFFERING);
  EXPECT_EQ(ParseName(TapiFamily::LineCallState, "LineCallState_Idle"), LINECALLSTATE_IDLE);
  EXPECT_EQ(ParseName(TapiFamily::LineCallState, "LINECALLSTATE_"), std::nullopt);
  EXPECT_EQ(ParseName(TapiFamily::LineDevState, "OFFERING"), std::nullopt);
  EXPECT_EQ(ParseResult("invalcallhandle"), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(ParseResult("LINEERR_NOMEM"), LINEERR_NOMEM);
  EXPECT_EQ(ParseResult("LINEERR_"), std::nullopt);
  EXPECT_EQ(ParseResult("SUCCESS"), std::nullopt);  // the trace's name of 0, not tkphone's
}

TEST(TkphoneFormat, JsonStringsAreEscaped) {
  EXPECT_EQ(JsonString("plain"), "\"plain\"");
  EXPECT_EQ(JsonString("a\"b\\c\nd\te\r\x01\x7f"), "\"a\\\"b\\\\c\\nd\\te\\r\\u0001\\u007f\"");
  EXPECT_EQ(JsonString("M\xc3\xbcller"), "\"M\xc3\xbcller\"");  // UTF-8 passes as it is
  // C1 controls are escaped too; what is not UTF-8 becomes U+FFFD.
  EXPECT_EQ(JsonString("\xc2\x9b" "1m\xc2\xa0"), "\"\\u009b1m\xc2\xa0\"");
  EXPECT_EQ(JsonString("a\xff\xc3"), "\"a\xef\xbf\xbd\xef\xbf\xbd\"");
  EXPECT_EQ(JsonObject().Text(), "{}");
  EXPECT_EQ(JsonObject().Str("a", "x").Num("b", 5).Null("c").OptNum("d", 2u).OptNum("e", std::nullopt).Raw("f", "{}")
                .Text(),
            R"({"a":"x","b":5,"c":null,"d":2,"e":null,"f":{}})");
}

TEST(TkphoneFormat, CallStateAsTextAndJson) {
  HostEvent e = LineEvent(LINE_CALLSTATE, "LINE_CALLSTATE", LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BUSY,
                          LINEMEDIAMODE_INTERACTIVEVOICE);
  EventContext c{61250, 1u, 2u, "", std::nullopt, std::nullopt};
  EXPECT_EQ(EventText(e, c), "[  61.250] line 1 call 2 LINE_CALLSTATE DISCONNECTED (BUSY) media INTERACTIVEVOICE");
  EXPECT_EQ(EventJson(e, c),
            R"({"time_ms":61250,"event":"LINE_CALLSTATE","line":1,"call":2,"state":"DISCONNECTED","mode":"BUSY",)"
            R"("media":"INTERACTIVEVOICE","param1":16384,"param2":32,"param3":4})");
  // A conference member names its conference call by tkphone's number.
  e.param1 = LINECALLSTATE_CONFERENCED;
  e.param2 = 0x7c000030;
  c.conferenceCall = 3u;
  EXPECT_EQ(EventText(e, c),
            "[  61.250] line 1 call 2 LINE_CALLSTATE CONFERENCED (conference call 3) media INTERACTIVEVOICE");
  EXPECT_EQ(EventJson(e, c),
            R"({"time_ms":61250,"event":"LINE_CALLSTATE","line":1,"call":2,"state":"CONFERENCED","mode":"0x7c000030",)"
            R"("media":"INTERACTIVEVOICE","conference_call":3,"param1":2048,"param2":2080374832,"param3":4})");
}

TEST(TkphoneFormat, CompletionsNameTheirCommand) {
  HostEvent e;
  e.kind = HostEvent::Kind::Completion;
  e.name = "ASYNC_COMPLETION";
  e.requestId = 4;
  e.result = LINEERR_OPERATIONFAILED;
  EventContext c{5, 0u, 1u, "answer 1", std::nullopt, std::nullopt};
  EXPECT_EQ(EventText(e, c),
            "[   0.005] line 0 call 1 ASYNC_COMPLETION request 4 of \"answer 1\": LINEERR_OPERATIONFAILED");
  EXPECT_EQ(EventJson(e, c), R"({"time_ms":5,"event":"ASYNC_COMPLETION","line":0,"call":1,"request":4,)"
                             R"("command":"answer 1","result":"LINEERR_OPERATIONFAILED","param1":4,)"
                             R"("param2":2147483720,"param3":0})");
  // A park's completion tells where the call waits.
  e.result = 0;
  c.command = "park 1";
  c.parkAddress = "3";
  EXPECT_EQ(EventText(e, c),
            "[   0.005] line 0 call 1 ASYNC_COMPLETION request 4 of \"park 1\": OK park address \"3\"");
  EXPECT_EQ(EventJson(e, c), R"({"time_ms":5,"event":"ASYNC_COMPLETION","line":0,"call":1,"request":4,)"
                             R"("command":"park 1","result":"OK","park_address":"3",)"
                             R"("param1":4,"param2":0,"param3":0})");
}

TEST(TkphoneFormat, LineEventsWithoutACall) {
  EventContext c{0, 0u, std::nullopt, "", std::nullopt, std::nullopt};
  EXPECT_EQ(EventText(LineEvent(LINE_LINEDEVSTATE, "LINE_LINEDEVSTATE", LINEDEVSTATE_RINGING, 1, 3), c),
            "[   0.000] line 0 LINE_LINEDEVSTATE RINGING mode 1 count 3");
  EXPECT_EQ(EventText(LineEvent(LINE_LINEDEVSTATE, "LINE_LINEDEVSTATE", 0x88, 0, 0), c),
            "[   0.000] line 0 LINE_LINEDEVSTATE DISCONNECTED|OUTOFSERVICE");
  EXPECT_EQ(EventText(LineEvent(LINE_CLOSE, "LINE_CLOSE", 0, 0, 0), c), "[   0.000] line 0 LINE_CLOSE");
  EXPECT_EQ(EventText(LineEvent(LINE_ADDRESSSTATE, "LINE_ADDRESSSTATE", 1, LINEADDRESSSTATE_NUMCALLS, 0), c),
            "[   0.000] line 0 LINE_ADDRESSSTATE address 1 NUMCALLS");
  EXPECT_EQ(EventText(LineEvent(LINE_DEVSPECIFIC, "LINE_DEVSPECIFIC", 1, 2, 3), EventContext{}),
            "[   0.000] LINE_DEVSPECIFIC (0x1, 0x2, 0x3)");
  EXPECT_EQ(EventJson(LineEvent(LINE_CLOSE, "LINE_CLOSE", 0, 0, 0), EventContext{}),
            R"({"time_ms":0,"event":"LINE_CLOSE","line":null,"call":null,"param1":0,"param2":0,"param3":0})");
}

}  // namespace
