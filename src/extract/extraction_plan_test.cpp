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
  };
  for (const Case& c : cases) {
    CollisionCheck check;
    bool collides = false;
    for (const std::string& name : c.names) {
      collides = check.add(name, name.back() == '/') || collides;
    }
    EXPECT_EQ(collides, c.collides) << c.names.front() << " ... " << c.names.back();
  }
}

}  // namespace
