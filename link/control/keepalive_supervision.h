#pragma once
// The keep-alive of the LAN link, as decisions without I/O. With keep-alive
// on, the control process echoes the exchange's keep-alive frames and
// supervises the connection with one one-shot timer: it is (re)started by
// every outbound client block, by every keep-alive frame and, once a
// keep-alive frame has been seen, by every received frame. When it runs out
// with the link up, the link is closed. Before the first keep-alive frame and
// without client blocks the timer does not run at all.
#include <cstdint>
#include <span>

// The supervision period: 61000 ms, or the whole milliseconds given in the
// environment variable TK_KEEPALIVE_MS (a test setting; values outside
// 1..86400000 keep the default).
constexpr uint32_t kDefaultKeepAlivePeriodMs = 61000;
uint32_t KeepAlivePeriodFromText(const char* text);
// True when text (not null) is a whole number of milliseconds 1..86400000.
bool IsKeepAlivePeriodText(const char* text);
uint32_t KeepAlivePeriodFromEnvironment();

class KeepAliveSupervision {
 public:
  // keepaliveValue is the configured Keepalive; only its bit 0 counts.
  KeepAliveSupervision(uint32_t keepaliveValue, uint32_t periodMs);

  bool on() const { return on_; }
  // Period of the supervision timer; 0 when keep-alive is off.
  uint32_t periodMs() const { return on_ ? periodMs_ : 0; }
  bool seen() const { return seen_; }
  // Whether the supervision timer has been started and not run out since.
  bool running() const { return running_; }

  // A client block went out: true when the timer is to be restarted.
  bool OnClientBlock();

  struct FrameDecision {
    bool restartTimer = false;
    bool keepAlive = false;  // echo it, and do not hand it to the clients
  };
  FrameDecision OnFrame(std::span<const uint8_t> data);

  // The timer ran out: true when the link is to be closed (it is up).
  bool OnTimeout(uint16_t linkState);

 private:
  bool Restart();

  bool on_;
  uint32_t periodMs_;
  bool seen_ = false;
  bool running_ = false;
};
