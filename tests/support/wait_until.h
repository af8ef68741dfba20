#pragma once
// Waiting on a condition with a generous deadline, for tests that cross
// threads or processes. Never a fixed sleep: the wait ends as soon as the
// condition holds.
#include <chrono>
#include <functional>

namespace tktest {

// Polls cond every few milliseconds; true as soon as it holds, false after timeout.
bool waitUntil(const std::function<bool()>& cond,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

}  // namespace tktest
