// SPDX-License-Identifier: Zlib
#include "platform/platform.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <string>

#include "testing/scoped_temp_dir.hpp"

namespace {

TEST(PosixPlatform, RemoveTreeNeverFollowsLinks) {
  ScopedTempDir dir;
  ASSERT_EQ(platform::make_directory(dir.file("outside"), platform::DirectoryAccess::Shared), 0);
  ASSERT_TRUE(write_file(dir.file("outside/precious"), "keep"));
  ASSERT_EQ(platform::make_directory(dir.file("tree"), platform::DirectoryAccess::Private), 0);
  ASSERT_EQ(platform::make_directory(dir.file("tree/locked"), platform::DirectoryAccess::Shared), 0);
  ASSERT_TRUE(write_file(dir.file("tree/locked/f"), "x"));
  ASSERT_EQ(platform::set_file_mode(dir.file("tree/locked"), 0500), 0);
  ASSERT_EQ(platform::run_shell("ln -s ../outside tree/link && ln -s ../outside/precious tree/f"),
            0);

  EXPECT_EQ(platform::remove_tree(dir.file("tree")), 0);
  EXPECT_FALSE(path_exists(dir.file("tree")));
  EXPECT_EQ(read_file(dir.file("outside/precious")), "keep");
  EXPECT_EQ(platform::remove_tree(dir.file("tree")), ENOENT);
  EXPECT_EQ(platform::remove_tree(""), ENOENT);
}

// The work directory's lock: one holder at a time, in this process too; the commands the run
// starts get no copy of it; a link at its name is never followed.
TEST(PosixPlatform, LockFileIsHeldByOneOpenAndNotInherited) {
  ScopedTempDir dir;
  std::intptr_t held = -1;
  ASSERT_EQ(platform::lock_file(dir.file("lock"), held), 0);
  std::intptr_t second = -1;
  EXPECT_EQ(platform::lock_file(dir.file("lock"), second), EWOULDBLOCK);
  EXPECT_EQ(platform::run_shell("flock -n lock true"), 1);
  EXPECT_EQ(platform::run_shell("[ ! -e /proc/$$/fd/" + std::to_string(held) + " ]"), 0);
  EXPECT_EQ(platform::run_shell("[ \"$(stat -c %a lock)\" = 600 ]"), 0);
  // Once the name is gone or names another file, the lock locks nothing anybody can find.
  bool named = false;
  EXPECT_EQ(platform::query_lock_file_named(held, dir.file("lock"), named), 0);
  EXPECT_TRUE(named);
  ASSERT_EQ(platform::run_shell("mv lock moved"), 0);
  EXPECT_EQ(platform::query_lock_file_named(held, dir.file("lock"), named), 0);
  EXPECT_FALSE(named);
  ASSERT_TRUE(write_file(dir.file("lock"), ""));
  EXPECT_EQ(platform::query_lock_file_named(held, dir.file("lock"), named), 0);
  EXPECT_FALSE(named);
  platform::unlock_file(held);
  EXPECT_EQ(platform::run_shell("flock -n lock true"), 0);
  ASSERT_EQ(platform::lock_file(dir.file("lock"), held), 0);
  platform::unlock_file(held);

  ASSERT_EQ(platform::run_shell("ln -s target link && mkdir folder"), 0);
  EXPECT_EQ(platform::lock_file(dir.file("link"), held), ELOOP);
  EXPECT_FALSE(path_exists(dir.file("target")));
  EXPECT_EQ(platform::lock_file(dir.file("folder"), held), EISDIR);
}

TEST(PosixPlatform, RunShellReportsExitCodesAndSignals) {
  struct Case {
    const char* command;
    int status;
  } cases[] = {
      {"exit 0", 0}, {"exit 3", 3}, {"exit 255", 255}, {"kill -TERM $$", 128 + 15},
      {"kill -KILL $$", 128 + 9}, {"no_such_command_here 2>/dev/null", 127},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::run_shell(c.command), c.status) << c.command;
  }
}

TEST(PosixPlatform, SetFileTimeReadsDosTimeAsLocalTime) {
  ScopedTempDir dir;
  ASSERT_TRUE(write_file(dir.file("f"), ""));
  // 2024-01-31 20:24:54
  std::uint32_t dos = (44u << 25) | (1u << 21) | (31u << 16) | (20u << 11) | (24u << 5) | 27u;
  platform::set_file_time(dir.file("f"), dos);
  std::tm expected{};
  expected.tm_year = 124;
  expected.tm_mon = 0;
  expected.tm_mday = 31;
  expected.tm_hour = 20;
  expected.tm_min = 24;
  expected.tm_sec = 54;
  expected.tm_isdst = -1;
  std::time_t seconds = std::mktime(&expected);
  ASSERT_EQ(platform::run_shell("test \"$(stat -c %Y f)\" = " + std::to_string(seconds)), 0);
}

TEST(PosixPlatform, FullPathTakesOutDotsByName) {
  std::string out;
  ASSERT_EQ(platform::full_path("/a/./b/../c//d/", 1024, out), 0);
  EXPECT_EQ(out, "/a/c/d");
  ASSERT_EQ(platform::full_path("/..", 1024, out), 0);
  EXPECT_EQ(out, "/");
  EXPECT_EQ(platform::full_path("/" + std::string(1023, 'x'), 1024, out), ENAMETOOLONG);
  EXPECT_EQ(platform::full_path("/" + std::string(1022, 'x'), 1024, out), 0);
}

}  // namespace
