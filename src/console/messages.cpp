// SPDX-License-Identifier: Zlib
#include "console/messages.hpp"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "common/text_format.hpp"
#include "platform/platform.hpp"

namespace {

// The calling thread's innermost HeldMessages, if any.
thread_local HeldMessages* t_held = nullptr;

void write_line(bool to_error, const std::string& text) {
  // Both streams are flushed at once: the payload's command writes to the same console and its
  // output must not overtake ours.
  std::fflush(stdout);
  platform::StandardStream stream =
      to_error ? platform::StandardStream::Error : platform::StandardStream::Output;
  (void)platform::write_standard_stream(stream, text.data(), text.size());
  std::fflush(to_error ? stderr : stdout);
}

void write_tagged(platform::StandardStream stream, const char* tag, const char* format,
                  va_list args) {
  // The whole line is formatted first and written in one piece: on a Windows console it is
  // converted from UTF-8 as a whole, never split inside a character.
  std::string text = tag;
  append_formatted_v(text, format, args);
  bool to_error = stream == platform::StandardStream::Error;
  if (t_held != nullptr) {
    t_held->hold(to_error, std::move(text));
    return;
  }
  write_line(to_error, text);
}

}  // namespace

HeldMessages::HeldMessages() : m_outer(t_held) { t_held = this; }

HeldMessages::~HeldMessages() { t_held = m_outer; }

void HeldMessages::hold(bool to_error, std::string text) {
  m_lines.push_back(Line{to_error, std::move(text)});
}

std::vector<HeldMessages::Line> HeldMessages::take() {
  std::vector<Line> lines;
  lines.swap(m_lines);
  return lines;
}

void HeldMessages::write(const std::vector<Line>& lines) {
  for (const Line& line : lines) {
    if (t_held != nullptr) {
      t_held->hold(line.to_error, line.text);
    } else {
      write_line(line.to_error, line.text);
    }
  }
}

void print_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  write_tagged(platform::StandardStream::Error, "-E- ", format, args);
  va_end(args);
}

void print_info(const char* format, ...) {
  va_list args;
  va_start(args, format);
  write_tagged(platform::StandardStream::Output, "-I- ", format, args);
  va_end(args);
}

void print_plain(const char* format, ...) {
  va_list args;
  va_start(args, format);
  write_tagged(platform::StandardStream::Output, "", format, args);
  va_end(args);
}
