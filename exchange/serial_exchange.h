#pragma once
// The exchange's side of the serial link and of the USB link: a line (a
// ByteLine: a new pseudo-terminal or a given tty, SerialLine; or the USB
// driver stand-in $TK_ROOT/dev/VNLUSBn, UsbDriverLine) carrying the frame
// protocol of SerialExchangeCore, whose received data blocks go to a protocol
// engine and whose engine answers go back out as I-frames. The counterpart of
// LanExchange; both serve the same command interface (ExchangeLink).
//
// In:  bytes from the line; blocks and faults from commands (any thread).
// Out: bytes for the line (paced at the announced rate by SerialLine), event
//      lines ("serial PATH" or "usb PATH", "com COMn", "connected",
//      "disconnected", "block HEX", the core's frame events and the USB
//      device's), blocks for "wait-block".
// Threads: one network thread reads the line and ticks the core every few
//      milliseconds and the engine while the link is up. The core and the
//      engine sit under one mutex. Blocks and link changes go to the engine
//      from inside the core's call; the core queues the engine's answers and
//      sends them when the received frame is handled, so an answer carries
//      the block's acknowledgement.
//
// On USB the client closing the device (or an unplug) ends the link as a new
// service request would: the link goes down and a fresh core, with the
// standing settings (silent, service-answer, frame-trace), waits for the
// next client; one-shot frame faults not yet used go with the old core.
//
// With a COM number the line is also offered to the link control process as
// $TK_ROOT/dev/COMn (a symbolic link to the line) with $TK_ROOT/dev/COMn.dsr
// saying whether DSR is on ("1") or off ("0"); Close removes both (a link
// that another tksim has taken over in the meantime stays).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/exchange_link.h"
#include "exchange/fault_injector.h"
#include "exchange/received_blocks.h"
#include "exchange/serial_exchange_core.h"
#include "exchange/serial_line.h"
#include "exchange/usb_driver_line.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace exchange {

class SerialExchange : public ExchangeLink, public SerialControls {
 public:
  static constexpr uint32_t kDefaultBaud = 115200;
  static constexpr unsigned kMaxCom = 255;
  // The longest block an I-frame carries.
  static constexpr size_t kMaxBlock = 2038;

  struct Settings {
    std::string device;  // a tty to use; empty: a new pseudo-terminal
    uint32_t baud = kDefaultBaud;  // announced in the service answer and paced
    bool pacing = true;            // a pseudo-terminal only; a tty paces itself
    unsigned com = 0;              // 1..255: link the line as $TK_ROOT/dev/COMn; 0: not
    bool dsr = true;               // what COMn.dsr says
  };

  // True for the speeds the control process recognises in the answer.
  static bool IsLineSpeed(uint32_t baud);

  SerialExchange(ProtocolEngine& engine, EventSink& events, const platform::Clock& clock = platform::systemClock());
  ~SerialExchange() override;
  SerialExchange(const SerialExchange&) = delete;
  SerialExchange& operator=(const SerialExchange&) = delete;

  // Opens the line and links it; reports "serial PATH" (and "com COMn").
  bool Open(const Settings& settings, std::string* error);
  // Serves the USB device $TK_ROOT/dev/VNLUSB<index> (0 to 9) instead;
  // reports "usb PATH".
  bool OpenUsb(unsigned index, std::string* error);
  // Stops, closes the line and removes the COM link and its DSR file (or
  // the USB device's socket).
  void Close();
  const std::string& LinePath() const { return line_->Path(); }
  // "COMn", or empty when not linked.
  const std::string& ComName() const { return comName_; }

  // Random faults (fault_injector.h), set before Start; null: none. While
  // the link is up, frames on their way out may be corrupted (one byte's
  // bits flipped: a bad check sum or framing), dropped or start a silence;
  // a received block may be answered with RNR (RR follows kRnrMs later) or
  // refused through refuser (may be null).
  static constexpr uint32_t kRnrMs = 1000;
  void SetFaults(FaultInjector* faults, RequestRefuser* refuser);

  bool Start() override;
  void Stop() override;

  size_t MaxBlockSize() const override { return kMaxBlock; }
  bool SendBlock(std::span<const uint8_t> block) override;
  bool SendRaw(std::span<const uint8_t> bytes) override;
  void SetAnswering(bool answering) override { answering_ = answering; }

  bool Connected() const;
  bool WaitConnected(std::chrono::milliseconds timeout) override;
  bool WaitDisconnected(std::chrono::milliseconds timeout) override;
  std::optional<std::vector<uint8_t>> WaitBlock(std::span<const uint8_t> prefix,
                                                std::chrono::milliseconds timeout) override;
  std::string StatusText() const override;

  std::optional<ProtocolEngine::CommandResult> EngineCommand(std::string_view verb, std::string_view args) override;
  std::string EngineHelp() const override;

  void CorruptNextFrame(size_t byteIndex) override;
  void DropNextFrame() override;
  void SetSilent(bool silent) override;
  void SetAnsweringServiceRequest(bool on) override;
  void SetFrameTrace(bool on) override;
  bool RepeatLastIFrame() override;
  bool SendControlFrame(std::string_view name) override;

  SerialControls* Serial() override { return this; }
  UsbControls* Usb() override { return line_ == usb_.get() ? usb_.get() : nullptr; }

 private:
  // The core's output; called with mutex_ held.
  class Output : public SerialLineOutput {
   public:
    explicit Output(SerialExchange& owner) : owner_(owner) {}
    void Write(std::vector<uint8_t> bytes) override;
    void Block(std::span<const uint8_t> block) override;
    void LinkChanged(bool up) override;
    void Event(std::string_view line) override;

   private:
    SerialExchange& owner_;
  };
  // The engine's answers; the engine is only called with mutex_ held.
  class Sink : public BlockSink {
   public:
    explicit Sink(SerialExchange& owner) : owner_(owner) {}
    bool SendBlock(std::span<const uint8_t> block) override;

   private:
    SerialExchange& owner_;
  };
  void Run();
  // A core in its first state with the standing settings (mutex_ held).
  std::unique_ptr<SerialExchangeCore> NewCore() const;
  void SetConnected(bool connected);
  bool LinkCom(unsigned com, bool dsr, std::string* error);
  void UnlinkCom();

  ProtocolEngine& engine_;
  EventSink& events_;
  const platform::Clock& clock_;
  Output output_{*this};
  Sink sink_{*this};

  SerialLine serialLine_;
  std::unique_ptr<UsbDriverLine> usb_;
  ByteLine* line_ = &serialLine_;  // set before the network thread starts
  std::string comName_;
  std::string comPath_;
  platform::Thread thread_;
  std::atomic<bool> stopping_{false};

  mutable std::mutex mutex_;  // core_ and engine_
  std::unique_ptr<SerialExchangeCore> core_;

  mutable std::mutex stateMutex_;
  std::condition_variable stateChanged_;
  bool connected_ = false;

  ReceivedBlocks received_;

  uint32_t baud_ = kDefaultBaud;
  std::atomic<bool> answering_{true};
  std::atomic<bool> silent_{false};
  std::atomic<bool> serviceAnswer_{true};
  std::atomic<bool> frameTrace_{false};
  std::atomic<uint64_t> linkUps_{0};
  std::atomic<uint64_t> blocksReceived_{0};
  std::atomic<uint64_t> writes_{0};

  FaultInjector* faults_ = nullptr;
  RequestRefuser* refuser_ = nullptr;
  // An RNR to send once the received frame is handled, and when its RR is due
  // (network thread, mutex_ held).
  bool rnrPending_ = false;
  std::optional<uint32_t> rrDue_;
};

}  // namespace exchange
