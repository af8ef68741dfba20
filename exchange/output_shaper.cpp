#include "exchange/output_shaper.h"

#include <algorithm>

namespace exchange {

void OutputShaper::SplitNext(unsigned parts, uint32_t pauseMs) {
  if (parts < 2) {
    split_.reset();
    return;
  }
  split_ = SplitRequest{parts, {}, pauseMs};
}

void OutputShaper::SplitNextAt(std::vector<size_t> offsets, uint32_t pauseMs) {
  std::sort(offsets.begin(), offsets.end());
  offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
  std::erase(offsets, size_t{0});
  if (offsets.empty()) {
    split_.reset();
    return;
  }
  split_ = SplitRequest{0, std::move(offsets), pauseMs};
}

void OutputShaper::MergeNext(uint32_t holdMs) { mergeHoldMs_ = holdMs; }

std::vector<Segment> OutputShaper::Shape(std::vector<uint8_t> unit, uint32_t nowTick) {
  if (held_) {
    std::vector<uint8_t> both = std::move(*held_);
    held_.reset();
    both.insert(both.end(), unit.begin(), unit.end());
    return Cut(std::move(both));
  }
  if (mergeHoldMs_) {
    held_ = std::move(unit);
    heldSince_ = nowTick;
    heldFor_ = *mergeHoldMs_;
    mergeHoldMs_.reset();
    return {};
  }
  return Cut(std::move(unit));
}

std::vector<Segment> OutputShaper::Expire(uint32_t nowTick) {
  if (!held_ || static_cast<uint32_t>(nowTick - heldSince_) < heldFor_) return {};
  std::vector<uint8_t> unit = std::move(*held_);
  held_.reset();
  return Cut(std::move(unit));
}

std::vector<Segment> OutputShaper::Cut(std::vector<uint8_t> unit) {
  if (!split_ || unit.size() < 2) {
    if (unit.empty()) return {};
    std::vector<Segment> whole;
    whole.push_back(Segment{std::move(unit), 0});
    return whole;
  }
  SplitRequest request = std::move(*split_);
  split_.reset();

  std::vector<size_t> cuts;  // end offsets of every segment
  if (request.offsets.empty()) {
    const size_t parts = std::min<size_t>(request.parts, unit.size());
    const size_t base = unit.size() / parts;
    const size_t extra = unit.size() % parts;
    size_t end = 0;
    for (size_t i = 0; i < parts; ++i) {
      end += base + (i < extra ? 1 : 0);
      cuts.push_back(end);
    }
  } else {
    for (size_t offset : request.offsets) {
      if (offset < unit.size()) cuts.push_back(offset);
    }
    cuts.push_back(unit.size());
  }

  std::vector<Segment> segments;
  size_t begin = 0;
  for (size_t end : cuts) {
    Segment segment;
    segment.bytes.assign(unit.begin() + static_cast<std::ptrdiff_t>(begin),
                         unit.begin() + static_cast<std::ptrdiff_t>(end));
    segment.pauseBeforeMs = segments.empty() ? 0 : request.pauseMs;
    segments.push_back(std::move(segment));
    begin = end;
  }
  return segments;
}

}  // namespace exchange
