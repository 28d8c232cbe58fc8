// SPDX-License-Identifier: Zlib
#pragma once

// What the Windows platform files share: Win32 error codes turned into errno values.
// The Windows platform layer goes through the ANSI forms of the kernel calls and msvcrt. The
// executable's manifest makes UTF-8 the process's code page, so the ANSI calls take UTF-8. Where a
// path may pass 260 characters (entries deep in the extracted tree: creating, querying, writing,
// timestamping, removing), the wide-character calls are used with the "\\?\" form of the path
// (win32_paths.hpp), which works whether or not the system's long-path policy is on.

#include <windows.h>

#include <cerrno>

namespace platform {

// The nearest errno value for a Win32 error code.
inline int errno_from_win32(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return EEXIST;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
    case ERROR_INSUFFICIENT_BUFFER:
      return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    default:
      return EINVAL;
  }
}

inline int last_errno() { return errno_from_win32(GetLastError()); }

}  // namespace platform
