#include "console/messages.hpp"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/platform.hpp"

namespace {

void write_tagged(platform::StandardStream stream, const char* tag, const char* format,
                  va_list args) {
  // The whole line is formatted first and written in one piece: on a Windows console it is
  // converted from UTF-8 as a whole, never split inside a character.
  std::string text = tag;
  va_list measuring;
  va_copy(measuring, args);
  int length = std::vsnprintf(nullptr, 0, format, measuring);
  va_end(measuring);
  if (length > 0) {
    std::size_t start = text.size();
    text.resize(start + static_cast<std::size_t>(length) + 1);
    std::vsnprintf(&text[start], static_cast<std::size_t>(length) + 1, format, args);
    text.resize(start + static_cast<std::size_t>(length));
  }
  // Both streams are flushed at once: the payload's command writes to the same console and its
  // output must not overtake ours.
  std::fflush(stdout);
  (void)platform::write_standard_stream(stream, text.data(), text.size());
  std::fflush(stream == platform::StandardStream::Output ? stdout : stderr);
}

}  // namespace

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
