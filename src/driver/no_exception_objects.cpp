// SPDX-License-Identifier: Zlib
// The C++ library reports a broken precondition (a string position past its end, a length beyond
// what a string can hold, an empty std::function called) through the __throw_* functions below,
// which throw the matching standard exception. The stub throws nothing and catches nothing, so
// such an exception would end the program through the terminate handler. The library's own
// versions link the exception classes and, through their messages, a second string type and its
// instantiations: some 30 KB of every Windows package. These versions end the program at once
// with the terminate handler's text (the type's mangled name, as src/driver/no_demangler.cpp
// makes it show) and abort(), which is what an escaped exception ends in.

#include <bits/functexcept.h>

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void end_program(const char* type, const char* what) {
  std::fputs("terminate called after throwing an instance of '", stderr);
  std::fputs(type, stderr);
  std::fputs("'\n  what():  ", stderr);
  std::fputs(what, stderr);
  std::fputs("\n", stderr);
  std::abort();
}

}  // namespace

namespace std {

void __throw_bad_exception() { end_program("St13bad_exception", "std::bad_exception"); }
void __throw_bad_alloc() { end_program("St9bad_alloc", "std::bad_alloc"); }
void __throw_bad_array_new_length() {
  end_program("St20bad_array_new_length", "std::bad_array_new_length");
}
void __throw_bad_cast() { end_program("St8bad_cast", "std::bad_cast"); }
void __throw_bad_typeid() { end_program("St10bad_typeid", "std::bad_typeid"); }
void __throw_bad_function_call() { end_program("St17bad_function_call", "bad_function_call"); }
void __throw_logic_error(const char* what) { end_program("St11logic_error", what); }
void __throw_domain_error(const char* what) { end_program("St12domain_error", what); }
void __throw_invalid_argument(const char* what) { end_program("St16invalid_argument", what); }
void __throw_length_error(const char* what) { end_program("St12length_error", what); }
void __throw_out_of_range(const char* what) { end_program("St12out_of_range", what); }
void __throw_runtime_error(const char* what) { end_program("St13runtime_error", what); }
void __throw_range_error(const char* what) { end_program("St11range_error", what); }
void __throw_overflow_error(const char* what) { end_program("St14overflow_error", what); }
void __throw_underflow_error(const char* what) { end_program("St15underflow_error", what); }

// The library's messages for positions use "%s", "%zu" and "%%" only.
void __throw_out_of_range_fmt(const char* format, ...) {
  char text[512];
  std::size_t used = 0;
  va_list args;
  va_start(args, format);
  auto put = [&](char c) {
    if (used + 1 < sizeof text) {
      text[used++] = c;
    }
  };
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      for (const char* s = va_arg(args, const char*); *s != '\0'; ++s) {
        put(*s);
      }
      ++p;
    } else if (p[0] == '%' && p[1] == 'z' && p[2] == 'u') {
      char digits[24];
      int count = 0;
      std::size_t value = va_arg(args, std::size_t);
      do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
      } while (value != 0);
      while (count > 0) {
        put(digits[--count]);
      }
      p += 2;
    } else if (p[0] == '%' && p[1] == '%') {
      put('%');
      ++p;
    } else {
      put(*p);
    }
  }
  va_end(args);
  text[used] = '\0';
  end_program("St12out_of_range", text);
}

}  // namespace std
