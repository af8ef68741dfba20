#include "discovery/detect_socket.h"

#include <cstdio>
#include <cstdlib>

#include "platform/debug_output.h"
#include "platform/printable_text.h"
#include "platform/ui/dialog.h"

namespace discovery {
namespace {

// A failed receive is tried again after this pause, so that a lasting error
// does not spin.
constexpr uint32_t kReceiveRetryMs = 50;

void debugLine(const std::string& text) { platform::outputDebugStringA("gwProbe: " + text + "\n"); }

}  // namespace

CDetectSocket::CDetectSocket() : target_(searchTarget(std::getenv("TK_DISCOVERY_TARGET"))) {
  running_ = true;
  if (target_.kind == SearchTarget::Kind::Refused) {
    debugLine(platform::printableText(target_.reason));
    return;
  }
  std::string error;
  if (!socket_.open(target_.bindAddress, kDiscoveryPort, &error)) {
    debugLine("no discovery socket: " + error);
    return;
  }
  if (!thread_.start([this] { receiveLoop(); }, "gwprobe-detect")) {
    debugLine("no receive thread");
    socket_.close();
    return;
  }
  usable_ = true;
}

CDetectSocket::~CDetectSocket() {
  socket_.close();
  running_ = false;
  thread_.join();
}

void CDetectSocket::send(platform::WindowHandle notify) {
  notify_ = notify;
  if (!usable_) return;
  std::string error;
  if (!socket_.sendTo(kRequestText.data(), kRequestText.size(), target_.sendAddress, kDiscoveryPort, &error)) {
    debugLine("request not sent: " + error);
  }
}

void CDetectSocket::receiveLoop() {
  char buffer[kMaxDatagramBytes];
  while (running_) {
    std::string sender;
    const long length = socket_.receiveFrom(buffer, sizeof buffer, &sender);
    if (length < 0) {
      if (socket_.isClosed()) break;
      platform::sleepMs(kReceiveRetryMs);
      continue;
    }
    const std::string_view datagram(buffer, static_cast<size_t>(length));
    // Whatever arrives is shown escaped: the debug output is a terminal or a log.
    const std::string text = platform::printableText(datagramText(datagram));
    char line[1536];
    std::snprintf(line, sizeof line, "Receive Msg:IP: %s Port: %i: \"%s\"\n", sender.c_str(),
                  static_cast<int>(kDiscoveryPort), text.c_str());
    platform::outputDebugStringA(line);
    if (!isAnswer(datagram)) continue;
    uint32_t address = 0;
    if (!parseDottedQuad(sender, address)) continue;
    platform::ui::PostMessage(notify_.load(), kWmDetectedRouter, 0, static_cast<platform::LParam>(address));
  }
}

}  // namespace discovery
