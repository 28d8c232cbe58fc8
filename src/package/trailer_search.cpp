// SPDX-License-Identifier: Zlib
#include "package/trailer_search.hpp"

#include <algorithm>
#include <functional>
#include <iterator>
#include <vector>

#include "package/trailer_layout.hpp"
#include "platform/platform.hpp"

namespace {

// The window at p matches when the pattern's characters are followed by a NUL, so the search looks
// for those 19 bytes.
constexpr int k_needle_size = k_version_pattern_length + 1;

// Most packages end with their trailer, so the first block is small; later blocks grow up to a
// size that keeps the number of reads low on a large file without a trailer.
constexpr std::int64_t k_first_block = 4096;
constexpr std::int64_t k_largest_block = std::int64_t{1} << 20;

}  // namespace

PatternSearch find_version_pattern(std::FILE* file, std::int64_t start, std::int64_t& position) {
  if (start < 1) {
    return PatternSearch::NotFound;
  }
  if (platform::seek_file(file, 0, SEEK_END) != 0) {
    return PatternSearch::SeekFailed;
  }
  std::int64_t size = platform::tell_file(file);
  if (size < 0) {
    return PatternSearch::SeekFailed;
  }
  // The window at the first position would be short; every lower one is then complete.
  if (start + k_pattern_field_size > size) {
    return PatternSearch::ReadFailed;
  }

  char field[k_pattern_field_size];
  build_pattern_field(k_version_pattern_reversed, k_version_pattern_length, field);
  // Searching the block back to front finds the highest position first.
  char needle[k_needle_size];
  std::reverse_copy(field, field + k_needle_size, needle);
  std::boyer_moore_horspool_searcher<const char*> searcher(needle, needle + k_needle_size);

  std::vector<char> buffer;
  std::int64_t block = k_first_block;
  std::int64_t high = start;  // the highest position not yet tested
  while (high >= 1) {
    std::int64_t low = std::max<std::int64_t>(1, high - block + 1);
    // Positions low..high need the bytes from low up to high + 19.
    std::size_t count = static_cast<std::size_t>(high - low + k_needle_size);
    buffer.resize(count);
    if (platform::seek_file(file, low, SEEK_SET) != 0) {
      return PatternSearch::SeekFailed;
    }
    if (std::fread(buffer.data(), 1, count, file) != count) {
      return PatternSearch::ReadFailed;
    }
    std::reverse_iterator<const char*> first(buffer.data() + count);
    std::reverse_iterator<const char*> last(buffer.data());
    auto found = searcher(first, last).first;
    if (found != last) {
      // The match's last byte lies `found - first` bytes below the block's end.
      position = low + static_cast<std::int64_t>(count) - (found - first) - k_needle_size;
      return PatternSearch::Found;
    }
    high = low - 1;
    block = std::min(block * 2, k_largest_block);
  }
  return PatternSearch::NotFound;
}
