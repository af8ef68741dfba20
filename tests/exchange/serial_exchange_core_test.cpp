// The exchange's end of the serial link, driven by hand: each case is a
// list of steps (bytes in, ticks, blocks to send, commands) and the trace of
// everything that came out, in order.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "exchange/hex_text.h"
#include "exchange/serial_exchange_core.h"
#include "tests/exchange/frame_client.h"

namespace {

using exchange::SerialExchangeCore;
using exchange::ToHex;
using exchangetest::Bytes;
using exchangetest::Hex;
namespace serial = exchange::serial;
using Lines = std::vector<std::string>;

// A written frame as "> S-RR 1 @00" or "> I 0/1 @20 0a0b"; anything else as "> text <hex>".
std::string Describe(const Bytes& bytes) {
  serial::SerialFrameParser parser;
  parser.Append(bytes);
  auto item = parser.Next();
  if (!item || item->kind != serial::ParsedItem::Kind::kFrame || parser.Buffered() != 0) {
    return "> text " + ToHex(bytes);
  }
  const std::string text =
      "> " + serial::FrameName(item->frame) + " @" + ToHex(std::span(&item->frame.address, 1));
  return item->frame.data.empty() ? text : text + " " + ToHex(item->frame.data);
}

struct Harness : exchange::SerialLineOutput {
  void Write(std::vector<uint8_t> bytes) override { trace.push_back(Describe(bytes)); }
  void Block(std::span<const uint8_t> block) override {
    trace.push_back("block " + ToHex(block));
    if (onBlock) onBlock();
  }
  void LinkChanged(bool up) override { trace.push_back(up ? "up" : "down"); }
  void Event(std::string_view line) override { trace.emplace_back(line); }

  SerialExchangeCore core{"38400"};
  uint32_t now = 0xFFFFF000;  // ticks wrap during the cases
  Lines trace;
  std::function<void()> onBlock;
};

using Step = std::function<void(Harness&)>;
struct Case {
  const char* name;
  std::vector<Step> steps;
  Lines trace;
};

Step In(Bytes bytes) {
  return [bytes](Harness& h) { h.core.OnBytes(bytes, h.now, h); };
}
Step Tick(uint32_t ms) {
  return [ms](Harness& h) { h.core.OnTick(h.now += ms, h); };
}
Step Send(std::string hex) {
  return [hex](Harness& h) {
    if (!h.core.SendBlock(Hex(hex), h.now, h)) h.trace.push_back("refused");
  };
}
const Step kUp = [](Harness& h) {
  h.core.OnBytes(serial::BuildUFrame(serial::kSTART), h.now, h);
  h.trace.clear();
};

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    Harness h;
    for (const Step& step : c.steps) step(h);
    EXPECT_EQ(h.trace, c.trace) << c.name;
  }
}

Bytes I(uint8_t ns, uint8_t nr, const char* data = "0a0b") {
  return serial::BuildIFrame(ns, nr, 0x20, Hex(data));
}
Bytes S(uint8_t kind, uint8_t nr, bool pf = false, uint8_t address = 0) {
  return serial::BuildSFrame(kind, pf, nr, address);
}
Bytes U(uint8_t control) { return serial::BuildUFrame(control); }

const std::string kAnswer = "> text " + ToHex(Bytes{'\r', '\n', 'C', 'T', 'I', ' ', 'T', 'K', 'S', 'I',
                                                    'M', ' ', '3', '8', '4', '0', '0', '\r'});

TEST(SerialExchangeCore, ServiceRequest) {
  Bytes partial = I(0, 0, "0102030405");
  partial.resize(9);  // a frame that never completes, then the request
  partial.insert(partial.end(), {0x1B, 0x43});
  RunCases({
      {"request", {In(Hex("1b43"))}, {"service-request", kAnswer}},
      {"split", {In(Hex("001b")), In(Hex("43"))}, {"service-request", kAnswer}},
      {"not adjacent", {In(Hex("1b1643"))}, {}},
      {"off", {[](Harness& h) { h.core.SetAnsweringServiceRequest(false); }, In(Hex("1b43"))},
       {"service-request-ignored"}},
      {"link up", {kUp, In(Hex("1b43"))}, {"service-request", "link-down service-request", "down", kAnswer}},
      {"stale frame", {In(partial), Tick(SerialExchangeCore::kStaleFrameMs - 1), Tick(1)},
       {"frame-bad stale", "service-request", kAnswer}},
  });
}

TEST(SerialExchangeCore, FramesByLinkState) {
  RunCases({
      {"START", {In(U(serial::kSTART))}, {"> U-UA @00", "link-up", "up"}},
      {"START again", {kUp, In(U(serial::kSTART))}, {"> U-UA @00", "link-reset"}},
      {"DISC up", {kUp, In(U(serial::kDISC))}, {"> U-UA @00", "link-down disc", "down"}},
      {"DISC down", {In(U(serial::kDISC)), Send("01")}, {"> U-DM @00", "refused"}},
      {"DM up", {kUp, In(U(serial::kDM))}, {"link-down dm", "down"}},
      {"UA unasked", {In(U(serial::kUA))}, {"frame-ignored U-UA"}},
      {"UA for our START",
       {[](Harness& h) { h.core.SendControlFrame("start", h); }, In(U(serial::kUA))},
       {"> U-START @00", "link-up", "up"}},
      // The peer still believes in a link: DM makes it send START.
      {"I down", {In(I(0, 0))}, {"frame-ignored I 0/0", "> U-DM @00"}},
      {"poll down", {In(S(serial::kRR, 0, true, 1))}, {"frame-ignored S-RR PF 0", "> U-DM @00"}},
      {"RR down", {In(S(serial::kRR, 0))}, {"frame-ignored S-RR 0"}},
  });
}

TEST(SerialExchangeCore, BlocksBothWays) {
  auto answer = [](Harness& h) {
    h.onBlock = [&h] { Send("a1")(h), Send("a2")(h); };
  };
  auto queueFull = [](Harness& h) {
    for (size_t i = 0; i <= SerialExchangeCore::kMaxQueued; ++i) Send("01")(h);
  };
  const uint32_t t1 = SerialExchangeCore::kT1Ms;
  RunCases({
      {"engine answer carries the acknowledgement; queue waits for RR",
       {kUp, In(I(0, 0, "01")), answer, In(I(1, 0)), [](Harness& h) { h.onBlock = nullptr; },
        In(S(serial::kRR, 0)), In(S(serial::kRR, 1)), In(I(2, 2))},
       {"block 01", "> S-RR 1 @00", "block 0a0b", "> I 0/2 @20 a1", "> I 1/2 @20 a2", "block 0a0b",
        "> S-RR 3 @00"}},
      {"repeat: REJ, then RR; polls answered",
       {kUp, In(I(0, 0)), In(I(0, 0)), In(I(0, 0)), In(S(serial::kRR, 0, true, 1)),
        In(S(serial::kRR, 0, true, 0))},
       {"block 0a0b", "> S-RR 1 @00", "> S-REJ 1 @00", "rej-sent 1", "> S-RR PF 1 @00",
        "> S-RR PF 1 @00", "poll-answered 1"}},
      {"T1 repeats with the current N(R), then START; the link is lost when START goes unanswered too",
       {kUp, Send("0a0b"), Tick(t1 - 1), In(I(0, 0, "77")), Tick(1), Tick(t1), Tick(t1), Tick(t1),
        Send("0a"), Tick(t1), Tick(t1), Tick(t1), Tick(t1), Tick(t1)},
       {"> I 0/0 @20 0a0b", "block 77", "> S-RR 1 @00", "retransmit 0", "> I 0/1 @20 0a0b",
        "retransmit 0", "> I 0/1 @20 0a0b", "retransmit 0", "> I 0/1 @20 0a0b", "link-reset retries",
        "> U-START @00", "> U-START @00", "> U-START @00", "> U-START @00", "link-setup-failed",
        "link-down retries", "down"}},
      {"the START after the retries is answered with UA: the session goes on, the block goes out again",
       {kUp, Send("0a"), Tick(t1), Tick(t1), Tick(t1), Tick(t1), In(U(serial::kUA))},
       {"> I 0/0 @20 0a", "retransmit 0", "> I 0/0 @20 0a", "retransmit 0", "> I 0/0 @20 0a",
        "retransmit 0", "> I 0/0 @20 0a", "link-reset retries", "> U-START @00", "link-reset",
        "> I 0/0 @20 0a"}},
      {"RNR holds until RR; REJ retransmits",
       {kUp, In(S(serial::kRNR, 0)), Send("0a"), In(S(serial::kRR, 0)), In(S(serial::kREJ, 0))},
       {"peer-busy", "peer-ready", "> I 0/0 @20 0a", "retransmit 0", "> I 0/0 @20 0a"}},
      {"too long, queue full",
       {kUp, Send(std::string(2 * (serial::kMaxData + 1), '0')), queueFull, Send("01")},
       {"refused", "> I 0/0 @20 01", "refused"}},
  });
}

TEST(SerialExchangeCore, FaultsAndCommands) {
  auto fault = [](std::function<void(SerialExchangeCore&)> f) {
    return [f](Harness& h) { f(h.core); };
  };
  auto repeat = [](Harness& h) {
    if (!h.core.RepeatLastIFrame(h)) h.trace.push_back("nothing to repeat");
  };
  auto control = [](Harness& h) {
    for (const char* name : {"RR", "rnr", "Rej", "ua", "dm", "start", "disc", "frmr"}) {
      if (!h.core.SendControlFrame(name, h)) h.trace.push_back(std::string("unknown ") + name);
    }
  };
  const Bytes start = U(serial::kSTART);
  RunCases({
      {"corrupt", {fault([](auto& c) { c.CorruptNextFrame(3); }), In(start), In(start)},
       {"frame-corrupted 3", "> text 161673ff4005", "link-up", "up", "> U-UA @00", "link-reset"}},
      {"corrupt beyond the end", {fault([](auto& c) { c.CorruptNextFrame(99); }), In(start)},
       {"frame-corrupted 5", "> text 1616730040fa", "link-up", "up"}},
      {"drop", {fault([](auto& c) { c.DropNextFrame(); }), In(start), In(start)},
       {"frame-dropped", "link-up", "up", "> U-UA @00", "link-reset"}},
      {"silent", {fault([](auto& c) { c.SetSilent(true); }), In(start), In(Hex("1b43"))},
       {"link-up", "up", "service-request", "link-down service-request", "down"}},
      {"repeat", {kUp, repeat, Send("0a"), repeat},
       {"nothing to repeat", "> I 0/0 @20 0a", "> I 0/0 @20 0a"}},
      {"control frames", {kUp, control},
       {"> S-RR 0 @00", "> S-RNR 0 @00", "> S-REJ 0 @00", "> U-UA @00", "> U-DM @00", "> U-START @00",
        "> U-DISC @00", "link-down local-disc", "down", "unknown frmr"}},
      {"frame trace", {fault([](auto& c) { c.SetFrameTrace(true); }), In(start), In(I(0, 0))},
       {"frame-in U-START", "frame-out U-UA", "> U-UA @00", "link-up", "up", "frame-in I 0/0",
        "block 0a0b", "frame-out S-RR 1", "> S-RR 1 @00"}},
  });
}

}  // namespace
