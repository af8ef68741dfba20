#pragma once
// The exchange's side of the LAN link: a TCP listener on a loopback address
// that serves one connection at a time, speaks tagged frames in both
// directions, sends keep-alives and checks their echoes, and hands every
// received data block to a protocol engine. It also carries the fault
// injection of the command interface (split and merged segments, raw bytes,
// unknown tags, dropped connections, silence).
//
// One network thread accepts, receives, reassembles, answers keep-alives and
// runs the engine; commands arrive from other threads. Every event goes to
// the EventSink as one line (names in tksim --help).
//
// It is the LAN's ExchangeLink for the command interface; its own fault
// commands go through LanControls (exchange_link.h).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "exchange/exchange_link.h"
#include "exchange/fault_injector.h"
#include "exchange/frame_reassembler.h"
#include "exchange/keepalive_monitor.h"
#include "exchange/output_shaper.h"
#include "exchange/protocol_engine.h"
#include "exchange/received_blocks.h"
#include "platform/clock.h"
#include "platform/tcp_socket.h"
#include "platform/thread.h"

namespace exchange {

class LanExchange : public ExchangeLink, public LanControls {
 public:
  static constexpr uint16_t kDefaultPort = 5002;
  // Three keep-alives fit into the peer's 61-second supervision, so one
  // that comes late does not end the link.
  static constexpr uint32_t kDefaultKeepaliveMs = 20000;
  static constexpr uint32_t kDefaultMergeHoldMs = 1000;

  LanExchange(ProtocolEngine& engine, EventSink& events, const platform::Clock& clock = platform::systemClock());
  ~LanExchange() override;
  LanExchange(const LanExchange&) = delete;
  LanExchange& operator=(const LanExchange&) = delete;

  // Binds and listens (port 0: a free port) and reports "listening A:P".
  // Anything outside 127.0.0.0/8 is refused unless allowNonLoopback is set.
  bool Listen(const std::string& address, uint16_t port, bool allowNonLoopback, std::string* error);
  const std::string& Address() const { return address_; }
  uint16_t Port() const;

  // Starts / ends the network thread; Stop closes the connection.
  bool Start() override;
  void Stop() override;

  // Settings; may change while running.
  void SetKeepalivePeriod(uint32_t periodMs) override;
  uint32_t KeepalivePeriod() const;
  void SetDropOnMissedKeepalive(bool drop) override { dropOnMissed_ = drop; }
  // Off: received blocks are still reported but not given to the engine,
  // so the exchange stops answering.
  void SetAnswering(bool answering) override { answering_ = answering; }

  // Sending on the current connection; false without one or on a send error.
  size_t MaxBlockSize() const override;
  bool SendBlock(std::span<const uint8_t> block) override;                  // one data frame (shaped)
  bool SendTaggedFrame(uint8_t tag, std::span<const uint8_t> data) override;  // any tag (shaped)
  bool SendRaw(std::span<const uint8_t> bytes) override;                     // as they are, one segment
  // Closes the current connection and waits (bounded) until the network
  // thread has reported it; false when none was open.
  bool Drop() override;

  // Random faults (fault_injector.h), set before Start; null: none. Data
  // frames on their way out may be corrupted, dropped or start a silence
  // (no frames and no keep-alives for its length); a received data block
  // may close the connection or be refused through refuser (may be null).
  void SetFaults(FaultInjector* faults, RequestRefuser* refuser);

  // Fault injection for the next shaped frame (see output_shaper.h).
  void SplitNext(unsigned parts, uint32_t pauseMs) override;
  void SplitNextAt(std::vector<size_t> offsets, uint32_t pauseMs) override;
  void MergeNext(uint32_t holdMs = kDefaultMergeHoldMs) override;

  bool Connected() const;
  bool WaitConnected(std::chrono::milliseconds timeout) override;
  bool WaitDisconnected(std::chrono::milliseconds timeout) override;
  // See received_blocks.h.
  std::optional<std::vector<uint8_t>> WaitBlock(std::span<const uint8_t> prefix,
                                                std::chrono::milliseconds timeout) override;

  struct Status {
    bool connected = false;
    bool answering = true;
    bool dropOnMissed = false;
    uint32_t keepaliveMs = 0;
    uint64_t connections = 0;
    uint64_t blocksReceived = 0;
    uint64_t framesSent = 0;
    uint64_t keepalivesMissed = 0;
    std::string engine;
  };
  Status GetStatus() const;
  std::string StatusText() const override;

  // A command for the engine (serialised with its other calls).
  std::optional<ProtocolEngine::CommandResult> EngineCommand(std::string_view verb, std::string_view args) override;
  std::string EngineHelp() const override;

  LanControls* Lan() override { return this; }

 private:
  class Sink : public BlockSink {
   public:
    explicit Sink(LanExchange& owner) : owner_(owner) {}
    bool SendBlock(std::span<const uint8_t> block) override { return owner_.SendBlock(block); }

   private:
    LanExchange& owner_;
  };

  void Run();
  void AcceptConnection(uint32_t timeoutMs);
  void RefuseExtraConnections();
  void CloseConnection();
  void HandleBytes(std::span<const uint8_t> bytes);
  void HandleFrame(ReassembledFrame frame);
  void ServiceKeepalive();
  void ServiceMergeHold();
  bool SendShaped(std::vector<uint8_t> unit);
  bool WriteLocked(const std::vector<Segment>& segments);
  void SetConnected(bool connected);

  ProtocolEngine& engine_;
  EventSink& events_;
  const platform::Clock& clock_;
  Sink sink_{*this};

  platform::TcpListener listener_;
  std::string address_;
  platform::Thread thread_;
  std::atomic<bool> stopping_{false};

  // The connection and everything that writes to it. Only the network thread
  // opens and closes it; other threads send and shut it down.
  mutable std::mutex sendMutex_;
  platform::TcpSocket connection_;
  OutputShaper shaper_;

  mutable std::mutex engineMutex_;

  mutable std::mutex keepaliveMutex_;
  KeepaliveMonitor keepalive_;

  mutable std::mutex stateMutex_;
  std::condition_variable stateChanged_;
  bool connected_ = false;

  FrameReassembler reassembler_;  // network thread only
  ReceivedBlocks received_;

  std::atomic<bool> answering_{true};
  std::atomic<bool> dropOnMissed_{false};
  std::atomic<uint64_t> connections_{0};
  std::atomic<uint64_t> blocksReceived_{0};
  std::atomic<uint64_t> framesSent_{0};
  std::atomic<uint64_t> keepalivesMissed_{0};

  FaultInjector* faults_ = nullptr;
  RequestRefuser* refuser_ = nullptr;
};

}  // namespace exchange
