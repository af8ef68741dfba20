#include "exchange/control_port.h"

#include "platform/codepage.h"

namespace exchange {
namespace {

constexpr uint32_t kPollMs = 100;
constexpr uint32_t kStopWaitMs = 5000;

}  // namespace

ControlPort::~ControlPort() { Stop(); }

bool ControlPort::Listen(const std::string& address, uint16_t port, std::string* error) {
  if (!platform::isLoopbackIpv4(address)) {
    if (error) *error = "the control port is only offered on a loopback address";
    return false;
  }
  int code = 0;
  listener_ = platform::TcpListener::listen(address, port, &code);
  if (!listener_.valid()) {
    if (error) {
      *error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + platform::socketErrorText(code);
    }
    return false;
  }
  return true;
}

bool ControlPort::Start(Runner runner) {
  if (!listener_.valid() || thread_.running()) return false;
  runner_ = std::move(runner);
  stopping_ = false;
  return thread_.start([this] { Run(); }, "tksim-control");
}

void ControlPort::Stop() {
  stopping_ = true;
  thread_.join(kStopWaitMs);
}

void ControlPort::Run() {
  while (!stopping_) {
    platform::TcpSocket client = listener_.accept(kPollMs);
    if (client.valid()) Serve(client);
  }
}

void ControlPort::Serve(platform::TcpSocket& client) {
  std::string pending;
  bool firstLine = true;
  char buffer[4096];
  while (!stopping_) {
    if (!client.waitReadable(kPollMs)) continue;
    long n = client.receive(buffer, sizeof buffer);
    if (n <= 0) return;
    pending.append(buffer, static_cast<size_t>(n));
    size_t newline;
    while ((newline = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, newline);
      pending.erase(0, newline + 1);
      if (firstLine) line = std::string(platform::withoutUtf8ByteOrderMark(line));
      firstLine = false;
      if (auto result = runner_(line)) {
        result->push_back('\n');
        if (client.send(result->data(), result->size()) < 0) return;
      }
      if (stopping_) return;
    }
    if (pending.size() > kMaxLine) return;
  }
}

}  // namespace exchange
