// SPDX-License-Identifier: Zlib
// Whether a lock file still has its name (Linux).

#include <sys/stat.h>

#include <cerrno>

#include "platform/platform.hpp"

namespace platform {

int query_lock_file_named(std::intptr_t handle, const std::string& path, bool& named) {
  struct stat held {};
  if (fstat(static_cast<int>(handle), &held) != 0) {
    return errno;
  }
  struct stat at_name {};
  if (lstat(path.c_str(), &at_name) != 0) {
    if (errno != ENOENT) {
      return errno;
    }
    named = false;
    return 0;
  }
  named = held.st_dev == at_name.st_dev && held.st_ino == at_name.st_ino;
  return 0;
}

}  // namespace platform
