#include "tapi/host/event_log.h"

#include <algorithm>
#include <chrono>

namespace tapihost {

EventLog::EventLog(const platform::Clock& clock) : clock_(clock) {}

uint64_t EventLog::append(HostEvent event) {
  uint64_t sequence;
  {
    std::lock_guard lock(m_);
    sequence = first_ + events_.size() + 1;
    event.sequence = sequence;
    events_.push_back(std::move(event));
    ++changes_;
  }
  changed_.notify_all();
  return sequence;
}

bool EventLog::update(uint64_t sequence, const std::function<void(HostEvent&)>& change) {
  std::lock_guard lock(m_);
  if (sequence <= first_ || sequence > first_ + events_.size()) return false;
  change(events_[sequence - 1 - first_]);
  return true;
}

void EventLog::discardBefore(size_t cursor) {
  std::lock_guard lock(m_);
  if (cursor <= first_) return;
  const size_t count = std::min(cursor - first_, events_.size());
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
    std::vector<HostEvent> fresh = copy(next, mark.limit);
    for (size_t i = 0; i < fresh.size(); ++i) {
      if (pred(fresh[i])) {
        cursor = static_cast<size_t>(fresh[i].sequence);  // the cursor just past it
        return std::move(fresh[i]);
      }
    }
    next = std::max(next, mark.limit);

    const uint32_t elapsed = clock_.tickCount() - start;  // wraps with the tick
    if (elapsed >= timeoutMs) return std::nullopt;
    const uint32_t slice = std::min(timeoutMs - elapsed, kClockCheckMs);
    std::unique_lock lock(m_);
    changed_.wait_for(lock, std::chrono::milliseconds(slice), [&] { return changes_ != mark.changes; });
  }
}

std::optional<LONG> EventLog::waitCompletion(DRV_REQUESTID requestId, uint32_t timeoutMs,
                                             const Housekeeping& housekeeping) const {
  size_t cursor = 0;
  auto event = waitFor(
      cursor,
      [&](const HostEvent& e) { return e.kind == HostEvent::Kind::Completion && e.requestId == requestId; },
      timeoutMs, housekeeping);
  if (!event) return std::nullopt;
  return event->result;
}

}  // namespace tapihost
