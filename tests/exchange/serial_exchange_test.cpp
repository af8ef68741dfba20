// The serial side of the exchange in-process over a real pseudo-terminal: the
// test plays the link control process on the slave, building and parsing its
// frames with the control process's own codec (layer2_frame.h), so the two
// independent frame implementations are checked against each other.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "exchange/command_interpreter.h"
#include "exchange/echo_engine.h"
#include "exchange/fault_injector.h"
#include "exchange/serial_exchange.h"
#include "link/control/layer2_frame.h"
#include "platform/fake_clock.h"
#include "tests/exchange/frame_client.h"
#include "tests/exchange/recording_events.h"
#include "tests/support/child_process.h"
#include "tests/support/test_root.h"

namespace {

using exchange::SerialExchange;
using exchangetest::Bytes;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// The control process's end of the line.
class ControlSide {
 public:
  ~ControlSide() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Open(const std::string& path) { return Adopt(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)); }
  bool Adopt(int fd) {
    fd_ = fd;
    termios settings{};
    if (fd_ < 0 || tcgetattr(fd_, &settings) != 0) return false;
    cfmakeraw(&settings);
    return tcsetattr(fd_, TCSANOW, &settings) == 0;
  }
  bool Write(const Bytes& bytes) { return ::write(fd_, bytes.data(), bytes.size()) == ssize_t(bytes.size()); }

  // Exactly count bytes, or fewer after the deadline.
  Bytes Read(size_t count, std::chrono::milliseconds timeout = 5s) {
    Bytes bytes;
    const auto deadline = SteadyClock::now() + timeout;
    while (bytes.size() < count && SteadyClock::now() < deadline) {
      pollfd in{fd_, POLLIN, 0};
      if (::poll(&in, 1, 20) <= 0) continue;
      uint8_t chunk[4096];
      ssize_t n = ::read(fd_, chunk, std::min(sizeof chunk, count - bytes.size()));
      if (n > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
  }

  // The next complete frame, or nullopt after the deadline.
  std::optional<layer2::Frame> NextFrame(std::chrono::milliseconds timeout = 5s) {
    layer2::Frame frame;
    const auto deadline = SteadyClock::now() + timeout;
    if (parser_.Check(frame, nullptr, 0)) return frame;
    while (SteadyClock::now() < deadline) {
      Bytes byte = Read(1, 20ms);
      if (!byte.empty() && parser_.Check(frame, byte.data(), 1)) return frame;
    }
    return std::nullopt;
  }

 private:
  int fd_ = -1;
  layer2::Layer2FrameParser parser_;
};

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string FirstLine(const std::string& file) {
  std::string line;
  std::getline(std::ifstream(file), line);
  return line;
}

class SerialExchangeTest : public ::testing::Test {
 protected:
  void Open(SerialExchange::Settings settings = {}) {
    std::string error;
    ASSERT_TRUE(exchange_.Open(settings, &error)) << error;
    ASSERT_TRUE(exchange_.Start());
    ASSERT_TRUE(control_.Open(exchange_.LinePath()));
  }

  // Service request and answer, then the control process's START and the UA.
  void SetUpLink() {
    ASSERT_TRUE(control_.Write({0x1B, 0x43}));
    ASSERT_EQ(control_.Read(19), Text("\r\nCTI TKSIM 115200\r"));
    ASSERT_TRUE(control_.Write(layer2::BuildUFrame(layer2::kSTART, 0)));
    ASSERT_EQ(control_.Read(6), layer2::BuildUFrame(layer2::kUA, 0));
    ASSERT_TRUE(exchange_.WaitConnected(5s));
  }

  exchangetest::RecordingEvents events_;
  exchange::EchoEngine engine_;
  SerialExchange exchange_{engine_, events_};
  ControlSide control_;
};

TEST_F(SerialExchangeTest, AnswersTheServiceRequestSetsUpAndEchoesABlockAsAnIFrame) {
  Open();
  EXPECT_EQ(events_.Lines().front(), "serial " + exchange_.LinePath());
  SetUpLink();
  EXPECT_TRUE(events_.WaitFor("connected"));

  ASSERT_TRUE(control_.Write(layer2::BuildIFrame(0, 0, 0x20, Bytes{1, 2, 3})));
  auto echo = control_.NextFrame();
  ASSERT_TRUE(echo);
  EXPECT_EQ(echo->frameClass, layer2::FrameClass::kInformation);
  EXPECT_EQ(echo->ns, 0);
  EXPECT_EQ(echo->nr, 1) << "the echo acknowledges the block";
  EXPECT_EQ(echo->address, 0x20);
  EXPECT_EQ(echo->data, (Bytes{1, 2, 3}));
  EXPECT_TRUE(exchange_.WaitBlock(Bytes{1, 2}, 0ms));
  EXPECT_EQ(events_.Count("block 010203"), 1u);

  ASSERT_TRUE(control_.Write(layer2::BuildUFrame(layer2::kDISC, 0)));
  EXPECT_EQ(control_.Read(6), layer2::BuildUFrame(layer2::kUA, 0));
  EXPECT_TRUE(exchange_.WaitDisconnected(5s));
}

// Both directions at 115200 baud: 1000 bytes occupy the wire for 86.8 ms.
TEST_F(SerialExchangeTest, FramesArePacedAtTheLineRateBothWays) {
  Open();
  SetUpLink();
  const Bytes data(990, 0x5A);  // an I-frame of 1000 bytes
  auto start = SteadyClock::now();
  ASSERT_TRUE(exchange_.SendBlock(data));
  EXPECT_EQ(control_.Read(1000).size(), 1000u);
  EXPECT_GE(SteadyClock::now() - start, 80ms) << "sent";

  start = SteadyClock::now();
  ASSERT_TRUE(control_.Write(layer2::BuildIFrame(1, 0, 0x20, data)));
  EXPECT_TRUE(exchange_.WaitBlock(data, 5s));
  EXPECT_GE(SteadyClock::now() - start, 80ms) << "received";
}

TEST_F(SerialExchangeTest, SerialCommandsInjectFaultsAndLanCommandsAreRefused) {
  Open();
  SetUpLink();
  exchange::CommandInterpreter interpreter(exchange_, {});
  const std::pair<std::string, std::string> commands[] = {
      {"split 2", "error split: not on this link"},
      {"keepalive 10", "error keepalive: not on this link"},
      {"corrupt x", "error corrupt: usage: corrupt BYTE-INDEX (0 to 2047)"},
      {"send-frame xyz", "error send-frame: usage: send-frame rr|rnr|rej|start|disc|ua|dm"},
      {"drop-frame now", "error drop-frame: no arguments expected"},
      {"silent maybe", "error silent: usage: on|off"},
      {"corrupt 5", "ok corrupt 5"},
      {"send-frame DM", "ok send-frame DM"},
      {"drop-frame", "ok drop-frame"},
      {"send-frame ua", "ok send-frame ua"},
      {"raw 0102", "ok raw"},
  };
  for (const auto& [command, expected] : commands) EXPECT_EQ(interpreter.Execute(command)->line, expected);
  Bytes dm = layer2::BuildUFrame(layer2::kDM, 0);
  dm[5] = static_cast<uint8_t>(~dm[5]);
  dm.insert(dm.end(), {1, 2});
  EXPECT_EQ(control_.Read(8), dm) << "DM with byte 5 inverted, no UA, the raw bytes";
  const std::string status = interpreter.Execute("status")->line;
  EXPECT_NE(status.find("ok status connected=yes engine=echo"), std::string::npos) << status;
  EXPECT_NE(status.find(" baud=115200 pacing=on"), std::string::npos) << status;
}

// Answers every block it is asked to refuse with ff and the block.
class PrefixRefuser : public exchange::RequestRefuser {
 public:
  bool RefuseRequest(std::span<const uint8_t> block, exchange::BlockSink& out) override {
    Bytes answer{0xFF};
    answer.insert(answer.end(), block.begin(), block.end());
    return out.SendBlock(answer);
  }
};

// With one fault kind at rate 1, the echo of the control process's first
// block meets it; the link's own set-up does not (faults wait for the link).
TEST(SerialExchangeFaults, RandomFaultsOnTheFramesAndTheBlocksOfAnUpLink) {
  enum class Then { Echo, Nothing, Corrupted, EchoRnrAndLaterRr };
  struct Row {
    exchange::FaultKind kind;
    Then then;
    Bytes echo;
  };
  const Bytes data{1, 2, 3};
  const Bytes echo = layer2::BuildIFrame(1, 0, 0x20, data);
  for (const Row& row : {Row{exchange::FaultKind::Drop, Then::Nothing, {}},
                         Row{exchange::FaultKind::Silence, Then::Nothing, {}},
                         Row{exchange::FaultKind::Corrupt, Then::Corrupted, echo},
                         Row{exchange::FaultKind::Refuse, Then::Echo, Bytes{0xFF, 1, 2, 3}},
                         Row{exchange::FaultKind::Rnr, Then::EchoRnrAndLaterRr, data}}) {
    const std::string name(exchange::FaultKindName(row.kind));
    SCOPED_TRACE(name);
    exchangetest::RecordingEvents events;
    exchange::FaultSettings settings;
    settings.rate = 1;
    settings.kinds = exchange::FaultBit(row.kind);
    settings.log = true;
    exchange::FaultInjector faults(settings, &events);
    PrefixRefuser refuser;
    exchange::EchoEngine engine;
    platform::FakeClock clock{1000};
    SerialExchange serial(engine, events, clock);
    serial.SetFaults(&faults, &refuser);
    SerialExchange::Settings lineSettings;
    lineSettings.pacing = false;
    std::string error;
    ASSERT_TRUE(serial.Open(lineSettings, &error)) << error;
    ASSERT_TRUE(serial.Start());
    ControlSide control;
    ASSERT_TRUE(control.Open(serial.LinePath()));
    ASSERT_TRUE(control.Write({0x1B, 0x43}));
    ASSERT_EQ(control.Read(19), Text("\r\nCTI TKSIM 115200\r"));
    ASSERT_TRUE(control.Write(layer2::BuildUFrame(layer2::kSTART, 0)));
    ASSERT_EQ(control.Read(6), layer2::BuildUFrame(layer2::kUA, 0));
    ASSERT_TRUE(serial.WaitConnected(5s));
    EXPECT_EQ(faults.Total(), 0u) << "nothing before the link is up";

    ASSERT_TRUE(control.Write(layer2::BuildIFrame(0, 0, 0x20, data)));
    switch (row.then) {
      case Then::Nothing: {
        ASSERT_TRUE(events.WaitFor("fault " + name + (row.kind == exchange::FaultKind::Silence ? " ms=3000" : "")));
        const std::string status = serial.StatusText();
        EXPECT_NE(status.find(" writes=2 "), std::string::npos) << "the answer and the UA only: " << status;
        break;
      }
      case Then::Corrupted: {
        const Bytes got = control.Read(echo.size());
        ASSERT_EQ(got.size(), echo.size());
        size_t differ = 0, at = 0;
        for (size_t i = 0; i < echo.size(); ++i)
          if (got[i] != echo[i]) ++differ, at = i;
        EXPECT_EQ(differ, 1u);
        EXPECT_EQ(got[at], echo[at] ^ exchange::FaultInjector::kCorruptMask);
        EXPECT_TRUE(events.WaitFor("fault corrupt byte=" + std::to_string(at)));
        break;
      }
      case Then::Echo: {
        auto frame = control.NextFrame();
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->data, row.echo);
        break;
      }
      case Then::EchoRnrAndLaterRr: {
        auto frame = control.NextFrame();
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->data, row.echo) << "the block is taken all the same";
        auto rnr = control.NextFrame();
        ASSERT_TRUE(rnr);
        EXPECT_EQ(rnr->frameClass, layer2::FrameClass::kSupervisory);
        EXPECT_EQ(rnr->control & 0x0F, layer2::kRNR);
        // The echo acknowledged, the time of the RNR passes: RR follows.
        serial.SetFrameTrace(true);
        ASSERT_TRUE(control.Write(layer2::BuildSFrame(layer2::kRR, false, 1, 0x20)));
        ASSERT_TRUE(events.WaitFor("frame-in S-RR 1"));
        clock.advance(exchange::SerialExchange::kRnrMs);
        auto rr = control.NextFrame();
        ASSERT_TRUE(rr);
        EXPECT_EQ(rr->frameClass, layer2::FrameClass::kSupervisory);
        EXPECT_EQ(rr->control & 0x0F, layer2::kRR);
        break;
      }
    }
    EXPECT_EQ(faults.Total(), 1u);
    EXPECT_NE(serial.StatusText().find(" faults=1 "), std::string::npos) << serial.StatusText();
    serial.Close();
  }
}

TEST_F(SerialExchangeTest, AComNumberLinksTheLineWithItsDsrFileUntilClosed) {
  const std::string dev = tktest::currentRoot() + "/dev";
  Open({.device = "", .baud = 9600, .pacing = false, .com = 7, .dsr = false});
  EXPECT_EQ(std::filesystem::read_symlink(dev + "/COM7"), exchange_.LinePath());
  EXPECT_EQ(FirstLine(dev + "/COM7.dsr"), "0");
  EXPECT_TRUE(events_.WaitFor("com COM7", 1, 0ms));
  ASSERT_TRUE(control_.Write({0x1B, 0x43}));
  EXPECT_EQ(control_.Read(17), Text("\r\nCTI TKSIM 9600\r"));

  exchange_.Close();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dev + "/COM7")));
  EXPECT_FALSE(std::filesystem::exists(dev + "/COM7.dsr"));

  // A file that is not a link is someone else's: it stays, and the line is not opened.
  std::ofstream(dev + "/COM8") << "mine";
  SerialExchange other(engine_, events_);
  std::string error;
  EXPECT_FALSE(other.Open({.device = "", .baud = 9600, .pacing = false, .com = 8, .dsr = true}, &error));
  EXPECT_EQ(error, dev + "/COM8 exists and is not a symbolic link");
}

// A given tty (here the slave of the test's own pseudo-terminal) is set raw
// and not paced; the test is the control process on the master.
TEST_F(SerialExchangeTest, AGivenTtyCarriesTheLinkUnpaced) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_TRUE(control_.Adopt(master));
  ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
  std::string error;
  ASSERT_TRUE(exchange_.Open({.device = ptsname(master), .baud = 38400, .pacing = true, .com = 0, .dsr = true},
                             &error))
      << error;
  ASSERT_TRUE(exchange_.Start());
  ASSERT_TRUE(control_.Write({0x1B, 0x43}));
  EXPECT_EQ(control_.Read(18), Text("\r\nCTI TKSIM 38400\r"));
  EXPECT_NE(exchange_.StatusText().find(" baud=38400 pacing=off"), std::string::npos);
  exchange_.Close();
}

// tksim as a program on a pseudo-terminal linked as COM5: the control process
// finds it by that name, and a termination request removes the link.
TEST(TksimSerial, LinksItsLineAnswersAndCleansUpOnTermination) {
  const std::string com = tktest::currentRoot() + "/dev/COM5";
  tktest::ChildProcess sim;
  sim.setOwnProcessGroup(true);
  ASSERT_TRUE(sim.start(TK_TKSIM, {"--serial", "--com", "5", "--dsr", "off", "--baud", "19200", "--no-stdin"}));
  auto serialLine = sim.readLine();
  ASSERT_TRUE(serialLine && serialLine->starts_with("serial /dev/pts/")) << serialLine.value_or("(none)");
  EXPECT_EQ(sim.readLine(), "com COM5");
  EXPECT_EQ(std::filesystem::read_symlink(com), serialLine->substr(7));
  EXPECT_EQ(FirstLine(com + ".dsr"), "0");

  ControlSide control;
  ASSERT_TRUE(control.Open(com));
  ASSERT_TRUE(control.Write({0x1B, 0x43}));
  EXPECT_EQ(control.Read(18), Text("\r\nCTI TKSIM 19200\r"));

  sim.signalGroup(SIGTERM);
  EXPECT_EQ(sim.wait(), 128 + SIGTERM);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(com)));
  EXPECT_FALSE(std::filesystem::exists(com + ".dsr"));
}

}  // namespace
