// SPDX-License-Identifier: Zlib
#include "extract/entry_names.hpp"

#include "common/display_text.hpp"

namespace {

constexpr unsigned k_host_unix = 3;
constexpr unsigned long k_type_mask = 0170000;
constexpr unsigned long k_type_symlink = 0120000;
constexpr unsigned k_group_other_write = 0022;

}  // namespace

std::string entry_path(const char* name, TargetPlatform target) {
  std::string path = name;
  if (target == TargetPlatform::Linux) {
    for (char& c : path) {
      if (c == '\\') {
        c = '/';
      }
    }
  }
  return path;
}

std::string printable_name(const char* name) { return display_text(name); }

long stored_unix_mode(unsigned long version_made_by, unsigned long external_attributes) {
  if (((version_made_by >> 8) & 0xff) != k_host_unix) {
    return -1;
  }
  return static_cast<long>((external_attributes >> 16) & 0xffff);
}

bool is_symbolic_link(unsigned long version_made_by, unsigned long external_attributes) {
  long stored = stored_unix_mode(version_made_by, external_attributes);
  return stored > 0 && (static_cast<unsigned long>(stored) & k_type_mask) == k_type_symlink;
}

LinkTargetVerdict check_link_target(const std::string& path, const std::string& target) {
  if (target.empty()) {
    return LinkTargetVerdict::Empty;
  }
  if (target.size() >= k_link_target_limit) {
    return LinkTargetVerdict::TooLong;
  }
  if (target.find('\0') != std::string::npos) {
    return LinkTargetVerdict::HasNul;
  }
  if (target[0] == '/') {
    return LinkTargetVerdict::Absolute;
  }
  // How deep the link's own folder lies: its path's components but the last.
  long depth = -1;
  for (std::size_t begin = 0; begin <= path.size();) {
    std::size_t end = path.find('/', begin);
    end = end == std::string::npos ? path.size() : end;
    if (end > begin && path.compare(begin, end - begin, ".") != 0) {
      ++depth;
    }
    begin = end + 1;
  }
  bool named = false;
  for (std::size_t begin = 0; begin <= target.size();) {
    std::size_t end = target.find('/', begin);
    end = end == std::string::npos ? target.size() : end;
    if (target.compare(begin, end - begin, "..") == 0) {
      if (named) {
        return LinkTargetVerdict::ClimbsAfterName;
      }
      if (--depth < 0) {
        return LinkTargetVerdict::ClimbsOut;
      }
    } else if (end > begin && target.compare(begin, end - begin, ".") != 0) {
      named = true;
    }
    begin = end + 1;
  }
  return LinkTargetVerdict::Accepted;
}

const char* link_refusal_reason(LinkTargetVerdict verdict) {
  switch (verdict) {
    case LinkTargetVerdict::Accepted:
      break;
    case LinkTargetVerdict::Empty:
      return "the link target is empty";
    case LinkTargetVerdict::TooLong:
      return "the link target has 4096 bytes or more";
    case LinkTargetVerdict::HasNul:
      return "the link target holds a NUL byte";
    case LinkTargetVerdict::Absolute:
      return "the link target is an absolute path";
    case LinkTargetVerdict::ClimbsOut:
      return "the link target climbs out with \"..\"";
    case LinkTargetVerdict::ClimbsAfterName:
      return "the link target has \"..\" behind a name";
  }
  return "";
}

unsigned entry_mode(unsigned long version_made_by, unsigned long external_attributes,
                    EntryKind kind, unsigned creation_mask) {
  unsigned mode = kind == EntryKind::Directory ? 0755 : 0644;
  long stored = stored_unix_mode(version_made_by, external_attributes);
  if (stored > 0) {
    unsigned long unix_mode = static_cast<unsigned long>(stored);
    if (kind == EntryKind::File && (unix_mode & k_type_mask) == k_type_symlink) {
      unix_mode = 0644;
    }
    mode = static_cast<unsigned>(unix_mode & 0777);
  }
  mode &= ~(creation_mask | k_group_other_write);
  if (kind == EntryKind::Directory) {
    mode |= 0700;
  }
  return mode;
}
