// SPDX-License-Identifier: Zlib
#include "common/text_format.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

struct Spec {
  bool left = false;
  bool zeros = false;
  char sign = '\0';  // '+', ' ' or none
  int width = 0;
  int precision = -1;
};

void pad(std::string& out, std::size_t count, char fill) { out.append(count, fill); }

// `body` (digits, or the characters of %s and %c) after `prefix` ("-", "0x", ...) in the field.
void put_field(std::string& out, const Spec& spec, const char* prefix, const char* body,
               std::size_t body_length, bool numeric) {
  std::size_t prefix_length = std::strlen(prefix);
  std::size_t length = prefix_length + body_length;
  std::size_t width = spec.width > 0 ? static_cast<std::size_t>(spec.width) : 0;
  std::size_t fill = width > length ? width - length : 0;
  if (spec.left) {
    out.append(prefix, prefix_length).append(body, body_length);
    pad(out, fill, ' ');
  } else if (numeric && spec.zeros && spec.precision < 0) {
    out.append(prefix, prefix_length);
    pad(out, fill, '0');
    out.append(body, body_length);
  } else {
    pad(out, fill, ' ');
    out.append(prefix, prefix_length).append(body, body_length);
  }
}

void put_number(std::string& out, const Spec& spec, std::uintmax_t value, bool negative,
                unsigned base, bool upper, const char* prefix) {
  char digits[3 * sizeof value + 1];
  char* end = digits + sizeof digits;
  char* begin = end;
  const char* symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  while (value != 0) {
    *--begin = symbols[value % base];
    value /= base;
  }
  // At least one digit, or as many as the precision asks (none for a zero with precision 0).
  std::size_t count = static_cast<std::size_t>(end - begin);
  std::size_t wanted = spec.precision < 0 ? 1 : static_cast<std::size_t>(spec.precision);
  std::string body(wanted > count ? wanted - count : 0, '0');
  body.append(begin, count);
  char sign[2] = {negative ? '-' : spec.sign, '\0'};
  std::string lead = sign;
  lead += prefix;
  put_field(out, spec, lead.c_str(), body.data(), body.size(), true);
}

int read_count(const char*& p, va_list& args, bool& from_args_negative) {
  from_args_negative = false;
  if (*p == '*') {
    ++p;
    int value = va_arg(args, int);
    from_args_negative = value < 0;
    return value;
  }
  int value = 0;
  while (*p >= '0' && *p <= '9') {
    value = value * 10 + (*p++ - '0');
  }
  return value;
}

}  // namespace

void append_formatted_v(std::string& out, const char* format, va_list args_in) {
  va_list args;
  va_copy(args, args_in);
  for (const char* p = format; *p != '\0';) {
    if (*p != '%') {
      const char* next = std::strchr(p, '%');
      std::size_t length = next != nullptr ? static_cast<std::size_t>(next - p) : std::strlen(p);
      out.append(p, length);
      p += length;
      continue;
    }
    const char* start = p++;
    Spec spec;
    for (;; ++p) {
      if (*p == '-') {
        spec.left = true;
      } else if (*p == '0') {
        spec.zeros = true;
      } else if (*p == '+') {
        spec.sign = '+';
      } else if (*p == ' ') {
        spec.sign = spec.sign == '+' ? '+' : ' ';
      } else {
        break;
      }
    }
    bool negative = false;
    spec.width = read_count(p, args, negative);
    if (negative) {  // A negative width from the arguments is the '-' flag and its size.
      spec.left = true;
      spec.width = -spec.width;
    }
    if (*p == '.') {
      ++p;
      spec.precision = read_count(p, args, negative);
      if (spec.precision < 0) {  // As if none were given.
        spec.precision = -1;
      }
    }
    enum class Length { Int, Char, Short, Long, LongLong, Size, Max, PtrDiff } length = Length::Int;
    if (p[0] == 'h' && p[1] == 'h') {
      length = Length::Char, p += 2;
    } else if (p[0] == 'h') {
      length = Length::Short, ++p;
    } else if (p[0] == 'l' && p[1] == 'l') {
      length = Length::LongLong, p += 2;
    } else if (p[0] == 'l') {
      length = Length::Long, ++p;
    } else if (p[0] == 'z') {
      length = Length::Size, ++p;
    } else if (p[0] == 'j') {
      length = Length::Max, ++p;
    } else if (p[0] == 't') {
      length = Length::PtrDiff, ++p;
    }
    char conversion = *p;
    if (conversion != '\0') {
      ++p;
    }
    switch (conversion) {
      case 'd':
      case 'i': {
        std::intmax_t value = 0;
        switch (length) {
          case Length::Char: value = static_cast<signed char>(va_arg(args, int)); break;
          case Length::Short: value = static_cast<short>(va_arg(args, int)); break;
          case Length::Long: value = va_arg(args, long); break;
          case Length::LongLong: value = va_arg(args, long long); break;
          case Length::Size: value = va_arg(args, std::ptrdiff_t); break;
          case Length::Max: value = va_arg(args, std::intmax_t); break;
          case Length::PtrDiff: value = va_arg(args, std::ptrdiff_t); break;
          case Length::Int: value = va_arg(args, int); break;
        }
        std::uintmax_t magnitude = value < 0 ? 0 - static_cast<std::uintmax_t>(value)
                                             : static_cast<std::uintmax_t>(value);
        put_number(out, spec, magnitude, value < 0, 10, false, "");
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        std::uintmax_t value = 0;
        switch (length) {
          case Length::Char: value = static_cast<unsigned char>(va_arg(args, unsigned)); break;
          case Length::Short: value = static_cast<unsigned short>(va_arg(args, unsigned)); break;
          case Length::Long: value = va_arg(args, unsigned long); break;
          case Length::LongLong: value = va_arg(args, unsigned long long); break;
          case Length::Size: value = va_arg(args, std::size_t); break;
          case Length::Max: value = va_arg(args, std::uintmax_t); break;
          case Length::PtrDiff: value = static_cast<std::uintmax_t>(va_arg(args, std::ptrdiff_t)); break;
          case Length::Int: value = va_arg(args, unsigned); break;
        }
        spec.sign = '\0';
        put_number(out, spec, value, false, conversion == 'u' ? 10 : 16, conversion == 'X', "");
        break;
      }
      case 'c': {
        char c = static_cast<char>(va_arg(args, int));
        put_field(out, spec, "", &c, 1, false);
        break;
      }
      case 's': {
        const char* text = va_arg(args, const char*);
        if (text == nullptr) {
          text = "(null)";
        }
        std::size_t size = 0;
        while ((spec.precision < 0 || size < static_cast<std::size_t>(spec.precision)) &&
               text[size] != '\0') {
          ++size;
        }
        put_field(out, spec, "", text, size, false);
        break;
      }
      case '%':
        out += '%';
        break;
      default:  // Unknown: copied as it stands.
        out.append(start, static_cast<std::size_t>(p - start));
        break;
    }
  }
  va_end(args);
}

std::string formatted(const char* format, ...) {
  std::string out;
  va_list args;
  va_start(args, format);
  append_formatted_v(out, format, args);
  va_end(args);
  return out;
}
