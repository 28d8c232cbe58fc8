// SPDX-License-Identifier: Zlib
#include "testing/stub_images.hpp"

#include <cstdint>

namespace {

void put(std::string& bytes, std::size_t at, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i) {
    bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
  }
}

}  // namespace

StubMarker test_stub_marker(TargetPlatform platform, StubLevel level) {
  StubMarker marker;
  marker.platform = platform;
  marker.level = level;
  marker.version = "1.0";
  marker.revision = "0123456789abcdef0123456789abcdef01234567";
  return marker;
}

std::string stub_image(TargetPlatform platform, const std::string& marker_bytes, std::size_t size,
                       char filler) {
  std::string bytes(size, filler);
  std::size_t marker_at = 0;
  if (platform == TargetPlatform::Linux) {
    // ELF header: 64-bit, little-endian, current version; an executable for x86-64 whose one
    // program header, at 64, loads the whole file.
    bytes.replace(0, 64, std::string(64, '\0'));
    bytes.replace(0, 7, std::string("\177ELF\x02\x01\x01", 7));
    put(bytes, 16, 2, 2);
    put(bytes, 18, 62, 2);
    put(bytes, 20, 1, 4);
    put(bytes, 32, 64, 8);
    put(bytes, 52, 64, 2);
    put(bytes, 54, 56, 2);
    put(bytes, 56, 1, 2);
    put(bytes, 58, 64, 2);
    bytes.replace(64, 56, std::string(56, '\0'));
    put(bytes, 64, 1, 4);
    put(bytes, 64 + 32, size, 8);
    marker_at = 128;
  } else {
    // "MZ", the PE header at 0x40: x86-64, one section, a 240-byte optional header, an
    // executable image; PE32+ with 16 data directory entries; the section's raw data from 0x200
    // to the end.
    bytes.replace(0, 0x200, std::string(0x200, '\0'));
    bytes.replace(0, 2, "MZ");
    put(bytes, 0x3C, 0x40, 4);
    bytes.replace(0x40, 4, std::string("PE\0\0", 4));
    put(bytes, 0x44, 0x8664, 2);
    put(bytes, 0x46, 1, 2);
    put(bytes, 0x54, 240, 2);
    put(bytes, 0x56, 0x22, 2);
    put(bytes, 0x58, 0x20B, 2);
    put(bytes, 0x58 + 108, 16, 4);
    put(bytes, 0x148 + 16, size - 0x200, 4);
    put(bytes, 0x148 + 20, 0x200, 4);
    marker_at = 0x200;
  }
  bytes.replace(marker_at, marker_bytes.size(), marker_bytes);
  return bytes;
}

std::string stub_image(TargetPlatform platform, StubLevel level, std::size_t size, char filler) {
  return stub_image(platform, encode_stub_marker(test_stub_marker(platform, level)), size, filler);
}
