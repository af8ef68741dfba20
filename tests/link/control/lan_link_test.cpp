// The LAN link's protocol core without socket or thread: hex vectors in,
// bytes, blocks and timer requests out, the keep-alive timer on a manual
// clock.
#include "link/control/lan_link.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "link/control/link_state.h"
#include "tests/link/control/hex_bytes.h"
#include "tests/link/control/link_log_capture.h"

namespace {

using tktest::Bytes;
using tktest::Hex;
using tktest::ToHex;

// The control process around the core, recorded; the keep-alive timer (the
// only one the LAN core starts) runs on a manual clock.
class RecordingHost : public LinkHost {
 public:
  bool SendBytes(const uint8_t* data, size_t count) override {
    sent += ToHex(data, count);
    return sendWorks;
  }
  int32_t DeliverBlock(uint32_t service, const uint8_t* data, uint32_t length) override {
    EXPECT_EQ(service, 0x20u) << "every LAN block belongs to the telephony service";
    delivered.push_back(ToHex(data, length));
    return answer;
  }
  void ReportLink(uint32_t) override { ADD_FAILURE() << "the LAN core reports nothing itself"; }
  void StartTimer(uintptr_t id, uint32_t periodMs) override {
    EXPECT_EQ(id, kTimerKeepAlive);
    due = now + periodMs;
    ++restarts;
  }
  void StopTimer(uintptr_t) override { due.reset(); }
  uint16_t LinkState() const override { return state; }
  void CloseLink() override { ++closes; }
  void FrameHandled() override { ++frames; }
  void SetLinkState(uint16_t) override { ADD_FAILURE() << "the LAN link's state follows the connection"; }
  void Release() override { ADD_FAILURE() << "the LAN core ends the link only through CloseLink"; }
  bool SetLineSpeed(const char*) override { return false; }
  void Pause(uint32_t) override {}

  // Moves the clock on by ms; a timer that runs out on the way fires once.
  void Advance(uint32_t ms, LinkProtocol& core) {
    const uint64_t until = now + ms;
    if (due && *due <= until) {
      now = *due;
      due.reset();
      core.OnTimer(kTimerKeepAlive);
    }
    now = until;
  }

  std::string sent;
  std::vector<std::string> delivered;
  std::optional<uint64_t> due;  // when the running timer runs out
  uint64_t now = 0;
  int restarts = 0, closes = 0, frames = 0;
  uint16_t state = kLinkInformationTransfer;
  int32_t answer = 1;
  bool sendWorks = true;
};

struct Step {
  enum Kind { In, Client, Wait, End } kind;
  std::string hex;  // In, Client: the bytes
  uint32_t ms = 0;  // Wait
};
Step In(std::string hex) { return {Step::In, std::move(hex), 0}; }
Step Client(std::string hex) { return {Step::Client, std::move(hex), 0}; }
Step Wait(uint32_t ms) { return {Step::Wait, "", ms}; }
Step End() { return {Step::End, "", 0}; }

struct Case {
  const char* name;
  uint32_t keepalive;  // the configured Keepalive value
  std::vector<Step> steps;
  std::string out;                     // every byte sent, in hex
  std::vector<std::string> delivered;  // the blocks for service 0x20, in hex
  int restarts;                        // keep-alive timer (re)starts
  int frames;                          // received frames handled
  int closes = 0;
  const char* log = "";  // a line the link log must hold
  int32_t answer = 1;    // of VNL2_CopyRecData
  bool sendFails = false;
};

constexpr uint32_t kPeriod = 600;

const Case kCases[] = {
    {"a client block goes out as one tagged frame", 0, {Client("1020304050")}, "C500051020304050", {}, 0, 0},
    {"keep-alive on: a client block starts the supervision", 3, {Client("78")}, "C5000178", {}, 1, 0},
    {"keep-alive on: a keep-alive frame is echoed, not delivered; then every frame restarts the supervision", 1,
     {In("C50003F21234"), In("C5000107")}, "C50003F21234", {"07"}, 2, 2},
    {"keep-alive off (bit 0 clear): a keep-alive frame is data; two frames in one read", 2,
     {In("C50003F21234C50002AABB")}, "", {"F21234", "AABB"}, 0, 2},
    {"keep-alive on: data alone never starts the supervision, so a quiet link stays up", 1,
     {In("C5000101"), Wait(10 * kPeriod)}, "", {"01"}, 0, 1},
    {"a header split over three reads", 0, {In("C5"), In("0002"), In("AABB")}, "", {"AABB"}, 0, 1},
    {"an empty frame carries no block for the client and does not hold up the next", 0, {In("C50000C5000142")}, "",
     {"42"}, 0, 2},
    {"the longest block a client's queue takes is delivered", 0, {In("C50800" + std::string(2 * 2048, 'B'))}, "",
     {std::string(2 * 2048, 'B')}, 0, 1},
    {"a longer block is refused as too long, not as a full queue", 0, {In("C50801" + std::string(2 * 2049, 'B'))}, "",
     {}, 0, 1, 0, "ProcessSocketFrame failed: block of 2049 bytes too long !\r\n"},
    {"the longest frame the buffer holds, a keep-alive, is echoed whole", 1,
     {In("C51001F2" + std::string(2 * 4096, 'C'))}, "C51001F2" + std::string(2 * 4096, 'C'), {}, 1, 1},
    {"an unknown tag drops everything buffered; the next frame on a clean boundary is read", 0,
     {In("C50004AABB"), In("CCDD"), In("C6000201C5000199"), In("C5000177")}, "", {"AABBCCDD", "77"}, 0, 2, 0,
     "CheckSocketFrame failed: Unknown Data Tag 0xc6, Size 2!\r\n"},
    {"after a keep-alive an empty frame restarts the supervision and is not delivered", 1,
     {In("C50001F2"), In("C50000")}, "C50001F2", {}, 2, 2},
    {"a frame restarts the supervision: one ms short of its period nothing happens", 1,
     {In("C50001F2"), Wait(500), In("C5000109"), Wait(kPeriod - 1)}, "C50001F2", {"09"}, 2, 2},
    {"...and a whole period of silence closes the link", 1,
     {In("C50001F2"), Wait(500), In("C5000109"), Wait(kPeriod)}, "C50001F2", {"09"}, 2, 2, 1,
     "Keepalive Timed out!\r\n"},
    {"a client block restarts a running supervision", 1, {In("C50001F2"), Wait(500), Client("01"), Wait(500)},
     "C50001F2C5000101", {}, 2, 1},
    {"a fragment at the end of the stream is dropped", 0, {In("C500"), End(), In("C5000133")}, "", {"33"}, 0, 1, 0,
     "CheckSocketFrame failed: Received Frame too short 2 !\r\n"},
    {"a block the library refuses is a queue error", 0, {In("C5000101")}, "", {"01"}, 0, 1, 0,
     "ProcessSocketFrame failed: VNL2_QUEUE_ERROR !\r\n", -1},
    {"a send that fails loses the block", 0, {Client("01")}, "C5000101", {}, 0, 0, 0, "SendSocketFrame failed !\r\n", 1,
     true},
    {"an empty client block is not sent, but restarts the supervision", 1, {Client("")}, "", {}, 1, 0, 0,
     "SendSocketFrame failed - pData or nDatalen 0 !\r\n"},
};

class LanLinkCore : public ::testing::TestWithParam<Case> {
 protected:
  tktest::LinkLogCapture log_;
  RecordingHost host_;
};

TEST_P(LanLinkCore, Runs) {
  const Case& c = GetParam();
  SCOPED_TRACE(c.name);
  host_.answer = c.answer;
  host_.sendWorks = !c.sendFails;
  LanLink link(host_, KeepAliveSupervision(c.keepalive, kPeriod));
  for (const Step& step : c.steps) {
    Bytes bytes = Hex(step.hex);
    // A zero-length client block comes with the record's (valid) data pointer.
    const void* block = bytes.empty() ? static_cast<const void*>("") : bytes.data();
    switch (step.kind) {
      case Step::In: link.OnBytes(bytes.data(), bytes.size()); break;
      case Step::Client: link.OnClientBlock(0x30, block, static_cast<uint32_t>(bytes.size())); break;
      case Step::Wait: host_.Advance(step.ms, link); break;
      case Step::End: link.OnEndOfStream(); break;
    }
  }
  EXPECT_EQ(host_.sent, c.out);
  EXPECT_EQ(host_.delivered, c.delivered);
  EXPECT_EQ(host_.restarts, c.restarts);
  EXPECT_EQ(host_.frames, c.frames);
  EXPECT_EQ(host_.closes, c.closes);
  EXPECT_TRUE(log_.Contains(c.log)) << log_.Text();
  EXPECT_EQ(log_.Contains("Keepalive Timed out!"), c.closes > 0) << log_.Text();
  EXPECT_EQ(log_.Contains("VNL2_QUEUE_ERROR"), c.answer != 1) << "only for a block the library refused\n" << log_.Text();
}

INSTANTIATE_TEST_SUITE_P(Vectors, LanLinkCore, ::testing::ValuesIn(kCases));

TEST_F(LanLinkCore, TheSupervisionClosesTheLinkOnlyWhenItIsUpAndIgnoresOtherTimers) {
  LanLink link(host_, KeepAliveSupervision(1, kPeriod));
  link.OnTimer(kTimerT1);
  link.OnTimer(kTimerT3);
  EXPECT_EQ(log_.Text(), "") << "the frame protocol's timers are not the LAN's";
  host_.state = kLinkSetUp;
  link.OnTimer(kTimerKeepAlive);
  EXPECT_EQ(host_.closes, 0);
  host_.state = kLinkInformationTransfer;
  link.OnTimer(kTimerKeepAlive);
  EXPECT_EQ(host_.closes, 1);
  EXPECT_TRUE(log_.Contains("Keepalive Timed out!\r\n"));
}

TEST_F(LanLinkCore, ABlockLongerThanAFrameCanSayIsNotSentCut) {
  LanLink link(host_, KeepAliveSupervision(0, kPeriod));
  Bytes huge(0x10000 + 5, 0x77);
  EXPECT_FALSE(link.OnClientBlock(0x20, huge.data(), static_cast<uint32_t>(huge.size())));
  EXPECT_EQ(host_.sent, "");
  EXPECT_TRUE(log_.Contains("SendSocketFrame failed - block of 65541 bytes too long !\r\n")) << log_.Text();
  // The longest block a frame can carry goes out whole.
  Bytes longest(0xFFFF, 0x42);
  EXPECT_TRUE(link.OnClientBlock(0x20, longest.data(), static_cast<uint32_t>(longest.size())));
  ASSERT_EQ(host_.sent.size(), 2 * (3u + 0xFFFF));
  EXPECT_EQ(host_.sent.substr(0, 8), "C5FFFF42");
}

TEST(KeepAlivePeriod, DefaultsTo61000AndTakesAPlainNumberOfMilliseconds) {
  EXPECT_EQ(KeepAlivePeriodFromText(nullptr), 61000u);
  EXPECT_EQ(KeepAlivePeriodFromText("250"), 250u);
  for (const char* bad : {"", "0", "-5", "12ms", " 100", "99999999999999999999", "86400001"})
    EXPECT_EQ(KeepAlivePeriodFromText(bad), 61000u) << bad;
}

}  // namespace
