// The serial link's protocol core without port or thread: the service
// answer's text phases against a recording host, and two cores wired back to
// back (the PC's end "pc" and an exchange's end "ex") on one manual clock.
#include "link/control/serial_link.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "link/control/link_state.h"
#include "tests/link/control/hex_bytes.h"
#include "tests/link/control/link_log_capture.h"

namespace {

using namespace layer2;
using tktest::Bytes;
using tktest::Hex;
using tktest::ToHex;
using Frames = std::vector<std::string>;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }
Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// One frame as the tests read it: "I<ns><nr> <address>:<data>",
// "<S kind><nr>[PF][@<address>]" or the U-frame's name.
std::string Describe(const Bytes& bytes) {
  Layer2FrameParser parser;
  Frame f;
  if (!parser.Check(f, bytes.data(), bytes.size())) return "?" + ToHex(bytes.data(), bytes.size());
  char text[32];
  if (f.frameClass == FrameClass::kInformation) {
    std::snprintf(text, sizeof text, "I%u%u %02X:", f.ns, f.nr, f.address);
    return text + ToHex(f.data.data(), f.data.size());
  }
  if (f.frameClass == FrameClass::kUnnumbered) {
    static const std::map<uint8_t, std::string> kNames = {
        {kSTART, "START"}, {kUA, "UA"}, {kDISC, "DISC"}, {kDM, "DM"}, {kFRMR, "FRMR"}};
    return kNames.at(f.control);
  }
  static const std::map<uint8_t, std::string> kKinds = {{kRR, "RR"}, {kRNR, "RNR"}, {kREJ, "REJ"}};
  std::snprintf(text, sizeof text, "%s%u%s", kKinds.at(f.control & 0x0F).c_str(), f.nr, f.pollFinal ? "PF" : "");
  return text + (f.address ? "@" + std::to_string(f.address) : "");
}

struct Wire {
  uint64_t now = 0;
  Frames frames;  // "pc START", "ex UA", ... in the order sent
  std::map<std::string, std::string> hex;  // the bytes of each frame, in hex
};

// One end's control process, recorded; its timers run on the wire's clock.
class FakeHost : public LinkHost {
 public:
  FakeHost(std::string name, Wire& wire) : name_(std::move(name)), wire_(wire) {}
  bool SendBytes(const uint8_t* data, size_t count) override {
    wire_.frames.push_back(name_ + " " + Describe(Bytes(data, data + count)));
    wire_.hex[wire_.frames.back()] = ToHex(data, count);
    if (!cut) outbox.insert(outbox.end(), data, data + count);
    return true;
  }
  int32_t DeliverBlock(uint32_t service, const uint8_t* data, uint32_t length) override {
    delivered.push_back(ToHex(Bytes{static_cast<uint8_t>(service)}.data(), 1) + ":" + ToHex(data, length));
    return 1;
  }
  void ReportLink(uint32_t kind) override { reports.push_back(kind); }
  void StartTimer(uintptr_t id, uint32_t periodMs) override {
    timers[id] = wire_.now + periodMs;
    periods[id] = periodMs;
  }
  void StopTimer(uintptr_t id) override { timers.erase(id); }
  uint16_t LinkState() const override { return state; }
  void CloseLink() override { ADD_FAILURE() << "the serial core ends a link by Release"; }
  void FrameHandled() override { ++handled; }
  void SetLinkState(uint16_t value) override { state = value; }
  void Release() override {
    state = kLinkReleased;
    timers.clear();
  }
  bool SetLineSpeed(const char* text) override {
    speed = text;
    return true;
  }
  void Pause(uint32_t ms) override { paused += ms; }

  std::vector<std::string> delivered;
  std::vector<uint32_t> reports;
  std::map<uintptr_t, uint64_t> timers;    // running: when each runs out
  std::map<uintptr_t, uint32_t> periods;   // the last period each was started with
  Bytes outbox;
  std::string speed;
  uint16_t state = kLinkRequestingService;
  uint32_t paused = 0;
  int handled = 0;
  bool cut = false;  // what this end sends is lost on the line

 private:
  std::string name_;
  Wire& wire_;
};

void Feed(SerialLink& link, const Bytes& bytes) { link.OnBytes(bytes.data(), bytes.size()); }

// --- the service answer ----------------------------------------------------

struct AnswerCase {
  const char* name;
  std::vector<Bytes> chunks;
  bool serialLine;
  const char* speed;  // what the port was re-configured to
  uint32_t t1;        // the period T1 was started with, 0: not started
  uint16_t state;
  const char* sent;   // the frame sent, if any
  const char* log;    // a line the log holds
};

const Bytes kStart = Hex("16163F0008A4");

const AnswerCase kAnswers[] = {
    {"text up to the first CR is unread, a line without CTI skipped; 38400 on a serial line",
     {Text("CTI 9600 noise\rno answer here\r\nCTI TKSIM 38400\r")}, true, "38400", 200, kLinkSetUp, "",
     "CTICHECK2:CTI TKSIM 38400\r\n"},
    {"the same on USB: no speed switch", {Text("\r\nCTI TKSIM 38400\r")}, false, "", 50, kLinkSetUp, "",
     "Varnet connect: 38400 Bps\r\n"},
    {"no number: 9600 is logged", {Text("\r\nCTI TKSIM\r")}, true, "", 50, kLinkSetUp, "",
     "Varnet connect: 9600 Bps\r\n"},
    {"split answer; the bytes after its CR are a frame", {Text("\r\nCTI 115"), Cat(Text("200\r"), kStart)}, true,
     "115200", 200, kLinkInformationTransfer, "pc UA", "CTICHECK:No CR\r\n"},
    {"no CR: no answer", {Text("CTI TKSIM 9600")}, true, "", 0, kLinkRequestingService, "", ""},
};

class SerialLinkAnswer : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(SerialLinkAnswer, Reads) {
  const AnswerCase& c = GetParam();
  tktest::LinkLogCapture log;
  Wire wire;
  FakeHost host("pc", wire);
  host.timers[kTimerServiceRequest] = 500;
  SerialLink link(host, c.serialLine);
  for (const Bytes& chunk : c.chunks) Feed(link, chunk);
  EXPECT_EQ(host.speed, c.speed);
  EXPECT_EQ(host.periods.count(kTimerT1) ? host.periods[kTimerT1] : 0, c.t1);
  EXPECT_EQ(host.state, c.state);
  EXPECT_EQ(host.timers.count(kTimerServiceRequest), c.t1 ? 0u : 1u);
  // Answered (17), and up (1) when the exchange's START followed.
  std::vector<uint32_t> reports;
  if (c.t1) reports.push_back(17);
  if (c.state == kLinkInformationTransfer) reports.push_back(1);
  EXPECT_EQ(host.reports, reports);
  EXPECT_EQ(wire.frames, *c.sent ? Frames{c.sent} : Frames{});
  EXPECT_TRUE(log.Contains(c.log)) << log.Text();
}

INSTANTIATE_TEST_SUITE_P(Vectors, SerialLinkAnswer, ::testing::ValuesIn(kAnswers));

// --- two cores back to back --------------------------------------------------

class SerialLinkPair : public ::testing::Test {
 protected:
  // The exchange's end waits in state 2 (its own START timer stopped); the
  // PC's end sends START 200 ms after its answer.
  void Up() {
    Feed(ex_, Text("\r\nCTI\r"));
    exHost_.timers.clear();
    Feed(pc_, Text("\r\nCTI TKSIM 38400\r"));
    Advance(200);
  }
  // Delivers until both ends are quiet; two ends that never stop answering
  // each other fail the test.
  void Pump() {
    for (int round = 0; !pcHost_.outbox.empty() || !exHost_.outbox.empty(); ++round) {
      if (round == 100) {
        ADD_FAILURE() << "the ends keep answering each other";
        return;
      }
      Deliver(pcHost_, ex_, exHost_);
      Deliver(exHost_, pc_, pcHost_);
    }
  }
  // Moves the clock on; every timer that runs out on the way fires in turn
  // (the PC's first at equal times).
  void Advance(uint32_t ms) {
    const uint64_t until = wire_.now + ms;
    Pump();
    for (int fired = 0; fired < 1000; ++fired, Pump()) {
      FakeHost* host = nullptr;
      uintptr_t id = 0;
      uint64_t due = until + 1;
      for (FakeHost* h : {&pcHost_, &exHost_})
        for (auto [timer, at] : h->timers)
          if (at < due) host = h, id = timer, due = at;
      if (!host) break;
      wire_.now = due;
      host->timers.erase(id);
      (host == &pcHost_ ? pc_ : ex_).OnTimer(id);
    }
    wire_.now = until;
  }
  bool Client(SerialLink& link, const std::string& hex, uint32_t service = 0x20) {
    Bytes bytes = Hex(hex);
    return link.OnClientBlock(service, bytes.data(), static_cast<uint32_t>(bytes.size()));
  }
  Frames Take() { return std::exchange(wire_.frames, {}); }

  tktest::LinkLogCapture log_;
  Wire wire_;
  FakeHost pcHost_{"pc", wire_}, exHost_{"ex", wire_};
  SerialLink pc_{pcHost_, true}, ex_{exHost_, false};

 private:
  static void Deliver(FakeHost& from, SerialLink& to, FakeHost& toHost) {
    Bytes bytes = std::exchange(from.outbox, {});
    if (!bytes.empty() && toHost.state != kLinkReleased) Feed(to, bytes);
  }
};

TEST_F(SerialLinkPair, SetUpOnTheWire) {
  Up();
  EXPECT_EQ(Take(), (Frames{"pc START", "ex UA"}));
  EXPECT_EQ(wire_.hex["pc START"], "16163F0008A4");
  EXPECT_EQ(wire_.hex["ex UA"], "161673004005");
  EXPECT_EQ(pcHost_.reports, (std::vector<uint32_t>{17, 1}));
  // A link the other end set up with its START is reported up once as well.
  EXPECT_EQ(exHost_.reports, (std::vector<uint32_t>{17, 1}));
  EXPECT_EQ(exHost_.state, kLinkInformationTransfer);
  EXPECT_EQ(pcHost_.timers, (std::map<uintptr_t, uint64_t>{{kTimerT3, 10200}}));
  EXPECT_EQ(pcHost_.handled, 1);
}

// A scenario: steps on the two ends, then every frame sent after the
// set-up ("--" marks a point in time), the PC's state and blocks.
struct Step {
  enum Kind { Up, AnswersOnly, PcBlock, ExBlock, ToPc, Wait, Mark, CutPc, UncutPc, SilenceEx, Close } kind;
  Bytes bytes = {};
  uint32_t ms = 0;
};
Step Do(Step::Kind kind) { return {kind}; }
Step PcBlock(const char* hex) { return {Step::PcBlock, Hex(hex)}; }
Step ToPc(Bytes frame) { return {Step::ToPc, std::move(frame)}; }
Step Wait(uint32_t ms) { return {Step::Wait, {}, ms}; }

struct Scenario {
  const char* name;
  std::vector<Step> steps;
  Frames frames;
  uint16_t pcState;
  Frames pcDelivered = {}, exDelivered = {};
  std::pair<std::string, std::string> hex = {};  // a frame's bytes on the wire
  uint32_t exPaused = 0;  // ms the exchange's end let its UA drain
};

const Bytes kI0 = BuildIFrame(0, 0, 0x20, Hex("01")), kI1 = BuildIFrame(0, 1, 0x20, Hex("02"));
const std::string kPoll = "pc RR0PF@1";

const Scenario kScenarios[] = {
    {"data both ways; the second block waits for the RR",
     {Do(Step::Up), PcBlock("010203"), PcBlock("04"), Wait(0), {Step::ExBlock, Hex("AB")}, Wait(0)},
     {"pc I00 20:010203", "ex RR1", "pc I10 20:04", "ex RR2", "ex I02 30:AB", "pc RR1"}, kLinkInformationTransfer,
     {"30:AB"}, {"20:010203", "20:04"}, {"pc I00 20:010203", "1616002000033265010203ADAD"}},
    {"a repeated I-frame: REJ and RR, then RR F only until a frame in sequence",
     {Do(Step::Up), Do(Step::CutPc), ToPc(kI0), ToPc(kI0), ToPc(kI0), ToPc(kI1), ToPc(kI0)},
     {"pc RR1", "pc REJ1", "pc RR1", "pc RR1PF", "pc RR2", "pc REJ2", "pc RR2"}, kLinkInformationTransfer,
     {"20:01", "20:02"}},
    {"an idle link is polled after 10 s; unanswered, three more polls and START",
     {Do(Step::Up), Wait(9999), Do(Step::Mark), Wait(1), Do(Step::Mark), Do(Step::SilenceEx), Wait(14000)},
     {"--", kPoll, "ex RR0PF", "--", kPoll, kPoll, kPoll, kPoll, "pc START"}, kLinkSetUp, {}, {},
     {kPoll, "161611013D6C"}},
    {"an unanswered I-frame goes three more times, then START sets the link up again",
     {Do(Step::Up), Do(Step::CutPc), PcBlock("01"), Wait(3999), Do(Step::Mark), Wait(1), Do(Step::UncutPc), Wait(1000)},
     {"pc I00 20:01", "pc I00 20:01", "pc I00 20:01", "pc I00 20:01", "--", "pc START", "pc START", "ex UA"},
     kLinkInformationTransfer},
    {"RNR holds the queue until RR",
     {Do(Step::Up), ToPc(BuildSFrame(kRNR, false, 0, 0)), PcBlock("01"), Do(Step::Mark),
      ToPc(BuildSFrame(kRR, false, 0, 0)), Wait(0)},
     {"--", "pc I00 20:01", "ex RR1"}, kLinkInformationTransfer, {}, {"20:01"}},
    {"a sequence error stops both timers; the PC waits for the exchange's START",
     {Do(Step::Up), Do(Step::CutPc), PcBlock("01"), ToPc(BuildSFrame(kRR, false, 3, 0)), Do(Step::UncutPc), Wait(9999),
      Do(Step::Mark), Wait(4001)},
     {"pc I00 20:01", "--", "ex RR0PF@1", "ex RR0PF@1", "ex RR0PF@1", "ex RR0PF@1", "ex START", "pc UA"}, kLinkInformationTransfer},
    {"close: UA", {Do(Step::Up), Do(Step::Close), Wait(4000)}, {"pc DISC", "ex UA"}, kLinkReleased, {}, {},
     {"pc DISC", "1616530046E3"}, 100},
    {"close: DM from an exchange in set-up", {Do(Step::AnswersOnly), Do(Step::Close), Wait(4000)},
     {"pc DISC", "ex DM"}, kLinkReleased, {}, {}, {"ex DM", "16160F000D31"}},
    {"close: a stale I-frame while DISC is out does not stop the repetitions",
     {Do(Step::Up), Do(Step::CutPc), Do(Step::Close), ToPc(BuildIFrame(5, 3, 0x20, Hex("01"))), Wait(3999),
      Do(Step::Mark), Wait(1)},
     {"pc DISC", "pc DISC", "pc DISC", "pc DISC", "--"}, kLinkReleased},
    {"close: no answer, three more DISCs a second apart, then release",
     {Do(Step::Up), Do(Step::CutPc), Do(Step::Close), Wait(3999), Do(Step::Mark), Wait(1)},
     {"pc DISC", "pc DISC", "pc DISC", "pc DISC", "--"}, kLinkReleased},
};

class SerialLinkScenario : public SerialLinkPair, public ::testing::WithParamInterface<Scenario> {};

TEST_P(SerialLinkScenario, Runs) {
  const Scenario& c = GetParam();
  SCOPED_TRACE(c.name);
  for (const Step& step : c.steps) {
    switch (step.kind) {
      case Step::Up: Up(), Take(); break;
      case Step::AnswersOnly:
        Feed(ex_, Text("\r\nCTI\r")), Feed(pc_, Text("\r\nCTI\r"));
        exHost_.timers.clear();
        break;
      case Step::PcBlock: pc_.OnClientBlock(0x20, step.bytes.data(), static_cast<uint32_t>(step.bytes.size())); break;
      case Step::ExBlock: ex_.OnClientBlock(0x30, step.bytes.data(), static_cast<uint32_t>(step.bytes.size())); break;
      case Step::ToPc: Feed(pc_, step.bytes); break;
      case Step::Wait: Advance(step.ms); break;
      case Step::Mark: wire_.frames.push_back("--"); break;
      case Step::CutPc: pcHost_.cut = true; break;
      case Step::UncutPc: pcHost_.cut = false; break;
      case Step::SilenceEx: exHost_.state = kLinkReleased, exHost_.timers.clear(); break;
      case Step::Close: pc_.OnClose(); break;
    }
  }
  EXPECT_EQ(Take(), c.frames);
  EXPECT_EQ(pcHost_.state, c.pcState);
  EXPECT_EQ(pcHost_.delivered, c.pcDelivered);
  EXPECT_EQ(exHost_.delivered, c.exDelivered);
  if (!c.hex.first.empty()) {
    EXPECT_EQ(wire_.hex[c.hex.first], c.hex.second);
  }
  EXPECT_EQ(exHost_.paused, c.exPaused);
}

INSTANTIATE_TEST_SUITE_P(Vectors, SerialLinkScenario, ::testing::ValuesIn(kScenarios));

TEST_F(SerialLinkPair, RefusedClientBlocksLeaveTheLinkAsItWas) {
  Up();
  Take();
  pcHost_.cut = true;
  Bytes tooLong(kMaxIFrameData + 1, 0x42);
  EXPECT_FALSE(pc_.OnClientBlock(0x20, tooLong.data(), static_cast<uint32_t>(tooLong.size())));
  pc_.SetCopyHookForTest([](size_t) { throw std::bad_alloc(); });
  EXPECT_FALSE(Client(pc_, "07"));
  EXPECT_EQ(pc_.sendState(), 0);
  EXPECT_TRUE(Take().empty());
  pc_.SetCopyHookForTest({});
  // One block goes out, 20 wait, the 22nd is refused.
  for (int i = 0; i < 22; ++i) EXPECT_EQ(Client(pc_, "0" + std::to_string(i % 10)), i < 21) << i;
  EXPECT_EQ(pc_.queued(), SerialLink::kTxQueueCapacity);
  EXPECT_EQ(Take(), Frames{"pc I00 20:00"});
  for (const char* line : {"SendFrame failed - block of 2039 bytes too long !\r\n",
                           "TxQueue - no memory for a block of 1 bytes, refused !\r\n",
                           "TxQueue full - block for service 20 refused !\r\n"})
    EXPECT_TRUE(log_.Contains(line)) << log_.Text();
}

TEST_F(SerialLinkPair, AReceivedIFrameWithoutMemoryForItsDataIsNotAcknowledged) {
  Up();
  Take();
  const Bytes frame = BuildIFrame(0, 0, 0x20, Hex("01"));
  pc_.SetCopyHookForTest([](size_t) { throw std::bad_alloc(); });
  Feed(pc_, frame);
  EXPECT_EQ(pc_.receiveState(), 0);
  EXPECT_TRUE(Take().empty());
  pc_.SetCopyHookForTest({});
  Feed(pc_, frame);
  EXPECT_EQ(Take(), (Frames{"pc RR1"}));
  EXPECT_EQ(pcHost_.delivered, Frames{"20:01"});
  EXPECT_TRUE(log_.Contains("CheckFrame I-Frame dropped - no memory for 1 bytes !\r\n")) << log_.Text();
}

}  // namespace
