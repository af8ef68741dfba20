#pragma once
// The machine-readable figures of the benchmarks, for the one table that
// `make bench` (scripts/bench.sh) prints at the end. Each benchmark given
// `--summary FILE` appends one line per figure that has a target or a
// baseline:
//
//   figure<TAB>measured<TAB>raw baseline<TAB>ratio<TAB>target<TAB>met
//
// Every field is text as it is to be shown ("840.5 us", "40.4 x", "-");
// met is "met", "NOT MET" or "-" (a figure without a target). Header-only,
// so that benchmarks outside bench/ use it without a library.
#include <cstdio>
#include <string>

namespace benchsummary {

struct Row {
  std::string figure;
  std::string measured;
  std::string raw = "-";
  std::string ratio = "-";
  std::string target = "-";
  std::string met = "-";
};

inline const char* Verdict(bool met) { return met ? "met" : "NOT MET"; }

// printf-style text for a field.
template <typename... Args>
std::string Text(const char* format, Args... args) {
  char text[128];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

// Appends the row to file (nothing when file is empty); false when it
// cannot be written.
inline bool Append(const std::string& file, const Row& row) {
  if (file.empty()) return true;
  std::FILE* out = std::fopen(file.c_str(), "a");
  if (!out) return false;
  const int written = std::fprintf(out, "%s\t%s\t%s\t%s\t%s\t%s\n", row.figure.c_str(), row.measured.c_str(),
                                   row.raw.c_str(), row.ratio.c_str(), row.target.c_str(), row.met.c_str());
  return std::fclose(out) == 0 && written > 0;
}

}  // namespace benchsummary
