// SPDX-License-Identifier: Zlib
// The system's random source on Linux.

#include <sys/random.h>

#include <cerrno>

#include "platform/platform.hpp"

namespace platform {

int random_bytes(void* buffer, std::size_t size) {
  unsigned char* bytes = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    ssize_t count = getrandom(bytes, size, 0);
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    bytes += count;
    size -= static_cast<std::size_t>(count);
  }
  return 0;
}

}  // namespace platform
