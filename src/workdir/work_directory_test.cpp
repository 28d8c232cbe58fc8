// SPDX-License-Identifier: Zlib
#include "workdir/work_directory.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/stdio_file.hpp"
#include "package/entry_rules.hpp"
#include "platform/platform.hpp"
#include "testing/scoped_temp_dir.hpp"
#include "workdir/path.hpp"

namespace {

// The rules of the platform the tests run on.
const TargetPlatform k_host = this_platform();

TEST(ToBackslashes, ChangesOnlySlashes) {
  std::string path = "D:/Temp//work\\x/";
  to_backslashes(path);
  EXPECT_EQ(path, "D:\\Temp\\\\work\\x\\");
}

TEST(JoinPath, GivesThePlatformsSeparators) {
  EXPECT_EQ(join_path("D:/Temp\\w", "a/b", TargetPlatform::Windows), "D:\\Temp\\w\\a\\b");
  // For Linux a backslash is an ordinary character.
  EXPECT_EQ(join_path("/tmp/a\\b", "c/d", TargetPlatform::Linux), "/tmp/a\\b/c/d");
}

TEST(MakeFreshDirectory, ReplacesAnExistingTree) {
  ScopedTempDir dir;
  std::string target = dir.file("e");
  ASSERT_EQ(make_fresh_directory(target, k_host), 0);
  ASSERT_TRUE(write_file(join_path(target, "old.txt"), "old"));
  ASSERT_EQ(platform::make_directory(join_path(target, "sub"), platform::DirectoryAccess::Shared),
            0);
  ASSERT_TRUE(write_file(join_path(target, "sub/deep.txt"), "deep"));
  EXPECT_EQ(make_fresh_directory(target, k_host), 0);
  EXPECT_TRUE(path_exists(target));
  EXPECT_FALSE(path_exists(join_path(target, "old.txt")));
  EXPECT_FALSE(path_exists(join_path(target, "sub")));

  EXPECT_EQ(make_fresh_directory(dir.file("missing/child"), k_host), ENOENT);

  // A plain file in the way is never deleted.
  ASSERT_TRUE(write_file(dir.file("plain"), "user data"));
  EXPECT_EQ(make_fresh_directory(dir.file("plain"), k_host), EEXIST);
  EXPECT_EQ(remove_directory_tree(dir.file("plain"), k_host), ENOTDIR);
  EXPECT_EQ(read_file(dir.file("plain")), "user data");
}

// A file held open for a moment (on Windows, by a virus scanner, say) delays the removal of the
// tree; it does not leave the tree behind.
TEST(RemoveDirectoryTree, OutlastsAFileHeldOpenForAMoment) {
  ScopedTempDir dir;
  std::string tree = dir.file("tree");
  ASSERT_EQ(platform::make_directory(tree, platform::DirectoryAccess::Shared), 0);
  std::string tool = join_path(tree, "tool.exe");
  ASSERT_TRUE(write_file(tool, "MZ"));
  StdioFile held = StdioFile::open(tool, "rb");
  ASSERT_TRUE(held);
  std::thread release([&held] {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    (void)held.close();
  });
  int result = remove_directory_tree(tree, k_host);
  release.join();
  EXPECT_EQ(result, 0) << std::strerror(result);
  EXPECT_FALSE(path_exists(tree));
}

TEST(ResolveWorkDirectory, ChecksTheGivenDirectory) {
  ScopedTempDir dir;
  ASSERT_TRUE(write_file(dir.file("plain"), "x"));
  struct Case {
    std::string given;
    int result;
    std::string err;
    TargetPlatform target = k_host;
  } cases[] = {
      {dir.path(), 0, ""},
      {dir.path() + "/", 0, ""},
      // For Windows a trailing backslash is a separator, whatever the host.
      {dir.path() + "\\", 0, "", TargetPlatform::Windows},
      {dir.file("plain"), -1, "-E- " + dir.file("plain") + " is not a directory\n"},
      {dir.file("missing"), -1,
       "-E- Failed to access directory " + dir.file("missing") + ": " + std::strerror(ENOENT) +
           "\n"},
  };
  for (const Case& c : cases) {
    std::string temp_files_dir, work_dir;
    WorkDirectoryLock lock;
    testing::internal::CaptureStderr();
    EXPECT_EQ(resolve_work_directory(WorkDirectoryMode::Given, c.given, c.target, temp_files_dir,
                                     work_dir, lock),
              c.result)
        << c.given;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.given;
    // The user's own folder is neither locked nor given a lock file.
    EXPECT_FALSE(lock.held()) << c.given;
    EXPECT_FALSE(path_exists(join_path(c.given, k_work_directory_lock_name))) << c.given;
    if (c.result == 0) {
      EXPECT_EQ(temp_files_dir, c.given);
      EXPECT_EQ(work_dir, c.given);
    }
  }
}

TEST(CreateTempWorkDirectory, NamesItAfterUserAndProcess) {
  ScopedTempDir dir;
  ScopedEnvironment temp("TEMP", dir.path() + "/");
  std::string user;
  ASSERT_EQ(platform::user_name(user), 0);
  std::string expected = dir.path() + "/" + "/sfxter_" + user + "_" +
                         std::to_string(platform::process_id());
  to_native_separators(expected);

  // A leftover of an earlier run with the same name, its lock file included, that nobody holds
  // (the run was killed) is reused, emptied.
  ASSERT_EQ(platform::make_directory(expected, platform::DirectoryAccess::Shared), 0);
  ASSERT_TRUE(write_file(join_path(expected, "leftover"), "x"));
  ASSERT_TRUE(write_file(join_path(expected, k_work_directory_lock_name), ""));

  std::string temp_files_dir, work_dir;
  WorkDirectoryLock lock;
  ASSERT_EQ(create_temp_work_directory(k_host, temp_files_dir, work_dir, lock), 0);
  EXPECT_EQ(temp_files_dir, dir.path() + "/");
  EXPECT_EQ(work_dir, expected);
  EXPECT_TRUE(lock.held());
  EXPECT_TRUE(path_exists(work_dir));
  EXPECT_FALSE(path_exists(join_path(work_dir, "leftover")));
  EXPECT_EQ(remove_work_directory(work_dir, k_host, lock), 0);
  EXPECT_FALSE(lock.held());
  EXPECT_FALSE(path_exists(work_dir));

  // TEMP set to nothing is no temporary directory: Linux goes on to TMPDIR, Windows has none.
  // Windows' rule refuses before it touches the file system, so every host checks it.
  {
    ScopedEnvironment empty("TEMP", "");
    ScopedEnvironment tmpdir("TMPDIR", dir.path());
    testing::internal::CaptureStderr();
    int result =
        create_temp_work_directory(TargetPlatform::Windows, temp_files_dir, work_dir, lock);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(err, "-E- Failed to get TEMP env var\n");
    EXPECT_FALSE(lock.held());
    if (k_host == TargetPlatform::Linux) {
      testing::internal::CaptureStderr();
      result = create_temp_work_directory(k_host, temp_files_dir, work_dir, lock);
      err = testing::internal::GetCapturedStderr();
      EXPECT_EQ(result, 0) << err;
      EXPECT_EQ(temp_files_dir, dir.path());
      EXPECT_EQ(work_dir.rfind(dir.path() + "/sfxter_", 0), 0u) << work_dir;
      EXPECT_EQ(remove_work_directory(work_dir, k_host, lock), 0);
    }
  }

  ScopedEnvironment missing("TEMP", dir.file("no/such"));
  testing::internal::CaptureStderr();
  EXPECT_EQ(create_temp_work_directory(k_host, temp_files_dir, work_dir, lock), -1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("-E- Failed to create temporary directory ", 0), 0u) << err;
  EXPECT_FALSE(lock.held());
}

// Another run with the same process id (in another pid namespace) holds the name, or somebody
// planted something there: the run takes the next free name and leaves what it found alone.
TEST(CreateTempWorkDirectory, NameInUseGivesTheNextName) {
  ScopedTempDir dir;
  ScopedEnvironment temp("TEMP", dir.path());
  std::string user;
  ASSERT_EQ(platform::user_name(user), 0);
  std::string base = dir.path() + "/sfxter_" + user + "_" + std::to_string(platform::process_id());
  to_native_separators(base);
  auto name = [&base](int number) {
    return number == 0 ? base : base + "_" + std::to_string(number);
  };
  bool posix = k_host == TargetPlatform::Linux;
  std::string outside = dir.file("outside");
  ASSERT_EQ(platform::make_directory(outside, platform::DirectoryAccess::Shared), 0);
  ASSERT_TRUE(write_file(join_path(outside, "precious"), "keep"));

  enum class Planted { LiveRun, File, LinkToAFolder, LockFileThatIsALink };
  struct Case {
    const char* what;
    std::vector<Planted> planted;  // at the plain name, "_1", ...
    int number_taken;
  } cases[] = {
      {"a live run", {Planted::LiveRun}, 1},
      {"two live runs", {Planted::LiveRun, Planted::LiveRun}, 2},
      {"a file", {Planted::File}, 1},
      {"a file, then a live run", {Planted::File, Planted::LiveRun}, 2},
      {"a link to a folder", {Planted::LinkToAFolder}, 1},
      {"a folder whose lock file is a link", {Planted::LockFileThatIsALink}, 1},
  };
  for (const Case& c : cases) {
    bool needs_links = false;
    for (Planted planted : c.planted) {
      needs_links = needs_links || planted == Planted::LinkToAFolder ||
                    planted == Planted::LockFileThatIsALink;
    }
    if (needs_links && !posix) {
      continue;
    }
    std::vector<WorkDirectoryLock> live(c.planted.size());
    std::string temp_files_dir, work_dir;
    for (std::size_t i = 0; i < c.planted.size(); ++i) {
      std::string at = name(static_cast<int>(i));
      switch (c.planted[i]) {
        case Planted::LiveRun:
          ASSERT_EQ(create_temp_work_directory(k_host, temp_files_dir, work_dir, live[i]), 0)
              << c.what;
          ASSERT_EQ(work_dir, at) << c.what;
          ASSERT_TRUE(write_file(join_path(at, "archive.zip"), "live"));
          break;
        case Planted::File:
          ASSERT_TRUE(write_file(at, "planted"));
          break;
        case Planted::LinkToAFolder:
          ASSERT_EQ(platform::run_shell("ln -s " + outside + " " + at), 0);
          break;
        case Planted::LockFileThatIsALink:
          ASSERT_EQ(platform::make_directory(at, platform::DirectoryAccess::Private), 0);
          ASSERT_EQ(platform::run_shell("ln -s " + outside + "/precious " +
                                        join_path(at, k_work_directory_lock_name)),
                    0);
          break;
      }
    }

    WorkDirectoryLock lock;
    ASSERT_EQ(create_temp_work_directory(k_host, temp_files_dir, work_dir, lock), 0) << c.what;
    EXPECT_EQ(work_dir, name(c.number_taken)) << c.what;
    EXPECT_TRUE(lock.held()) << c.what;
    for (std::size_t i = 0; i < c.planted.size(); ++i) {
      std::string at = name(static_cast<int>(i));
      if (c.planted[i] == Planted::LiveRun) {
        EXPECT_EQ(read_file(join_path(at, "archive.zip")), "live") << c.what;
      } else if (c.planted[i] == Planted::File) {
        EXPECT_EQ(read_file(at), "planted") << c.what;
      }
    }
    EXPECT_EQ(tree_listing(outside), std::vector<std::string>{"precious"}) << c.what;
    EXPECT_EQ(read_file(join_path(outside, "precious")), "keep") << c.what;

    // Each run's ending removes its own directory alone.
    EXPECT_EQ(remove_work_directory(work_dir, k_host, lock), 0) << c.what;
    EXPECT_FALSE(path_exists(work_dir)) << c.what;
    for (std::size_t i = 0; i < c.planted.size(); ++i) {
      std::string at = name(static_cast<int>(i));
      EXPECT_TRUE(path_exists(at)) << c.what;
      if (c.planted[i] == Planted::LiveRun) {
        EXPECT_EQ(remove_work_directory(at, k_host, live[i]), 0) << c.what;
      } else if (c.planted[i] == Planted::File) {
        EXPECT_EQ(platform::remove_file(at), 0) << c.what;
      } else {
        EXPECT_EQ(platform::remove_tree(at), 0) << c.what;
      }
    }
    EXPECT_EQ(tree_listing(dir.path()), (std::vector<std::string>{"outside/", "outside/precious"}))
        << c.what;
  }

  // A name that is free again after a run ended is taken again; one whose run was killed too.
  {
    WorkDirectoryLock lock;
    std::string temp_files_dir, work_dir;
    ASSERT_EQ(create_temp_work_directory(k_host, temp_files_dir, work_dir, lock), 0);
    EXPECT_EQ(work_dir, name(0));
    lock.release();
    ASSERT_EQ(create_temp_work_directory(k_host, temp_files_dir, work_dir, lock), 0);
    EXPECT_EQ(work_dir, name(0));
    EXPECT_EQ(remove_work_directory(work_dir, k_host, lock), 0);
  }

  // Every name anybody can foresee is taken (somebody planted them for a process id known in
  // advance, say pid 1 in a container): the run takes a random one, which nobody could plant,
  // open to the user alone and locked, and leaves the planted ones alone.
  for (int number = 0; number < k_work_directory_names; ++number) {
    ASSERT_TRUE(write_file(name(number), "planted"));
  }
  std::vector<std::string> taken;
  for (int run = 0; run < 2; ++run) {
    WorkDirectoryLock lock;
    std::string temp_files_dir, work_dir;
    testing::internal::CaptureStderr();
    EXPECT_EQ(create_temp_work_directory(k_host, temp_files_dir, work_dir, lock), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(work_dir.size(), base.size() + 17) << work_dir;
    EXPECT_EQ(work_dir.substr(0, base.size() + 1), base + "_");
    EXPECT_EQ(work_dir.find_first_not_of("0123456789abcdef", base.size() + 1), std::string::npos)
        << work_dir;
    EXPECT_TRUE(lock.held());
    bool own = false;
    EXPECT_EQ(platform::query_own_directory(work_dir, own), 0);
    EXPECT_TRUE(own);
    if (posix) {
      EXPECT_EQ(platform::run_shell("[ \"$(stat -c %a " + work_dir + ")\" = 700 ]"), 0);
    }
    taken.push_back(work_dir);
    EXPECT_EQ(remove_work_directory(work_dir, k_host, lock), 0);
  }
  EXPECT_NE(taken[0], taken[1]);
  EXPECT_EQ(tree_listing(dir.path()).size(), 2u + k_work_directory_names);
  EXPECT_EQ(read_file(name(k_work_directory_names - 1)), "planted");
}

// A given directory: the extraction directory's lock file beside it. Another run's lock, or a
// name the user cannot open and lock, fails the run with a message and leaves everything as it
// was; a file a killed run left behind is taken over. The ending removes the file.
TEST(LockExtractionDirectory, HeldLockOrForeignNameFailsTheRun) {
  ScopedTempDir dir;
  std::string extracted = dir.file("fw_update-dir");
  std::string lock_name = extracted + k_extraction_directory_lock_suffix;
  bool posix = platform::platform_kind() == platform::PlatformKind::Posix;
  ASSERT_TRUE(write_file(dir.file("precious"), "keep"));
  enum class Planted { Nothing, KilledRunsFile, LiveRun, Folder, LinkToAFile };
  struct Case {
    const char* what;
    Planted planted;
    std::string err;
  } cases[] = {
      {"nothing", Planted::Nothing, ""},
      {"a killed run's file", Planted::KilledRunsFile, ""},
      {"a live run", Planted::LiveRun,
       "-E- Another run is using " + extracted + " (it holds " + lock_name +
           "); nothing was changed there\n"},
      {"a folder", Planted::Folder,
       "-E- Failed to open the lock file " + lock_name + " for " + extracted + ": " +
           std::strerror(posix ? EISDIR : EACCES) + "\n"},
      {"a link to the user's file", Planted::LinkToAFile,
       "-E- Failed to open the lock file " + lock_name + " for " + extracted + ": " +
           std::strerror(ELOOP) + "\n"},
  };
  for (const Case& c : cases) {
    if (c.planted == Planted::LinkToAFile && !posix) {
      continue;
    }
    WorkDirectoryLock live;
    switch (c.planted) {
      case Planted::Nothing:
        break;
      case Planted::KilledRunsFile:
        ASSERT_TRUE(write_file(lock_name, ""));
        break;
      case Planted::LiveRun:
        ASSERT_EQ(lock_extraction_directory(extracted, live), 0);
        break;
      case Planted::Folder:
        ASSERT_EQ(platform::make_directory(lock_name, platform::DirectoryAccess::Shared), 0);
        break;
      case Planted::LinkToAFile:
        ASSERT_EQ(platform::run_shell("ln -s " + dir.file("precious") + " " + lock_name), 0);
        break;
    }
    std::vector<std::string> before = tree_listing(dir.path());
    WorkDirectoryLock lock;
    testing::internal::CaptureStderr();
    EXPECT_EQ(lock_extraction_directory(extracted, lock), c.err.empty() ? 0 : -1) << c.what;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.what;
    EXPECT_EQ(lock.held(), c.err.empty()) << c.what;
    unlock_extraction_directory(extracted, lock);
    EXPECT_FALSE(lock.held()) << c.what;
    if (c.err.empty()) {
      EXPECT_EQ(tree_listing(dir.path()), std::vector<std::string>{"precious"}) << c.what;
    } else {
      EXPECT_EQ(tree_listing(dir.path()), before) << c.what;
    }
    EXPECT_EQ(read_file(dir.file("precious")), "keep") << c.what;
    unlock_extraction_directory(extracted, live);
    (void)platform::remove_tree(lock_name);
  }
}

}  // namespace
