#pragma once
// Random faults of the simulated exchange, for soak runs: given a seeded
// random source, a rate and the kinds asked for, it decides for each frame
// the exchange is about to send and for each data block it received whether
// a fault happens now, and which. The transports carry the decisions out.
//
// In:  one question per outgoing frame (OnOutgoing) and per received data
//      block (OnIncoming), each with the kinds that transport can carry out
//      and the tick of its clock.
// Out: the fault to do (or none), the byte of a frame to corrupt, whether a
//      silence is on, the number of faults of each kind, and one event line
//      per fault ("fault corrupt byte=3", "fault silence ms=3000",
//      "fault silence-end", ...) when logging was asked for.
// The kinds:
//   corrupt     a frame goes out with the bits of one of its bytes flipped
//               (its tag or length on the LAN, its CRC check on the serial
//               line)
//   drop        a frame is not sent
//   silence     nothing is sent for a few seconds (this frame included)
//   rnr         the serial link answers a block with receive-not-ready
//   disconnect  the TCP connection is closed (LAN)
//   refuse      a request is answered with the exchange's refusal
//               (RESULT 255), changing nothing
// With rate 0 nothing ever happens and the random source is not touched.
// The same seed, rate, kinds and sequence of questions give the same faults.
//
// Threads: every call may come from any thread; one mutex serialises them.
#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/protocol_engine.h"

namespace exchange {

enum class FaultKind : uint8_t { Corrupt, Drop, Silence, Rnr, Disconnect, Refuse };
inline constexpr size_t kFaultKindCount = 6;

// A set of fault kinds as bits (1 << kind).
using FaultKinds = uint32_t;
constexpr FaultKinds FaultBit(FaultKind kind) { return FaultKinds{1} << static_cast<unsigned>(kind); }
inline constexpr FaultKinds kAllFaultKinds = (FaultKinds{1} << kFaultKindCount) - 1;
// What a frame on its way out can suffer, and what a received block can.
inline constexpr FaultKinds kOutgoingFaults =
    FaultBit(FaultKind::Corrupt) | FaultBit(FaultKind::Drop) | FaultBit(FaultKind::Silence);
inline constexpr FaultKinds kIncomingFaults =
    FaultBit(FaultKind::Rnr) | FaultBit(FaultKind::Disconnect) | FaultBit(FaultKind::Refuse);

std::string_view FaultKindName(FaultKind kind);
// "corrupt,drop,..." (or "all") into a set; false with *error naming the
// unknown or missing kind.
bool ParseFaultKinds(std::string_view list, FaultKinds& kinds, std::string* error);

struct FaultSettings {
  static constexpr uint32_t kDefaultSilenceMs = 3000;
  double rate = 0;  // 0..1: the chance of a fault per question
  uint64_t seed = 1;
  FaultKinds kinds = kAllFaultKinds;
  uint32_t silenceMs = kDefaultSilenceMs;
  bool log = false;  // an event line per fault
};

// What carries out a refusal: the engine answers a request with its
// refusal and changes nothing. False when the block is no request it can
// refuse (the block then goes its usual way).
class RequestRefuser {
 public:
  virtual ~RequestRefuser() = default;
  virtual bool RefuseRequest(std::span<const uint8_t> block, BlockSink& out) = 0;
};

// One decision: the kind, and for corrupt the byte whose bits are flipped.
struct Fault {
  FaultKind kind = FaultKind::Drop;
  size_t byte = 0;
};

class FaultInjector {
 public:
  // Bits flipped in a corrupted byte.
  static constexpr uint8_t kCorruptMask = 0xFF;

  // events (may be null) gets the event lines when settings.log is on.
  explicit FaultInjector(const FaultSettings& settings, EventSink* events = nullptr);

  bool Enabled() const { return settings_.rate > 0 && settings_.kinds != 0; }
  const FaultSettings& Settings() const { return settings_; }

  // A frame of frameSize bytes is about to go out; `possible` is what the
  // transport can do to it (within kOutgoingFaults). A corrupted byte lies
  // at firstByte or after it (when the frame is longer). A silence starts
  // here and this frame is its first casualty.
  std::optional<Fault> OnOutgoing(uint32_t nowTick, size_t frameSize, size_t firstByte = 0,
                                  FaultKinds possible = kOutgoingFaults);
  // A data block came in; `possible` within kIncomingFaults.
  std::optional<Fault> OnIncoming(uint32_t nowTick, FaultKinds possible = kIncomingFaults);
  // Flips the bits of the fault's byte (nothing when it lies past the end).
  static void Apply(const Fault& fault, std::vector<uint8_t>& frame);

  // True while a silence lasts; the first look after its end reports
  // "fault silence-end".
  bool Silent(uint32_t nowTick);

  uint64_t Count(FaultKind kind) const;
  uint64_t Total() const;
  // "faults=N fault-corrupt=N fault-drop=N ..." for a status line.
  std::string CountsText() const;

 private:
  double Uniform();  // [0, 1)
  std::optional<Fault> Decide(uint32_t nowTick, FaultKinds possible, size_t frameSize, size_t firstByte);
  void Log(const std::string& line);

  const FaultSettings settings_;
  EventSink* events_;
  mutable std::mutex mutex_;
  std::mt19937_64 random_;
  std::array<uint64_t, kFaultKindCount> counts_{};
  bool silent_ = false;
  uint32_t silenceFrom_ = 0;
};

}  // namespace exchange
