#include "exchange/discovery_responder.h"

#include "platform/tcp_socket.h"

namespace exchange {
namespace {

constexpr std::string_view kRequestText = "detect router in lan by Ondra";
constexpr std::string_view kAnswerPrefix = "Ondra router received udpmsg from :";
// Larger than any request; the rest of a longer datagram is dropped.
constexpr size_t kReceiveBytes = 1024;
// A failed receive is tried again after this pause, so a lasting error does not spin.
constexpr uint32_t kRetryMs = 50;

}  // namespace

std::optional<std::string> DiscoveryAnswerFor(std::string_view datagram, const std::string& sender) {
  if (datagram.find(kRequestText) == std::string_view::npos) return std::nullopt;
  return std::string(kAnswerPrefix) + sender;
}

bool DiscoveryResponder::Start(const std::string& address, bool allowNonLoopback, std::string* error,
                               uint16_t port) {
  auto fail = [&](std::string text) {
    if (error) *error = std::move(text);
    return false;
  };
  if (!platform::isIpv4Address(address)) return fail("--discovery: '" + address + "' is not a dotted IPv4 address");
  if (!allowNonLoopback && !platform::isLoopbackIpv4(address)) {
    return fail("--discovery: refusing to answer on " + address +
                ": not a loopback address (127.0.0.0/8); --allow-non-loopback permits it");
  }
  std::string why;
  if (!socket_.open(address, port, &why)) return fail("--discovery: cannot answer on UDP " + why);
  if (!thread_.start([this] { Run(); }, "tksim-discovery")) {
    socket_.close();
    return fail("--discovery: cannot start its thread");
  }
  events_.Event("discovery " + address + ":" + std::to_string(socket_.localPort()));
  return true;
}

void DiscoveryResponder::Stop() {
  socket_.close();
  thread_.join();
}

void DiscoveryResponder::Run() {
  char buffer[kReceiveBytes];
  for (;;) {
    std::string sender;
    uint16_t senderPort = 0;
    std::string error;
    const long length = socket_.receiveFrom(buffer, sizeof buffer, &sender, &senderPort, &error);
    if (length < 0) {
      if (socket_.isClosed()) return;
      events_.Event("discovery-receive-error " + error);
      platform::sleepMs(kRetryMs);
      continue;
    }
    auto answer = DiscoveryAnswerFor(std::string_view(buffer, static_cast<size_t>(length)), sender);
    if (!answer) continue;
    const std::string peer = sender + ":" + std::to_string(senderPort);
    if (socket_.sendTo(answer->data(), answer->size(), sender, senderPort, &error)) {
      events_.Event("discovery-answer " + peer);
    } else {
      events_.Event("discovery-send-failed " + peer + " " + error);
    }
  }
}

}  // namespace exchange
