#include "tapi/host/event_log.h"

#include <algorithm>
#include <chrono>

namespace tapihost {

EventLog::EventLog(const platform::Clock& clock) : clock_(clock), realClock_(&clock == &platform::systemClock()) {}

uint64_t EventLog::append(HostEvent event) {
  uint64_t sequence;
  {
    std::lock_guard lock(m_);
    sequence = first_ + events_.size() + 1;
    event.sequence = sequence;
    if (indexed(event)) completions_.emplace(event.requestId, sequence);
    events_.push_back(std::move(event));
    ++changes_;
  }
  changed_.notify_all();
  return sequence;
}

bool EventLog::update(uint64_t sequence, const std::function<void(HostEvent&)>& change) {
  std::lock_guard lock(m_);
  if (sequence <= first_ || sequence > first_ + events_.size()) return false;
  HostEvent& event = events_[sequence - 1 - first_];
  const bool wasIndexed = indexed(event);
  const DRV_REQUESTID wasId = event.requestId;
  change(event);
  // The change may make it a completion, or one of another request.
  if (wasIndexed != indexed(event) || wasId != event.requestId) {
    if (wasIndexed) completions_.erase({wasId, sequence});
    if (indexed(event)) completions_.emplace(event.requestId, sequence);
  }
  return true;
}

void EventLog::discardBefore(size_t cursor) {
  std::lock_guard lock(m_);
  if (cursor <= first_) return;
  const size_t count = std::min(cursor - first_, events_.size());
  for (size_t i = 0; i < count; ++i)
    if (indexed(events_[i])) completions_.erase({events_[i].requestId, events_[i].sequence});
  events_.erase(events_.begin(), events_.begin() + static_cast<std::ptrdiff_t>(count));
  first_ += count;
}

void EventLog::wake() {
  {
    std::lock_guard lock(m_);
    ++changes_;
  }
  changed_.notify_all();
}

size_t EventLog::size() const {
  std::lock_guard lock(m_);
  return first_ + events_.size();
}

size_t EventLog::kept() const {
  std::lock_guard lock(m_);
  return events_.size();
}

EventLog::Mark EventLog::markThenHousekeep(const Housekeeping& housekeeping) const {
  Mark mark;
  ++looks_;
  {
    std::lock_guard lock(m_);
    mark = Mark{first_ + events_.size(), changes_};
  }
  // Events that arrive from here on are left for the next round, after the
  // next housekeeping: so no reader sees an event the work has not yet seen.
  if (housekeeping) housekeeping();
  return mark;
}

std::vector<HostEvent> EventLog::copy(size_t from, size_t to) const {
  std::lock_guard lock(m_);
  from = std::max(from, first_);
  to = std::min(to, first_ + events_.size());
  if (from >= to) return {};
  return std::vector<HostEvent>(events_.begin() + static_cast<std::ptrdiff_t>(from - first_),
                                events_.begin() + static_cast<std::ptrdiff_t>(to - first_));
}

bool EventLog::waitChange(const Mark& mark, uint32_t start, uint32_t timeoutMs, bool housekeeping) const {
  const uint32_t elapsed = clock_.tickCount() - start;  // wraps with the tick
  if (elapsed >= timeoutMs) return false;
  const uint32_t left = timeoutMs - elapsed;
  // The real clock moves with the condition variable's: without
  // housekeeping to repeat, sleep the whole rest (the caller looks at the
  // clock again when the wait ends early or late).
  const uint32_t slice = realClock_ && !housekeeping ? left : std::min(left, kClockCheckMs);
  std::unique_lock lock(m_);
  changed_.wait_for(lock, std::chrono::milliseconds(slice), [&] { return changes_ != mark.changes; });
  return true;
}

std::vector<HostEvent> EventLog::since(size_t& cursor, const Housekeeping& housekeeping) const {
  Mark mark = markThenHousekeep(housekeeping);
  std::vector<HostEvent> events = copy(cursor, mark.limit);
  cursor = std::max(cursor, mark.limit);
  return events;
}

std::optional<HostEvent> EventLog::waitFor(size_t& cursor, const Predicate& pred, uint32_t timeoutMs,
                                           const Housekeeping& housekeeping) const {
  const uint32_t start = clock_.tickCount();
  size_t next = cursor;
  for (;;) {
    Mark mark = markThenHousekeep(housekeeping);
    // Only what arrived since the last look is copied.
    std::vector<HostEvent> fresh = copy(next, mark.limit);
    for (size_t i = 0; i < fresh.size(); ++i) {
      if (pred(fresh[i])) {
        cursor = static_cast<size_t>(fresh[i].sequence);  // the cursor just past it
        return std::move(fresh[i]);
      }
    }
    next = std::max(next, mark.limit);
    if (!waitChange(mark, start, timeoutMs, static_cast<bool>(housekeeping))) return std::nullopt;
  }
}

std::optional<LONG> EventLog::waitCompletion(DRV_REQUESTID requestId, uint32_t timeoutMs,
                                             const Housekeeping& housekeeping) const {
  const uint32_t start = clock_.tickCount();
  for (;;) {
    Mark mark = markThenHousekeep(housekeeping);
    {
      std::lock_guard lock(m_);
      // The first kept completion of the request among the events before
      // the mark (sequence s sits at cursor s - 1).
      auto it = completions_.lower_bound({requestId, 0});
      if (it != completions_.end() && it->first == requestId && it->second <= mark.limit)
        return events_[static_cast<size_t>(it->second - 1 - first_)].result;
    }
    if (!waitChange(mark, start, timeoutMs, static_cast<bool>(housekeeping))) return std::nullopt;
  }
}

}  // namespace tapihost
