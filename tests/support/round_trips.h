#pragma once
// Figures of round-trip benchmarks: blocks per second and the median round
// trip of a series of timed round trips.
#include <algorithm>
#include <chrono>
#include <vector>

namespace tktest {

using BenchClock = std::chrono::steady_clock;

struct Figures {
  double blocksPerSecond;
  double medianMicros;
};

// The figures of the round trips in micros (microseconds each) that took total.
inline Figures Summarise(std::vector<double> micros, BenchClock::duration total) {
  std::sort(micros.begin(), micros.end());
  double seconds = std::chrono::duration<double>(total).count();
  return {static_cast<double>(micros.size()) / seconds, micros[micros.size() / 2]};
}

// The value below which the share q (0..1) of the sorted values lies.
inline double Percentile(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return 0;
  size_t index = static_cast<size_t>(q * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(index, sorted.size() - 1)];
}

// Times blocks calls of roundTrip.
template <typename RoundTrip>
Figures Measure(int blocks, RoundTrip roundTrip) {
  std::vector<double> micros;
  micros.reserve(static_cast<size_t>(blocks));
  auto begin = BenchClock::now();
  for (int i = 0; i < blocks; ++i) {
    auto start = BenchClock::now();
    roundTrip();
    micros.push_back(std::chrono::duration<double, std::micro>(BenchClock::now() - start).count());
  }
  return Summarise(std::move(micros), BenchClock::now() - begin);
}

}  // namespace tktest
