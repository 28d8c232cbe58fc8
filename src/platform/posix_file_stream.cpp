// SPDX-License-Identifier: Zlib
// A stdio stream over an open descriptor, on Linux.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.hpp"

namespace platform {

std::FILE* open_file_stream(const FileHandle& file) {
  int duplicate = fcntl(static_cast<int>(file.native()), F_DUPFD_CLOEXEC, 0);
  if (duplicate < 0) {
    return nullptr;
  }
  // "r+b" neither creates nor empties: the file is as the handle's owner left it.
  std::FILE* stream = fdopen(duplicate, "r+b");
  if (stream == nullptr) {
    int error = errno;
    close(duplicate);
    errno = error;
  }
  return stream;
}

}  // namespace platform
