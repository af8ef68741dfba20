#pragma once
// The messages between the telephony service (tapisrv) and the TAPI32
// library in each application, over a local stream connection. Sans-IO:
// bytes in, messages out, and back.
//
// A message is a 12-byte header - u32 length of the whole message (header
// included), u32 kind, u32 sequence - followed by values, all little-endian.
// Each value is a one-byte tag and its payload:
//   1 u32      4 bytes
//   2 u64      8 bytes
//   3 bytes    u32 count, then count bytes; count 0xFFFFFFFF is a null
//              pointer (no bytes follow)
//   4 text     u32 count of UTF-16 code units, then 2 x count bytes (no
//              terminator); count 0xFFFFFFFF is a null pointer
// Kinds: a request (application -> service, sequence chosen by the
// application, its reply carries the same sequence), a reply (service ->
// application) and an event (service -> application, sequence 0). What the
// values of each request and reply are is in tapi/wire/tapi_functions.h.
//
// Limits: a message is at most kMaxMessageSize bytes and has at most
// kMaxValues values. The splitter refuses a stream whose next header gives a
// length below the header's size or above the maximum, or an unknown kind:
// nothing after that point can be trusted, so the connection is closed. The
// reader refuses, value by value, a wrong tag, a count that runs past the
// end, an odd number of text bytes; its failures are sticky, so a handler
// reads every value it expects and checks ok() (and atEnd()) once.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tapiwire {

inline constexpr uint32_t kHeaderSize = 12;
inline constexpr uint32_t kMaxMessageSize = 1u << 20;
inline constexpr uint32_t kMaxValues = 64;
inline constexpr uint32_t kNullCount = 0xFFFFFFFFu;

enum class Kind : uint32_t { Request = 1, Reply = 2, Event = 3 };

enum class Tag : uint8_t { U32 = 1, U64 = 2, Bytes = 3, Text = 4 };

// Builds one message. Values beyond kMaxValues or kMaxMessageSize make
// finish() return an empty vector (the caller reports LINEERR_NOMEM or
// LINEERR_STRUCTURETOOSMALL as fits).
class Writer {
 public:
  Writer(Kind kind, uint32_t sequence);
  Writer& u32(uint32_t value);
  Writer& u64(uint64_t value);
  // nullopt writes a null pointer.
  Writer& bytes(std::optional<std::span<const uint8_t>> value);
  Writer& text(std::optional<std::u16string_view> value);
  // The message with its length filled in; empty when a limit was passed.
  std::vector<uint8_t> finish();

 private:
  std::vector<uint8_t> out_;
  uint32_t values_ = 0;
  bool overflow_ = false;
};

// Reads the values of one whole message in order.
class Reader {
 public:
  // Checks the header against the message's size and kind; nullopt when it
  // does not hold.
  static std::optional<Reader> open(std::span<const uint8_t> message);

  Kind kind() const { return kind_; }
  uint32_t sequence() const { return sequence_; }

  // Each returns 0 / nullopt / empty once ok() is false.
  uint32_t u32();
  uint64_t u64();
  // nullopt for a null pointer.
  std::optional<std::vector<uint8_t>> bytes();
  std::optional<std::u16string> text();

  bool ok() const { return ok_; }
  // Every value has been read.
  bool atEnd() const { return pos_ == message_.size(); }

 private:
  explicit Reader(std::span<const uint8_t> message);
  bool take(Tag tag);
  std::optional<uint32_t> count();

  std::span<const uint8_t> message_;
  size_t pos_ = kHeaderSize;
  Kind kind_ = Kind::Request;
  uint32_t sequence_ = 0;
  uint32_t values_ = 0;
  bool ok_ = true;
};

// Cuts a byte stream into whole messages.
class Splitter {
 public:
  // Appends what one receive delivered. False once the stream is broken
  // (see above); it stays broken.
  bool feed(std::span<const uint8_t> data);
  // The next whole message, in order of arrival.
  std::optional<std::vector<uint8_t>> next();
  bool broken() const { return broken_; }
  // Bytes received that do not yet form a whole message.
  size_t pending() const;

 private:
  void cut();

  std::vector<uint8_t> buffer_;
  std::deque<std::vector<uint8_t>> ready_;
  bool broken_ = false;
};

// An event as the service sends it: LINEMESSAGE's members, and for some
// replies (LINE_REPLY of linePark) a block the application library writes
// where the application asked (the park address VARSTRING).
struct EventMessage {
  uint32_t hDevice = 0;
  uint32_t messageId = 0;
  uint64_t callbackInstance = 0;
  uint64_t param1 = 0;
  uint64_t param2 = 0;
  uint64_t param3 = 0;
  std::optional<std::vector<uint8_t>> attachment;

  bool operator==(const EventMessage&) const = default;
};
std::vector<uint8_t> encodeEvent(const EventMessage& event);
// nullopt for a message that is not a well-formed event.
std::optional<EventMessage> decodeEvent(std::span<const uint8_t> message);

}  // namespace tapiwire
