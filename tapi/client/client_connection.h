#pragma once
// One connection of libtapi32 to the telephony service (one per
// lineInitializeEx, and a short-lived one for lineGetProviderList).
//
// In: requests from any application thread (call()); bytes from the service
// on the connection's own reader thread. Out: each reply to the thread that
// waits for its sequence number (at most kReplyTimeoutMs, then
// LINEERR_OPERATIONFAILED); each event to the EventSink, on the reader
// thread, in order of arrival. A LINE_REPLY's attachment (linePark's
// VARSTRING, lineDevSpecific's parameters) is handed to the writer the
// request registered before the sink sees the event, so the application
// finds the data in place when the message reaches it.
//
// When the service goes (end of stream, a broken stream, a read error)
// every waiting call fails with LINEERR_OPERATIONFAILED, later calls fail at
// once, and the sink's connectionLost() runs once on the reader thread.
// close() (lineShutdown) ends the reader thread without connectionLost().
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/local_socket.h"
#include "platform/thread.h"
#include "tapi/tapi_types.h"
#include "tapi/wire/tapi_functions.h"
#include "tapi/wire/tapi_wire.h"

namespace tapi32 {

inline constexpr uint32_t kReplyTimeoutMs = 30000;

// A reply: the function's result, and a reader positioned at its out values
// (only when the result is not an error).
class Reply {
 public:
  explicit Reply(LONG result) : result_(result) {}
  Reply(LONG result, std::vector<uint8_t> message);
  Reply(Reply&&) = default;
  Reply& operator=(Reply&&) = default;

  LONG result() const { return result_; }
  bool failed() const { return result_ < 0; }
  tapiwire::Reader& values() { return *reader_; }
  // After reading the out values: true when they were all well-formed and
  // nothing was left over. On false, the call's result is
  // LINEERR_OPERATIONFAILED.
  bool valuesOk() const { return reader_ && reader_->ok() && reader_->atEnd(); }

 private:
  LONG result_;
  // The reader views message_'s heap buffer, which a move keeps in place.
  std::vector<uint8_t> message_;
  std::optional<tapiwire::Reader> reader_;
};

class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void onEvent(const tapiwire::EventMessage& event) = 0;
  virtual void connectionLost() = 0;
};

// Writes a LINE_REPLY attachment where the application asked for it.
using AttachmentWriter = std::function<void(std::span<const uint8_t> attachment)>;

class Connection {
 public:
  // Connects to the service of the current root; nullptr when none listens
  // (the reason is logged through debug output).
  static std::unique_ptr<Connection> open();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Starts the reader thread; events from then on go to the sink, which must
  // outlive the connection's reader (close() ends it).
  bool start(EventSink* sink);

  // Sends the request (function ID, then what args writes) and waits for its
  // reply. attachment: for an asynchronous function whose LINE_REPLY carries
  // data; bound to the request ID the reply gives.
  Reply call(tapiwire::Function function, const std::function<void(tapiwire::Writer&)>& args,
             AttachmentWriter attachment = {});

  // The service may end the connection from now on (lineShutdown is under
  // way): an end of stream is no longer reported as lost.
  void expectEnd();
  // Ends the connection and joins the reader (unless called on it).
  void close();
  bool lost() const;

 private:
  explicit Connection(platform::LocalConnection socket);
  void readLoop();
  void handleMessage(std::vector<uint8_t> message);
  void failAll();

  struct Waiter {
    bool done = false;
    std::vector<uint8_t> message;
    AttachmentWriter attachment;
  };

  platform::LocalConnection socket_;
  platform::Thread reader_;
  EventSink* sink_ = nullptr;
  std::mutex sendMutex_;
  mutable std::mutex mutex_;
  std::condition_variable replied_;
  uint32_t nextSequence_ = 1;
  std::map<uint32_t, std::shared_ptr<Waiter>> waiting_;      // by sequence
  std::map<uint32_t, AttachmentWriter> attachments_;         // by request ID
  bool lost_ = false;
  bool closing_ = false;
  bool endExpected_ = false;
};

}  // namespace tapi32
