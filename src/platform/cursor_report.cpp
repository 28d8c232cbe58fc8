// SPDX-License-Identifier: Zlib
#include "platform/cursor_report.hpp"

namespace {

// Rows and columns of any real terminal fit in five digits; a longer number is not a report, and
// the limit keeps the caller from reading on without end.
constexpr int k_max_digits = 5;

}  // namespace

CursorReportParser::Progress CursorReportParser::feed(char byte) {
  if (m_progress != Progress::Partial) {
    *this = CursorReportParser();
  }
  m_taken += byte;
  bool fits = false;
  bool digit = byte >= '0' && byte <= '9';
  switch (m_field) {
    case Field::Escape:
      fits = byte == '\033';
      m_field = Field::Bracket;
      break;
    case Field::Bracket:
      fits = byte == '[';
      m_field = Field::Row;
      break;
    case Field::Row:
      if (digit && m_digits < k_max_digits) {
        fits = true;
        m_row = m_row * 10 + (byte - '0');
        ++m_digits;
      } else if (byte == ';' && m_digits > 0) {
        fits = true;
        m_field = Field::Column;
        m_digits = 0;
      }
      break;
    case Field::Column:
      if (digit && m_digits < k_max_digits) {
        fits = true;
        m_column = m_column * 10 + (byte - '0');
        ++m_digits;
      } else if (byte == 'R' && m_digits > 0) {
        m_progress = Progress::Complete;
        return m_progress;
      }
      break;
  }
  if (!fits) {
    m_progress = Progress::Mismatch;
  }
  return m_progress;
}
