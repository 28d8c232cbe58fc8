// SPDX-License-Identifier: Zlib
#include "generator/progress_line.hpp"

#include <algorithm>
#include <utility>

ProgressLine::ProgressLine(const ProgressOutput& output, std::string what, std::uint64_t total)
    : m_stream(total >= output.threshold && total > 0 ? output.stream : nullptr),
      m_what(std::move(what)),
      m_total(total) {
  advance(0);
}

ProgressLine::~ProgressLine() {
  if (m_stream != nullptr && m_percent_shown >= 0) {
    *m_stream << "\n" << std::flush;
  }
}

void ProgressLine::advance(std::uint64_t bytes) {
  if (m_stream == nullptr) {
    return;
  }
  m_done = std::min(m_total, m_done + bytes);
  int percent = static_cast<int>(m_done * 100 / m_total);
  if (percent == m_percent_shown) {
    return;
  }
  m_percent_shown = percent;
  *m_stream << "\rvek_fwsfx_gen: " << m_what << ": "
            << (percent < 10    ? "  "
                : percent < 100 ? " "
                                : "")
            << percent << "%" << std::flush;
}
