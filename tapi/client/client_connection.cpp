#include "tapi/client/client_connection.h"

#include <chrono>
#include <utility>

#include "platform/debug_output.h"
#include "platform/root.h"
#include "platform/win_error.h"
#include "tapi/tapi_constants.h"

namespace tapi32 {

namespace {

void debugLine(const std::string& text) { platform::outputDebugStringA("TAPI32: " + text + "\n"); }

}  // namespace

Reply::Reply(LONG result, std::vector<uint8_t> message) : result_(result), message_(std::move(message)) {
  reader_ = tapiwire::Reader::open(message_);
  if (reader_) reader_->u32();  // the result, already known
}

std::unique_ptr<Connection> Connection::open() {
  const std::string path = platform::runtimeDir() + "/" + tapiwire::kServiceSocketName;
  int error = 0;
  platform::LocalConnection socket = platform::LocalConnection::connect(path, &error);
  if (!socket.valid()) {
    if (error == platform::kErrorFileNotFound) {
      debugLine("the telephony service is not running for " + platform::rootDir() + ": start tapisrv");
    } else {
      debugLine("cannot connect to the telephony service at " + path + ": error " + std::to_string(error));
    }
    return nullptr;
  }
  return std::unique_ptr<Connection>(new Connection(std::move(socket)));
}

Connection::Connection(platform::LocalConnection socket) : socket_(std::move(socket)) {}

Connection::~Connection() {
  close();
  socket_.close();
}

bool Connection::start(EventSink* sink) {
  sink_ = sink;
  return reader_.start([this] { readLoop(); }, "tapi32 reader");
}

Reply Connection::call(tapiwire::Function function, const std::function<void(tapiwire::Writer&)>& args,
                       AttachmentWriter attachment) {
  auto waiter = std::make_shared<Waiter>();
  waiter->attachment = std::move(attachment);
  uint32_t sequence = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (lost_ || closing_) return Reply(LINEERR_OPERATIONFAILED);
    sequence = nextSequence_++;
    if (nextSequence_ == 0) nextSequence_ = 1;
    waiting_[sequence] = waiter;
  }
  tapiwire::Writer writer(tapiwire::Kind::Request, sequence);
  writer.u32(static_cast<uint32_t>(function));
  args(writer);
  std::vector<uint8_t> request = writer.finish();
  bool sent = false;
  if (!request.empty()) {
    std::lock_guard<std::mutex> lock(sendMutex_);
    sent = socket_.send(request.data(), request.size());
  }
  std::unique_lock<std::mutex> lock(mutex_);
  if (!sent) {
    waiting_.erase(sequence);
    return Reply(request.empty() ? LINEERR_NOMEM : LINEERR_OPERATIONFAILED);
  }
  const bool answered = replied_.wait_for(lock, std::chrono::milliseconds(kReplyTimeoutMs),
                                          [&] { return waiter->done; });
  waiting_.erase(sequence);
  if (!answered) {
    lock.unlock();
    debugLine("no reply from the telephony service to " + tapiwire::functionName(static_cast<uint32_t>(function)) +
              " within " + std::to_string(kReplyTimeoutMs / 1000) + " s");
    return Reply(LINEERR_OPERATIONFAILED);
  }
  if (waiter->message.empty()) return Reply(LINEERR_OPERATIONFAILED);  // the connection went
  std::optional<tapiwire::Reader> reader = tapiwire::Reader::open(waiter->message);
  const LONG result = reader ? static_cast<LONG>(reader->u32()) : 0;
  if (!reader || !reader->ok()) return Reply(LINEERR_OPERATIONFAILED);
  return Reply(result, std::move(waiter->message));
}

void Connection::expectEnd() {
  std::lock_guard<std::mutex> lock(mutex_);
  endExpected_ = true;
}

void Connection::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closing_) return;
    closing_ = true;
  }
  socket_.shutdownBoth();
  if (reader_.running() && platform::currentThreadId() != reader_.id()) reader_.join();
  failAll();
}

bool Connection::lost() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lost_;
}

void Connection::readLoop() {
  tapiwire::Splitter splitter;
  std::vector<uint8_t> buffer(64 * 1024);
  for (;;) {
    const long count = socket_.receive(buffer.data(), buffer.size());
    if (count <= 0) break;
    if (!splitter.feed(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(count)))) {
      debugLine("the telephony service sent a broken stream; the connection is closed");
      break;
    }
    while (std::optional<std::vector<uint8_t>> message = splitter.next()) handleMessage(std::move(*message));
  }
  bool report = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    report = !closing_ && !lost_ && !endExpected_;
    lost_ = true;
  }
  failAll();
  if (report) {
    debugLine("the connection to the telephony service was lost");
    if (sink_) sink_->connectionLost();
  }
}

void Connection::handleMessage(std::vector<uint8_t> message) {
  std::optional<tapiwire::Reader> reader = tapiwire::Reader::open(message);
  if (!reader) return;  // the splitter passed it, so this cannot happen; ignore it anyway
  if (reader->kind() == tapiwire::Kind::Reply) {
    const LONG result = static_cast<LONG>(reader->u32());
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = waiting_.find(reader->sequence());
    if (it == waiting_.end()) return;  // its caller gave up waiting
    if (result > 0 && it->second->attachment) attachments_[static_cast<uint32_t>(result)] = it->second->attachment;
    it->second->message = std::move(message);
    it->second->done = true;
    replied_.notify_all();
    return;
  }
  if (reader->kind() != tapiwire::Kind::Event) return;
  std::optional<tapiwire::EventMessage> event = tapiwire::decodeEvent(message);
  if (!event) {
    debugLine("the telephony service sent a malformed event; it is ignored");
    return;
  }
  if (event->messageId == LINE_REPLY) {
    AttachmentWriter writer;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = attachments_.find(static_cast<uint32_t>(event->param1));
      if (it != attachments_.end()) {
        writer = std::move(it->second);
        attachments_.erase(it);
      }
    }
    if (writer && event->attachment) writer(*event->attachment);
  }
  if (sink_) sink_->onEvent(*event);
}

void Connection::failAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [sequence, waiter] : waiting_) waiter->done = true;  // no message: failed
  attachments_.clear();
  replied_.notify_all();
}

}  // namespace tapi32
