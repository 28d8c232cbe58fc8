// SPDX-License-Identifier: Zlib
#pragma once

// The answer a terminal gives to a cursor-position request (ESC [ 6 n): ESC '[' row ';' column
// 'R', row and column in decimal, one-based. It arrives through the terminal's input, among the
// keys the user types, and possibly in pieces.

#include <string>

// Recognises one cursor-position report in bytes fed one at a time, so that the caller reads no
// byte beyond the report's end and a report split across reads is still one report.
class CursorReportParser {
 public:
  enum class Progress {
    // The bytes taken so far begin a report (or nothing has been taken yet).
    Partial,
    // The bytes taken so far are one whole report; `row` and `column` hold it.
    Complete,
    // The bytes taken so far, the last one included, are not a report.
    Mismatch,
  };

  // Takes the next byte and says what the bytes taken so far are. After `Complete` or `Mismatch`
  // the next byte starts over.
  Progress feed(char byte);

  // Whether a report has begun: some bytes were taken and no verdict fell yet.
  bool started() const { return m_progress == Progress::Partial && !m_taken.empty(); }

  // The bytes taken since the parser last started over; after `Mismatch`, the bytes that are to be
  // given back to their reader.
  const std::string& taken() const { return m_taken; }

  // The reported position, one-based as sent; valid after `Complete`.
  int row() const { return m_row; }
  int column() const { return m_column; }

 private:
  enum class Field { Escape, Bracket, Row, Column };

  Progress m_progress = Progress::Partial;
  Field m_field = Field::Escape;
  std::string m_taken;
  int m_digits = 0;
  int m_row = 0;
  int m_column = 0;
};
