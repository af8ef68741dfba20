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
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
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

  // A waiting reader looks at the clock at least this often (milliseconds of
  // real time), so a test clock moved by hand is noticed without an event.
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

  const platform::Clock& clock_;
  mutable std::mutex m_;
  mutable std::condition_variable changed_;
  std::deque<HostEvent> events_;
  size_t first_ = 0;  // the cursor of events_.front(): how many were discarded
  uint64_t changes_ = 0;  // grows at every append and wake
};

}  // namespace tapihost
