// The provider's state machine under any order of exchange messages and TSPI
// calls. Each input sets up the provider as TAPI does (providerInit, both
// lines opened) over its real protocol client, whose layer 2 leads straight
// into the simulated exchange's engine in this process, on a fake clock and
// the fuzzer's one thread; only the provider's event delivery thread runs
// beside it and every step waits until it has handed over what was queued. The
// input is then read as a list of steps: a message as the exchange would send
// it (type and fields from the input, encoded by the codec, its RefID often
// that of the last request sent), the engine's answers delivered or held back,
// a 500 ms tick, the link lost, a TSPI call on the lines and on the calls TAPI
// holds, or one of the configuration dialog's link requests. After every step
// the host's contract checker sees the completions: each accepted request
// completed once, none that was refused or never issued. At the end TAPI
// closes the calls and lines and shuts the provider down: nothing may still
// wait for its completion, and everything the provider allocated is freed (the
// leak check).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <iterator>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <string_view>
#include <vector>

#include "common/sync.h"
#include "exchange/exchange_config.h"
#include "exchange/vnl_engine.h"
#include "platform/fake_clock.h"
#include "platform/registry.h"
#include "provider/provider.h"
#include "provider/ui_request_block.h"
#include "provider/vnl/blocking_link.h"
#include "provider/vnl/codec/vnl_encoder.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "provider/vnl/layer2.h"
#include "provider/vnl/vnl_client.h"
#include "tapi/host/contract_checker.h"
#include "tests/fuzz/fuzz_env.h"
#include "tests/provider/component/component_configuration.h"

namespace {

constexpr DWORD kProviderId = 3;
constexpr size_t kMaxSteps = 64;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "provider_indications_fuzz: %s\n", what.c_str());
  std::abort();
}

// The input, read byte by byte; zeros once it is used up.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t Word() {
    const uint8_t low = Byte();
    return static_cast<uint16_t>(low | (Byte() << 8));
  }
  std::string Text(size_t max) {
    size_t n = Byte() % (max + 1);
    std::string text;
    for (size_t i = 0; i < n; ++i) text.push_back(static_cast<char>('0' + Byte() % 12));
    return text;
  }
  std::vector<uint8_t> Bytes(size_t max) {
    size_t n = Byte() % (max + 1);
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < n; ++i) bytes.push_back(Byte());
    return bytes;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// TAPI's side: completions and line events as the checker sees them, and the
// call handles TAPI holds (from LINE_NEWCALL and the calls it made) until it
// closes them.
class Host {
 public:
  static Host*& Current() {
    static Host* host = nullptr;
    return host;
  }
  static void OnCompletion(DRV_REQUESTID id, LONG result) {
    Host* host = Current();
    std::lock_guard lock(host->m_);
    host->Report(host->checker_.completion(2, id, result));
  }
  static void OnEvent(HTAPILINE, HTAPICALL, DWORD msg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR) {
    Host* host = Current();
    std::lock_guard lock(host->m_);
    host->Report(host->checker_.event(2, "line event"));
    if (msg == LINE_NEWCALL && p2 != 0) {
      host->nextHtCall_ += 0x10;
      *reinterpret_cast<HTAPICALL*>(p2) = reinterpret_cast<HTAPICALL>(host->nextHtCall_);
      host->calls_.push_back(reinterpret_cast<HDRVCALL>(p1));
    }
  }

  // An asynchronous TSPI function with the next request ID.
  LONG Async(const char* function, const std::function<LONG(DRV_REQUESTID)>& call) {
    DRV_REQUESTID id;
    {
      std::lock_guard lock(m_);
      id = ++lastRequest_;
      checker_.requestIssued(id, function);
    }
    const LONG result = call(id);
    std::lock_guard lock(m_);
    Report(checker_.requestReturned(id, result));
    return result;
  }
  void Initialised() {
    std::lock_guard lock(m_);
    checker_.providerInitialised();
  }
  void ShutDown() {
    std::lock_guard lock(m_);
    Report(checker_.providerShutDown());
  }
  void AddCall(HDRVCALL call) {
    std::lock_guard lock(m_);
    calls_.push_back(call);
  }
  // A call TAPI holds, by the input's choice; null when it holds none.
  HDRVCALL PickCall(uint8_t choice) {
    std::lock_guard lock(m_);
    return calls_.empty() ? nullptr : calls_[choice % calls_.size()];
  }
  HDRVCALL TakeCall(uint8_t choice) {
    std::lock_guard lock(m_);
    if (calls_.empty()) return nullptr;
    const size_t at = choice % calls_.size();
    HDRVCALL call = calls_[at];
    calls_.erase(calls_.begin() + static_cast<std::ptrdiff_t>(at));
    return call;
  }
  HTAPICALL NewHtCall() {
    std::lock_guard lock(m_);
    nextHtCall_ += 0x10;
    return reinterpret_cast<HTAPICALL>(nextHtCall_);
  }

 private:
  void Report(const tapihost::ContractChecker::Violations& violations) {
    if (!violations.empty()) Fail("contract: " + violations.front());
  }
  std::mutex m_;
  tapihost::ContractChecker checker_;
  DRV_REQUESTID lastRequest_ = 0;
  std::vector<HDRVCALL> calls_;
  uintptr_t nextHtCall_ = 0x7000;
};

// Layer 2 into the engine, as the link interface thread would drive it: the
// engine's answers queue up and are delivered one at a time with the
// provider lock taken (or held back), ticks move the fake clock by 500 ms.
class FuzzLayer2 : public kvarsp::Layer2 {
 public:
  FuzzLayer2(exchange::ProtocolEngine& engine, platform::FakeClock& clock) : engine_(engine), clock_(clock) {}

  void Attach(CCritSec& providerLock, kvarsp::Layer2Events& events) override {
    lock_ = &providerLock;
    events_ = &events;
  }
  int Load(uint32_t* status) override {
    *status = 0;
    return 0;
  }
  int Unload() override { return 0; }
  int OpenConnection() override {
    if (connected_) return -1;
    connected_ = true;
    return 0;
  }
  void CloseConnection() override { connected_ = false; }
  bool LinkUp() override { return connected_; }
  bool SendBlock(std::span<const uint8_t> message) override {
    if (!connected_) return false;
    if (message.size() >= 2) lastRefId_ = message[1];
    engine_.OnBlock(message, answerSink);
    return true;
  }

  size_t Pump() {
    size_t n = 0;
    while (!held_ && !answers_.empty() && n < 64) {
      std::vector<uint8_t> bytes = std::move(answers_.front());
      answers_.pop_front();
      Deliver(bytes);
      ++n;
    }
    return n;
  }
  void Tick() {
    clock_.advance(500);
    Locked([&] { events_->OnLayer2Tick(); });
    Pump();
  }
  void Deliver(const std::vector<uint8_t>& bytes) {
    Locked([&] { events_->OnLayer2Message(bytes.data(), bytes.size()); });
  }
  void LoseLink() {
    connected_ = false;
    Locked([&] { events_->OnLayer2Disconnect(); });
  }
  void Hold(bool hold) { held_ = hold; }
  void Discard() { answers_.clear(); }
  uint8_t LastRefId() const { return lastRefId_; }

 private:
  class Answers : public exchange::BlockSink {
   public:
    explicit Answers(FuzzLayer2& owner) : owner_(owner) {}
    bool SendBlock(std::span<const uint8_t> block) override {
      if (owner_.answers_.size() < 256) owner_.answers_.emplace_back(block.begin(), block.end());
      return true;
    }

   private:
    FuzzLayer2& owner_;
  };
  template <typename Fn>
  void Locked(Fn&& fn) {
    // The link interface thread only tries the lock; here it is always free.
    if (!lock_->TryLock()) Fail("provider lock taken on the fuzzer's own thread");
    fn();
    lock_->Unlock();
  }

  exchange::ProtocolEngine& engine_;
  platform::FakeClock& clock_;
  CCritSec* lock_ = nullptr;
  kvarsp::Layer2Events* events_ = nullptr;
  std::deque<std::vector<uint8_t>> answers_;
  bool held_ = false;
  bool connected_ = false;
  uint8_t lastRefId_ = 0;

 public:
  Answers answerSink{*this};
};

// The synchronous link operations wait here: answers first, then ticks; a
// wait that does not end within 400 ticks (200 s of fake time) hangs.
class PumpingWaiter : public kvarsp::LinkWaiter {
 public:
  explicit PumpingWaiter(FuzzLayer2& layer2) : layer2_(layer2) {}
  void Wait(platform::Event& finished, const std::function<void()>& driveTimer) override {
    for (int step = 0; !finished.isSet(); ++step) {
      if (step >= 400) Fail("a synchronous link operation never finished");
      if (layer2_.Pump() == 0) layer2_.Tick();
      driveTimer();
    }
  }

 private:
  FuzzLayer2& layer2_;
};

exchange::ExchangeConfig Exchange() {
  exchange::ExchangeConfig config = exchange::DefaultExchangeConfig();
  config.lines = {{10, "20", 0, ""}, {11, "21", 0, ""}};
  config.msns = {{1, "4711", {10}}, {2, "4712", {10}}};
  return config;
}

// The messages an exchange sends, and the request types it can leave unanswered.
constexpr uint8_t kToProvider[] = {
    vnl::kStartConf,          vnl::kEndConf,           vnl::kEndInd,           vnl::kFailureInd,
    vnl::kRegisterConf,       vnl::kUnregisterConf,    vnl::kCallEstablishConf, vnl::kDialConf,
    vnl::kDisconnectConf,     vnl::kAnswerCallConf,    vnl::kPickupCallConf,    vnl::kTransferConf,
    vnl::kCompleteTransferConf, vnl::kAlternateCallConf, vnl::kParkCallConf,    vnl::kUnparkCallConf,
    vnl::kSetForwardConf,     vnl::kRedirectCallConf,  vnl::kNewCallInd,        vnl::kCloseCallInd,
    vnl::kCallInfoInd,        vnl::kCallInfoInd,       vnl::kCallInfoInd,       vnl::kLineInfoInd,
    vnl::kGetCallInfoConf,    vnl::kGetLineInfoConf,   vnl::kGetCtiCapsConf,    vnl::kGetAddressListConf};
constexpr uint8_t kRequests[] = {vnl::kCallEstablishReq, vnl::kDialReq,     vnl::kDisconnectReq,
                                 vnl::kAnswerCallReq,    vnl::kTransferReq, vnl::kCompleteTransferReq,
                                 vnl::kAlternateCallReq, vnl::kParkCallReq, vnl::kSetForwardReq,
                                 vnl::kRedirectCallReq,  vnl::kPickupCallReq};

// A message as the exchange would send it, its fields from the input.
std::vector<uint8_t> ExchangeMessage(Input& in, uint8_t lastRefId) {
  vnl::Message m;
  const uint8_t pick = in.Byte();
  m.type = pick < 240 ? kToProvider[pick % sizeof kToProvider] : in.Byte();
  const uint8_t ref = in.Byte();
  m.refId = ref < 128 ? lastRefId : ref;
  const uint16_t fields = in.Word();
  if (fields & 0x0001) { m.lineId = static_cast<uint16_t>(in.Byte() < 200 ? 10 + in.Byte() % 2 : in.Word()); m.Set(vnl::kLineId); }
  if (fields & 0x0002) { m.callId = static_cast<uint16_t>(in.Byte() % 6); m.Set(vnl::kCallId); }
  if (fields & 0x0004) { m.callState = in.Byte(); m.Set(vnl::kCallState); }
  if (fields & 0x0008) { m.result = in.Byte() < 160 ? 0 : 0xFF; m.resultDetails = in.Bytes(2); m.Set(vnl::kResult); }
  if (fields & 0x0010) { m.cause = in.Byte(); m.Set(vnl::kCause); }
  if (fields & 0x0020) { m.heldCallId = static_cast<uint16_t>(in.Byte() % 6); m.Set(vnl::kHeldCallId); }
  if (fields & 0x0040) { m.refCallId = static_cast<uint16_t>(in.Byte() % 6); m.Set(vnl::kRefCallId); }
  if (fields & 0x0080) { m.callReason = in.Byte(); m.Set(vnl::kCallReason); }
  if (fields & 0x0100) { m.destAddress = in.Text(12); m.Set(vnl::kDestAddress); }
  if (fields & 0x0200) { m.origAddress = in.Text(12); m.origAddressType = in.Byte(); m.Set(vnl::kOrigAddress); m.Set(vnl::kOrigAddressType); }
  if (fields & 0x0400) { m.connectedAddress = in.Text(12); m.Set(vnl::kConnectedAddress); }
  if (fields & 0x0800) { m.redirectingAddress = in.Text(8); m.Set(vnl::kRedirectingAddress); }
  if (fields & 0x1000) { m.lineState = in.Byte(); m.Set(vnl::kLineState); }
  if (fields & 0x2000) { m.callType = in.Byte(); m.Set(vnl::kCallType); }
  if (fields & 0x4000) { m.parkAddress = in.Word(); m.Set(vnl::kParkAddress); }
  if (fields & 0x8000) {
    m.linkProtocolVersion = in.Byte();
    m.lineList = in.Bytes(6);
    m.msnList = in.Bytes(4);
    m.Set(vnl::kLinkProtocolVersion);
    m.Set(vnl::kLineList);
    m.Set(vnl::kMsnList);
  }
  std::vector<uint8_t> bytes;
  if (vnl::EncodeMessage(m, false, bytes) != vnl::BuildStatus::Ok) bytes.clear();
  return bytes;
}

struct Session {
  Session() {
    kvarsp::ProviderState& state = provider.state;
    client.Attach(state.lock, state.config, state.calls, [&state] { return state.session.permanentProviderId; });
    Host::Current() = &host;
  }
  ~Session() { Host::Current() = nullptr; }

  // Waits until the delivery thread has handed TAPI everything queued so far.
  void DeliverEvents() {
    static constexpr LINEEVENT kIgnore = [](HTAPILINE, HTAPICALL, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR) {};
    provider.state.events.QueueEvent(nullptr, kIgnore, nullptr, nullptr, LINE_REPLY, 0, 0, 0, true);
  }
  HDRVLINE Line(uint8_t choice) { return hdLines[choice % 2]; }
  std::u16string Digits(Input& in) {
    std::u16string digits;
    for (size_t n = in.Byte() % 8; n > 0; --n) digits.push_back(static_cast<char16_t>(u'0' + in.Byte() % 10));
    return digits;
  }
  void OpenLine(int device) {
    if (hdLines[device] != nullptr) return;
    HDRVLINE hdLine = nullptr;
    if (provider.lineOps.LineOpen(device, reinterpret_cast<HTAPILINE>(0x100 + device), &hdLine, 0x20000,
                                  Host::OnEvent) == 0)
      hdLines[device] = hdLine;
  }
  void CloseLine(int device) {
    if (hdLines[device] == nullptr) return;
    provider.lineOps.LineClose(hdLines[device]);
    hdLines[device] = nullptr;
  }

  void Step(Input& in);

  std::deque<std::vector<uint8_t>> parkAddresses;  // outlive the provider's requests
  platform::FakeClock clock{1000};
  exchange::VnlEngine engine{Exchange()};
  FuzzLayer2 layer2{engine, clock};
  PumpingWaiter waiter{layer2};
  kvarsp::VnlClient client{layer2, clock, &waiter};
  // The drain waits pause without moving the fake clock: they wait for the
  // delivery thread, however slow it is, and the provider's timers see the
  // same time on every run.
  kvarsp::Provider provider{client, clock, [](uint32_t) { std::this_thread::yield(); }};
  Host host;
  HDRVLINE hdLines[2] = {nullptr, nullptr};
};

void Session::Step(Input& in) {
  const uint8_t op = in.Byte();
  switch (op % 21) {
    case 0:
    case 1:
    case 2:
    case 3: {  // a message from the exchange
      std::vector<uint8_t> bytes = ExchangeMessage(in, layer2.LastRefId());
      if (!bytes.empty()) layer2.Deliver(bytes);
      break;
    }
    case 4: layer2.Pump(); break;
    case 5: layer2.Tick(); break;
    case 6: layer2.Hold(in.Byte() & 1); break;
    case 7:
      if (in.Byte() & 1) {
        layer2.Discard();
      } else {
        const uint8_t type = kRequests[in.Byte() % sizeof kRequests];
        engine.Ignore(type, in.Byte() & 1);
      }
      break;
    case 8: {  // TSPI_lineMakeCall
      HDRVLINE hdLine = Line(in.Byte());
      std::u16string digits = Digits(in);
      HTAPICALL htCall = host.NewHtCall();
      HDRVCALL hdCall = nullptr;
      host.Async("TSPI_lineMakeCall", [&](DRV_REQUESTID id) {
        const LONG r = provider.callOps.MakeCall(id, hdLine, htCall, &hdCall, digits.c_str(), 0, nullptr);
        if (r == static_cast<LONG>(id) && hdCall != nullptr) host.AddCall(hdCall);
        return r;
      });
      break;
    }
    case 9: {
      HDRVCALL hdCall = host.PickCall(in.Byte());
      host.Async("TSPI_lineDrop", [&](DRV_REQUESTID id) { return provider.callOps.DropCall(id, hdCall, nullptr, 0); });
      break;
    }
    case 10: {
      HDRVCALL hdCall = host.PickCall(in.Byte());
      host.Async("TSPI_lineAnswer", [&](DRV_REQUESTID id) { return provider.callOps.AnswerCall(id, hdCall, nullptr, 0); });
      break;
    }
    case 11: {
      HDRVCALL hdCall = host.PickCall(in.Byte());
      std::u16string digits = Digits(in);
      host.Async("TSPI_lineDial", [&](DRV_REQUESTID id) { return provider.callOps.DialCall(id, hdCall, digits.c_str(), 0); });
      break;
    }
    case 12: {  // TAPI lets go of a call
      HDRVCALL hdCall = host.TakeCall(in.Byte());
      if (hdCall != nullptr) provider.callOps.CloseCall(hdCall);
      break;
    }
    case 13: {
      const int device = in.Byte() % 2;
      if (hdLines[device] == nullptr) {
        OpenLine(device);
      } else {
        CloseLine(device);
      }
      break;
    }
    case 14: layer2.LoseLink(); break;
    case 15: {
      HDRVCALL a = host.PickCall(in.Byte());
      HDRVCALL b = host.PickCall(in.Byte());
      switch (in.Byte() % 4) {
        case 0: host.Async("TSPI_lineSwapHold", [&](DRV_REQUESTID id) { return provider.services.SwapHold(id, a, b); }); break;
        case 1: {
          HDRVCALL hdConf = nullptr;
          HTAPICALL htConf = host.NewHtCall();
          const DWORD mode = in.Byte() & 1 ? LINETRANSFERMODE_CONFERENCE : LINETRANSFERMODE_TRANSFER;
          host.Async("TSPI_lineCompleteTransfer", [&](DRV_REQUESTID id) {
            const LONG r = provider.services.CompleteTransfer(id, a, b, htConf, &hdConf, mode);
            if (r == static_cast<LONG>(id) && hdConf != nullptr) host.AddCall(hdConf);
            return r;
          });
          break;
        }
        case 2: {
          HDRVCALL hdConsult = nullptr;
          HTAPICALL htConsult = host.NewHtCall();
          host.Async("TSPI_lineSetupTransfer", [&](DRV_REQUESTID id) {
            const LONG r = provider.services.SetupTransfer(id, a, htConsult, &hdConsult, nullptr);
            if (r == static_cast<LONG>(id) && hdConsult != nullptr) host.AddCall(hdConsult);
            return r;
          });
          break;
        }
        default: {
          std::u16string digits = Digits(in);
          host.Async("TSPI_lineBlindTransfer",
                     [&](DRV_REQUESTID id) { return provider.services.BlindTransfer(id, a, digits.c_str(), 0); });
          break;
        }
      }
      break;
    }
    case 16: {
      HDRVCALL hdCall = host.PickCall(in.Byte());
      std::u16string digits = Digits(in);
      if (in.Byte() & 1) {
        host.Async("TSPI_lineRedirect", [&](DRV_REQUESTID id) { return provider.services.Redirect(id, hdCall, digits.c_str(), 0); });
      } else {
        // TAPI keeps the VARSTRING until the request completes.
        std::vector<uint8_t>& bytes = parkAddresses.emplace_back(sizeof(VARSTRING) + 64, 0);
        auto* var = reinterpret_cast<VARSTRING*>(bytes.data());
        var->dwTotalSize = static_cast<DWORD>(bytes.size());
        host.Async("TSPI_linePark", [&](DRV_REQUESTID id) {
          return provider.services.Park(id, hdCall, LINEPARKMODE_NONDIRECTED, var);
        });
      }
      break;
    }
    case 17: {
      HDRVLINE hdLine = Line(in.Byte());
      std::u16string digits = Digits(in);
      HTAPICALL htCall = host.NewHtCall();
      HDRVCALL hdCall = nullptr;
      const bool pickup = in.Byte() & 1;
      host.Async(pickup ? "TSPI_linePickup" : "TSPI_lineUnpark", [&](DRV_REQUESTID id) {
        const LONG r = pickup ? provider.services.Pickup(id, hdLine, htCall, &hdCall, digits.c_str())
                              : provider.services.Unpark(id, hdLine, htCall, &hdCall, digits.c_str());
        if (r == static_cast<LONG>(id) && hdCall != nullptr) host.AddCall(hdCall);
        return r;
      });
      break;
    }
    case 18: {  // the read-only queries on a call
      HDRVCALL hdCall = host.PickCall(in.Byte());
      std::vector<uint8_t> info(sizeof(LINECALLINFO) + 512, 0);
      reinterpret_cast<LINECALLINFO*>(info.data())->dwTotalSize = static_cast<DWORD>(info.size());
      provider.callOps.GetCallInfo(hdCall, reinterpret_cast<LINECALLINFO*>(info.data()));
      std::vector<uint8_t> status(sizeof(LINECALLSTATUS) + 64, 0);
      reinterpret_cast<LINECALLSTATUS*>(status.data())->dwTotalSize = static_cast<DWORD>(status.size());
      provider.callOps.GetCallStatus(hdCall, reinterpret_cast<LINECALLSTATUS*>(status.data()));
      break;
    }
    case 20: {  // the configuration dialog's link requests while lines and calls live
      static constexpr uint32_t kDialogRequests[] = {kvarsp::UIREQ_LOCK,          kvarsp::UIREQ_LINK_INIT,
                                                     kvarsp::UIREQ_LINK_EXIT,     kvarsp::UIREQ_PBX_CONNECT,
                                                     kvarsp::UIREQ_PBX_DISCONNECT, kvarsp::UIREQ_PBX_READ,
                                                     kvarsp::UIREQ_IS_IN_USE,     kvarsp::UIREQ_IS_OWN_LINE};
      kvarsp::UiRequestBlock block{};
      block.request = kDialogRequests[in.Byte() % std::size(kDialogRequests)];
      block.x = in.Byte() % 4;
      provider.dialog.HandleUiRequest(block);
      break;
    }
    default: {  // a raw block, valid or not
      std::vector<uint8_t> bytes = in.Bytes(24);
      if (!bytes.empty()) layer2.Deliver(bytes);
      break;
    }
  }
  DeliverEvents();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tkfuzz::PrivateRoot("provider_indications_fuzz");
  if (platform::regImport(tktest::kComponentConfiguration, "fuzz configuration") != 0)
    Fail("the configuration was not imported");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  Session s;
  DWORD lines = 0, phones = 0, options = 0;
  if (s.provider.lifecycle.EnumDevices(kProviderId, &lines, &phones, nullptr, nullptr) != 0 ||
      s.provider.lifecycle.Init(0x20000, kProviderId, 0, lines, Host::OnCompletion, &options) != 0)
    Fail("the provider did not start");
  s.host.Initialised();
  s.OpenLine(0);
  s.OpenLine(1);
  s.DeliverEvents();

  for (size_t step = 0; step < kMaxSteps && !in.empty(); ++step) s.Step(in);

  // TAPI's end: the exchange's answers arrive, then it closes every call it
  // holds, both lines, and shuts the provider down.
  s.layer2.Hold(false);
  s.layer2.Pump();
  s.DeliverEvents();
  while (HDRVCALL hdCall = s.host.TakeCall(0)) s.provider.callOps.CloseCall(hdCall);
  s.CloseLine(0);
  s.CloseLine(1);
  s.DeliverEvents();
  if (s.provider.lifecycle.Shutdown(0x20000, kProviderId) != 0) Fail("providerShutdown failed");
  s.host.ShutDown();
  return 0;
}
