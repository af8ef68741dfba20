#include "tests/link/control/tksim_peer.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace tktest {
namespace {

// The port of an event line "listening 127.0.0.1:40123" or "control 127.0.0.1:40124".
uint16_t PortOf(const std::optional<std::string>& line, const std::string& word) {
  if (!line || line->rfind(word + " ", 0) != 0) return 0;
  size_t colon = line->rfind(':');
  if (colon == std::string::npos) return 0;
  return static_cast<uint16_t>(std::stoul(line->substr(colon + 1)));
}

}  // namespace

::testing::AssertionResult CommandOk(const std::string& answer) {
  if (answer.rfind("ok", 0) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "tksim answered \"" << answer << "\"";
}

bool TksimPeer::Start(const std::vector<std::string>& options) {
  std::vector<std::string> args{"--port", "0", "--control-port", "0", "--no-stdin"};
  args.insert(args.end(), options.begin(), options.end());
  if (!process_.start(TK_TKSIM_PATH, args)) return false;
  port_ = PortOf(process_.readLine(std::chrono::seconds(10)), "listening");
  uint16_t controlPort = PortOf(process_.readLine(std::chrono::seconds(10)), "control");
  if (port_ == 0) return false;
  return Attach(controlPort);
}

bool TksimPeer::StartSerial(const std::vector<std::string>& options) {
  std::vector<std::string> args{"--serial"};
  args.insert(args.end(), options.begin(), options.end());
  return StartDevice(args, "serial ");
}

bool TksimPeer::StartUsb(unsigned device, const std::vector<std::string>& options) {
  std::vector<std::string> args{"--usb", std::to_string(device)};
  args.insert(args.end(), options.begin(), options.end());
  return StartDevice(args, "usb ");
}

bool TksimPeer::StartDevice(std::vector<std::string> args, const std::string& word) {
  args.insert(args.end(), {"--control-port", "0", "--no-stdin"});
  if (!process_.start(TK_TKSIM_PATH, args)) return false;
  // "serial PATH" / "usb PATH" and "control A:P" come first, in either
  // order, perhaps with "com COMn" between them.
  uint16_t controlPort = 0;
  for (int i = 0; i < 4 && (serialPath_.empty() || controlPort == 0); ++i) {
    std::optional<std::string> line = process_.readLine(std::chrono::seconds(10));
    if (!line) return false;
    if (line->rfind(word, 0) == 0) serialPath_ = line->substr(word.size());
    if (line->rfind("control ", 0) == 0) controlPort = PortOf(line, "control");
  }
  return !serialPath_.empty() && Attach(controlPort);
}

bool TksimPeer::Attach(uint16_t controlPort) {
  if (controlPort == 0) return false;
  control_ = platform::TcpSocket::connect("127.0.0.1", controlPort);
  if (!control_.valid()) return false;
  stopFd_ = eventfd(0, EFD_CLOEXEC);
  if (stopFd_ < 0) return false;
  reader_ = std::thread([this] { ReadEvents(); });
  return true;
}

TksimPeer::~TksimPeer() {
  if (reader_.joinable()) {
    const uint64_t one = 1;
    // Should the stop not go through, the end of tksim's output ends the reader too.
    if (write(stopFd_, &one, sizeof one) != sizeof one) process_.kill();
    reader_.join();
  }
  if (stopFd_ >= 0) close(stopFd_);
}

void TksimPeer::ReadEvents() {
  for (;;) {
    std::optional<std::string> line = process_.readLineOrStop(stopFd_);
    std::lock_guard lock(m_);
    if (line) {
      unread_.push_back(std::move(*line));
      arrived_.notify_all();
      continue;
    }
    // The output ended, or the owner stops the reader.
    if (process_.outputEnded()) {
      ended_ = true;
      arrived_.notify_all();
    }
    return;
  }
}

std::string TksimPeer::Command(const std::string& line) {
  std::string text = line + "\n";
  if (control_.send(text.data(), text.size()) < 0) return "";
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    if (size_t newline = controlBuffer_.find('\n'); newline != std::string::npos) {
      std::string answer = controlBuffer_.substr(0, newline);
      controlBuffer_.erase(0, newline + 1);
      return answer;
    }
    if (std::chrono::steady_clock::now() >= deadline) return "";
    if (!control_.waitReadable(100)) continue;
    char buffer[1024];
    long n = control_.receive(buffer, sizeof buffer);
    if (n <= 0) return "";
    controlBuffer_.append(buffer, static_cast<size_t>(n));
  }
}

bool TksimPeer::WaitEvent(const std::string& prefix, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(m_);
  for (;;) {
    while (!unread_.empty()) {
      events_.push_back(std::move(unread_.front()));
      unread_.pop_front();
      if (events_.back().rfind(prefix, 0) == 0) return true;
    }
    if (ended_) return false;
    if (arrived_.wait_until(lock, deadline) == std::cv_status::timeout && unread_.empty()) return false;
  }
}

long TksimPeer::StatusCounter(const std::string& name) {
  std::string status = Command("status");
  size_t at = status.find(" " + name + "=");
  if (at == std::string::npos) return -1;
  return std::stol(status.substr(at + name.size() + 2));
}

}  // namespace tktest
