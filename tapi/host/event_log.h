#pragma once
// The telephony host's record of every completion and event, in order of
// arrival, for any number of readers. Each reader keeps a cursor (the index
// of the next event it has not looked at), so an event that arrived before a
// reader started to wait is still found, and readers never take events away
// from each other. Events are appended from the provider's threads; waits
// measure their time-outs on an injected clock.
//
// Cursors and sequence numbers count from the start of the log and never
// move back. So that a log that lives for days does not grow with every
// event, its owner frees the events every reader has passed
// (discardBefore); a reader whose cursor lies before the first kept event
// then starts at the first kept one.
//
// Cost of a wait: waitCompletion finds its request through an index of the
// kept completions (request ID, sequence), never by walking the log, so it
// stays as cheap after a million events as after ten. waitFor copies only
// the events that arrived since its last look (the predicate must run
// without the log's lock: it may call into the host, whose threads append
// with the host's locks held). With the real clock and no housekeeping a
// waiter sleeps until an event, a wake() or its deadline. A substituted
// clock, which can be moved by hand without any event, is looked at every
// kClockCheckMs, and so is housekeeping run again: it may leave part of its
// work for a later round (the host creates at most 64 announced lines per
// round).
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "tapi/host/host_event.h"

namespace tapihost {

class EventLog {
 public:
  using Predicate = std::function<bool(const HostEvent&)>;
  // Work a reader does on its own thread, without the log's lock, before it
  // looks at the events that had arrived when the work began (the host
  // creates announced line devices there).
  using Housekeeping = std::function<void()>;

  // A reader waiting on a clock other than the system's, or with
  // housekeeping, looks at least this often (milliseconds of real time), so
  // a test clock moved by hand is noticed without an event and work that
  // housekeeping left for later is done.
  static constexpr uint32_t kClockCheckMs = 20;

  explicit EventLog(const platform::Clock& clock = platform::systemClock());
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  // Stores the event with the next sequence number (from 1) and wakes every
  // waiting reader; returns the sequence number.
  uint64_t append(HostEvent event);
  // Changes the stored event with that sequence number; false when none
  // (also when it was discarded).
  bool update(uint64_t sequence, const std::function<void(HostEvent&)>& change);
  // Frees the events before cursor (those with a sequence number up to
  // cursor); a cursor beyond the end frees them all. Later events keep
  // their sequence numbers.
  void discardBefore(size_t cursor);
  // Wakes every waiting reader, so it does its housekeeping.
  void wake();

  // The number of events appended since the log began (the cursor past the
  // last one), and the number still kept.
  size_t size() const;
  size_t kept() const;
  // How many times readers have looked at the log (a round of since,
  // waitFor or waitCompletion), for tests and diagnostics.
  uint64_t looks() const { return looks_.load(); }

  // The events from cursor on; cursor moves past them.
  std::vector<HostEvent> since(size_t& cursor, const Housekeeping& housekeeping = {}) const;

  // The first event from cursor on for which pred holds, waiting up to
  // timeoutMs for it to arrive; cursor moves past it. Events before the
  // match count as seen. On a time-out cursor stays where it was. pred runs
  // on the calling thread without the log's lock.
  std::optional<HostEvent> waitFor(size_t& cursor, const Predicate& pred, uint32_t timeoutMs,
                                   const Housekeeping& housekeeping = {}) const;

  // The result of the completion of that request, waiting up to timeoutMs
  // for it (looks at every kept event, whatever the readers' cursors).
  std::optional<LONG> waitCompletion(DRV_REQUESTID requestId, uint32_t timeoutMs,
                                     const Housekeeping& housekeeping = {}) const;

 private:
  // The cursor past the last event and the change count, before
  // housekeeping runs.
  struct Mark {
    size_t limit;
    uint64_t changes;
  };
  Mark markThenHousekeep(const Housekeeping& housekeeping) const;
  std::vector<HostEvent> copy(size_t from, size_t to) const;
  // False when timeoutMs of the clock have passed since start; else sleeps
  // until the change count moves past mark.changes, the rest of the time
  // is up, or (see kClockCheckMs) a slice of it has passed.
  bool waitChange(const Mark& mark, uint32_t start, uint32_t timeoutMs, bool housekeeping) const;
  static bool indexed(const HostEvent& e) { return e.kind == HostEvent::Kind::Completion; }

  const platform::Clock& clock_;
  mutable std::mutex m_;
  mutable std::condition_variable changed_;
  const bool realClock_;  // the system clock: waits need no look at the clock between events
  std::deque<HostEvent> events_;
  // The kept completions as (request ID, sequence), in order: the first
  // entry of an ID is its first kept completion.
  std::set<std::pair<DRV_REQUESTID, uint64_t>> completions_;
  size_t first_ = 0;  // the cursor of events_.front(): how many were discarded
  uint64_t changes_ = 0;  // grows at every append and wake
  mutable std::atomic<uint64_t> looks_{0};
};

}  // namespace tapihost
