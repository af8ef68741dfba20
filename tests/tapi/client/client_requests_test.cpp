// libtapi32's requests: no service, the checks made before asking, what the
// service receives and what the application gets back, A conversion.
#include <gtest/gtest.h>

#include <string>

#include "platform/debug_output.h"
#include "tests/tapi/client/fake_tapisrv.h"

namespace tktest {
namespace {

using tapiwire::Function;
using tapiwire::Writer;

TEST(ClientNoService, InitializeAndProviderListSayNoDriverAndTellWhy) {
  std::string debug;
  platform::setDebugOutputSink([&](std::string_view text) { debug += text; });
  HLINEAPP app = 0;
  DWORD devs = 0, version = TAPI_VERSION2_0;
  LINEINITIALIZEEXPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
  EXPECT_EQ(lineInitializeExA(&app, nullptr, nullptr, "t", &devs, &version, &params), LINEERR_NODRIVER);
  LINEPROVIDERLIST list{};
  list.dwTotalSize = sizeof list;
  EXPECT_EQ(lineGetProviderListW(TAPI_VERSION2_0, &list), LINEERR_NODRIVER);
  platform::setDebugOutputSink({});
  EXPECT_NE(debug.find("TAPI32: the telephony service is not running for " + platform::rootDir() +
                       ": start tapisrv"), std::string::npos) << debug;
}

using ClientLocalChecks = ClientTest;

TEST_F(ClientLocalChecks, RefusedWithoutAskingTheService) {
  const HLINEAPP app = initEvent();
  LINEINITIALIZEEXPARAMS small{};
  small.dwTotalSize = sizeof small - 1;
  LINEINITIALIZEEXPARAMS port{};
  port.dwTotalSize = sizeof port;
  port.dwOptions = LINEINITIALIZEEXOPTION_USECOMPLETIONPORT;
  LINEDEVCAPS caps{};
  caps.dwTotalSize = sizeof caps - 1;
  LINECALLINFO info{};
  info.dwTotalSize = 16;
  LINEPROVIDERLIST list{};
  list.dwTotalSize = 8;
  VARSTRING var{};
  var.dwTotalSize = sizeof var;
  HLINEAPP h = 0;
  HLINE line = 0;
  DWORD d = 0, version = TAPI_VERSION2_0;
  LINEEXTENSIONID ext{};
  LINEMESSAGE message{};
  char data[4] = {};
  struct Row {
    const char* what;
    std::function<LONG()> call;
    LONG expected;
  };
  const Row rows[] = {
      {"initialize: no place for the handle", [&] { return lineInitializeExW(nullptr, nullptr, nullptr, u"", &d, &version, nullptr); }, LINEERR_INVALPOINTER},
      {"initialize: params too small", [&] { return lineInitializeExW(&h, nullptr, nullptr, u"", &d, &version, &small); }, LINEERR_STRUCTURETOOSMALL},
      {"initialize: completion port", [&] { return lineInitializeExW(&h, nullptr, nullptr, u"", &d, &version, &port); }, LINEERR_INVALPARAM},
      {"initialize: hidden window without callback", [&] { return lineInitializeExA(&h, nullptr, nullptr, "", &d, &version, nullptr); }, LINEERR_INVALPOINTER},
      {"negotiate: no place for the version", [&] { return lineNegotiateAPIVersion(app, 0, 0x10004, 0x20000, nullptr, &ext); }, LINEERR_INVALPOINTER},
      {"negotiate: unknown application", [&] { return lineNegotiateAPIVersion(app + 99, 0, 0x10004, 0x20000, &d, &ext); }, LINEERR_INVALAPPHANDLE},
      {"devcaps: null", [&] { return lineGetDevCapsW(app, 0, 0x20000, 0, nullptr); }, LINEERR_INVALPOINTER},
      {"devcaps: too small", [&] { return lineGetDevCapsA(app, 0, 0x20000, 0, &caps); }, LINEERR_STRUCTURETOOSMALL},
      {"devcaps: unknown application", [&] { caps.dwTotalSize = sizeof caps; return lineGetDevCapsW(app + 99, 0, 0x20000, 0, &caps); }, LINEERR_INVALAPPHANDLE},
      {"open: no place for the line", [&] { return lineOpenW(app, 0, nullptr, 0x20000, 0, 0, LINECALLPRIVILEGE_NONE, 0, nullptr); }, LINEERR_INVALPOINTER},
      {"open: unknown application", [&] { return lineOpenA(app + 99, 0, &line, 0x20000, 0, 0, LINECALLPRIVILEGE_NONE, 0, nullptr); }, LINEERR_INVALAPPHANDLE},
      {"makecall: no place for the call", [&] { return lineMakeCallW(1, nullptr, u"20", 0, nullptr); }, LINEERR_INVALPOINTER},
      {"dial: no address", [&] { return lineDialA(1, nullptr, 0); }, LINEERR_INVALPOINTER},
      {"callinfo: too small", [&] { return lineGetCallInfoW(1, &info); }, LINEERR_STRUCTURETOOSMALL},
      {"callstatus: null", [&] { return lineGetCallStatus(1, nullptr); }, LINEERR_INVALPOINTER},
      {"getid: no device class", [&] { return lineGetIDW(1, 0, 0, LINECALLSELECT_LINE, &var, nullptr); }, LINEERR_INVALPOINTER},
      {"park non-directed: no VARSTRING", [&] { return lineParkW(1, LINEPARKMODE_NONDIRECTED, nullptr, nullptr); }, LINEERR_INVALPOINTER},
      {"unpark: no place for the call", [&] { return lineUnparkA(1, 0, nullptr, "7"); }, LINEERR_INVALPOINTER},
      {"conference: no place for the call", [&] { return lineCompleteTransfer(1, 2, nullptr, LINETRANSFERMODE_CONFERENCE); }, LINEERR_INVALPOINTER},
      {"call data: null with a size", [&] { return lineSetCallData(1, nullptr, 4); }, LINEERR_INVALPOINTER},
      {"dev-specific: null with a size", [&] { return lineDevSpecific(1, 0, 0, nullptr, sizeof data); }, LINEERR_INVALPOINTER},
      {"forward: no place for the call", [&] { return lineForwardW(1, 1, 0, nullptr, 0, nullptr, nullptr); }, LINEERR_INVALPOINTER},
      {"provider list: too small", [&] { return lineGetProviderListA(0x20000, &list); }, LINEERR_STRUCTURETOOSMALL},
      {"get message: unknown application", [&] { return lineGetMessage(app + 99, &message, 0); }, LINEERR_INVALAPPHANDLE},
      {"shutdown: unknown application", [&] { return lineShutdown(app + 99); }, LINEERR_INVALAPPHANDLE},
  };
  const size_t before = service.requestCount();
  for (const Row& row : rows) EXPECT_EQ(row.call(), row.expected) << row.what;
  EXPECT_EQ(service.requestCount(), before);
  EXPECT_EQ(list.dwNeededSize, sizeof(LINEPROVIDERLIST));  // said where there is room for it
}

using ClientMarshalling = ClientTest;

// Each row: what the application calls, what the service must receive, the
// reply's out values, and what the application must see.
TEST_F(ClientMarshalling, RequestsAndReplies) {
  const HLINEAPP app = initEvent();
  LINEDEVCAPS caps{};
  caps.dwTotalSize = sizeof caps;
  LINEDEVCAPS capsSent{};
  capsSent.dwNeededSize = 600;
  capsSent.dwUsedSize = sizeof caps;
  capsSent.dwNumAddresses = 3;
  capsSent.dwTotalSize = sizeof caps;
  HLINE line = 0;
  HCALL call = 0, consult = 0;
  DWORD version = 0;
  LINEEXTENSIONID ext{};
  // "K\xF6" as ANSI call params' displayable address; the service gets UTF-16.
  std::vector<uint8_t> ansiParams(sizeof(LINECALLPARAMS) + 3), wideParams(sizeof(LINECALLPARAMS) + 6);
  auto* a = reinterpret_cast<LINECALLPARAMS*>(ansiParams.data());
  a->dwTotalSize = static_cast<DWORD>(ansiParams.size());
  a->dwDisplayableAddressSize = 3;
  a->dwDisplayableAddressOffset = sizeof(LINECALLPARAMS);
  std::memcpy(ansiParams.data() + sizeof(LINECALLPARAMS), "K\xF6", 3);
  std::memcpy(wideParams.data(), ansiParams.data(), sizeof(LINECALLPARAMS));
  reinterpret_cast<LINECALLPARAMS*>(wideParams.data())->dwTotalSize = static_cast<DWORD>(wideParams.size());
  reinterpret_cast<LINECALLPARAMS*>(wideParams.data())->dwDisplayableAddressSize = 6;
  std::memcpy(wideParams.data() + sizeof(LINECALLPARAMS), u"K\u00F6", 6);
  struct Row {
    const char* what;
    Function function;
    std::function<void(Writer&)> expectedArgs;
    LONG result;
    std::function<void(Writer&)> outValues;
    LONG appGets;
    std::function<LONG()> call;
    std::function<void()> check;
  };
  const Row rows[] = {
      {"devcaps: the service's structure, dwTotalSize kept", Function::GetDevCaps,
       [&](Writer& w) { w.u32(app).u32(1).u32(0x20000).u32(0).u32(sizeof caps); }, 0,
       [&](Writer& w) { w.bytes(std::span<const uint8_t>(reinterpret_cast<uint8_t*>(&capsSent), sizeof capsSent)); }, 0,
       [&] { return lineGetDevCapsW(app, 1, 0x20000, 0, &caps); },
       [&] { EXPECT_EQ(caps.dwNeededSize, 600u); EXPECT_EQ(caps.dwNumAddresses, 3u); EXPECT_EQ(caps.dwTotalSize, sizeof caps); }},
      {"negotiate", Function::NegotiateApiVersion,
       [&](Writer& w) { w.u32(app).u32(1).u32(0x10004).u32(0x20002); }, 0,
       [&](Writer& w) { const uint8_t id[16] = {1, 2}; w.u32(0x20000).bytes(std::span<const uint8_t>(id)); }, 0,
       [&] { return lineNegotiateAPIVersion(app, 1, 0x10004, 0x20002, &version, &ext); },
       [&] { EXPECT_EQ(version, 0x20000u); EXPECT_EQ(ext.dwExtensionID0, 0x0201u); }},
      {"open", Function::Open,
       [&](Writer& w) { w.u32(app).u32(1).u32(0x20000).u32(0).u64(0x55).u32(LINECALLPRIVILEGE_OWNER).u32(LINEMEDIAMODE_INTERACTIVEVOICE).bytes(std::nullopt); },
       0, [&](Writer& w) { w.u32(0x10002); }, 0,
       [&] { return lineOpenW(app, 1, &line, 0x20000, 0, 0x55, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE, nullptr); },
       [&] { EXPECT_EQ(line, 0x10002u); }},
      {"make call: request ID and call handle", Function::MakeCall,
       [&](Writer& w) { w.u32(0x10002).text(u"21").u32(0).bytes(std::nullopt); }, 5,
       [&](Writer& w) { w.u32(0x10003); }, 5,
       [&] { return lineMakeCallA(line, &call, "21", 0, nullptr); }, [&] { EXPECT_EQ(call, 0x10003u); }},
      {"setup transfer: ANSI call params widened", Function::SetupTransfer,
       [&](Writer& w) { w.u32(0x10003).bytes(std::span<const uint8_t>(wideParams)); }, 6,
       [&](Writer& w) { w.u32(0x10004); }, 6,
       [&] { return lineSetupTransferA(call, &consult, a); }, [&] { EXPECT_EQ(consult, 0x10004u); }},
      {"drop: an error has no out values", Function::Drop, [&](Writer& w) { w.u32(0x10004).bytes(std::nullopt); },
       LINEERR_INVALCALLSTATE, {}, LINEERR_INVALCALLSTATE, [&] { return lineDrop(consult, nullptr, 0); }, [] {}},
      {"malformed out values fail", Function::Close, [&](Writer& w) { w.u32(0x10002); }, 0,
       [&](Writer& w) { w.u32(1); }, LINEERR_OPERATIONFAILED, [&] { return lineClose(line); }, [] {}},
  };
  for (const Row& row : rows) {
    service.on(row.function, [&](uint32_t seq, tapiwire::Reader&) {
      return std::vector<Bytes>{FakeTapiSrv::reply(seq, row.result, row.result < 0 ? nullptr : row.outValues)};
    });
    EXPECT_EQ(row.call(), row.appGets) << row.what;
    EXPECT_EQ(service.lastBody(row.function), FakeTapiSrv::body(row.function, row.expectedArgs)) << row.what;
    row.check();
  }
}

TEST_F(ClientMarshalling, AnsiFunctionsConvertTheStringsOfOutStructures) {
  const HLINEAPP app = initEvent();
  LINEDEVCAPS fixedCaps{};
  fixedCaps.dwStringFormat = STRINGFORMAT_UNICODE;
  const Bytes caps = structureWith(fixedCaps, 400, {{offsetof(LINEDEVCAPS, dwLineNameSize), u"Linie \u00E9"}});
  LINECALLINFO fixedInfo{};
  fixedInfo.dwCallerIDFlags = 1;
  const Bytes info = structureWith(fixedInfo, 500, {{offsetof(LINECALLINFO, dwCallerIDSize), u"0301"},
                                                    {offsetof(LINECALLINFO, dwCallerIDNameSize), u"Zo\u00EB \u20AC"},
                                                    {offsetof(LINECALLINFO, dwDisplaySize), u"\u00E9"}});
  service.on(Function::GetDevCaps, [&](uint32_t seq, tapiwire::Reader&) {
    return std::vector<Bytes>{FakeTapiSrv::reply(seq, 0, [&](Writer& w) { w.bytes(std::span<const uint8_t>(caps)); })};
  });
  service.on(Function::GetCallInfo, [&](uint32_t seq, tapiwire::Reader&) {
    return std::vector<Bytes>{FakeTapiSrv::reply(seq, 0, [&](Writer& w) { w.bytes(std::span<const uint8_t>(info)); })};
  });
  std::vector<uint8_t> buffer(500);
  auto* got = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
  got->dwTotalSize = 400;
  ASSERT_EQ(lineGetDevCapsA(app, 0, 0x20000, 0, got), 0);
  EXPECT_EQ(got->dwStringFormat, STRINGFORMAT_ASCII);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data()) + got->dwLineNameOffset, got->dwLineNameSize),
            std::string("Linie \xE9", 8));
  EXPECT_EQ(got->dwNeededSize, sizeof(LINEDEVCAPS) + 16);  // still what the UTF-16 form needs

  auto* call = reinterpret_cast<LINECALLINFO*>(buffer.data());
  call->dwTotalSize = 500;
  ASSERT_EQ(lineGetCallInfoA(0x10003, call), 0);
  const char* base = reinterpret_cast<char*>(buffer.data());
  EXPECT_EQ(std::string(base + call->dwCallerIDOffset, call->dwCallerIDSize), std::string("0301", 5));
  EXPECT_EQ(std::string(base + call->dwCallerIDNameOffset, call->dwCallerIDNameSize), std::string("Zo\xEB \x80", 6));
  EXPECT_EQ(call->dwDisplaySize, 4u);  // device-specific bytes stay as they are
}

}  // namespace
}  // namespace tktest
