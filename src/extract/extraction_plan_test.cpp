// SPDX-License-Identifier: Zlib
#include "extract/extraction_plan.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "testing/archive_builder.hpp"
#include "testing/scoped_temp_dir.hpp"

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
    // Split between two checks at every place, as the two threads of a large plan split them.
    for (std::size_t split = 0; split <= c.names.size(); ++split) {
      CollisionCheck halves[2];
      for (std::size_t i = 0; i < c.names.size(); ++i) {
        (void)halves[i < split ? 0 : 1].add(c.names[i], c.names[i].back() == '/');
      }
      EXPECT_EQ(halves[0].collides_with(halves[1]), c.collides)
          << c.names.front() << " ... " << c.names.back() << ", split at " << split;
    }
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

// A large directory is walked on two threads, the second from a header it finds past the middle:
// the plan must be the one the walk on one thread makes (a visitor keeps it on one), including
// when the guess lands inside a name or the end record counts fewer entries than there are.
TEST(ExtractionPlan, TwoThreadsPlanAsOneDoes) {
  ScopedTempDir dir;
  const std::string path = dir.file("large.zip");
  struct Case {
    const char* label;
    // Entries in place of "f<i>", the name of entry i otherwise.
    std::vector<std::pair<int, ArchiveEntry>> entries;
    // Names full of a header's signature: the second thread's guess lands in one.
    bool signatures;
    int counted;  // the end record's count; -1 leaves it
    bool collides;
  } cases[] = {
      {"plain", {}, false, -1, false},
      {"a collision across the halves",
       {{0, unix_file("a/x", "")}, {4499, unix_file("A/X", "")}}, false, -1, true},
      {"a file where a late entry needs a folder",
       {{1, unix_file("f", "")}, {4400, unix_file("f/x", "")}}, false, -1, true},
      {"a link in the second half", {{4000, unix_link("l", "target")}}, false, -1, false},
      {"the end record counts fewer", {}, false, 4200, false},
      {"signatures in the names", {}, true, -1, false},
  };
  std::string signatures;
  for (int i = 0; i < 40; ++i) {
    signatures += "PK\x01\x02";
  }
  for (const Case& c : cases) {
    std::vector<ArchiveEntry> entries;
    for (int i = 0; i < 4500; ++i) {
      std::string number = std::to_string(i);
      entries.push_back(unix_file((c.signatures ? signatures : "f") + number, number));
    }
    for (const auto& entry : c.entries) {
      entries[static_cast<std::size_t>(entry.first)] = entry.second;
    }
    ASSERT_TRUE(write_archive(path, entries)) << c.label;
    if (c.counted >= 0) {
      std::string bytes = read_file(path);
      set_end_record_count(bytes, static_cast<std::uint64_t>(c.counted));
      ASSERT_TRUE(write_file(path, bytes));
    }
    ExtractionPlan plans[2];
    for (int one_thread = 0; one_thread < 2; ++one_thread) {
      platform::FileHandle file;
      ArchiveRegion region;
      region.read_file = file_reader(file);
      ASSERT_EQ(platform::open_file_for_reading(path, file), 0);
      ASSERT_EQ(platform::file_size(file, region.length), 0);
      ArchiveStream stream(std::move(region));
      UnzipHandle archive;
      ASSERT_TRUE(open_archive(stream, archive) && archive.get() != nullptr) << c.label;
      plans[one_thread] =
          one_thread != 0
              ? plan_extraction(stream, archive.get(), TargetPlatform::Linux,
                                [](unzFile, const unz_file_info64&, const char*) {})
              : plan_extraction(stream, archive.get(), TargetPlatform::Linux);
      // Each share begins where its entry stands, in shares of at most share_size entries.
      const std::vector<unz64_file_pos>& shares = plans[one_thread].shares;
      ASSERT_FALSE(shares.empty()) << c.label;
      EXPECT_EQ(shares.front().num_of_file, 0u) << c.label;
      for (std::size_t i = 0; i < shares.size(); ++i) {
        unz64_file_pos start = shares[i];
        std::uint64_t end = i + 1 < shares.size() ? shares[i + 1].num_of_file
                                                  : plans[one_thread].walk.entries;
        EXPECT_LT(start.num_of_file, end) << c.label;
        EXPECT_LE(end - start.num_of_file, share_size(4500)) << c.label;
        char name[512] = {};
        ASSERT_EQ(unzGoToFilePos64(archive.get(), &start), UNZ_OK) << c.label;
        ASSERT_EQ(unzGetCurrentFileInfo64(archive.get(), nullptr, name, sizeof name - 1, nullptr,
                                          0, nullptr, 0),
                  UNZ_OK);
        EXPECT_EQ(name, entries[start.num_of_file].name) << c.label;
      }
    }
    const ExtractionPlan& two = plans[0];
    const ExtractionPlan& one = plans[1];
    EXPECT_TRUE(one.walked) << c.label;
    EXPECT_EQ(two.walked, one.walked) << c.label;
    EXPECT_EQ(two.walk.entries, one.walk.entries) << c.label;
    EXPECT_EQ(two.walk.bytes, one.walk.bytes) << c.label;
    EXPECT_EQ(two.walk.first_offset, one.walk.first_offset) << c.label;
    EXPECT_EQ(two.fill, one.fill) << c.label;
    EXPECT_EQ(two.needed, one.needed) << c.label;
    EXPECT_EQ(two.collides, one.collides) << c.label;
    EXPECT_EQ(two.links, one.links) << c.label;
    EXPECT_EQ(one.collides, c.collides) << c.label;
  }
}

}  // namespace
