// SPDX-License-Identifier: Zlib
#include "extract/extraction_plan.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CollisionKey, FoldsEverySpellingOfOneDestination) {
  struct Case {
    std::string name;
    // Empty: the name gets no key.
    const char* key;
  } cases[] = {
      {"a/b.txt", "a/b.txt"},
      {"./a/x", "a/x"},
      {"a//x", "a/x"},
      {"a\\x", "a/x"},
      {"Case.TXT", "case.txt"},
      {"dir. /file . .", "dir/file"},
      {"./", ""},
      {"a~b/x~", "a~b/x~"},
      {"PROGRA~1/x", nullptr},
      {"a/\xC3\x84.txt", nullptr},
      {"\x8E.txt", nullptr},
  };
  for (const Case& c : cases) {
    std::string key;
    EXPECT_EQ(collision_key(c.name, key), c.key != nullptr) << c.name;
    if (c.key != nullptr) {
      EXPECT_EQ(key, c.key) << c.name;
    }
  }
}

TEST(CollisionCheck, TellsEntriesThatMayLandOnOneFile) {
  struct Case {
    std::vector<std::string> names;
    bool collides;
  } cases[] = {
      {{"same.bin", "same.bin"}, true},
      {{"./a/x", "a//x"}, true},
      {{"a//x", "a\\x"}, true},
      {{"Case.txt", "case.txt"}, true},
      {{"tool.exe", "tool.exe. "}, true},
      {{"a", "a/x"}, true},
      {{"a/x", "a"}, true},
      {{"a", "a/"}, true},
      {{"a/", "A"}, true},
      {{"x/y/z", "x/y"}, true},
      {{"a/", "a/"}, true},
      {{"\xC3\x84.txt"}, true},
      {{"a/", "a/x", "a/y", "a/b/", "a/b/c"}, false},
      {{"p/q/r/", "p/", "p/q/s"}, false},
      {{"./", "a.txt", "a.txt.bak", "ab"}, false},
      {{"./", "./"}, false},
      // A folder that the entry before needed too is noted once, by the first.
      {{"a/b/c", "a/b/d", "a/b"}, true},
      {{"a/b/c", "a/x", "a/B"}, true},
      {{"a/bc/x", "a/b/y", "a/b"}, true},
      {{"a/b/c", "a/bc/d", "a/b"}, true},
      {{"a/b/c", "a/b/d", "a/bc", "a/b/"}, false},
  };
  for (const Case& c : cases) {
    CollisionCheck check;
    for (const std::string& name : c.names) {
      (void)check.add(name, name.back() == '/');
    }
    EXPECT_EQ(check.collides(), c.collides) << c.names.front() << " ... " << c.names.back();
  }
}

// Entries of many folders in turn: each folder is noted again and again, and the repeats are
// dropped as the entries come; a late entry still meets an early one.
TEST(CollisionCheck, TellsCollisionsAmongManyEntries) {
  const char* last_names[] = {nullptr, "d3/s2", "D3/S2/f23", "d3/s2/f23/x", "d1/"};
  for (const char* last : last_names) {
    CollisionCheck check;
    for (int i = 0; i < 5000; ++i) {
      std::string name = "d" + std::to_string(i % 10) + "/s" + std::to_string(i % 7) + "/f" +
                         std::to_string(i);
      ASSERT_FALSE(check.add(name, false)) << name;
    }
    if (last != nullptr) {
      (void)check.add(last, std::string(last).back() == '/');
    }
    EXPECT_EQ(check.collides(), last != nullptr && std::string(last) != "d1/")
        << (last != nullptr ? last : "none");
  }
}

}  // namespace
