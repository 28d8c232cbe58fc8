// SPDX-License-Identifier: Zlib
#include "common/text_format.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// What the C library's formatter writes for `format`.
template <typename... Args>
std::string library_formatted(const char* format, Args... args) {
  char text[256];
  int length = std::snprintf(text, sizeof text, format, args...);
  return length < 0 ? "<snprintf failed>" : std::string(text, static_cast<std::size_t>(length));
}

template <typename... Args>
void expect_like_library(const char* format, Args... args) {
  EXPECT_EQ(formatted(format, args...), library_formatted(format, args...)) << format;
}

// Without the printf format check, for texts the compiler would refuse.
std::string formatted_unchecked(const char* format, ...) {
  std::string out = "<";
  va_list args;
  va_start(args, format);
  append_formatted_v(out, format, args);
  va_end(args);
  return out;
}

TEST(TextFormat, WritesWhatTheLibraryWrites) {
  expect_like_library("plain text, no conversion");
  expect_like_library("100%% of %s", "it");
  expect_like_library("'%s' and '%s'", "", "two words");
  expect_like_library("%d %d %d %d %i", 0, -1, INT_MIN, INT_MAX, 42);
  expect_like_library("%u %u", 0u, UINT_MAX);
  expect_like_library("%ld %lu", LONG_MIN, ULONG_MAX);
  expect_like_library("%lld %llu", LLONG_MIN, ULLONG_MAX);
  expect_like_library("%zu %jd %td", SIZE_MAX, INTMAX_MIN, static_cast<std::ptrdiff_t>(-3));
  expect_like_library("%hhd %hhu %hd %hu", 300, 300, 70000, 70000);
  expect_like_library("%x %X %x %llx", 0xbeefu, 0xbeefu, 0u, ULLONG_MAX);
  expect_like_library("[%5d] [%-5d] [%05d] [%05d] [%-05d]", 42, 42, 42, -42, 42);
  expect_like_library("[%.3d] [%8.3d] [%08.3d] [%.0d] [%.0u]", 7, -7, 7, 0, 0u);
  expect_like_library("[%+d] [%+d] [% d] [% d] [%+ d] [%+u]", 5, -5, 5, -5, 5, 5u);
  expect_like_library("[%c] [%3c] [%-3c]", 'A', 'b', 'c');
  expect_like_library("[%6s] [%-6s] [%.2s] [%6.2s] [%.9s]", "ab", "ab", "abcdef", "abcdef", "ab");
  expect_like_library("[%*d] [%*d] [%.*s] [%.*s]", 6, 42, -6, 42, 3, "abcdef", -1, "abcdef");
  expect_like_library("%s: %llu of %llu bytes (%d%%)", "archive.zip", 123456789012ull,
                      987654321098ull, 12);
}

TEST(TextFormat, CopiesAnUnknownConversionAsItStands) {
  EXPECT_EQ(formatted_unchecked("a%qb%d", 7), "<a%qb7");
  EXPECT_EQ(formatted_unchecked("ends in %"), "<ends in %");
  EXPECT_EQ(formatted_unchecked("%s", "appended"), "<appended");
}

}  // namespace
