// SPDX-License-Identifier: Zlib
#include "package/entry_rules.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "common/path_text.hpp"
#include "common/text_format.hpp"
#include "platform/platform.hpp"

namespace {

constexpr unsigned long k_flag_encrypted = 1;
constexpr unsigned long k_method_stored = 0;
constexpr unsigned long k_method_deflated = 8;

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A component that names the parent directory once Windows has dropped its trailing dots and
// blanks, or that Windows may read so.
bool climbs_out(const char* begin, const char* end) {
  int dots = 0;
  for (const char* p = begin; p != end; ++p) {
    if (*p == '.') {
      ++dots;
    } else if (*p != ' ') {
      return false;
    }
  }
  return dots >= 2;
}

char to_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether the component [`begin`, `end`) is a Windows device name. Windows looks only at the part
// before the first dot and ignores blanks at its end: "nul.txt", "Com1.tar.gz" and "aux " all
// name devices.
bool names_device(const char* begin, const char* end) {
  const char* stem_end = std::find(begin, end, '.');
  while (stem_end != begin && stem_end[-1] == ' ') {
    --stem_end;
  }
  std::string stem;
  for (const char* p = begin; p != stem_end; ++p) {
    stem += to_upper(*p);
  }
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") {
    return true;
  }
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
}

// Whether `c` is a character no Windows file name holds: '<', '>', ':', '"', '|', '?', '*' and the
// control characters 0x01-0x1F.
bool windows_cannot_hold(char c) {
  return (c > 0 && c < 0x20) || (c != '\0' && std::strchr("<>:\"|?*", c) != nullptr);
}

// Whether the component [`begin`, `end`) loses its last character to Windows: a dot or blank at its
// end, except in "." itself (which names the folder it stands in).
bool ends_in_dot_or_blank(const char* begin, const char* end) {
  if (begin == end || (end - begin == 1 && *begin == '.')) {
    return false;
  }
  return end[-1] == '.' || end[-1] == ' ';
}

}  // namespace

TargetPlatform this_platform() {
  return platform::platform_kind() == platform::PlatformKind::Windows ? TargetPlatform::Windows
                                                                      : TargetPlatform::Linux;
}

TargetPlatform platform_of_executable(const std::string& head) {
  return head.compare(0, 2, "MZ") == 0 ? TargetPlatform::Windows : TargetPlatform::Linux;
}

EntryNameVerdict check_entry_name(const char* name, unsigned long stored_length,
                                  TargetPlatform target, EntryNameUse use) {
  if (stored_length >= k_entry_name_limit) {
    return EntryNameVerdict::TooLong;
  }
  if (std::strlen(name) != stored_length) {
    return EntryNameVerdict::HasNul;
  }
  if (is_separator(name[0])) {
    return EntryNameVerdict::Absolute;
  }
  if (is_ascii_letter(name[0]) && name[1] == ':') {
    return EntryNameVerdict::DriveLetter;
  }
  const char* start = name;
  for (const char* p = name;; ++p) {
    if (*p == '\0' || is_separator(*p)) {
      if (climbs_out(start, p)) {
        return EntryNameVerdict::ClimbsOut;
      }
      if (target == TargetPlatform::Windows) {
        if (names_device(start, p)) {
          return EntryNameVerdict::DeviceName;
        }
        if (use == EntryNameUse::Written && std::find_if(start, p, windows_cannot_hold) != p) {
          return EntryNameVerdict::ForbiddenCharacter;
        }
        if (use == EntryNameUse::Written && ends_in_dot_or_blank(start, p)) {
          return EntryNameVerdict::TrailingDotOrBlank;
        }
      }
      if (*p == '\0') {
        break;
      }
      start = p + 1;
    }
  }
  return EntryNameVerdict::Accepted;
}

const char* refusal_reason(EntryNameVerdict verdict) {
  static const struct {
    EntryNameVerdict verdict;
    const char* reason;
  } k_reasons[] = {
      {EntryNameVerdict::TooLong, "the name has 256 bytes or more"},
      {EntryNameVerdict::HasNul, "the name holds a NUL byte"},
      {EntryNameVerdict::Absolute, "the name is an absolute path"},
      {EntryNameVerdict::DriveLetter, "the name carries a drive letter"},
      {EntryNameVerdict::ClimbsOut, "the name climbs out with \"..\""},
      {EntryNameVerdict::DeviceName, "the name is a Windows device name"},
      {EntryNameVerdict::ForbiddenCharacter,
       "the name holds a character Windows file names cannot hold"},
      {EntryNameVerdict::TrailingDotOrBlank, "a part of the name ends in a dot or a blank"},
  };
  for (const auto& entry : k_reasons) {
    if (entry.verdict == verdict) {
      return entry.reason;
    }
  }
  return "";
}

EntryDataVerdict check_entry_data(unsigned long flag, unsigned long method) {
  if ((flag & k_flag_encrypted) != 0) {
    return EntryDataVerdict::Encrypted;
  }
  if (method != k_method_stored && method != k_method_deflated) {
    return EntryDataVerdict::UnsupportedMethod;
  }
  return EntryDataVerdict::Accepted;
}

std::string unsupported_method_reason(unsigned long method) {
  struct MethodName {
    unsigned long method;
    const char* name;
  };
  static const MethodName k_names[] = {
      {9, "Deflate64"}, {12, "BZIP2"}, {14, "LZMA"}, {93, "Zstandard"}, {95, "XZ"}, {98, "PPMd"},
  };
  const char* name = nullptr;
  for (const auto& entry : k_names) {
    if (entry.method == method) {
      name = entry.name;
    }
  }
  // Formatted in one go: the stub carries this, and a chain of string operations costs it more.
  return formatted("compression method %lu%s%s%s is not supported; pack with Deflate or store",
                   method, name != nullptr ? " (" : "", name != nullptr ? name : "",
                   name != nullptr ? ")" : "");
}
