#include "bench/soak_exchange.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>

namespace soak {
namespace {

constexpr auto kStartWait = std::chrono::seconds(10);
constexpr auto kCommandWait = std::chrono::seconds(20);
constexpr auto kQuitWait = std::chrono::seconds(10);

// The port of "listening 127.0.0.1:40123" or "control 127.0.0.1:40124".
uint16_t PortOf(const std::string& line) {
  const size_t colon = line.rfind(':');
  if (colon == std::string::npos) return 0;
  return static_cast<uint16_t>(std::strtoul(line.c_str() + colon + 1, nullptr, 10));
}

bool StartsWith(const std::string& line, const std::string& word) { return line.rfind(word, 0) == 0; }

}  // namespace

bool SoakExchange::Start(Link link, const std::vector<std::string>& tksimOptions, std::string* error) {
  std::vector<std::string> args{"--control-port", "0", "--no-stdin", "--quiet"};
  if (link == Link::Lan) {
    args.insert(args.end(), {"--address", "127.0.0.1", "--port", "0", "--keepalive-ms", "0"});
  } else {
    args.push_back("--serial");
  }
  args.insert(args.end(), tksimOptions.begin(), tksimOptions.end());
  if (!process_.start(TK_TKSIM_PATH, args)) {
    *error = "cannot start " TK_TKSIM_PATH;
    return false;
  }
  // The link's line ("listening A:P" / "serial PATH") and "control A:P"
  // come first, in either order.
  uint16_t controlPort = 0;
  for (int i = 0; i < 3 && (controlPort == 0 || (port_ == 0 && serialPath_.empty())); ++i) {
    const std::optional<std::string> line = process_.readLine(kStartWait);
    if (!line) break;
    if (StartsWith(*line, "listening ")) port_ = PortOf(*line);
    if (StartsWith(*line, "serial ")) serialPath_ = line->substr(7);
    if (StartsWith(*line, "control ")) controlPort = PortOf(*line);
  }
  if (controlPort == 0 || (port_ == 0 && serialPath_.empty())) {
    *error = "tksim did not name its line and control port within 10 s";
    return false;
  }
  control_ = platform::TcpSocket::connect("127.0.0.1", controlPort);
  stopFd_ = eventfd(0, EFD_CLOEXEC);
  if (!control_.valid() || stopFd_ < 0) {
    *error = "cannot reach tksim's control port " + std::to_string(controlPort);
    return false;
  }
  reader_ = std::thread([this] { Drain(); });
  return true;
}

void SoakExchange::Drain() {
  while (process_.readLineOrStop(stopFd_)) {
  }
}

std::string SoakExchange::Command(const std::string& line) {
  const std::string text = line + "\n";
  if (control_.send(text.data(), text.size()) < 0) return "";
  const auto deadline = std::chrono::steady_clock::now() + kCommandWait;
  for (;;) {
    if (size_t newline = controlBuffer_.find('\n'); newline != std::string::npos) {
      std::string answer = controlBuffer_.substr(0, newline);
      controlBuffer_.erase(0, newline + 1);
      return answer;
    }
    if (std::chrono::steady_clock::now() >= deadline) return "";
    if (!control_.waitReadable(100)) continue;
    char buffer[1024];
    const long n = control_.receive(buffer, sizeof buffer);
    if (n <= 0) return "";
    controlBuffer_.append(buffer, static_cast<size_t>(n));
  }
}

std::optional<uint64_t> SoakExchange::StatusCounter(const std::string& name) {
  const std::string status = Command("status");
  const size_t at = status.find(" " + name + "=");
  if (at == std::string::npos) return std::nullopt;
  return std::strtoull(status.c_str() + at + name.size() + 2, nullptr, 10);
}

std::optional<int> SoakExchange::Stop() {
  if (stopped_ || process_.pid() < 0) return std::nullopt;
  stopped_ = true;
  if (control_.valid()) Command("quit");
  std::optional<int> code = process_.wait(kQuitWait);
  if (!code) {
    process_.kill();
    code = process_.wait(kQuitWait);
  }
  if (reader_.joinable()) {
    const uint64_t one = 1;
    if (write(stopFd_, &one, sizeof one) != sizeof one) process_.kill();
    reader_.join();
  }
  return code;
}

SoakExchange::~SoakExchange() {
  Stop();
  if (reader_.joinable()) {
    const uint64_t one = 1;
    if (write(stopFd_, &one, sizeof one) != sizeof one) process_.kill();
    reader_.join();
  }
  if (stopFd_ >= 0) close(stopFd_);
}

}  // namespace soak
