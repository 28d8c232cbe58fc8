// SPDX-License-Identifier: Zlib
// The block search must find exactly what testing one window per position finds.

#include "package/trailer_search.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "testing/scoped_temp_dir.hpp"

namespace {

const std::string k_pattern = "ZOLT_VERSION_PATT:";

// The rule as written: from `start` down to 1, the 32 bytes at p cut at their first NUL must
// equal the pattern. Returns the position, 0 for none, -1 when a window is short.
long long search_by_position(const std::string& content, long long start) {
  for (long long p = start; p >= 1; --p) {
    if (p + 32 > static_cast<long long>(content.size())) {
      return -1;
    }
    std::string window = content.substr(static_cast<std::size_t>(p), 32);
    if (std::string(window.c_str()) == k_pattern) {
      return p;
    }
  }
  return 0;
}

long long search_in_blocks(const std::string& path, long long start) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  EXPECT_TRUE(file) << path;
  std::int64_t position = -5;
  switch (find_version_pattern(file.get(), start, position)) {
    case PatternSearch::Found:
      return position;
    case PatternSearch::NotFound:
      return 0;
    default:
      return -1;
  }
}

TEST(TrailerSearch, MatchesThePositionByPositionRule) {
  ScopedTempDir dir;
  std::mt19937 random(7);
  // Sizes around the block edges (the first block covers 4096 positions, the next 8192, ...).
  const std::size_t sizes[] = {0,         18,        32,         33,         50,   4096 + 31,
                               4096 + 32, 4096 + 51, 12288 + 32, 12288 + 50, 70000};
  for (std::size_t size : sizes) {
    for (int round = 0; round < 12; ++round) {
      std::string content(size, '\0');
      for (char& c : content) {
        // Mostly NULs and pattern letters, so that near misses are common.
        c = (random() % 3 == 0) ? '\0' : k_pattern[random() % k_pattern.size()];
      }
      // Plant whole patterns, some followed by a NUL and some not, around block edges.
      for (int plant = 0; plant < 4 && size > 40; ++plant) {
        std::size_t at = random() % (size - 19);
        if (round % 3 == 0) {
          std::size_t edge = (random() % 2 == 0) ? 4096 : 12288;
          at = size > edge + 40 ? size - 32 - edge + 9 - random() % 20 : at;
        }
        content.replace(at, k_pattern.size(), k_pattern);
        content[at + k_pattern.size()] = (random() % 2 == 0) ? '\0' : 'x';
      }
      std::string path = dir.file("content");
      ASSERT_TRUE(write_file(path, content));
      long long start = static_cast<long long>(size) - 32;
      EXPECT_EQ(search_in_blocks(path, start), search_by_position(content, start))
          << "size " << size << " round " << round;
    }
  }
}

TEST(TrailerSearch, FindsPatternsOnEitherSideOfABlockEdge) {
  ScopedTempDir dir;
  const std::size_t size = 30000;
  const long long start = static_cast<long long>(size) - 32;
  // The first block holds the 4096 highest positions, the second the 8192 below them.
  for (long long edge : {4096LL, 4096LL + 8192}) {
    for (long long p = start - edge - 3; p <= start - edge + 3; ++p) {
      std::string content(size, 'x');
      content.replace(static_cast<std::size_t>(p), k_pattern.size() + 1, k_pattern + '\0');
      std::string path = dir.file("content");
      ASSERT_TRUE(write_file(path, content));
      EXPECT_EQ(search_in_blocks(path, start), p) << "edge " << edge;
    }
  }
}

TEST(TrailerSearch, NeverTestsPositionZeroAndNeedsWholeWindows) {
  ScopedTempDir dir;
  std::string path = dir.file("content");
  std::string at_zero = k_pattern + std::string(14, '\0');
  ASSERT_TRUE(write_file(path, at_zero + "x"));
  EXPECT_EQ(search_in_blocks(path, 0), 0);
  EXPECT_EQ(search_in_blocks(path, 1), 0);
  ASSERT_TRUE(write_file(path, "x" + at_zero));
  EXPECT_EQ(search_in_blocks(path, 1), 1);
  // A start whose window reaches beyond the end fails at once, like the first short read would.
  EXPECT_EQ(search_in_blocks(path, 2), -1);
}

}  // namespace
