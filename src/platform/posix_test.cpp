// SPDX-License-Identifier: Zlib
#include "platform/platform.hpp"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "common/dos_time.hpp"
#include "platform/posix_internal.hpp"

#include "testing/archive_builder.hpp"
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

// An output file is opened in one call where no link is on its way, by walking the path where
// one is, and by its name alone in a kept folder: either way a link is never written through, and
// the caller learns whether the file was made.
TEST(PosixPlatform, OutputFilesAreNeverOpenedThroughALink) {
  ScopedTempDir dir;
  std::string start = platform::current_directory();
  for (bool keep_folder : {false, true}) {
    std::string pass = dir.file(keep_folder ? "kept" : "whole");
    ASSERT_EQ(platform::make_directory(pass, platform::DirectoryAccess::Shared), 0);
    ASSERT_EQ(platform::set_current_directory(pass), 0);
    ASSERT_EQ(platform::make_directory("outside", platform::DirectoryAccess::Shared), 0);
    ASSERT_TRUE(write_file("outside/precious", "keep"));
    ASSERT_EQ(platform::make_directory("d", platform::DirectoryAccess::Shared), 0);
    ASSERT_TRUE(write_file("d/old", "old"));
    ASSERT_EQ(platform::run_shell("ln -s ../outside d/out && ln -s ../outside/precious d/over"),
              0);
    struct Case {
      const char* path;
      int error;
      bool created;
      const char* left;  // what reading `path` then gives, when it opened
    } cases[] = {
        {"d/new", 0, true, "written"},
        {"d/old", 0, false, "written"},
        {"d/over", 0, true, "written"},
        {"d/out/precious", ELOOP, false, nullptr},
        {"d/out/again", ELOOP, false, nullptr},
        {"d/missing/new", ENOENT, false, nullptr},
        {"top", 0, true, "written"},
    };
    platform::OutputFolder folder;
    for (const Case& c : cases) {
      bool created = !c.created;
      platform::FileHandle file;
      EXPECT_EQ(platform::open_output_file(c.path, created, file, keep_folder ? &folder : nullptr),
                c.error)
          << c.path;
      if (c.left != nullptr) {
        std::size_t written = 0;
        EXPECT_EQ(platform::write_file(file, "written", 7, written), 0) << c.path;
        EXPECT_EQ(file.close(), 0) << c.path;
        EXPECT_EQ(created, c.created) << c.path;
        EXPECT_EQ(read_file(c.path), c.left) << c.path;
      }
    }
    EXPECT_EQ(read_file("outside/precious"), "keep");
  }
  EXPECT_EQ(platform::set_current_directory(start), 0);
}

int open_descriptors() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

// Trees of any shape go whole with a few descriptors: a chain deeper than the process may open
// descriptors, and trees with enough folders side by side to be removed on two threads. In every
// folder of each branch a file, a link to a folder outside and a link to a file outside (never
// followed); some folders deny their owner writing or everything.
TEST(PosixPlatform, RemoveTreeTakesAnyShapeWithFewDescriptors) {
  ScopedTempDir dir;
  ASSERT_EQ(platform::make_directory(dir.file("outside"), platform::DirectoryAccess::Shared), 0);
  ASSERT_TRUE(write_file(dir.file("outside/precious"), "keep"));
  struct Case {
    const char* what;
    int branches;  // folders side by side in the tree's top folder
    int depth;     // each a chain of this many folders
    const char* kept;  // emptied with empty_private_directory, keeping this name; else remove_tree
    int large;  // 2 MiB files (sparse) in the top folder and in each chain's first folder
  } cases[] = {
      {"one chain 100 deep", 1, 100, nullptr, 0},
      {"40 chains 3 deep", 40, 3, nullptr, 0},
      {"20 chains 12 deep", 20, 12, nullptr, 0},
      {"a leftover of 16 chains 10 deep", 16, 10, ".sfx-lock", 0},
      {"one large file alone", 0, 0, nullptr, 1},
      {"a large file beside a chain", 1, 3, nullptr, 1},
      {"large files in more folders than are kept", 6, 12, nullptr, 2},
      {"a leftover with large files", 2, 3, ".sfx-lock", 1},
  };
  for (const Case& c : cases) {
    std::string tree = dir.file("tree");
    ASSERT_EQ(platform::make_directory(tree, platform::DirectoryAccess::Shared), 0) << c.what;
    if (c.kept != nullptr) {
      ASSERT_TRUE(write_file(tree + "/" + c.kept, "")) << c.what;
    }
    auto add_large_files = [&](const std::string& folder) {
      for (int i = 0; i < c.large; ++i) {
        std::string file = folder + "/large" + std::to_string(i);
        ASSERT_TRUE(write_file(file, "x")) << c.what;
        std::filesystem::resize_file(file, 2 << 20);
      }
    };
    add_large_files(tree);
    std::vector<std::string> locked;
    for (int branch = 0; branch < c.branches; ++branch) {
      std::string folder = tree + "/b" + std::to_string(branch);
      for (int level = 0; level < c.depth; ++level, folder += "/d") {
        ASSERT_EQ(platform::make_directory(folder, platform::DirectoryAccess::Shared), 0) << c.what;
        ASSERT_TRUE(write_file(folder + "/f", "x")) << c.what;
        if (level == 0) {
          add_large_files(folder);
        }
        if (level % 10 == 3) {
          std::filesystem::create_directory_symlink(dir.file("outside"), folder + "/link");
          std::filesystem::create_symlink(dir.file("outside/precious"), folder + "/file-link");
        }
        if (level % 10 == 5 || level % 10 == 7) {
          locked.push_back(folder);
        }
      }
    }
    for (std::size_t i = 0; i < locked.size(); ++i) {
      ASSERT_EQ(platform::set_file_mode(locked[i], i % 2 == 0 ? 0500 : 0), 0) << c.what;
    }

    int descriptors = open_descriptors();
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit few = saved;
    few.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &few), 0);
    int error = c.kept == nullptr ? platform::remove_tree(tree)
                                  : platform::empty_private_directory(tree, c.kept);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);

    EXPECT_EQ(error, 0) << c.what << ": " << std::strerror(error);
    EXPECT_EQ(open_descriptors(), descriptors) << c.what;
    if (c.kept == nullptr) {
      EXPECT_FALSE(path_exists(tree)) << c.what;
    } else {
      EXPECT_EQ(tree_listing(tree), std::vector<std::string>{c.kept}) << c.what;
      EXPECT_EQ(platform::run_shell("[ \"$(stat -c %a " + tree + ")\" = 700 ]"), 0) << c.what;
      EXPECT_EQ(platform::remove_tree(tree), 0) << c.what;
    }
    EXPECT_EQ(tree_listing(dir.path()),
              (std::vector<std::string>{"outside/", "outside/precious"}))
        << c.what;
    EXPECT_EQ(read_file(dir.file("outside/precious")), "keep") << c.what;
  }
}

// A leftover work directory is emptied only when it is the user's own folder, reached without a
// link, and it is made the user's alone first.
TEST(PosixPlatform, EmptyPrivateDirectoryTakesOnlyTheUsersOwnFolder) {
  ScopedTempDir dir;
  ASSERT_EQ(platform::make_directory(dir.file("outside"), platform::DirectoryAccess::Shared), 0);
  ASSERT_TRUE(write_file(dir.file("outside/precious"), "keep"));
  ASSERT_EQ(platform::run_shell("ln -s outside link && ln -s outside/precious file-link"), 0);
  EXPECT_EQ(platform::empty_private_directory(dir.file("link"), "x"), ENOTDIR);
  EXPECT_EQ(platform::empty_private_directory(dir.file("file-link"), "x"), ENOTDIR);
  EXPECT_EQ(platform::empty_private_directory(dir.file("missing"), "x"), ENOENT);
  if (platform::run_shell("[ \"$(id -u)\" = 0 ]") == 0) {
    // Root could empty anybody's folder; another user's is left as it is.
    ASSERT_EQ(platform::run_shell("chown 54322 outside"), 0);
    EXPECT_EQ(platform::empty_private_directory(dir.file("outside"), "x"), EPERM);
  }
  EXPECT_EQ(platform::run_shell("[ \"$(stat -c %a outside)\" = 755 ]"), 0);
  EXPECT_EQ(read_file(dir.file("outside/precious")), "keep");
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

// A new thread may step off its creator's processor as it starts (only when it began there, so
// five starts); it ends free to run wherever it was started to, several processors or one.
TEST(PosixPlatform, ThreadsStartFreeToRunWhereTheProcessMay) {
  cpu_set_t process, one, seen;
  ASSERT_EQ(sched_getaffinity(0, sizeof process, &process), 0);
  CPU_ZERO(&one);
  CPU_SET(sched_getcpu(), &one);
  for (const cpu_set_t* allowed : {&process, &process, &process, &process, &process, &one}) {
    ASSERT_EQ(sched_setaffinity(0, sizeof *allowed, allowed), 0);
    std::uintptr_t thread = 0;
    auto record = [](void* s) { sched_getaffinity(0, sizeof seen, static_cast<cpu_set_t*>(s)); };
    ASSERT_EQ(platform::start_thread(record, &seen, thread), 0);
    platform::join_thread(thread);
    EXPECT_TRUE(CPU_EQUAL(&seen, allowed)) << CPU_COUNT(&seen) << " of " << CPU_COUNT(allowed);
  }
  ASSERT_EQ(sched_setaffinity(0, sizeof process, &process), 0);
}

// The archive's copy out of a package on one file system into a folder on another (a disk and
// tmpfs), where copy_file_range refuses: the range arrives whole, in order, at the file's position.
TEST(PosixPlatform, CopyBetweenFilesCrossesFileSystems) {
  ScopedTempDir dir;
  struct stat here {}, there {};
  ASSERT_EQ(stat(dir.path().c_str(), &here), 0);
  std::string other;
  for (const char* candidate : {"/dev/shm", "/tmp", "/var/tmp"}) {
    if (other.empty() && stat(candidate, &there) == 0 && there.st_dev != here.st_dev &&
        access(candidate, W_OK) == 0) {
      other = std::string(candidate) + "/sfxkit-copy-" + std::to_string(getpid());
    }
  }
  if (other.empty()) {
    GTEST_SKIP() << "no second file system to copy to";
  }
  std::string data;
  for (int count = 0; data.size() < 300000; ++count) {
    data += std::to_string(count) + ' ';
  }
  ASSERT_TRUE(write_file(dir.file("package"), data));
  platform::FileHandle from, to;
  ASSERT_EQ(platform::open_file_for_reading(dir.file("package"), from), 0);
  ASSERT_EQ(platform::create_exclusive_file(other, to), 0);
  std::size_t done = 0;
  for (std::size_t copied = 1; copied != 0 && done < data.size(); done += copied) {
    ASSERT_EQ(platform::copy_between_files(from, 1000 + done, to, 65536, copied), 0);
  }
  (void)to.close();
  EXPECT_EQ(read_file(other), data.substr(1000));
  std::remove(other.c_str());
}

// A package behind FUSE (as sshfs mounts one) may be read over a network; one in the test's own
// folder is not.
TEST(PosixPlatform, TellsFilesBehindFuseFromLocalOnes) {
  ScopedTempDir source, mount;
  ASSERT_TRUE(write_file(source.file("package"), "data"));
  platform::FileHandle local;
  ASSERT_EQ(platform::open_file_for_reading(source.file("package"), local), 0);
  EXPECT_FALSE(platform::is_on_network_file_system(local));
  std::string mount_command = "bindfs '" + source.path() + "' '" + mount.path() + "' 2>/dev/null";
  if (std::system(mount_command.c_str()) != 0) {
    GTEST_SKIP() << "no FUSE mount here (bindfs, /dev/fuse)";
  }
  platform::FileHandle behind_fuse;
  int opened = platform::open_file_for_reading(mount.file("package"), behind_fuse);
  bool network = opened == 0 && platform::is_on_network_file_system(behind_fuse);
  (void)behind_fuse.close();
  EXPECT_EQ(std::system(("umount '" + mount.path() + "' 2>/dev/null || fusermount3 -u '" +
                         mount.path() + "'").c_str()),
            0);
  ASSERT_EQ(opened, 0);
  EXPECT_TRUE(network);
}

// What the walk of a large directory freed, in the middle of the heap where the allocator keeps
// it, goes back to the system before the extraction's buffers come.
TEST(PosixPlatform, ReleaseFreedMemoryHandsBackTheHeapsFreePages) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's allocator keeps memory of its own";
#endif
  auto resident_kib = [] {
    std::string status = read_file("/proc/self/status");
    std::size_t at = status.find("RssAnon:");
    return at == std::string::npos ? -1L : std::atol(status.c_str() + at + 8);
  };
  // A MiB in blocks of 16 KiB, written, then freed but the last one, which keeps the others from
  // being the heap's top (free gives that back itself).
  std::vector<char*> blocks;
  for (int i = 0; i < 65; ++i) {
    blocks.push_back(static_cast<char*>(std::malloc(16 * 1024)));
    std::memset(blocks.back(), 1, 16 * 1024);
  }
  for (int i = 0; i < 64; ++i) {
    std::free(blocks[i]);
  }
  long before = resident_kib();
  platform::release_freed_memory();
  long after = resident_kib();
  std::free(blocks.back());
  EXPECT_GE(before - after, 512) << before << " KiB before, " << after << " KiB after";
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

// A folder with a default ACL hands bits down to the files created in it; one without does not.
TEST(PosixPlatform, CreatesWithGivenBitsUnlessADefaultAclHandsDownOthers) {
  ScopedTempDir dir;
  ASSERT_TRUE(platform::creates_with_given_bits(dir.path()));
  // The smallest default ACL, in the kernel's form: a version, then owner rwx, group r-x, others
  // r-x (tag, bits, id).
  const std::uint32_t acl[] = {2, 0x01 | 7u << 16, UINT32_MAX, 0x04 | 5u << 16, UINT32_MAX,
                               0x20 | 5u << 16, UINT32_MAX};
  if (setxattr(dir.path().c_str(), "system.posix_acl_default", acl, sizeof acl, 0) != 0) {
    GTEST_SKIP() << "no POSIX ACLs here: " << std::strerror(errno);
  }
  EXPECT_FALSE(platform::creates_with_given_bits(dir.path()));
  EXPECT_FALSE(platform::creates_with_given_bits(dir.file("missing")));
}

// The conversion that sets extracted files' times gives what mktime gives, in zones with daylight
// saving time (the repeated and the skipped hour, whichever offset came before) and in zones
// whose offset jumps without it; fields out of range included. This process's TZ only.
TEST(PosixPlatform, LocalSecondsOfDosTimeEqualMktime) {
  struct Zone {
    const char* name;
    int first_year;  // two years from here, every 15 minutes
  };
  const Zone zones[] = {{"Europe/Berlin", 2023},  {"America/New_York", 2023},
                        {"Europe/Dublin", 2024},  {"Australia/Lord_Howe", 2024},
                        {"Europe/Moscow", 2010},  {"Pacific/Apia", 2011}};
  std::uint64_t random = 88172645463325252u;
  for (const Zone& zone : zones) {
    ScopedEnvironment tz("TZ", zone.name);
    tzset();
    int mismatches = 0;
    auto check = [&](std::uint32_t dos) {
      std::int64_t expected = dos_date_time_to_local_seconds(dos);
      std::int64_t seconds = platform::local_seconds_of_dos_time(dos);
      if (seconds != expected && ++mismatches <= 5) {
        ADD_FAILURE() << zone.name << " " << std::hex << dos << std::dec << ": " << seconds
                      << ", mktime " << expected;
      }
    };
    std::vector<std::uint32_t> changing_days;
    std::int64_t previous_offset = 0;
    for (int year = zone.first_year; year < zone.first_year + 2; ++year) {
      for (int month = 1; month <= 12; ++month) {
        for (int day = 1; day <= 31; ++day) {
          for (int quarter = 0; quarter < 96; ++quarter) {
            std::uint32_t dos = dos_date_time(year, month, day, quarter / 4, quarter % 4 * 15, 0);
            check(dos);
            std::time_t time = static_cast<std::time_t>(dos_date_time_to_local_seconds(dos));
            std::tm local{};
            ASSERT_NE(localtime_r(&time, &local), nullptr);
            if (local.tm_gmtoff != previous_offset && quarter > 0) {
              changing_days.push_back(dos & 0xffff0000u);
            }
            previous_offset = local.tm_gmtoff;
          }
        }
      }
    }
    EXPECT_GE(changing_days.size(), 2u) << zone.name;
    // Every two seconds of each day whose offset changes, forwards and backwards, then every
    // time of that day's date, invalid minutes, hours and seconds included.
    for (std::uint32_t day : changing_days) {
      for (std::uint32_t time = 0; time < 24u * 2048; ++time) {
        if ((time & 0x7e0) < (60u << 5) && (time & 0x1f) < 30) {
          check(day | time);
        }
      }
      for (std::uint32_t time = 0x10000; time-- > 0;) {
        check(day | time);
      }
    }
    // Any 32 bits in random order, months 0 and 13 to 15 and days 0 and 29 to 31 included.
    for (int i = 0; i < 100000; ++i) {
      random ^= random << 13;
      random ^= random >> 7;
      random ^= random << 17;
      check(static_cast<std::uint32_t>(random));
    }
  }
  tzset();  // this process's own TZ again
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
