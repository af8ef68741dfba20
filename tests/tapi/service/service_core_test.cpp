// The service core in-process with the fake providers of tests/tapi: refused
// input, handles kept apart per client, privileges on shared lines, the
// deallocate and hand-over rules, device numbering across providers and the
// orderly stop.
#include <algorithm>
#include <cstring>

#include "tests/support/test_root.h"
#include "tests/tapi/service/service_core_fixture.h"

namespace {

using namespace tktest;
using ::testing::IsEmpty;

class ServiceCore : public ServiceCoreFixture {
 protected:
  // A client with the call provider's line open.
  struct Party {
    ClientId client = 0;
    HLINEAPP app = 0;
    HLINE line = 0;
  };
  Party Join(DWORD privileges, uint64_t callbackInstance = 0) {
    Party p;
    p.client = Connect();
    p.app = Init(p.client);
    p.line = Open(p.client, p.app, 0, privileges, callbackInstance);
    return p;
  }
  // The async request's ID, after its LINE_REPLY reported result.
  void ExpectReply(const Party& p, const Reply& r, LONG result = 0) {
    ASSERT_GT(r.result, 0);
    auto reply = WaitEvent(p.client, Msg(LINE_REPLY, static_cast<uint64_t>(r.result)));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->param2, static_cast<DWORD>(result));
    EXPECT_EQ(reply->hDevice, 0u);
  }
  // The party's handle of a call in state, and the announced privilege.
  std::optional<EventMessage> WaitState(const Party& p, DWORD state) {
    return WaitEvent(p.client, Msg(LINE_CALLSTATE, state));
  }
  // The fake call provider offers a call on its line.
  void Ring(const Party& p) {
    ExpectReply(p, Ask(p.client, Function::DevSpecific, {p.line, uint32_t{0}, uint32_t{0}, NullBytes{}}));
  }
  DWORD Status(const Party& p, HCALL call, DWORD* privilege = nullptr) {
    Reply r = Ask(p.client, Function::GetCallStatus, {call, uint32_t{sizeof(LINECALLSTATUS)}});
    if (r.result != 0) return 0;
    const std::optional<std::vector<uint8_t>> bytes = r.out->bytes();
    const auto& status = StructIn<LINECALLSTATUS>(*bytes);
    if (privilege) *privilege = status.dwCallPrivilege;
    return status.dwCallState;
  }
};

std::vector<uint8_t> CallParams(DWORD totalSizeDelta, DWORD origOffset, DWORD origSize) {
  std::vector<uint8_t> bytes(sizeof(LINECALLPARAMS) + 8, 0);
  LINECALLPARAMS params{};
  params.dwTotalSize = static_cast<DWORD>(bytes.size()) + totalSizeDelta;
  params.dwOrigAddressOffset = origOffset;
  params.dwOrigAddressSize = origSize;
  std::memcpy(bytes.data(), &params, sizeof params);
  return bytes;
}

TEST_F(ServiceCore, MalformedMessagesAreRefusedLoggedAndNeverReachTheProvider) {
  Start({"fakesp_calls.tsp"});
  const Party a = Join(LINECALLPRIVILEGE_OWNER);
  std::vector<uint8_t> badLength = RequestMessage(1, {});
  badLength[0] += 1;
  const uint32_t kMakeCall = static_cast<uint32_t>(Function::MakeCall);
  struct Row {
    const char* what;
    std::vector<uint8_t> message;
    std::optional<LONG> result;  // nullopt: the connection is closed
  };
  const std::vector<Row> rows = {
      {"a header cut short", {12, 0, 0, 0, 1}, std::nullopt},
      {"a length the message does not have", badLength, std::nullopt},
      {"an event instead of a request", tapiwire::Writer(tapiwire::Kind::Event, 3).u32(1).finish(),
       LINEERR_OPERATIONFAILED},
      {"no function", tapiwire::Writer(tapiwire::Kind::Request, 3).finish(), LINEERR_OPERATIONFAILED},
      {"an unknown function", RequestMessage(999, {}), LINEERR_OPERATIONFAILED},
      {"a value of the wrong kind", RequestMessage(1, {uint32_t{1}, uint32_t{0x20000}}), LINEERR_OPERATIONFAILED},
      {"values left over", RequestMessage(2, {a.app, uint32_t{0}}), LINEERR_OPERATIONFAILED},
      {"values missing", RequestMessage(4, {a.app}), LINEERR_OPERATIONFAILED},
      {"a structure above 1 MiB",
       RequestMessage(4, {a.app, uint32_t{0}, uint32_t{0x20000}, uint32_t{0}, uint32_t{(1u << 20) + 1}}),
       LINEERR_OPERATIONFAILED},
      {"LINECALLPARAMS claiming another size",
       RequestMessage(kMakeCall, {a.line, std::u16string(u"22"), uint32_t{0}, CallParams(4, 0, 0)}),
       LINEERR_OPERATIONFAILED},
      {"LINECALLPARAMS text past its end",
       RequestMessage(kMakeCall, {a.line, std::u16string(u"22"), uint32_t{0},
                                  CallParams(0, sizeof(LINECALLPARAMS) + 4, 8)}),
       LINEERR_OPERATIONFAILED},
      {"LINEDIALPARAMS of 12 bytes",
       RequestMessage(30, {uint32_t{0x10005}, uint32_t{1}, uint32_t{0}, uint32_t{0}, std::vector<uint8_t>(12)}),
       LINEERR_OPERATIONFAILED},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const ClientId client = row.result ? a.client : Connect();
    const size_t logged = logLines.size();
    const Reply reply = AskRaw(client, row.message);
    EXPECT_EQ(sink.disconnected.count(client), row.result ? 0u : 1u);
    if (row.result) {
      EXPECT_EQ(reply.result, *row.result);
    }
    ASSERT_GT(logLines.size(), logged);
    EXPECT_THAT(logLines.back(), ::testing::HasSubstr("client " + std::to_string(client) + " (pid "));
  }
  // None of the refused calls became a request: the first real one gets request ID 1.
  Reply made = Ask(a.client, Function::MakeCall, {a.line, std::u16string(u"22"), uint32_t{0}, NullBytes{}});
  EXPECT_EQ(made.result, 1);
  ExpectReply(a, made);
}

TEST_F(ServiceCore, AnotherClientsHandlesAreRefusedLikeUnknownOnes) {
  Start({"fakesp_calls.tsp"});
  const Party a = Join(LINECALLPRIVILEGE_OWNER), b = Join(LINECALLPRIVILEGE_MONITOR);
  Reply made = Ask(a.client, Function::MakeCall, {a.line, std::u16string(u"22"), uint32_t{0}, NullBytes{}});
  const HCALL call = made.out->u32();
  ExpectReply(a, made);
  // The provider reports DIALTONE after it completed the request.
  ASSERT_TRUE(WaitState(a, LINECALLSTATE_DIALTONE));
  constexpr uint32_t kUnknown = 0x7FFF0001;
  struct Row {
    Function function;
    std::function<std::vector<WireValue>(uint32_t)> values;  // with the handle to try
    uint32_t foreign;
    LONG error;
  };
  const std::vector<Row> rows = {
      {Function::Shutdown, [](uint32_t h) { return std::vector<WireValue>{h}; }, a.app, LINEERR_INVALAPPHANDLE},
      {Function::GetDevCaps,
       [](uint32_t h) { return std::vector<WireValue>{h, uint32_t{0}, uint32_t{0x20000}, uint32_t{0}, uint32_t{512}}; },
       a.app, LINEERR_INVALAPPHANDLE},
      {Function::Open,
       [](uint32_t h) {
         return std::vector<WireValue>{h, uint32_t{0}, uint32_t{0x20000}, uint32_t{0}, uint64_t{0},
                                       uint32_t{LINECALLPRIVILEGE_NONE}, uint32_t{0}, NullBytes{}};
       },
       a.app, LINEERR_INVALAPPHANDLE},
      {Function::Close, [](uint32_t h) { return std::vector<WireValue>{h}; }, a.line, LINEERR_INVALLINEHANDLE},
      {Function::MakeCall,
       [](uint32_t h) { return std::vector<WireValue>{h, std::u16string(u"22"), uint32_t{0}, NullBytes{}}; }, a.line,
       LINEERR_INVALLINEHANDLE},
      {Function::Drop, [](uint32_t h) { return std::vector<WireValue>{h, NullBytes{}}; }, call,
       LINEERR_INVALCALLHANDLE},
      {Function::GetCallStatus, [](uint32_t h) { return std::vector<WireValue>{h, uint32_t{512}}; }, call,
       LINEERR_INVALCALLHANDLE},
      {Function::DeallocateCall, [](uint32_t h) { return std::vector<WireValue>{h}; }, call,
       LINEERR_INVALCALLHANDLE},
      // A handle of the asking client of another kind.
      {Function::DeallocateCall, [](uint32_t h) { return std::vector<WireValue>{h}; }, b.line,
       LINEERR_INVALCALLHANDLE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(tapiwire::functionName(static_cast<uint32_t>(row.function)));
    EXPECT_EQ(Ask(b.client, row.function, row.values(row.foreign)).result, row.error);
    EXPECT_EQ(Ask(b.client, row.function, row.values(kUnknown)).result, row.error);
    EXPECT_TRUE(Logged("client " + std::to_string(b.client) + " (pid " + std::to_string(4000 + b.client) +
                       "): refused " + tapiwire::functionName(static_cast<uint32_t>(row.function))));
  }
  // The owner's call and line are untouched.
  EXPECT_EQ(Status(a, call), LINECALLSTATE_DIALTONE);
}

TEST_F(ServiceCore, VersionsAndPrivilegesAreCheckedOnEachFunction) {
  Start({"fakesp_calls.tsp"});
  const ClientId c = Connect();
  EXPECT_EQ(Ask(c, Function::Initialize, {std::u16string(u"old"), uint32_t{0x10003}}).result,
            LINEERR_INCOMPATIBLEAPIVERSION);
  Reply init = Ask(c, Function::Initialize, {NullText{}, uint32_t{0x30000}});
  ASSERT_EQ(init.result, 0);
  const HLINEAPP app = init.out->u32();
  EXPECT_EQ(init.out->u32(), 1u);        // devices
  EXPECT_EQ(init.out->u32(), 0x20000u);  // the service's highest version
  EXPECT_EQ(Ask(c, Function::Initialize, {NullText{}, uint32_t{0x20000}}).result, LINEERR_OPERATIONFAILED);

  struct Negotiation {
    uint32_t device, low, high;
    LONG result;
    uint32_t version;
  };
  for (const Negotiation& n : std::vector<Negotiation>{{0, 0x10004, 0x20000, 0, 0x20000},
                                                       {0, 0x10004, 0x10004, 0, 0x10004},
                                                       {0, 0x10000, 0x30000, 0, 0x20000},
                                                       {0, 0x20001, 0x30000, LINEERR_INCOMPATIBLEAPIVERSION, 0},
                                                       {0, 0x10000, 0x10003, LINEERR_INCOMPATIBLEAPIVERSION, 0},
                                                       {0, 0x20000, 0x10004, LINEERR_INCOMPATIBLEAPIVERSION, 0},
                                                       {1, 0x10004, 0x20000, LINEERR_BADDEVICEID, 0},
                                                       {0xFFFFFFFF, 0x10004, 0x20000, LINEERR_BADDEVICEID, 0}}) {
    SCOPED_TRACE(std::to_string(n.low) + ".." + std::to_string(n.high));
    Reply r = Ask(c, Function::NegotiateApiVersion, {app, n.device, n.low, n.high});
    EXPECT_EQ(r.result, n.result);
    if (r.result == 0) {
      EXPECT_EQ(r.out->u32(), n.version);
    }
  }

  struct Opening {
    uint32_t device;
    DWORD privileges, mediaModes;
    LONG result;
  };
  for (const Opening& o : std::vector<Opening>{
           {0, LINECALLPRIVILEGE_NONE, 0, 0},
           {0, LINECALLPRIVILEGE_MONITOR, 0, 0},
           {0, LINECALLPRIVILEGE_OWNER, kVoice, 0},
           {0, LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR, kVoice, 0},
           {0, LINECALLPRIVILEGE_OWNER, 0, LINEERR_INVALMEDIAMODE},
           {0, LINECALLPRIVILEGE_NONE | LINECALLPRIVILEGE_OWNER, kVoice, LINEERR_INVALPRIVSELECT},
           {0, 0, 0, LINEERR_INVALPRIVSELECT},
           {0, 0x40000000 /* an open option */ | LINECALLPRIVILEGE_OWNER, kVoice, LINEERR_INVALPRIVSELECT},
           {0xFFFFFFFF, LINECALLPRIVILEGE_OWNER, kVoice, LINEERR_BADDEVICEID}}) {
    SCOPED_TRACE(o.privileges);
    EXPECT_EQ(Ask(c, Function::Open,
                  {app, o.device, uint32_t{0x20000}, uint32_t{0}, uint64_t{0}, o.privileges, o.mediaModes, NullBytes{}})
                  .result,
              o.result);
  }
}

TEST_F(ServiceCore, OwnerAndMonitorsShareAnIncomingCallWithTheirPrivileges) {
  Start({"fakesp_calls.tsp"});
  const Party owner = Join(LINECALLPRIVILEGE_OWNER, 0x111), monitor = Join(LINECALLPRIVILEGE_MONITOR, 0x222),
              second = Join(LINECALLPRIVILEGE_OWNER);
  Ring(owner);
  auto offered = WaitState(owner, LINECALLSTATE_OFFERING);
  auto watched = WaitState(monitor, LINECALLSTATE_OFFERING);
  ASSERT_TRUE(offered && watched);
  EXPECT_EQ(offered->param3, LINECALLPRIVILEGE_OWNER);
  EXPECT_EQ(offered->callbackInstance, 0x111u);
  EXPECT_EQ(watched->param3, LINECALLPRIVILEGE_MONITOR);
  EXPECT_EQ(watched->callbackInstance, 0x222u);
  EXPECT_NE(offered->hDevice, watched->hDevice);

  Reply refused = Ask(monitor.client, Function::Accept, {watched->hDevice, NullBytes{}});
  EXPECT_EQ(refused.result, LINEERR_NOTOWNER);
  ExpectReply(owner, Ask(owner.client, Function::Accept, {offered->hDevice, NullBytes{}}));
  for (const Party& p : {owner, monitor}) {
    auto accepted = WaitState(p, LINECALLSTATE_ACCEPTED);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->param3, 0u);  // announced already
  }
  DWORD privilege = 0;
  EXPECT_EQ(Status(monitor, watched->hDevice, &privilege), LINECALLSTATE_ACCEPTED);
  EXPECT_EQ(privilege, LINECALLPRIVILEGE_MONITOR);
  Reply info = Ask(owner.client, Function::GetCallInfo, {offered->hDevice, uint32_t{1024}});
  ASSERT_EQ(info.result, 0);
  const std::vector<uint8_t> bytes = *info.out->bytes();
  EXPECT_EQ(bytes.size(), 1024u);
  const auto& callInfo = StructIn<LINECALLINFO>(bytes);
  EXPECT_EQ(callInfo.dwTotalSize, 1024u);
  EXPECT_EQ(callInfo.hLine, owner.line);
  EXPECT_EQ(callInfo.dwNumOwners, 1u);
  EXPECT_EQ(callInfo.dwNumMonitors, 1u);
  // The later owner got nothing of the call.
  for (const EventMessage& e : Events(second.client)) EXPECT_NE(e.messageId, LINE_CALLSTATE);
}

TEST_F(ServiceCore, MadeCallsAreSeenByMonitorsAndDeallocatedByTheRules) {
  Start({"fakesp_calls.tsp"});
  const Party owner = Join(LINECALLPRIVILEGE_OWNER), monitor = Join(LINECALLPRIVILEGE_MONITOR);
  Reply made = Ask(owner.client, Function::MakeCall, {owner.line, std::u16string(u"22"), uint32_t{0}, NullBytes{}});
  const HCALL call = made.out->u32();
  ExpectReply(owner, made);
  auto mine = WaitState(owner, LINECALLSTATE_DIALTONE);
  auto seen = WaitState(monitor, LINECALLSTATE_DIALTONE);
  ASSERT_TRUE(mine && seen);
  EXPECT_EQ(mine->hDevice, call);
  EXPECT_EQ(mine->param3, 0u);  // the reply gave the handle
  EXPECT_EQ(seen->param3, LINECALLPRIVILEGE_MONITOR);

  // The only owner of a live call cannot let go of it; a monitor can.
  EXPECT_EQ(Ask(owner.client, Function::DeallocateCall, {call}).result, LINEERR_INVALCALLSTATE);
  EXPECT_EQ(Ask(monitor.client, Function::DeallocateCall, {static_cast<uint32_t>(seen->hDevice)}).result, 0);
  EXPECT_EQ(Status(monitor, static_cast<HCALL>(seen->hDevice)), 0u);
  ExpectReply(owner, Ask(owner.client, Function::Drop, {call, NullBytes{}}));
  ASSERT_TRUE(WaitState(owner, LINECALLSTATE_IDLE));
  EXPECT_EQ(Ask(owner.client, Function::DeallocateCall, {call}).result, 0);
  EXPECT_EQ(Ask(owner.client, Function::DeallocateCall, {call}).result, LINEERR_INVALCALLHANDLE);

  // A call whose making fails takes its handle with it.
  Reply failed =
      Ask(owner.client, Function::MakeCall, {owner.line, std::u16string(u"666"), uint32_t{0}, NullBytes{}});
  const HCALL gone = failed.out->u32();
  ExpectReply(owner, failed, LINEERR_OPERATIONFAILED);
  EXPECT_EQ(Status(owner, gone), 0u);
}

TEST_F(ServiceCore, AClientThatGoesHandsItsCallOverOrItIsDropped) {
  Start({"fakesp_calls.tsp"});
  const Party first = Join(LINECALLPRIVILEGE_OWNER), heir = Join(LINECALLPRIVILEGE_OWNER),
              monitor = Join(LINECALLPRIVILEGE_MONITOR);
  Ring(first);
  ASSERT_TRUE(WaitState(monitor, LINECALLSTATE_OFFERING));
  for (const EventMessage& e : Events(heir.client)) EXPECT_NE(e.messageId, LINE_CALLSTATE);

  core.OnDisconnect(first.client);  // the process died
  auto handed = WaitState(heir, LINECALLSTATE_OFFERING);
  ASSERT_TRUE(handed);
  EXPECT_EQ(handed->param3, LINECALLPRIVILEGE_OWNER);
  EXPECT_EQ(Status(heir, static_cast<HCALL>(handed->hDevice)), LINECALLSTATE_OFFERING);

  // Nobody is left to own it: it is dropped.
  EXPECT_EQ(Ask(heir.client, Function::Shutdown, {heir.app}).result, 0);
  EXPECT_TRUE(WaitState(monitor, LINECALLSTATE_IDLE));
}

TEST_F(ServiceCore, AClientThatDiesMidCallLeavesNothingBehind) {
  Start({"fakesp_calls.tsp"});
  const Party dying = Join(LINECALLPRIVILEGE_OWNER), monitor = Join(LINECALLPRIVILEGE_MONITOR);
  Reply made = Ask(dying.client, Function::MakeCall, {dying.line, std::u16string(u"22"), uint32_t{0}, NullBytes{}});
  ExpectReply(dying, made);
  ASSERT_TRUE(WaitState(monitor, LINECALLSTATE_DIALTONE));
  // One request the provider completes only when the line closes.
  EXPECT_GT(Ask(dying.client, Function::MakeCall, {dying.line, std::u16string(u"777"), uint32_t{0}, NullBytes{}})
                .result,
            0);
  EXPECT_EQ(core.Count().pending, 1u);

  core.OnDisconnect(dying.client);  // killed
  const size_t sentToTheDead = sink.messages[dying.client].size();
  ASSERT_TRUE(WaitState(monitor, LINECALLSTATE_IDLE));  // nobody could take its call over
  EXPECT_EQ(core.Count().clients, 1u);
  EXPECT_EQ(core.Count().lineOpens, 1u);

  // The last open goes: the line closes, the provider fails the request.
  EXPECT_EQ(Ask(monitor.client, Function::Shutdown, {monitor.app}).result, 0);
  core.OnDisconnect(monitor.client);
  ASSERT_TRUE(WaitCore([&] { return core.Count() == tapisrv::ServiceCore::Census{}; }))
      << core.Count().calls << " calls, " << core.Count().callHandles << " handles, " << core.Count().pending
      << " pending";
  EXPECT_EQ(sink.messages[dying.client].size(), sentToTheDead);
  EXPECT_THAT(logLines, ::testing::Each(::testing::Not(::testing::HasSubstr("refused"))));
}

TEST_F(ServiceCore, DevicesAreNumberedAcrossProvidersAndLineCreateReachesEveryClient) {
  Start({"fakesp_calls.tsp", "fakesp_host.tsp"});
  EXPECT_EQ(core.LineCount(), 3u);
  const ClientId c = Connect();
  const HLINEAPP app = Init(c);
  auto created = WaitEvent(c, [](const EventMessage& e) { return e.messageId == LINE_CREATE; });
  ASSERT_TRUE(created);
  EXPECT_EQ(created->param1, 3u);
  EXPECT_EQ(core.LineCount(), 4u);
  for (uint32_t device : {1u, 3u}) {
    Reply caps = Ask(c, Function::GetDevCaps, {app, device, uint32_t{0x20000}, uint32_t{0}, uint32_t{1024}});
    ASSERT_EQ(caps.result, 0);
    const std::vector<uint8_t> bytes = *caps.out->bytes();
    const auto& devCaps = StructIn<LINEDEVCAPS>(bytes);
    const std::u16string name(reinterpret_cast<const char16_t*>(bytes.data() + devCaps.dwLineNameOffset));
    EXPECT_EQ(name, device == 1 ? u"Fake line 0" : u"Fake line 2");
  }
  // The provider reports its line open; status messages are off by default.
  const HLINE line = Open(c, app, 1, LINECALLPRIVILEGE_MONITOR);
  const Reply asked = Ask(c, Function::DevSpecific, {line, uint32_t{0}, uint32_t{0}, std::vector<uint8_t>{7, 8}});
  auto reply = WaitEvent(c, Msg(LINE_REPLY, static_cast<uint64_t>(asked.result)));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->attachment, (std::vector<uint8_t>{7, 8}));
  for (const EventMessage& e : Events(c)) EXPECT_NE(e.messageId, LINE_LINEDEVSTATE);

  Reply list = Ask(c, Function::GetProviderList, {uint32_t{0x20000}, uint32_t{1024}});
  ASSERT_EQ(list.result, 0);
  const std::vector<uint8_t> bytes = *list.out->bytes();
  const auto& providers = StructIn<LINEPROVIDERLIST>(bytes);
  ASSERT_EQ(providers.dwNumProviders, 2u);
  const auto* entries = reinterpret_cast<const LINEPROVIDERENTRY*>(bytes.data() + providers.dwProviderListOffset);
  EXPECT_EQ(entries[1].dwPermanentProviderID, 2u);
  const std::u16string file(reinterpret_cast<const char16_t*>(bytes.data() + entries[1].dwProviderFilenameOffset));
  EXPECT_THAT(std::string(file.begin(), file.end()), ::testing::EndsWith("/fakesp_host.tsp"));
  EXPECT_EQ(Ask(c, Function::GetProviderList, {uint32_t{0x20000}, uint32_t{12}}).result,
            LINEERR_STRUCTURETOOSMALL);
}

TEST_F(ServiceCore, AProviderThatCannotStartIsLoggedAndSkippedWhileTheOthersServe) {
  std::string error;
  ASSERT_NE(tapihost::AddProvider(tktest::currentRoot() + "/missing.tsp", &error), 0u) << error;
  ASSERT_NE(tapihost::AddProvider(std::string(TK_FAKE_PROVIDER_DIR) + "/fakesp_calls.tsp", &error), 0u) << error;
  EXPECT_EQ(core.StartProviders(), 1u);
  EXPECT_EQ(core.LineCount(), 1u);
  EXPECT_THAT(logLines, ::testing::Contains(::testing::AllOf(::testing::HasSubstr("missing.tsp"),
                                                             ::testing::HasSubstr("not started"))));
  const ClientId c = Connect();
  const HLINEAPP app = Init(c);
  EXPECT_NE(Open(c, app, 0, LINECALLPRIVILEGE_OWNER), 0u);
}

TEST_F(ServiceCore, AProvidersContractBreachIsLoggedAndTheServiceGoesOn) {
  Start({"fakesp_host.tsp"});
  violationsExpected = true;
  const ClientId c = Connect();
  const HLINE line = Open(c, Init(c), 0, LINECALLPRIVILEGE_MONITOR);
  // The fake provider completes this request twice.
  const Reply twice = Ask(c, Function::DevSpecificFeature, {line, uint32_t{1}, NullBytes{}});
  ASSERT_TRUE(WaitEvent(c, Msg(LINE_REPLY, static_cast<uint64_t>(twice.result))));
  const Reply once = Ask(c, Function::DevSpecific, {line, uint32_t{0}, uint32_t{0}, NullBytes{}});
  ASSERT_TRUE(WaitEvent(c, Msg(LINE_REPLY, static_cast<uint64_t>(once.result))));
  ASSERT_EQ(core.Violations().size(), 1u);
  EXPECT_THAT(core.Violations().front(), ::testing::StartsWith("provider 1: TSPI contract: "));
  EXPECT_TRUE(Logged(core.Violations().front()));
  const std::vector<EventMessage> events = Events(c);
  EXPECT_EQ(std::count_if(events.begin(), events.end(), [](const EventMessage& e) { return e.messageId == LINE_REPLY; }),
            2);
}

TEST_F(ServiceCore, StopDeliversOutstandingRepliesThenReinitAndDisconnects) {
  Start({"fakesp_calls.tsp"});
  const Party a = Join(LINECALLPRIVILEGE_OWNER, 0x5);
  Reply made = Ask(a.client, Function::MakeCall, {a.line, std::u16string(u"22"), uint32_t{0}, NullBytes{}});
  ASSERT_GT(made.result, 0);
  // The exchange never answers this one; closing the line fails it.
  Reply unanswered = Ask(a.client, Function::MakeCall, {a.line, std::u16string(u"777"), uint32_t{0}, NullBytes{}});
  ASSERT_GT(unanswered.result, 0);
  core.SetStopWaitMs(200);
  core.StopProviders();  // no provider event handled before
  std::vector<EventMessage> events = Events(a.client);
  std::erase_if(events, [](const EventMessage& e) { return e.messageId == LINE_CALLSTATE; });
  ASSERT_EQ(events.size(), 3u);
  EXPECT_TRUE(Msg(LINE_REPLY, static_cast<uint64_t>(made.result))(events[0]));
  EXPECT_EQ(events[0].param2, 0u);
  EXPECT_TRUE(Msg(LINE_LINEDEVSTATE, LINEDEVSTATE_REINIT)(events[1]));
  EXPECT_EQ(events[1].hDevice, a.line);
  EXPECT_EQ(events[1].callbackInstance, 0x5u);
  EXPECT_TRUE(Msg(LINE_REPLY, static_cast<uint64_t>(unanswered.result))(events[2]));
  EXPECT_EQ(events[2].param2, static_cast<DWORD>(LINEERR_OPERATIONFAILED));
  EXPECT_EQ(sink.disconnected.count(a.client), 1u);
  EXPECT_TRUE(Logged("stopped"));
}

}  // namespace
