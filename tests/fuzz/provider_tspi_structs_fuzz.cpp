// The provider's handling of the variable-size TAPI structures. Input
// structures (LINECALLPARAMS of lineMakeCall, lineSetupTransfer and
// lineConditionalMediaDetection, LINEFORWARDLIST of lineForward, and every
// structure the TAPI trace dumps) are taken from the input as they are, in a
// buffer of exactly the bytes given, with a dwTotalSize of at most that. The
// output structures (LINEDEVCAPS, LINEADDRESSCAPS, LINEADDRESSSTATUS,
// LINEDEVSTATUS, LINECALLINFO, LINECALLSTATUS, the VARSTRING of lineGetID)
// get a buffer of exactly the dwTotalSize the input names: AddressSanitizer
// catches any access outside it. A filled structure must use no more than it
// was given, name only parts inside what it used, and need no more than a
// second call with a buffer of dwNeededSize then uses.
//
// One provider serves every input: started once over a FakeLink (the link
// requests are only recorded), two lines opened in the call model (TSPI
// versions 2.0 and 1.3), two calls on the first. What an input adds (calls,
// party IDs) is removed again before it ends, so each input sees the same
// provider.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/fake_clock.h"
#include "platform/registry.h"
#include "provider/provider.h"
#include "provider/tapi_dump.h"
#include "tests/fuzz/fuzz_env.h"
#include "tests/provider/component/component_configuration.h"
#include "tests/provider/fake_link.h"

namespace {

constexpr DWORD kProviderId = 3;

constexpr DWORD kVersions[] = {0x10003, 0x10004, 0x20000};

[[noreturn]] void Fail(const char* what, DWORD a = 0, DWORD b = 0) {
  std::fprintf(stderr, "provider_tspi_structs_fuzz: %s (%u, %u)\n", what, static_cast<unsigned>(a),
               static_cast<unsigned>(b));
  std::abort();
}

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t Word() {
    const uint8_t low = Byte();
    return static_cast<uint16_t>(low | (Byte() << 8));
  }
  // The rest of the input as a caller's structure: exactly its bytes (at
  // least the four of dwTotalSize), with dwTotalSize cut to what is there.
  std::vector<uint8_t> Structure() {
    std::vector<uint8_t> bytes(data_ + pos_, data_ + size_);
    pos_ = size_;
    if (bytes.size() < 4) bytes.resize(4, 0);
    DWORD total = 0;
    std::memcpy(&total, bytes.data(), 4);
    if (total > bytes.size()) total = static_cast<DWORD>(bytes.size());
    std::memcpy(bytes.data(), &total, 4);
    return bytes;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

void IgnoreEvent(HTAPILINE, HTAPICALL, DWORD msg, DWORD_PTR, DWORD_PTR p2, DWORD_PTR) {
  if (msg == LINE_NEWCALL && p2 != 0) *reinterpret_cast<HTAPICALL*>(p2) = reinterpret_cast<HTAPICALL>(0x7000);
}
void IgnoreCompletion(DRV_REQUESTID, LONG) {}

struct World {
  World() {
    DWORD lines = 0, phones = 0, options = 0;
    if (provider.lifecycle.EnumDevices(kProviderId, &lines, &phones, nullptr, nullptr) != 0 ||
        provider.lifecycle.Init(0x20000, kProviderId, 0, lines, IgnoreCompletion, &options) != 0)
      Fail("the provider did not start");
    ScopedLock lock(&provider.state.lock);
    for (DWORD device = 0; device < 2; ++device) {
      kvarsp::OpenLine line;
      line.deviceId = device;
      line.tspiVersion = device == 0 ? 0x20000 : 0x10003;
      line.htLine = reinterpret_cast<HTAPILINE>(0x100 + device);
      line.eventProc = IgnoreEvent;
      line.pbxLineId = static_cast<uint16_t>(10 + device);
      hdLines[device] = provider.state.calls.AddLine(line).hdLine();
    }
    kvarsp::CallModel& calls = provider.state.calls;
    kvarsp::OpenLine& first = *calls.FindLine(hdLines[0]);
    for (int i = 0; i < 2; ++i) {
      const kvarsp::TspCall* call = calls.CreateCall(first, reinterpret_cast<HTAPICALL>(0x5000 + i), u"4711", 0, 0);
      calls.SetCallState(*call, i == 0 ? LINECALLSTATE_CONNECTED : LINECALLSTATE_ONHOLD, 0);
      calls.SetBlob(*call, kvarsp::CallBlob::UserUserInfo, {1, 2, 3}, false);
      hdCalls[i] = call->hdCall();
    }
  }

  platform::FakeClock clock{1000};
  kvarsp_test::FakeLink link;
  // The drain waits pause without moving the fake clock (see provider_indications_fuzz.cpp).
  kvarsp::Provider provider{link, clock, [](uint32_t) { std::this_thread::yield(); }};
  HDRVLINE hdLines[2] = {nullptr, nullptr};
  HDRVCALL hdCalls[2] = {nullptr, nullptr};
};

World* world = nullptr;

// A party ID of the first call, its number and name lengths from the input,
// so that the call's variable part varies; given back by Restore.
void VaryParties(Input& in) {
  const uint8_t lengths = in.Byte();
  ScopedLock lock(&world->provider.state.lock);
  kvarsp::CallModel& calls = world->provider.state.calls;
  const kvarsp::TspCall& call = *calls.FindCall(world->hdCalls[0]);
  calls.SetPartyId(call, kvarsp::PartyRole::Caller, LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME,
                   std::u16string(lengths & 0x0F, u'7'), std::u16string((lengths >> 4) * 3, u'N'), false);
}
void Restore() {
  ScopedLock lock(&world->provider.state.lock);
  kvarsp::CallModel& calls = world->provider.state.calls;
  calls.SetPartyId(*calls.FindCall(world->hdCalls[0]), kvarsp::PartyRole::Caller, LINECALLPARTYID_UNKNOWN,
                   std::nullopt, std::nullopt, false);
  world->link.callRequests.clear();
}

// A call made by the operation is closed again as TAPI would.
void CloseIfMade(LONG result, DRV_REQUESTID id, HDRVCALL hdCall) {
  if (result == static_cast<LONG>(id) && hdCall != nullptr) world->provider.callOps.CloseCall(hdCall);
}

// The checks on a filled structure with the VARSTRING header (dwTotalSize,
// dwNeededSize, dwUsedSize): used within total, needed at least used, and
// the structure's own parts inside what it used (the trace dump flags any
// part past dwTotalSize, so it reads a copy cut to dwUsedSize).
using DumpFn = std::string (*)(const char*, const void*, DWORD);
void CheckFilled(const std::vector<uint8_t>& bytes, DWORD fixedSize, DumpFn dump, DWORD version) {
  if (bytes.size() < 12) return;
  DWORD total, needed, used;
  std::memcpy(&total, bytes.data(), 4);
  std::memcpy(&needed, bytes.data() + 4, 4);
  std::memcpy(&used, bytes.data() + 8, 4);
  if (used > total) Fail("dwUsedSize beyond dwTotalSize", used, total);
  if (needed < used) Fail("dwNeededSize below dwUsedSize", needed, used);
  if (dump != nullptr && total >= fixedSize && used >= fixedSize) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + used);
    std::memcpy(cut.data(), &used, 4);
    if (dump("s", cut.data(), version).find("<invalid") != std::string::npos) Fail("a part lies outside dwUsedSize");
  }
}

// Calls fill(buffer) with a buffer of exactly `total` bytes, checks it, and
// when it needed more, once more with dwNeededSize: that must then fit.
template <typename Fill>
void FillTwice(DWORD total, DWORD fixedSize, DumpFn dump, DWORD version, Fill&& fill) {
  std::vector<uint8_t> bytes(total < 4 ? 4 : total, 0);
  std::memcpy(bytes.data(), &total, 4);
  if (fill(bytes.data()) != 0) return;
  CheckFilled(bytes, fixedSize, dump, version);
  if (bytes.size() < 12) return;
  DWORD needed, used;
  std::memcpy(&needed, bytes.data() + 4, 4);
  if (needed <= total || needed > 65536) return;
  std::vector<uint8_t> again(needed, 0);
  std::memcpy(again.data(), &needed, 4);
  if (fill(again.data()) != 0) Fail("the call failed with dwNeededSize", needed);
  CheckFilled(again, fixedSize, dump, version);
  DWORD needed2;
  std::memcpy(&needed2, again.data() + 4, 4);
  std::memcpy(&used, again.data() + 8, 4);
  if (needed2 != needed || used != needed) Fail("dwNeededSize does not fit the second time", needed2, used);
}

template <typename T, std::string (*Dump)(const char*, const T*, DWORD)>
std::string DumpAny(const char* name, const void* s, DWORD version) {
  return Dump(name, static_cast<const T*>(s), version);
}

void Run(Input& in) {
  kvarsp::Provider& p = world->provider;
  const uint8_t op = in.Byte();
  const DWORD version = kVersions[in.Byte() % 3];
  const int device = in.Byte() % 2;
  HDRVLINE hdLine = world->hdLines[device];
  HDRVCALL hdCall = world->hdCalls[in.Byte() % 2];
  const DRV_REQUESTID id = 1 + in.Byte();
  switch (op % 14) {
    case 0: {
      std::vector<uint8_t> params = in.Structure();
      HDRVCALL made = nullptr;
      const LONG r = p.callOps.MakeCall(id, hdLine, reinterpret_cast<HTAPICALL>(0x6000), &made, u"21", 0,
                                        reinterpret_cast<LINECALLPARAMS*>(params.data()));
      CloseIfMade(r, id, made);
      break;
    }
    case 1: {
      std::vector<uint8_t> params = in.Structure();
      HDRVCALL made = nullptr;
      const LONG r = p.services.SetupTransfer(id, hdCall, reinterpret_cast<HTAPICALL>(0x6000), &made,
                                              reinterpret_cast<LINECALLPARAMS*>(params.data()));
      CloseIfMade(r, id, made);
      break;
    }
    case 2: {
      const DWORD mediaModes = in.Byte();
      std::vector<uint8_t> params = in.Structure();
      p.lineOps.ConditionalMediaDetection(hdLine, mediaModes, reinterpret_cast<LINECALLPARAMS*>(params.data()));
      break;
    }
    case 3: {
      std::vector<uint8_t> list = in.Structure();
      HDRVCALL consult = reinterpret_cast<HDRVCALL>(1);
      p.services.Forward(id, hdLine, in.Byte() & 1, 0, reinterpret_cast<LINEFORWARDLIST*>(list.data()), &consult);
      break;
    }
    case 4: {  // the trace's dump of any structure
      const uint8_t kind = in.Byte();
      std::vector<uint8_t> s = in.Structure();
      const void* v = s.data();
      switch (kind % 9) {
        case 0: kvarsp::DumpLineCallParams("p", static_cast<const LINECALLPARAMS*>(v), version); break;
        case 1: kvarsp::DumpLineForwardList("p", static_cast<const LINEFORWARDLIST*>(v), version); break;
        case 2: kvarsp::DumpLineDevCaps("p", static_cast<const LINEDEVCAPS*>(v), version); break;
        case 3: kvarsp::DumpLineAddressCaps("p", static_cast<const LINEADDRESSCAPS*>(v), version); break;
        case 4: kvarsp::DumpLineAddressStatus("p", static_cast<const LINEADDRESSSTATUS*>(v), version); break;
        case 5: kvarsp::DumpLineDevStatus("p", static_cast<const LINEDEVSTATUS*>(v), version); break;
        case 6: kvarsp::DumpLineCallInfo("p", static_cast<const LINECALLINFO*>(v), version); break;
        case 7: kvarsp::DumpLineCallStatus("p", static_cast<const LINECALLSTATUS*>(v), version); break;
        default: kvarsp::DumpVarString("p", static_cast<const VARSTRING*>(v), version); break;
      }
      break;
    }
    default: {  // an output structure of dwTotalSize bytes
      const DWORD total = in.Word() % 1200;
      VaryParties(in);
      switch (op % 14) {
        case 5:
          FillTwice(total, sizeof(LINEDEVCAPS), DumpAny<LINEDEVCAPS, kvarsp::DumpLineDevCaps>, version, [&](uint8_t* b) {
            return p.lineOps.GetDevCaps(device, version, 0, reinterpret_cast<LINEDEVCAPS*>(b));
          });
          break;
        case 6: {
          const DWORD addressId = in.Byte() % 3;
          FillTwice(total, sizeof(LINEADDRESSCAPS), DumpAny<LINEADDRESSCAPS, kvarsp::DumpLineAddressCaps>, version,
                    [&](uint8_t* b) {
                      return p.lineOps.GetAddressCaps(device, addressId, version, 0,
                                                      reinterpret_cast<LINEADDRESSCAPS*>(b));
                    });
          break;
        }
        case 7:
          FillTwice(total, sizeof(LINEADDRESSSTATUS), DumpAny<LINEADDRESSSTATUS, kvarsp::DumpLineAddressStatus>,
                    version, [&](uint8_t* b) {
                      return p.lineOps.GetAddressStatus(hdLine, 0, reinterpret_cast<LINEADDRESSSTATUS*>(b));
                    });
          break;
        case 8:
          FillTwice(total, sizeof(LINEDEVSTATUS), DumpAny<LINEDEVSTATUS, kvarsp::DumpLineDevStatus>, version,
                    [&](uint8_t* b) { return p.lineOps.GetLineDevStatus(hdLine, reinterpret_cast<LINEDEVSTATUS*>(b)); });
          break;
        case 9:
        case 10:
          FillTwice(total, sizeof(LINECALLINFO), DumpAny<LINECALLINFO, kvarsp::DumpLineCallInfo>, 0x20000,
                    [&](uint8_t* b) { return p.callOps.GetCallInfo(hdCall, reinterpret_cast<LINECALLINFO*>(b)); });
          break;
        case 11:
          FillTwice(total, sizeof(LINECALLSTATUS), DumpAny<LINECALLSTATUS, kvarsp::DumpLineCallStatus>, 0x20000,
                    [&](uint8_t* b) { return p.callOps.GetCallStatus(hdCall, reinterpret_cast<LINECALLSTATUS*>(b)); });
          break;
        case 12: {
          const DWORD select = 1u << (in.Byte() % 3);
          FillTwice(total, sizeof(VARSTRING), DumpAny<VARSTRING, kvarsp::DumpVarString>, version, [&](uint8_t* b) {
            return p.lineOps.GetID(hdLine, 0, hdCall, select, reinterpret_cast<VARSTRING*>(b), u"tapi/line");
          });
          break;
        }
        default: {
          std::vector<uint8_t> bytes(total < 4 ? 4 : total, 0);
          std::memcpy(bytes.data(), &total, 4);
          p.services.Park(id, hdCall, LINEPARKMODE_NONDIRECTED, reinterpret_cast<VARSTRING*>(bytes.data()));
          break;
        }
      }
      break;
    }
  }
  Restore();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tkfuzz::PrivateRoot("provider_tspi_structs_fuzz");
  if (platform::regImport(tktest::kComponentConfiguration, "fuzz configuration") != 0)
    Fail("the configuration was not imported");
  static World instance;
  world = &instance;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  Run(in);
  return 0;
}
