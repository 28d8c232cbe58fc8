#include "common/messages.hpp"

#include <cstdarg>
#include <cstdio>

namespace {

void write_tagged(std::FILE* stream, const char* tag, const char* format, va_list args) {
  // Both streams are flushed at once: the payload's command writes to the same console and its
  // output must not overtake ours.
  std::fflush(stdout);
  std::fputs(tag, stream);
  std::vfprintf(stream, format, args);
  std::fflush(stream);
}

}  // namespace

void print_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  write_tagged(stderr, "-E- ", format, args);
  va_end(args);
}

void print_info(const char* format, ...) {
  va_list args;
  va_start(args, format);
  write_tagged(stdout, "-I- ", format, args);
  va_end(args);
}

void print_plain(const char* format, ...) {
  va_list args;
  va_start(args, format);
  write_tagged(stdout, "", format, args);
  va_end(args);
}
