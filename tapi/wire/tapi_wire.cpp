#include "tapi/wire/tapi_wire.h"

#include <cstring>

namespace tapiwire {
namespace {

void putU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t getU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

bool validKind(uint32_t kind) {
  return kind == static_cast<uint32_t>(Kind::Request) || kind == static_cast<uint32_t>(Kind::Reply) ||
         kind == static_cast<uint32_t>(Kind::Event);
}

}  // namespace

// --- Writer ------------------------------------------------------------------

Writer::Writer(Kind kind, uint32_t sequence) {
  out_.reserve(64);
  putU32(out_, 0);  // the length, filled in by finish()
  putU32(out_, static_cast<uint32_t>(kind));
  putU32(out_, sequence);
}

Writer& Writer::u32(uint32_t value) {
  if (++values_ > kMaxValues) overflow_ = true;
  out_.push_back(static_cast<uint8_t>(Tag::U32));
  putU32(out_, value);
  return *this;
}

Writer& Writer::u64(uint64_t value) {
  if (++values_ > kMaxValues) overflow_ = true;
  out_.push_back(static_cast<uint8_t>(Tag::U64));
  putU32(out_, static_cast<uint32_t>(value));
  putU32(out_, static_cast<uint32_t>(value >> 32));
  return *this;
}

Writer& Writer::bytes(std::optional<std::span<const uint8_t>> value) {
  if (++values_ > kMaxValues) overflow_ = true;
  out_.push_back(static_cast<uint8_t>(Tag::Bytes));
  if (!value) {
    putU32(out_, kNullCount);
    return *this;
  }
  if (value->size() >= kMaxMessageSize || out_.size() + value->size() > kMaxMessageSize) {
    overflow_ = true;
    return *this;
  }
  putU32(out_, static_cast<uint32_t>(value->size()));
  out_.insert(out_.end(), value->begin(), value->end());
  return *this;
}

Writer& Writer::text(std::optional<std::u16string_view> value) {
  if (++values_ > kMaxValues) overflow_ = true;
  out_.push_back(static_cast<uint8_t>(Tag::Text));
  if (!value) {
    putU32(out_, kNullCount);
    return *this;
  }
  if (value->size() >= kMaxMessageSize / 2 || out_.size() + 2 * value->size() > kMaxMessageSize) {
    overflow_ = true;
    return *this;
  }
  putU32(out_, static_cast<uint32_t>(value->size()));
  for (char16_t c : *value) {
    out_.push_back(static_cast<uint8_t>(c));
    out_.push_back(static_cast<uint8_t>(c >> 8));
  }
  return *this;
}

std::vector<uint8_t> Writer::finish() {
  if (overflow_ || out_.size() > kMaxMessageSize) return {};
  const auto length = static_cast<uint32_t>(out_.size());
  for (int i = 0; i < 4; ++i) out_[i] = static_cast<uint8_t>(length >> (8 * i));
  return std::move(out_);
}

// --- Reader ------------------------------------------------------------------

Reader::Reader(std::span<const uint8_t> message) : message_(message) {}

std::optional<Reader> Reader::open(std::span<const uint8_t> message) {
  if (message.size() < kHeaderSize || message.size() > kMaxMessageSize) return std::nullopt;
  if (getU32(message.data()) != message.size()) return std::nullopt;
  const uint32_t kind = getU32(message.data() + 4);
  if (!validKind(kind)) return std::nullopt;
  Reader r(message);
  r.kind_ = static_cast<Kind>(kind);
  r.sequence_ = getU32(message.data() + 8);
  return r;
}

bool Reader::take(Tag tag) {
  if (!ok_ || pos_ >= message_.size() || message_[pos_] != static_cast<uint8_t>(tag) || ++values_ > kMaxValues) {
    ok_ = false;
    return false;
  }
  ++pos_;
  return true;
}

std::optional<uint32_t> Reader::count() {
  if (message_.size() - pos_ < 4) {
    ok_ = false;
    return std::nullopt;
  }
  const uint32_t n = getU32(message_.data() + pos_);
  pos_ += 4;
  return n;
}

uint32_t Reader::u32() {
  if (!take(Tag::U32)) return 0;
  auto v = count();
  return v ? *v : 0;
}

uint64_t Reader::u64() {
  if (!take(Tag::U64)) return 0;
  if (message_.size() - pos_ < 8) {
    ok_ = false;
    return 0;
  }
  const uint64_t lo = getU32(message_.data() + pos_);
  const uint64_t hi = getU32(message_.data() + pos_ + 4);
  pos_ += 8;
  return lo | hi << 32;
}

std::optional<std::vector<uint8_t>> Reader::bytes() {
  if (!take(Tag::Bytes)) return std::nullopt;
  auto n = count();
  if (!n || *n == kNullCount) return std::nullopt;
  if (*n > message_.size() - pos_) {
    ok_ = false;
    return std::nullopt;
  }
  std::vector<uint8_t> out(message_.begin() + static_cast<std::ptrdiff_t>(pos_),
                           message_.begin() + static_cast<std::ptrdiff_t>(pos_ + *n));
  pos_ += *n;
  return out;
}

std::optional<std::u16string> Reader::text() {
  if (!take(Tag::Text)) return std::nullopt;
  auto n = count();
  if (!n || *n == kNullCount) return std::nullopt;
  if (*n > (message_.size() - pos_) / 2) {
    ok_ = false;
    return std::nullopt;
  }
  std::u16string out(*n, u'\0');
  for (uint32_t i = 0; i < *n; ++i) {
    out[i] = static_cast<char16_t>(message_[pos_ + 2 * i] | message_[pos_ + 2 * i + 1] << 8);
  }
  pos_ += 2 * static_cast<size_t>(*n);
  return out;
}

// --- Splitter ----------------------------------------------------------------

bool Splitter::feed(std::span<const uint8_t> data) {
  if (broken_) return false;
  buffer_.insert(buffer_.end(), data.begin(), data.end());
  cut();
  return !broken_;
}

void Splitter::cut() {
  size_t pos = 0;
  while (buffer_.size() - pos >= kHeaderSize) {
    const uint32_t length = getU32(buffer_.data() + pos);
    if (length < kHeaderSize || length > kMaxMessageSize || !validKind(getU32(buffer_.data() + pos + 4))) {
      broken_ = true;
      break;
    }
    if (buffer_.size() - pos < length) break;
    ready_.emplace_back(buffer_.begin() + static_cast<std::ptrdiff_t>(pos),
                        buffer_.begin() + static_cast<std::ptrdiff_t>(pos + length));
    pos += length;
  }
  if (broken_) {
    buffer_.clear();
    return;
  }
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(pos));
}

std::optional<std::vector<uint8_t>> Splitter::next() {
  if (ready_.empty()) return std::nullopt;
  std::vector<uint8_t> m = std::move(ready_.front());
  ready_.pop_front();
  return m;
}

size_t Splitter::pending() const { return buffer_.size(); }

// --- Events ------------------------------------------------------------------

std::vector<uint8_t> encodeEvent(const EventMessage& event) {
  Writer w(Kind::Event, 0);
  w.u32(event.hDevice).u32(event.messageId).u64(event.callbackInstance);
  w.u64(event.param1).u64(event.param2).u64(event.param3);
  if (event.attachment) {
    w.bytes(std::span<const uint8_t>(*event.attachment));
  } else {
    w.bytes(std::nullopt);
  }
  return w.finish();
}

std::optional<EventMessage> decodeEvent(std::span<const uint8_t> message) {
  auto r = Reader::open(message);
  if (!r || r->kind() != Kind::Event) return std::nullopt;
  EventMessage e;
  e.hDevice = r->u32();
  e.messageId = r->u32();
  e.callbackInstance = r->u64();
  e.param1 = r->u64();
  e.param2 = r->u64();
  e.param3 = r->u64();
  e.attachment = r->bytes();
  if (!r->ok() || !r->atEnd()) return std::nullopt;
  return e;
}

}  // namespace tapiwire
