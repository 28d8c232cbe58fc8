// SPDX-License-Identifier: Zlib
#pragma once

// A progress line for long work on a terminal: "vek_fwsfx_gen: building PACKAGE: 42%", rewritten
// in place on standard error as the work goes on and ended with a newline.

#include <cstdint>
#include <ostream>
#include <string>

// Where progress goes: nowhere without a stream (standard error is not a terminal, or --quiet),
// and only for work of at least `threshold` bytes.
struct ProgressOutput {
  std::ostream* stream = nullptr;
  std::uint64_t threshold = 100'000'000;
};

class ProgressLine {
 public:
  // A line about `what` (e.g. "building pkg.exe"), `total` bytes of work; it shows nothing unless
  // `output` has a stream and `total` reaches its threshold.
  ProgressLine(const ProgressOutput& output, std::string what, std::uint64_t total);
  // Ends the line, so that whatever is written next starts on a line of its own.
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // `bytes` more of the work are done.
  void advance(std::uint64_t bytes);

 private:
  std::ostream* m_stream;
  std::string m_what;
  std::uint64_t m_total;
  std::uint64_t m_done = 0;
  int m_percent_shown = -1;
};

// Advances `line` when there is one.
inline void advance_progress(ProgressLine* line, std::uint64_t bytes) {
  if (line != nullptr) {
    line->advance(bytes);
  }
}
