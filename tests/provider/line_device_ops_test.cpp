// The provider's line device operations against a configured line table and
// lines opened directly in the call model: the order of their checks, their
// error codes, what they fill in and what they store.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "provider/line_device_structs.h"
#include "provider/provider.h"
#include "tests/provider/started_provider.h"
#include "tests/support/registry_helpers.h"
#include "tests/support/trace_capture.h"
#include "tests/support/wait_until.h"

namespace {

using kvarsp::OpenLine;
using kvarsp::TspCall;

constexpr DWORD kBase = 100;  // device IDs 100 (line 10) and 101 (line 11)
constexpr DWORD kThreeMsns = 100, kNoMsn = 101, kNotInUse = 102;

std::mutex completionsMutex;
std::vector<std::pair<DRV_REQUESTID, LONG>> completions;

void OnCompletion(DRV_REQUESTID id, LONG result) {
  std::lock_guard lock(completionsMutex);
  completions.emplace_back(id, result);
}
void IgnoreEvent(HTAPILINE, HTAPICALL, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

// The link always succeeds; these operations never use it.
class LineDeviceOps : public kvarsp_test::StartedProvider {
 protected:
  LineDeviceOps() : StartedProvider(OnCompletion) {}
  void SetUp() override {
    {
      std::lock_guard lock(completionsMutex);
      completions.clear();
    }
    StartedProvider::SetUp();
    // Extension 10 ("20") with three subscriber numbers, extension 11 ("21")
    // with none, extension 12 not offered to TAPI; four numbers in all.
    kvarsp::ConfigTables& config = provider.state.config;
    config.Clear();
    config.AddLine({10, u"20", true});
    config.AddMsnIndex(0, 1);
    config.AddMsnIndex(0, 2);
    config.AddMsnIndex(0, 3);
    config.AddLine({11, u"21", true});
    config.AddLine({12, u"22", false});
    config.AddMsn(1, u"4711");
    config.AddMsn(2, u"4712");
    config.AddMsn(3, u"4713");
    config.AddMsn(4, u"4714");
    provider.state.devices.Build(kBase, 256, config);
  }
  HDRVLINE Open(DWORD deviceId, uintptr_t htLine, DWORD version = 0x20000) {
    return OpenInModel(deviceId, htLine, IgnoreEvent, version).hdLine();
  }
  OpenLine& Line(HDRVLINE hdLine) { return *provider.state.calls.FindLine(hdLine); }

  std::vector<std::pair<DRV_REQUESTID, LONG>> WaitForCompletions(size_t count) {
    EXPECT_TRUE(tktest::waitUntil([&] {
      std::lock_guard lock(completionsMutex);
      return completions.size() >= count;
    }));
    std::lock_guard lock(completionsMutex);
    return completions;
  }

  tktest::TraceCapture trace;
};

using kvarsp_test::Zeroed;

// --- Capabilities ---------------------------------------------------------------

TEST_F(LineDeviceOps, DevCapsChecksSizeThenDeviceThenVersionThenExtension) {
  Zeroed<LINEDEVCAPS> small(251);
  EXPECT_EQ(provider.lineOps.GetDevCaps(kNotInUse, 0x10002, 1, small.get()), LINEERR_OPERATIONFAILED);
  EXPECT_TRUE(trace.contains("TSPI_lineGetDevCaps() - LINEDEVCAPS structure too small"));

  Zeroed<LINEDEVCAPS> caps(1024);
  EXPECT_EQ(provider.lineOps.GetDevCaps(kNotInUse, 0x10002, 1, caps.get()), LINEERR_BADDEVICEID);
  EXPECT_EQ(provider.lineOps.GetDevCaps(kThreeMsns, 0x10002, 1, caps.get()), LINEERR_INCOMPATIBLEAPIVERSION);
  EXPECT_EQ(provider.lineOps.GetDevCaps(kThreeMsns, 0x20001, 0, caps.get()), LINEERR_INCOMPATIBLEAPIVERSION);
  EXPECT_EQ(provider.lineOps.GetDevCaps(kThreeMsns, 0x20000, 1, caps.get()), LINEERR_INCOMPATIBLEEXTVERSION);
  EXPECT_EQ(caps.get()->dwNeededSize, 0u);  // nothing filled by a refused request
  EXPECT_EQ(provider.lineOps.GetDevCaps(kThreeMsns, 0x10003, 0, caps.get()), 0);
  EXPECT_EQ(provider.lineOps.GetDevCaps(kThreeMsns, 0x20000, 0, nullptr), LINEERR_INVALPOINTER);
}

TEST_F(LineDeviceOps, DevCapsDescribeTheLineOfTheDevice) {
  Zeroed<LINEDEVCAPS> caps(1024);
  ASSERT_EQ(provider.lineOps.GetDevCaps(kThreeMsns, 0x20000, 0, caps.get()), 0);
  EXPECT_EQ(caps.get()->dwNumAddresses, 3u);
  EXPECT_EQ(caps.get()->dwPermanentLineID, 0x30000u);
  const std::u16string name = u"Marlix TK-Anlage NSt. 20";
  ASSERT_EQ(caps.get()->dwLineNameSize, (name.size() + 1) * 2);
  EXPECT_EQ(caps.Wide(caps.get()->dwLineNameOffset, caps.get()->dwLineNameSize), name + u'\0');

  Zeroed<LINEDEVCAPS> second(1024);
  ASSERT_EQ(provider.lineOps.GetDevCaps(kNoMsn, 0x20000, 0, second.get()), 0);
  EXPECT_EQ(second.get()->dwNumAddresses, 1u);
  EXPECT_EQ(second.get()->dwPermanentLineID, 0x30001u);
}

TEST_F(LineDeviceOps, DevCapsTakeTheConfiguredLineName) {
  ASSERT_TRUE(tktest::regSeed("[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\"
                              "Provider3]\n\"LineName\"=\"B\xc3\xbcro\"\n"));
  Zeroed<LINEDEVCAPS> caps(1024);
  ASSERT_EQ(provider.lineOps.GetDevCaps(kNoMsn, 0x20000, 0, caps.get()), 0);
  EXPECT_EQ(caps.Wide(caps.get()->dwLineNameOffset, caps.get()->dwLineNameSize),
            u"B\u00fcro NSt. 21" + std::u16string(1, u'\0'));
}

TEST_F(LineDeviceOps, AddressCapsCheckSizeThenVersionThenDeviceThenAddress) {
  Zeroed<LINEADDRESSCAPS> small(227);
  EXPECT_EQ(provider.lineOps.GetAddressCaps(kNotInUse, 9, 0x10002, 0, small.get()), LINEERR_OPERATIONFAILED);
  EXPECT_TRUE(trace.contains("TSPI_lineGetAddressCaps() - LINEADDRESSCAPS structure too small"));

  Zeroed<LINEADDRESSCAPS> caps(512);
  EXPECT_EQ(provider.lineOps.GetAddressCaps(kNotInUse, 9, 0x10002, 0, caps.get()), LINEERR_INCOMPATIBLEAPIVERSION);
  EXPECT_EQ(provider.lineOps.GetAddressCaps(kNotInUse, 9, 0x20000, 0, caps.get()), LINEERR_BADDEVICEID);
  EXPECT_EQ(provider.lineOps.GetAddressCaps(kThreeMsns, 3, 0x20000, 0, caps.get()), LINEERR_INVALADDRESSID);
  EXPECT_EQ(provider.lineOps.GetAddressCaps(kNoMsn, 1, 0x20000, 0, caps.get()), LINEERR_INVALADDRESSID);
}

TEST_F(LineDeviceOps, ThreeNumbersMakeThreeNamedAddresses) {
  const char16_t* names[] = {u"4711", u"4712", u"4713"};
  for (DWORD id = 0; id < 3; ++id) {
    Zeroed<LINEADDRESSCAPS> caps(512);
    ASSERT_EQ(provider.lineOps.GetAddressCaps(kThreeMsns, id, 0x20000, 0, caps.get()), 0) << id;
    EXPECT_EQ(caps.get()->dwLineDeviceID, kThreeMsns);
    EXPECT_EQ(caps.Wide(caps.get()->dwAddressOffset, caps.get()->dwAddressSize), names[id] + std::u16string(1, u'\0'));
  }
  // A line without numbers has one address named by the line's own number.
  Zeroed<LINEADDRESSCAPS> caps(512);
  ASSERT_EQ(provider.lineOps.GetAddressCaps(kNoMsn, 0, 0x20000, 0, caps.get()), 0);
  EXPECT_EQ(caps.Wide(caps.get()->dwAddressOffset, caps.get()->dwAddressSize), std::u16string(u"21") + u'\0');
}

TEST_F(LineDeviceOps, AddressCapsOfExactlyTheFixedSize) {
  Zeroed<LINEADDRESSCAPS> caps(228);
  ASSERT_EQ(provider.lineOps.GetAddressCaps(kThreeMsns, 0, 0x20000, 0, caps.get()), 0);
  EXPECT_EQ(caps.get()->dwUsedSize, 228u);
  EXPECT_EQ(caps.get()->dwAddressSize, 0u);
  EXPECT_EQ(caps.get()->dwNeededSize, 228u + 10 + 24);
}

// --- Addresses of an open line -----------------------------------------------------

TEST_F(LineDeviceOps, NumberOfAddressesIsTheLinesOwn) {
  HDRVLINE three = Open(kThreeMsns, 0x100);
  HDRVLINE one = Open(kNoMsn, 0x200);
  DWORD count = 0;
  EXPECT_EQ(provider.lineOps.GetNumAddressIDs(reinterpret_cast<HDRVLINE>(uintptr_t{0x999}), &count),
            LINEERR_INVALLINEHANDLE);
  ASSERT_EQ(provider.lineOps.GetNumAddressIDs(three, &count), 0);
  EXPECT_EQ(count, 3u);
  ASSERT_EQ(provider.lineOps.GetNumAddressIDs(one, &count), 0);
  EXPECT_EQ(count, 1u);
}

TEST_F(LineDeviceOps, AddressIdOfADialableAddress) {
  HDRVLINE line = Open(kThreeMsns, 0x100);
  const char16_t address[] = u"4712";
  DWORD id = 77;
  EXPECT_EQ(provider.lineOps.GetAddressID(reinterpret_cast<HDRVLINE>(uintptr_t{0x999}), &id, 1, address, 10),
            LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(provider.lineOps.GetAddressID(line, &id, LINEADDRESSMODE_ADDRESSID, address, 10), LINEERR_INVALADDRESSMODE);
  ASSERT_EQ(provider.lineOps.GetAddressID(line, &id, LINEADDRESSMODE_DIALABLEADDR, address, 10), 0);
  EXPECT_EQ(id, 1u);
  // Exact matches only: a prefix, a longer number or another line's number do not name an address.
  EXPECT_EQ(provider.lineOps.GetAddressID(line, &id, LINEADDRESSMODE_DIALABLEADDR, address, 6), LINEERR_INVALADDRESS);
  EXPECT_EQ(provider.lineOps.GetAddressID(line, &id, LINEADDRESSMODE_DIALABLEADDR, u"47120", 12), LINEERR_INVALADDRESS);
  EXPECT_EQ(provider.lineOps.GetAddressID(line, &id, LINEADDRESSMODE_DIALABLEADDR, u"4714", 10), LINEERR_INVALADDRESS);
  EXPECT_EQ(provider.lineOps.GetAddressID(line, &id, LINEADDRESSMODE_DIALABLEADDR, u"20", 6), LINEERR_INVALADDRESS);
  EXPECT_EQ(id, 1u);

  HDRVLINE own = Open(kNoMsn, 0x200);
  ASSERT_EQ(provider.lineOps.GetAddressID(own, &id, LINEADDRESSMODE_DIALABLEADDR, u"21", 6), 0);
  EXPECT_EQ(id, 0u);
}

TEST_F(LineDeviceOps, AddressStatusChecksAndCounts) {
  HDRVLINE hdLine = Open(kThreeMsns, 0x100);
  Zeroed<LINEADDRESSSTATUS> small(63);
  EXPECT_EQ(provider.lineOps.GetAddressStatus(reinterpret_cast<HDRVLINE>(uintptr_t{0x999}), 5, small.get()),
            LINEERR_OPERATIONFAILED);
  EXPECT_TRUE(trace.contains("TSPI_lineGetAddressStatus() - LINEADDRESSSTATUS structure too small"));
  Zeroed<LINEADDRESSSTATUS> status(256);
  EXPECT_EQ(provider.lineOps.GetAddressStatus(reinterpret_cast<HDRVLINE>(uintptr_t{0x999}), 5, status.get()),
            LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(provider.lineOps.GetAddressStatus(hdLine, 3, status.get()), LINEERR_INVALADDRESSID);

  Locked([&](kvarsp::CallModel& calls) {
    const TspCall* call =
        calls.CreateCall(Line(hdLine), reinterpret_cast<HTAPICALL>(uintptr_t{0xC1}), u"30", 0, LINECALLORIGIN_OUTBOUND);
    calls.SetAddressId(*call, 1, false);
    calls.SetCallState(*call, LINECALLSTATE_CONNECTED, 0);
  });
  ASSERT_EQ(provider.lineOps.GetAddressStatus(hdLine, 1, status.get()), 0);
  EXPECT_EQ(status.get()->dwNumActiveCalls, 1u);
  EXPECT_EQ(status.get()->dwNumInUse, 1u);
  EXPECT_EQ(status.get()->dwAddressFeatures, 0x1685u);  // no MAKECALL while a call is active
  ASSERT_EQ(provider.lineOps.GetAddressStatus(hdLine, 0, status.get()), 0);
  EXPECT_EQ(status.get()->dwNumActiveCalls, 0u);
  EXPECT_EQ(status.get()->dwNumInUse, 0u);
  EXPECT_EQ(status.get()->dwAddressFeatures, 0x1687u);
}

TEST_F(LineDeviceOps, AddressStatusReportsTheLinesForwarding) {
  HDRVLINE hdLine = Open(kThreeMsns, 0x100);
  Locked([&](auto& calls) { calls.SetLineForwarding(Line(hdLine), LINEFORWARDMODE_UNCOND, 49, u"0815"); });
  Zeroed<LINEADDRESSSTATUS> status(256);
  ASSERT_EQ(provider.lineOps.GetAddressStatus(hdLine, 2, status.get()), 0);
  EXPECT_EQ(status.get()->dwForwardNumEntries, 1u);
  EXPECT_EQ(status.get()->dwForwardOffset, 64u);
  EXPECT_EQ(status.get()->dwNeededSize, 64u + 24 + 10);
  LINEFORWARD entry;
  std::memcpy(&entry, status.bytes.data() + 64, sizeof entry);
  EXPECT_EQ(entry.dwForwardMode, LINEFORWARDMODE_UNCOND);
  EXPECT_EQ(entry.dwDestCountryCode, 49u);
  EXPECT_EQ(status.Wide(entry.dwDestAddressOffset, entry.dwDestAddressSize), std::u16string(u"0815") + u'\0');
}

// --- Line status --------------------------------------------------------------------

TEST_F(LineDeviceOps, LineDevStatusInAndOutOfService) {
  HDRVLINE v20 = Open(kThreeMsns, 0x100);
  HDRVLINE v14 = Open(kNoMsn, 0x200, 0x10004);
  Zeroed<LINEDEVSTATUS> small(87);
  EXPECT_EQ(provider.lineOps.GetLineDevStatus(v20, small.get()), LINEERR_OPERATIONFAILED);
  EXPECT_TRUE(trace.contains("TSPI_lineGetLineDevStatus() - LINEDEVSTATUS structure too small"));
  Zeroed<LINEDEVSTATUS> status(88);
  EXPECT_EQ(provider.lineOps.GetLineDevStatus(reinterpret_cast<HDRVLINE>(uintptr_t{0x999}), status.get()),
            LINEERR_INVALLINEHANDLE);

  ASSERT_EQ(provider.lineOps.GetLineDevStatus(v20, status.get()), 0);
  EXPECT_EQ(status.get()->dwDevStatusFlags, 0x5u);
  EXPECT_EQ(status.get()->dwLineFeatures, 0xCCu);
  ASSERT_EQ(provider.lineOps.GetLineDevStatus(v14, status.get()), 0);
  EXPECT_EQ(status.get()->dwLineFeatures, 0xCu);

  Line(v20).outOfService = true;
  Line(v14).outOfService = true;
  ASSERT_EQ(provider.lineOps.GetLineDevStatus(v20, status.get()), 0);
  EXPECT_EQ(status.get()->dwDevStatusFlags, 0u);
  EXPECT_EQ(status.get()->dwLineFeatures, 0xC0u);
  ASSERT_EQ(provider.lineOps.GetLineDevStatus(v14, status.get()), 0);
  EXPECT_EQ(status.get()->dwLineFeatures, 0u);
  Zeroed<LINEADDRESSSTATUS> address(64);
  ASSERT_EQ(provider.lineOps.GetAddressStatus(v20, 0, address.get()), 0);
  EXPECT_EQ(address.get()->dwAddressFeatures, 0u);
}

TEST_F(LineDeviceOps, SetLineDevStatusAcceptsOnlyWhatChangesNothing) {
  HDRVLINE line = Open(kThreeMsns, 0x100);
  HDRVLINE old = Open(kNoMsn, 0x200, 0x10004);
  const auto bad = reinterpret_cast<HDRVLINE>(uintptr_t{0x999});
  EXPECT_EQ(provider.lineOps.SetLineDevStatus(1, bad, LINEDEVSTATUSFLAGS_MSGWAIT, 0), LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(provider.lineOps.SetLineDevStatus(2, old, LINEDEVSTATUSFLAGS_MSGWAIT, 0), LINEERR_OPERATIONFAILED);

  // In service: switching on what is on, switching off what is never on.
  EXPECT_EQ(provider.lineOps.SetLineDevStatus(10, line, LINEDEVSTATUSFLAGS_MSGWAIT, 1), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(provider.lineOps.SetLineDevStatus(11, line, LINEDEVSTATUSFLAGS_LOCKED, 1), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(provider.lineOps.SetLineDevStatus(12, line, 0x5, 1), 12);
  EXPECT_EQ(provider.lineOps.SetLineDevStatus(13, line, LINEDEVSTATUSFLAGS_MSGWAIT, 0), 13);
  EXPECT_EQ(provider.lineOps.SetLineDevStatus(14, line, 0xA, 0), 14);
  EXPECT_EQ(provider.lineOps.SetLineDevStatus(15, line, LINEDEVSTATUSFLAGS_CONNECTED, 0), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(provider.lineOps.SetLineDevStatus(16, line, 0x10, 0), LINEERR_OPERATIONFAILED);

  // Out of service: everything is off already, nothing can be switched on.
  Line(line).outOfService = true;
  EXPECT_EQ(provider.lineOps.SetLineDevStatus(20, line, LINEDEVSTATUSFLAGS_CONNECTED, 1), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(provider.lineOps.SetLineDevStatus(21, line, 0x5, 0), 21);
  EXPECT_EQ(provider.lineOps.SetLineDevStatus(22, line, 0xF, 0), 22);
  EXPECT_EQ(provider.lineOps.SetLineDevStatus(23, line, 0x1F, 0), LINEERR_OPERATIONFAILED);

  // Every accepted request completes with 0, in order; refused ones not at all.
  auto seen = WaitForCompletions(5);
  std::vector<std::pair<DRV_REQUESTID, LONG>> expected = {{12, 0}, {13, 0}, {14, 0}, {21, 0}, {22, 0}};
  EXPECT_EQ(seen, expected);
}

// --- Settings -------------------------------------------------------------------------

TEST_F(LineDeviceOps, StatusMessagesBecomeTheLinesMasks) {
  HDRVLINE hdLine = Open(kThreeMsns, 0x100);
  EXPECT_EQ(provider.lineOps.SetStatusMessages(reinterpret_cast<HDRVLINE>(uintptr_t{0x999}), 0, 0),
            LINEERR_INVALLINEHANDLE);
  ASSERT_EQ(provider.lineOps.SetStatusMessages(hdLine, LINEDEVSTATE_RINGING, LINEADDRESSSTATE_FORWARD), 0);
  EXPECT_EQ(Line(hdLine).lineStateMask, LINEDEVSTATE_RINGING);
  EXPECT_EQ(Line(hdLine).addressStateMask, LINEADDRESSSTATE_FORWARD);
  ScopedLock lock(&provider.state.lock);
  EXPECT_FALSE(provider.state.calls.SendLineEvent(&Line(hdLine), nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_NUMCALLS));
  EXPECT_TRUE(provider.state.calls.SendLineEvent(&Line(hdLine), nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING));
}

TEST_F(LineDeviceOps, DefaultMediaDetectionIsVoiceOnly) {
  HDRVLINE hdLine = Open(kThreeMsns, 0x100);
  EXPECT_EQ(provider.lineOps.SetDefaultMediaDetection(reinterpret_cast<HDRVLINE>(uintptr_t{0x999}), 0x10),
            LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(provider.lineOps.SetDefaultMediaDetection(hdLine, LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_DATAMODEM),
            LINEERR_INVALMEDIAMODE);
  EXPECT_EQ(Line(hdLine).detectionMediaModes, LINEMEDIAMODE_INTERACTIVEVOICE);
  ASSERT_EQ(provider.lineOps.SetDefaultMediaDetection(hdLine, 0), 0);
  EXPECT_EQ(Line(hdLine).detectionMediaModes, 0u);
  ASSERT_EQ(provider.lineOps.SetDefaultMediaDetection(hdLine, LINEMEDIAMODE_INTERACTIVEVOICE), 0);
  EXPECT_EQ(Line(hdLine).detectionMediaModes, LINEMEDIAMODE_INTERACTIVEVOICE);
}

// Voice call parameters with an originating address behind the fixed part.
struct CallParams {
  explicit CallParams(std::u16string_view origin = u"") : bytes(sizeof(LINECALLPARAMS) + 64, 0) {
    LINECALLPARAMS& p = get();
    p.dwTotalSize = static_cast<DWORD>(bytes.size());
    p.dwBearerMode = LINEBEARERMODE_VOICE;
    p.dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    p.dwAddressMode = LINEADDRESSMODE_DIALABLEADDR;
    if (!origin.empty()) {
      std::u16string text(origin);
      text += u'\0';
      std::memcpy(bytes.data() + sizeof(LINECALLPARAMS), text.data(), text.size() * 2);
      p.dwOrigAddressSize = static_cast<DWORD>(text.size() * 2);
      p.dwOrigAddressOffset = sizeof(LINECALLPARAMS);
    }
  }
  LINECALLPARAMS& get() { return *reinterpret_cast<LINECALLPARAMS*>(bytes.data()); }
  std::vector<uint8_t> bytes;
};

TEST_F(LineDeviceOps, ConditionalMediaDetectionChecks) {
  HDRVLINE hdLine = Open(kThreeMsns, 0x100);
  const auto bad = reinterpret_cast<HDRVLINE>(uintptr_t{0x999});
  EXPECT_EQ(provider.lineOps.ConditionalMediaDetection(bad, 0x10, nullptr), LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(provider.lineOps.ConditionalMediaDetection(hdLine, 0x14, nullptr), LINEERR_INVALMEDIAMODE);
  EXPECT_EQ(provider.lineOps.ConditionalMediaDetection(hdLine, 4, nullptr), 0);

  CallParams data(u"4713");
  data.get().dwBearerMode = LINEBEARERMODE_DATA;
  data.get().dwMediaMode = 0x10;  // the bearer mode is checked first
  EXPECT_EQ(provider.lineOps.ConditionalMediaDetection(hdLine, 4, &data.get()), LINEERR_OPERATIONFAILED);

  CallParams media(u"4713");
  media.get().dwMediaMode = 0x14;
  media.get().dwCallParamFlags = 0x100;  // the media mode is checked before the flags
  EXPECT_EQ(provider.lineOps.ConditionalMediaDetection(hdLine, 4, &media.get()), LINEERR_INVALMEDIAMODE);

  CallParams flags(u"4713");
  flags.get().dwCallParamFlags = 0x100;
  EXPECT_EQ(provider.lineOps.ConditionalMediaDetection(hdLine, 4, &flags.get()), LINEERR_OPERATIONFAILED);
  flags.get().dwCallParamFlags = 0x9F;
  EXPECT_EQ(provider.lineOps.ConditionalMediaDetection(hdLine, 4, &flags.get()), 0);

  CallParams byId;
  byId.get().dwAddressMode = LINEADDRESSMODE_ADDRESSID;
  EXPECT_EQ(provider.lineOps.ConditionalMediaDetection(hdLine, 4, &byId.get()), 0);

  CallParams mine(u"4712"), foreign(u"4714"), none;
  EXPECT_EQ(provider.lineOps.ConditionalMediaDetection(hdLine, 4, &mine.get()), 0);
  EXPECT_EQ(provider.lineOps.ConditionalMediaDetection(hdLine, 4, &foreign.get()), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(provider.lineOps.ConditionalMediaDetection(hdLine, 4, &none.get()), LINEERR_OPERATIONFAILED);

  // An originating address past dwTotalSize is not read.
  CallParams outside(u"4712");
  outside.get().dwTotalSize = sizeof(LINECALLPARAMS) + 4;
  EXPECT_EQ(provider.lineOps.ConditionalMediaDetection(hdLine, 4, &outside.get()), LINEERR_OPERATIONFAILED);
}

// --- Device ID and icon ---------------------------------------------------------------

TEST_F(LineDeviceOps, GetIdChecksWhatTheSelectionNames) {
  HDRVLINE hdLine = Open(kThreeMsns, 0x100);
  const auto bad = reinterpret_cast<HDRVLINE>(uintptr_t{0x999});
  const auto noCall = reinterpret_cast<HDRVCALL>(uintptr_t{0x777});
  Zeroed<VARSTRING> id(28);
  EXPECT_EQ(provider.lineOps.GetID(bad, 0, nullptr, LINECALLSELECT_LINE, id.get(), u"tapi/phone"),
            LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(provider.lineOps.GetID(bad, 0, nullptr, LINECALLSELECT_ADDRESS, id.get(), u"tapi/line"),
            LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(provider.lineOps.GetID(hdLine, 3, nullptr, LINECALLSELECT_ADDRESS, id.get(), u"x"), LINEERR_INVALADDRESSID);
  EXPECT_EQ(provider.lineOps.GetID(hdLine, 0, noCall, LINECALLSELECT_CALL, id.get(), u"x"), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(provider.lineOps.GetID(hdLine, 0, nullptr, LINECALLSELECT_DEVICEID, id.get(), u"tapi/line"),
            LINEERR_OPERATIONFAILED);
  EXPECT_EQ(provider.lineOps.GetID(hdLine, 0, nullptr, 0, id.get(), u"tapi/line"), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(id.get()->dwNeededSize, 0u);
}

TEST_F(LineDeviceOps, GetIdKnowsOnlyTheLineClassInItsExactSpelling) {
  HDRVLINE hdLine = Open(kThreeMsns, 0x100);
  for (const char16_t* deviceClass : {u"tapi/phone", u"wave/in", u"TAPI/LINE", u"Tapi/Line", u"tapi/line ", u""}) {
    Zeroed<VARSTRING> id(28);
    EXPECT_EQ(provider.lineOps.GetID(hdLine, 0, nullptr, LINECALLSELECT_LINE, id.get(), deviceClass), LINEERR_NODEVICE)
        << kvarsp::TraceText(deviceClass);
  }
  Zeroed<VARSTRING> id(28);
  EXPECT_EQ(provider.lineOps.GetID(hdLine, 0, nullptr, LINECALLSELECT_LINE, id.get(), nullptr), LINEERR_NODEVICE);
}

TEST_F(LineDeviceOps, GetIdReportsTheDeviceOfTheLine) {
  HDRVLINE first = Open(kThreeMsns, 0x100);
  HDRVLINE second = Open(kNoMsn, 0x200);
  Zeroed<VARSTRING> id(28);
  ASSERT_EQ(provider.lineOps.GetID(first, 0, nullptr, LINECALLSELECT_LINE, id.get(), u"tapi/line"), 0);
  EXPECT_EQ(id.get()->dwUsedSize, 28u);
  EXPECT_EQ(id.get()->dwStringFormat, STRINGFORMAT_BINARY);
  EXPECT_EQ(id.get()->dwStringOffset, 24u);
  DWORD device = 0;
  std::memcpy(&device, id.bytes.data() + 24, 4);
  EXPECT_EQ(device, kThreeMsns);

  Zeroed<VARSTRING> byAddress(28);
  ASSERT_EQ(provider.lineOps.GetID(first, 2, nullptr, LINECALLSELECT_ADDRESS, byAddress.get(), u"tapi/line"), 0);
  std::memcpy(&device, byAddress.bytes.data() + 24, 4);
  EXPECT_EQ(device, kThreeMsns);

  // A call reports the device of its own line.
  const HDRVCALL hdCall = Locked([&](auto& calls) {
    return calls.CreateCall(Line(second), reinterpret_cast<HTAPICALL>(uintptr_t{0xC2}), u"", 0, 0)->hdCall();
  });
  Zeroed<VARSTRING> byCall(28);
  ASSERT_EQ(provider.lineOps.GetID(nullptr, 0, hdCall, LINECALLSELECT_CALL, byCall.get(), u"tapi/line"), 0);
  std::memcpy(&device, byCall.bytes.data() + 24, 4);
  EXPECT_EQ(device, kNoMsn);
}

TEST_F(LineDeviceOps, GetIdIntoTwentySevenBytesOnlyTellsTheSize) {
  HDRVLINE hdLine = Open(kThreeMsns, 0x100);
  Zeroed<VARSTRING> id(27);
  ASSERT_EQ(provider.lineOps.GetID(hdLine, 0, nullptr, LINECALLSELECT_LINE, id.get(), u"tapi/line"), 0);
  EXPECT_EQ(id.get()->dwNeededSize, 28u);
  EXPECT_EQ(id.get()->dwUsedSize, 0u);
  EXPECT_EQ(id.get()->dwStringSize, 0u);
  EXPECT_EQ(id.get()->dwStringOffset, 0u);
}

TEST_F(LineDeviceOps, IconIsTapisDefault) {
  HICON icon = reinterpret_cast<HICON>(uintptr_t{0x1234});
  EXPECT_EQ(provider.lineOps.GetIcon(kNotInUse, &icon), LINEERR_BADDEVICEID);
  EXPECT_EQ(icon, reinterpret_cast<HICON>(uintptr_t{0x1234}));
  ASSERT_EQ(provider.lineOps.GetIcon(kNoMsn, &icon), 0);
  EXPECT_EQ(icon, nullptr);
}

}  // namespace
