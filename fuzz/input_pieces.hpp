// SPDX-License-Identifier: Zlib
#pragma once

// Turns a fuzzer's input into several strings: the pieces between its NUL bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzing {

// The pieces of `data` between NUL bytes; at least one (empty for empty input).
inline std::vector<std::string> split_at_nul(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = bytes.find('\0', start);
    pieces.push_back(bytes.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) {
      return pieces;
    }
    start = end + 1;
  }
}

}  // namespace fuzzing
