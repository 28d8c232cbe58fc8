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
      {"/A/b/. ./", "a/b"},
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

// The shares the two extraction threads claim: each begins where its entry stands, in archive
// order, at most share_size entries long, whether or not the end record counts every entry.
TEST(ExtractionPlan, SharesBeginWhereTheirEntriesStand) {
  ScopedTempDir dir;
  const std::string path = dir.file("large.zip");
  for (int counted : {-1, 4200}) {
    std::vector<ArchiveEntry> entries;
    for (int i = 0; i < 4500; ++i) {
      entries.push_back(unix_file("f" + std::to_string(i), std::to_string(i)));
    }
    ASSERT_TRUE(write_archive(path, entries));
    if (counted >= 0) {
      std::string bytes = read_file(path);
      set_end_record_count(bytes, static_cast<std::uint64_t>(counted));
      ASSERT_TRUE(write_file(path, bytes));
    }
    platform::FileHandle file;
    ArchiveRegion region;
    region.read_file = file_reader(file);
    ASSERT_EQ(platform::open_file_for_reading(path, file), 0);
    ASSERT_EQ(platform::file_size(file, region.length), 0);
    ArchiveStream stream(std::move(region));
    UnzipHandle archive;
    ASSERT_TRUE(open_archive(stream, archive) && archive.get() != nullptr);
    ExtractionPlan plan = plan_extraction(stream, archive.get(), TargetPlatform::Linux);
    ASSERT_TRUE(plan.walked);
    ASSERT_FALSE(plan.shares.empty());
    EXPECT_EQ(plan.shares.front().num_of_file, 0u);
    for (std::size_t i = 0; i < plan.shares.size(); ++i) {
      unz64_file_pos start = plan.shares[i];
      std::uint64_t end =
          i + 1 < plan.shares.size() ? plan.shares[i + 1].num_of_file : plan.walk.entries;
      EXPECT_LT(start.num_of_file, end);
      EXPECT_LE(end - start.num_of_file, share_size(4500));
      char name[64] = {};
      ASSERT_EQ(unzGoToFilePos64(archive.get(), &start), UNZ_OK);
      ASSERT_EQ(unzGetCurrentFileInfo64(archive.get(), nullptr, name, sizeof name - 1, nullptr, 0,
                                        nullptr, 0),
                UNZ_OK);
      EXPECT_EQ(name, entries[start.num_of_file].name) << counted;
    }
  }
}

}  // namespace
