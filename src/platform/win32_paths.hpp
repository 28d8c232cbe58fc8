// SPDX-License-Identifier: Zlib
#pragma once

// Text and path conversions of the Windows platform layer, and how it opens a lock file, declared
// for its tests. The win32_*.cpp files use them where a path may pass 260 characters: they call
// the wide-character functions with the "\\?\" form of the path, which no length limit or system
// policy applies to.

#include <string>

namespace platform {

// `text`, UTF-8, in UTF-16. Bytes that are not UTF-8 become U+FFFD.
std::wstring utf8_to_utf16(const std::string& text);

// The "\\?\" form of `path` (UTF-8) into `out`: made full against the current directory first
// ('/' turned into '\', "." and ".." taken out, as any Windows call would read the path), then
// "\\?\" put in front of a drive path and "\\?\UNC\" in place of the "\\" of a network path. A
// path that starts with "\\?\" already is kept as it is, a device path ("\\.\") is only made
// full. Returns 0 or an errno value.
[[nodiscard]] int extended_length_path(const std::string& path, std::wstring& out);

// How lock_file opens its file: the arguments of CreateFileW (DWORD values) and whether the handle
// is inherited by the programs the process starts.
struct LockFileOpening {
  unsigned long access = 0;
  unsigned long share = 0;
  unsigned long disposition = 0;
  unsigned long flags = 0;
  bool inheritable = true;
};

// The opening lock_file uses.
LockFileOpening lock_file_opening();

}  // namespace platform
