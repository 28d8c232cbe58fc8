// SPDX-License-Identifier: Zlib
#pragma once

// Tagged output. Every "-E- " and "-I- " line of the stub goes through here, so one place owns
// the tag, the stream and the flushing. `format` is printf-style; the caller writes the line end.

#include <string>
#include <vector>

#if defined(__GNUC__)
#define SFX_PRINTF_FORMAT(a, b) __attribute__((format(printf, a, b)))
#else
#define SFX_PRINTF_FORMAT(a, b)
#endif

// Writes "-E- " and the formatted text to standard error.
void print_error(const char* format, ...) SFX_PRINTF_FORMAT(1, 2);

// Writes "-I- " and the formatted text to standard output.
void print_info(const char* format, ...) SFX_PRINTF_FORMAT(1, 2);

// Writes the formatted text, untagged, to standard output.
void print_plain(const char* format, ...) SFX_PRINTF_FORMAT(1, 2);

// While one lives, what the calling thread prints through the functions above is held rather than
// written: the parallel extraction keeps each entry's messages until it knows which entry's
// count. Other threads print as usual.
class HeldMessages {
 public:
  HeldMessages();
  ~HeldMessages();
  HeldMessages(const HeldMessages&) = delete;
  HeldMessages& operator=(const HeldMessages&) = delete;

  struct Line {
    bool to_error;
    std::string text;
  };

  // Takes one line, for standard error when `to_error`.
  void hold(bool to_error, std::string text);
  // Hands over what was held so far, in order.
  std::vector<Line> take();
  // Prints `lines` as they were held: to this thread's innermost HeldMessages when one lives (a
  // caller that holds what an extraction prints gets the other thread's lines too), else out.
  static void write(const std::vector<Line>& lines);

 private:
  std::vector<Line> m_lines;
  HeldMessages* m_outer;
};
