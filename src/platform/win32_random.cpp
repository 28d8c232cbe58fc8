// SPDX-License-Identifier: Zlib
// The system's random source on Windows: RtlGenRandom (advapi32's SystemFunction036), there since
// Windows XP.

#include <windows.h>
#include <ntsecapi.h>

#include <algorithm>
#include <cerrno>

#include "platform/platform.hpp"

namespace platform {

int random_bytes(void* buffer, std::size_t size) {
  unsigned char* bytes = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    ULONG piece = static_cast<ULONG>(std::min<std::size_t>(size, 1u << 20));
    if (!RtlGenRandom(bytes, piece)) {
      return EIO;
    }
    bytes += piece;
    size -= piece;
  }
  return 0;
}

}  // namespace platform
