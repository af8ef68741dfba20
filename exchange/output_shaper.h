#pragma once
// Fault injection on the way out: how the next frame is cut into TCP
// segments. Sans-IO: a frame goes in, the segments to write come out, each
// with the pause to keep before writing it.
//
// - Split: the next unit goes out in several segments (evenly, or at given
//   offsets) with a pause between them, so the peer sees it arrive in parts.
// - Merge: the next unit is held back until a second one comes and both go
//   out in one segment. If no second unit comes within the hold time, the
//   held one goes out alone (Expire).
// A merged pair counts as one unit for a pending split. Keep-alive frames
// and raw bytes do not pass through here.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace exchange {

struct Segment {
  std::vector<uint8_t> bytes;
  uint32_t pauseBeforeMs = 0;
};

class OutputShaper {
 public:
  // parts < 2 cancels a pending split. Parts are clamped to the unit's size.
  void SplitNext(unsigned parts, uint32_t pauseMs);
  // Cut offsets from the start of the unit; offsets of 0 or at or past the
  // end of the unit are ignored, the rest are sorted.
  void SplitNextAt(std::vector<size_t> offsets, uint32_t pauseMs);
  void MergeNext(uint32_t holdMs);

  // Segments to write now for one outgoing unit; none while it is held for a merge.
  std::vector<Segment> Shape(std::vector<uint8_t> unit, uint32_t nowTick);
  // The held unit, alone, once its hold time has passed; empty otherwise.
  std::vector<Segment> Expire(uint32_t nowTick);
  // Forgets a held unit (the connection went away). Pending requests stay.
  void DropHeld() { held_.reset(); }

  bool Holding() const { return held_.has_value(); }
  bool SplitPending() const { return split_.has_value(); }
  bool MergePending() const { return mergeHoldMs_.has_value(); }

 private:
  struct SplitRequest {
    unsigned parts = 0;            // even split when offsets is empty
    std::vector<size_t> offsets;
    uint32_t pauseMs = 0;
  };
  std::vector<Segment> Cut(std::vector<uint8_t> unit);

  std::optional<SplitRequest> split_;
  std::optional<uint32_t> mergeHoldMs_;
  std::optional<std::vector<uint8_t>> held_;
  uint32_t heldSince_ = 0;
  uint32_t heldFor_ = 0;
};

}  // namespace exchange
