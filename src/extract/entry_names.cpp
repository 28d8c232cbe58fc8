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
