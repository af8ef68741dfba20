#include "exchange/fault_injector.h"

namespace exchange {
namespace {

constexpr std::array<std::string_view, kFaultKindCount> kNames{"corrupt", "drop",       "silence",
                                                               "rnr",     "disconnect", "refuse"};

}  // namespace

std::string_view FaultKindName(FaultKind kind) { return kNames[static_cast<size_t>(kind)]; }

bool ParseFaultKinds(std::string_view list, FaultKinds& kinds, std::string* error) {
  FaultKinds parsed = 0;
  const std::string whole(list);
  while (true) {
    const size_t comma = list.find(',');
    const std::string_view name = list.substr(0, comma);
    if (name == "all") {
      parsed |= kAllFaultKinds;
    } else {
      size_t index = 0;
      while (index < kFaultKindCount && kNames[index] != name) ++index;
      if (index == kFaultKindCount) {
        if (error) {
          *error = name.empty() ? "an empty fault kind in '" + whole + "'"
                                : "unknown fault kind '" + std::string(name) +
                                      "' (corrupt, drop, silence, rnr, disconnect, refuse or all)";
        }
        return false;
      }
      parsed |= FaultBit(static_cast<FaultKind>(index));
    }
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  kinds = parsed;
  return true;
}

FaultInjector::FaultInjector(const FaultSettings& settings, EventSink* events)
    : settings_(settings), events_(events), random_(settings.seed) {}

double FaultInjector::Uniform() {
  // 53 random bits: the same value on every platform for the same seed.
  return static_cast<double>(random_() >> 11) * 0x1.0p-53;
}

std::optional<Fault> FaultInjector::Decide(uint32_t nowTick, FaultKinds possible, size_t frameSize,
                                           size_t firstByte) {
  const FaultKinds usable = possible & settings_.kinds;
  if (settings_.rate <= 0 || usable == 0) return std::nullopt;
  std::lock_guard lock(mutex_);
  if (Uniform() >= settings_.rate) return std::nullopt;
  unsigned choices = 0;
  for (size_t k = 0; k < kFaultKindCount; ++k) choices += (usable >> k) & 1u;
  unsigned pick = static_cast<unsigned>(random_() % choices);
  Fault fault;
  for (size_t k = 0; k < kFaultKindCount; ++k) {
    if (((usable >> k) & 1u) == 0) continue;
    if (pick-- == 0) {
      fault.kind = static_cast<FaultKind>(k);
      break;
    }
  }
  ++counts_[static_cast<size_t>(fault.kind)];
  std::string line = "fault " + std::string(FaultKindName(fault.kind));
  if (fault.kind == FaultKind::Corrupt) {
    const size_t first = firstByte < frameSize ? firstByte : 0;
    fault.byte = frameSize == 0 ? 0 : first + static_cast<size_t>(random_() % (frameSize - first));
    line += " byte=" + std::to_string(fault.byte);
  } else if (fault.kind == FaultKind::Silence) {
    silent_ = true;
    silenceFrom_ = nowTick;
    line += " ms=" + std::to_string(settings_.silenceMs);
  }
  Log(line);
  return fault;
}

std::optional<Fault> FaultInjector::OnOutgoing(uint32_t nowTick, size_t frameSize, size_t firstByte,
                                               FaultKinds possible) {
  return Decide(nowTick, possible & kOutgoingFaults, frameSize, firstByte);
}

std::optional<Fault> FaultInjector::OnIncoming(uint32_t nowTick, FaultKinds possible) {
  return Decide(nowTick, possible & kIncomingFaults, 0, 0);
}

void FaultInjector::Apply(const Fault& fault, std::vector<uint8_t>& frame) {
  if (fault.kind == FaultKind::Corrupt && fault.byte < frame.size()) frame[fault.byte] ^= kCorruptMask;
}

bool FaultInjector::Silent(uint32_t nowTick) {
  std::lock_guard lock(mutex_);
  if (!silent_) return false;
  // Unsigned difference: right across the wrap of the tick count.
  if (nowTick - silenceFrom_ < settings_.silenceMs) return true;
  silent_ = false;
  Log("fault silence-end");
  return false;
}

uint64_t FaultInjector::Count(FaultKind kind) const {
  std::lock_guard lock(mutex_);
  return counts_[static_cast<size_t>(kind)];
}

uint64_t FaultInjector::Total() const {
  std::lock_guard lock(mutex_);
  uint64_t total = 0;
  for (uint64_t count : counts_) total += count;
  return total;
}

std::string FaultInjector::CountsText() const {
  std::string text = "faults=" + std::to_string(Total());
  for (size_t k = 0; k < kFaultKindCount; ++k)
    text += " fault-" + std::string(kNames[k]) + "=" + std::to_string(Count(static_cast<FaultKind>(k)));
  return text;
}

void FaultInjector::Log(const std::string& line) {
  if (settings_.log && events_) events_->Event(line);
}

}  // namespace exchange
