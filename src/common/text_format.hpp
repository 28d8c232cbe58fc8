// SPDX-License-Identifier: Zlib
#pragma once

// printf-style formatting into a std::string, for the messages of the stub. The C library's
// formatter is big in a Windows program (the runtime's own, with floating point, some 20 KB of
// every package); this one knows what messages use:
//   conversions  d i u x X c s %   (no floating point, pointers or %n)
//   flags        - 0 + space         width and precision as digits or *
//   lengths      hh h l ll z j t
// and writes what std::snprintf writes for them. A conversion it does not know is copied as it
// stands, with nothing taken from the arguments.

#include <cstdarg>
#include <string>

// Appends the formatted `format` to `out`.
void append_formatted_v(std::string& out, const char* format, va_list args);

// The formatted `format`.
std::string formatted(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
