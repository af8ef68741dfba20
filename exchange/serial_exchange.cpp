#include "exchange/serial_exchange.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "exchange/hex_text.h"
#include "platform/root.h"

namespace exchange {
namespace {

// The longest the network thread waits for bytes between two ticks of the core.
constexpr uint32_t kTickMs = 5;
constexpr size_t kReceiveChunk = 4096;
constexpr uint32_t kStopWaitMs = 5000;

std::string ErrorText(const std::string& what, int code) { return what + ": " + std::strerror(code); }

}  // namespace

bool SerialExchange::IsLineSpeed(uint32_t baud) {
  for (uint32_t speed : {1200u, 2400u, 4800u, 9600u, 19200u, 38400u, 57600u, 115200u}) {
    if (baud == speed) return true;
  }
  return false;
}

SerialExchange::SerialExchange(ProtocolEngine& engine, EventSink& events, const platform::Clock& clock)
    : engine_(engine),
      events_(events),
      clock_(clock),
      serialLine_([this](const std::string& text) { events_.Event(text); }) {}

SerialExchange::~SerialExchange() { Close(); }

bool SerialExchange::Open(const Settings& settings, std::string* error) {
  if (!IsLineSpeed(settings.baud)) {
    if (error) *error = "unsupported line speed " + std::to_string(settings.baud);
    return false;
  }
  if (thread_.running()) {
    if (error) *error = "the exchange is running";
    return false;
  }
  line_ = &serialLine_;
  if (settings.device.empty()) {
    serialLine_.SetPacing(settings.pacing ? settings.baud : 0);
    if (!serialLine_.OpenPseudoTerminal(error)) return false;
  } else if (!serialLine_.OpenDevice(settings.device, settings.baud, error)) {
    return false;
  }
  baud_ = settings.baud;
  {
    std::lock_guard lock(mutex_);
    core_ = NewCore();
  }
  events_.Event("serial " + line_->Path());
  if (settings.com != 0) {
    if (!LinkCom(settings.com, settings.dsr, error)) {
      line_->Close();
      return false;
    }
    events_.Event("com " + comName_);
  }
  return true;
}

bool SerialExchange::OpenUsb(unsigned index, std::string* error) {
  if (thread_.running()) {
    if (error) *error = "the exchange is running";
    return false;
  }
  auto usb = std::make_unique<UsbDriverLine>([this](const std::string& text) { events_.Event(text); });
  if (!usb->Open(index, error)) return false;
  usb_ = std::move(usb);
  line_ = usb_.get();
  baud_ = kDefaultBaud;  // announced in the service answer; USB never switches speed
  {
    std::lock_guard lock(mutex_);
    core_ = NewCore();
  }
  events_.Event("usb " + line_->Path());
  return true;
}

std::unique_ptr<SerialExchangeCore> SerialExchange::NewCore() const {
  auto core = std::make_unique<SerialExchangeCore>(std::to_string(baud_));
  core->SetSilent(silent_);
  core->SetAnsweringServiceRequest(serviceAnswer_);
  core->SetFrameTrace(frameTrace_);
  return core;
}

void SerialExchange::Close() {
  Stop();
  line_->Close();
  UnlinkCom();
}

bool SerialExchange::LinkCom(unsigned com, bool dsr, std::string* error) {
  auto fail = [&](std::string text) {
    if (error) *error = std::move(text);
    return false;
  };
  const std::string dir = platform::rootDir() + "/dev";
  if (!platform::ensureDirectory(dir)) return fail("cannot create the folder " + dir);
  const std::string name = "COM" + std::to_string(com);
  const std::string path = dir + "/" + name;
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0) {
    // A link left behind (or another tksim's) is replaced; anything else is
    // someone's file and stays.
    if (!S_ISLNK(info.st_mode)) return fail(path + " exists and is not a symbolic link");
    if (unlink(path.c_str()) != 0) return fail(ErrorText("cannot replace " + path, errno));
  }
  if (symlink(line_->Path().c_str(), path.c_str()) != 0) return fail(ErrorText("cannot create " + path, errno));
  comName_ = name;
  comPath_ = path;
  const std::string dsrPath = path + ".dsr";
  int fd = ::open(dsrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool written = fd >= 0 && ::write(fd, dsr ? "1" : "0", 1) == 1;
  int code = errno;
  if (fd >= 0) ::close(fd);
  if (!written) {
    UnlinkCom();
    return fail(ErrorText("cannot write " + dsrPath, code));
  }
  return true;
}

void SerialExchange::UnlinkCom() {
  if (comPath_.empty()) return;
  char target[4096];
  ssize_t n = readlink(comPath_.c_str(), target, sizeof target - 1);
  if (n >= 0 && std::string(target, static_cast<size_t>(n)) == line_->Path()) {
    unlink(comPath_.c_str());
    unlink((comPath_ + ".dsr").c_str());
  }
  // The name stays: it is only read (by status) and set before the start.
  comPath_.clear();
}

bool SerialExchange::Start() {
  if (!line_->IsOpen() || thread_.running()) return false;
  stopping_ = false;
  return thread_.start([this] { Run(); }, "tksim-serial");
}

void SerialExchange::Stop() {
  stopping_ = true;
  thread_.join(kStopWaitMs);
}

// --- the core's output and the engine's answers (mutex_ held) ---

void SerialExchange::SetFaults(FaultInjector* faults, RequestRefuser* refuser) {
  faults_ = faults && faults->Enabled() ? faults : nullptr;
  refuser_ = refuser;
}

void SerialExchange::Output::Write(std::vector<uint8_t> bytes) {
  if (FaultInjector* faults = owner_.faults_; faults && owner_.Connected()) {
    const uint32_t now = owner_.clock_.tickCount();
    if (faults->Silent(now)) return;
    if (auto fault = faults->OnOutgoing(now, bytes.size())) {
      if (fault->kind != FaultKind::Corrupt) return;
      FaultInjector::Apply(*fault, bytes);
    }
  }
  ++owner_.writes_;
  owner_.line_->Write(std::move(bytes));
}

void SerialExchange::Output::Block(std::span<const uint8_t> block) {
  // Decided before the block is published: a scenario waiting for it may
  // switch answering on again at once, and that must not apply to this block.
  const bool answer = owner_.answering_;
  ++owner_.blocksReceived_;
  owner_.events_.Event("block " + ToHex(block));
  std::vector<uint8_t> copy(block.begin(), block.end());
  owner_.received_.Push(copy);
  // The core takes the engine's answer from inside this call and sends it
  // once the received frame is handled, carrying the acknowledgement.
  if (!answer) return;
  if (owner_.faults_) {
    constexpr FaultKinds kPossible = FaultBit(FaultKind::Rnr) | FaultBit(FaultKind::Refuse);
    if (auto fault = owner_.faults_->OnIncoming(owner_.clock_.tickCount(), kPossible)) {
      // The core is inside this call: the RNR goes out from the network
      // thread once the frame is handled.
      if (fault->kind == FaultKind::Rnr) owner_.rnrPending_ = true;
      if (fault->kind == FaultKind::Refuse && owner_.refuser_ && owner_.refuser_->RefuseRequest(copy, owner_.sink_))
        return;
    }
  }
  owner_.engine_.OnBlock(copy, owner_.sink_);
}

void SerialExchange::Output::LinkChanged(bool up) {
  if (up == owner_.Connected()) return;
  if (up) {
    ++owner_.linkUps_;
    owner_.received_.Clear();
  }
  owner_.events_.Event(up ? "connected" : "disconnected");
  owner_.SetConnected(up);
  if (up) {
    owner_.engine_.OnConnected(owner_.sink_);
  } else {
    owner_.engine_.OnDisconnected();
  }
}

void SerialExchange::Output::Event(std::string_view line) { owner_.events_.Event(line); }

bool SerialExchange::Sink::SendBlock(std::span<const uint8_t> block) {
  return owner_.core_ && owner_.core_->SendBlock(block, owner_.clock_.tickCount(), owner_.output_);
}

// --- commands ---

bool SerialExchange::SendBlock(std::span<const uint8_t> block) {
  std::lock_guard lock(mutex_);
  return sink_.SendBlock(block);
}

bool SerialExchange::SendRaw(std::span<const uint8_t> bytes) {
  if (!line_->Write(std::vector<uint8_t>(bytes.begin(), bytes.end()))) return false;
  ++writes_;
  return true;
}

bool SerialExchange::Connected() const {
  std::lock_guard lock(stateMutex_);
  return connected_;
}

void SerialExchange::SetConnected(bool connected) {
  {
    std::lock_guard lock(stateMutex_);
    connected_ = connected;
  }
  stateChanged_.notify_all();
}

bool SerialExchange::WaitConnected(std::chrono::milliseconds timeout) {
  std::unique_lock lock(stateMutex_);
  return stateChanged_.wait_for(lock, timeout, [this] { return connected_; });
}

bool SerialExchange::WaitDisconnected(std::chrono::milliseconds timeout) {
  std::unique_lock lock(stateMutex_);
  return stateChanged_.wait_for(lock, timeout, [this] { return !connected_; });
}

std::optional<std::vector<uint8_t>> SerialExchange::WaitBlock(std::span<const uint8_t> prefix,
                                                              std::chrono::milliseconds timeout) {
  return received_.WaitFor(prefix, timeout);
}

std::string SerialExchange::StatusText() const {
  auto yesNo = [](bool b) { return b ? "yes" : "no"; };
  std::string engine;
  {
    std::lock_guard lock(mutex_);
    engine = std::string(engine_.Name());
  }
  std::string text = std::string("connected=") + yesNo(Connected()) + " engine=" + engine +
                     " answering=" + yesNo(answering_) + " service-answer=" + yesNo(serviceAnswer_) +
                     " silent=" + yesNo(silent_) + " link-ups=" + std::to_string(linkUps_) +
                     " blocks-received=" + std::to_string(blocksReceived_) + " writes=" + std::to_string(writes_);
  if (faults_) text += " " + faults_->CountsText();
  if (line_ == usb_.get()) {
    text += " usb=" + usb_->Path() + " plugged=" + yesNo(usb_->Plugged()) +
            " device-open=" + yesNo(usb_->ClientOpen());
  } else {
    text += " serial=" + serialLine_.Path() + " baud=" + std::to_string(baud_) +
            " pacing=" + (serialLine_.Pacing() != 0 ? "on" : "off");
  }
  if (!comName_.empty()) text += " com=" + comName_;
  return text;
}

std::optional<ProtocolEngine::CommandResult> SerialExchange::EngineCommand(std::string_view verb,
                                                                           std::string_view args) {
  // A waiting command must not hold the engine: the blocks it waits for go
  // through the engine.
  if (auto result = engine_.OnWaitCommand(verb, args)) return result;
  std::lock_guard lock(mutex_);
  return engine_.OnCommand(verb, args, sink_);
}

std::string SerialExchange::EngineHelp() const {
  std::lock_guard lock(mutex_);
  return engine_.CommandHelp();
}

void SerialExchange::CorruptNextFrame(size_t byteIndex) {
  std::lock_guard lock(mutex_);
  if (core_) core_->CorruptNextFrame(byteIndex);
}

void SerialExchange::DropNextFrame() {
  std::lock_guard lock(mutex_);
  if (core_) core_->DropNextFrame();
}

void SerialExchange::SetSilent(bool silent) {
  std::lock_guard lock(mutex_);
  silent_ = silent;
  if (core_) core_->SetSilent(silent);
}

void SerialExchange::SetAnsweringServiceRequest(bool on) {
  std::lock_guard lock(mutex_);
  serviceAnswer_ = on;
  if (core_) core_->SetAnsweringServiceRequest(on);
}

void SerialExchange::SetFrameTrace(bool on) {
  std::lock_guard lock(mutex_);
  frameTrace_ = on;
  if (core_) core_->SetFrameTrace(on);
}

bool SerialExchange::RepeatLastIFrame() {
  std::lock_guard lock(mutex_);
  return core_ && core_->RepeatLastIFrame(output_);
}

bool SerialExchange::SendControlFrame(std::string_view name) {
  std::lock_guard lock(mutex_);
  return core_ && core_->SendControlFrame(name, output_);
}

// --- the network thread ---

void SerialExchange::Run() {
  std::vector<uint8_t> buffer(kReceiveChunk);
  while (!stopping_) {
    long n = line_->Read(buffer, kTickMs);
    std::lock_guard lock(mutex_);
    if (n == ByteLine::kPeerClosed) {
      // The device was closed: its link is gone, the next client starts afresh.
      output_.LinkChanged(false);
      core_ = NewCore();
      continue;
    }
    if (n < 0) {
      events_.Event("receive-error " + line_->Path() + ": the line failed");
      break;
    }
    const uint32_t now = clock_.tickCount();
    if (n > 0) core_->OnBytes(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n)), now, output_);
    if (rnrPending_) {
      rnrPending_ = false;
      if (core_->SendControlFrame("RNR", output_)) rrDue_ = now + kRnrMs;
    }
    // Unsigned difference: right across the wrap of the tick count.
    if (rrDue_ && static_cast<int32_t>(now - *rrDue_) >= 0) {
      rrDue_.reset();
      if (Connected()) core_->SendControlFrame("RR", output_);
    }
    core_->OnTick(now, output_);
    if (Connected()) engine_.OnTick(now, sink_);
  }
  std::lock_guard lock(mutex_);
  output_.LinkChanged(false);
}

}  // namespace exchange
