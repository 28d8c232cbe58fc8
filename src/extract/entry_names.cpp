#include "extract/entry_names.hpp"

#include <cstring>

#include "platform/platform.hpp"

namespace {

bool is_separator(char c) { return c == '/' || c == '\\'; }

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

constexpr unsigned k_host_unix = 3;
constexpr unsigned long k_type_mask = 0170000;
constexpr unsigned long k_type_symlink = 0120000;

}  // namespace

EntryNameVerdict check_entry_name(const char* name, unsigned long stored_length) {
  if (stored_length >= k_entry_name_capacity) {
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
      if (*p == '\0') {
        break;
      }
      start = p + 1;
    }
  }
  return EntryNameVerdict::Accepted;
}

const char* refusal_reason(EntryNameVerdict verdict) {
  switch (verdict) {
    case EntryNameVerdict::Accepted:
      return "";
    case EntryNameVerdict::TooLong:
      return "the name has 256 bytes or more";
    case EntryNameVerdict::HasNul:
      return "the name holds a NUL byte";
    case EntryNameVerdict::Absolute:
      return "the name is an absolute path";
    case EntryNameVerdict::DriveLetter:
      return "the name carries a drive letter";
    case EntryNameVerdict::ClimbsOut:
      return "the name climbs out with \"..\"";
  }
  return "";
}

std::string entry_path(const char* name) {
  std::string path = name;
  if (platform::platform_kind() == platform::PlatformKind::Posix) {
    for (char& c : path) {
      if (c == '\\') {
        c = '/';
      }
    }
  }
  return path;
}

unsigned entry_mode(unsigned long version_made_by, unsigned long external_attributes,
                    EntryKind kind) {
  unsigned mode = kind == EntryKind::Directory ? 0755 : 0644;
  unsigned long unix_mode = (external_attributes >> 16) & 0xffff;
  if (((version_made_by >> 8) & 0xff) == k_host_unix && unix_mode != 0) {
    if (kind == EntryKind::File && (unix_mode & k_type_mask) == k_type_symlink) {
      return 0644;
    }
    mode = static_cast<unsigned>(unix_mode & 0777);
  }
  if (kind == EntryKind::Directory) {
    mode |= 0700;
  }
  return mode;
}
