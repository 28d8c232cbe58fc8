// SPDX-License-Identifier: Zlib
#pragma once

// Numbers stored least significant byte first, as ZIP records and PE headers store them.

#include <cstdint>

// The unsigned number in the `count` bytes (at most 8) at `bytes`, least significant first.
inline std::uint64_t read_little_endian(const unsigned char* bytes, int count) {
  std::uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i) {
    value = value << 8 | bytes[i];
  }
  return value;
}
