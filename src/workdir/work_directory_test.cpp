#include "workdir/work_directory.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "common/stdio_file.hpp"

#include "platform/platform.hpp"
#include "testing/scoped_temp_dir.hpp"
#include "workdir/path.hpp"

namespace {

TEST(ToBackslashes, ChangesOnlySlashes) {
  std::string path = "D:/Temp//work\\x/";
  to_backslashes(path);
  EXPECT_EQ(path, "D:\\Temp\\\\work\\x\\");
}

TEST(MakeFreshDirectory, ReplacesAnExistingTree) {
  ScopedTempDir dir;
  std::string target = dir.file("e");
  ASSERT_EQ(make_fresh_directory(target), 0);
  ASSERT_TRUE(write_file(join_path(target, "old.txt"), "old"));
  ASSERT_EQ(platform::make_directory(join_path(target, "sub"), platform::DirectoryAccess::Shared),
            0);
  ASSERT_TRUE(write_file(join_path(target, "sub/deep.txt"), "deep"));
  EXPECT_EQ(make_fresh_directory(target), 0);
  EXPECT_TRUE(path_exists(target));
  EXPECT_FALSE(path_exists(join_path(target, "old.txt")));
  EXPECT_FALSE(path_exists(join_path(target, "sub")));

  EXPECT_EQ(make_fresh_directory(dir.file("missing/child")), ENOENT);

  // A plain file in the way is never deleted.
  ASSERT_TRUE(write_file(dir.file("plain"), "user data"));
  EXPECT_EQ(make_fresh_directory(dir.file("plain")), EEXIST);
  EXPECT_EQ(remove_directory_tree(dir.file("plain")), ENOTDIR);
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
  int result = remove_directory_tree(tree);
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
  } cases[] = {
      {dir.path(), 0, ""},
      {dir.path() + "/", 0, ""},
      {dir.file("plain"), -1, "-E- " + dir.file("plain") + " is not a directory\n"},
      {dir.file("missing"), -1,
       "-E- Failed to access directory " + dir.file("missing") + ": " + std::strerror(ENOENT) +
           "\n"},
  };
  for (const Case& c : cases) {
    std::string temp_files_dir, work_dir;
    testing::internal::CaptureStderr();
    EXPECT_EQ(resolve_work_directory(WorkDirectoryMode::Given, c.given, temp_files_dir, work_dir), c.result) << c.given;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.given;
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

  // A leftover of an earlier run with the same name is replaced by an empty directory.
  ASSERT_EQ(platform::make_directory(expected, platform::DirectoryAccess::Shared), 0);
  ASSERT_TRUE(write_file(join_path(expected, "leftover"), "x"));

  std::string temp_files_dir, work_dir;
  ASSERT_EQ(create_temp_work_directory(temp_files_dir, work_dir), 0);
  EXPECT_EQ(temp_files_dir, dir.path() + "/");
  EXPECT_EQ(work_dir, expected);
  EXPECT_TRUE(path_exists(work_dir));
  EXPECT_FALSE(path_exists(join_path(work_dir, "leftover")));
  EXPECT_EQ(remove_directory_tree(work_dir), 0);
  EXPECT_FALSE(path_exists(work_dir));

  // TEMP set to nothing is no temporary directory: Linux goes on to TMPDIR, Windows has none.
  {
    ScopedEnvironment empty("TEMP", "");
    ScopedEnvironment tmpdir("TMPDIR", dir.path());
    testing::internal::CaptureStderr();
    int result = create_temp_work_directory(temp_files_dir, work_dir);
    std::string err = testing::internal::GetCapturedStderr();
    if (platform::platform_kind() == platform::PlatformKind::Windows) {
      EXPECT_EQ(result, -1);
      EXPECT_EQ(err, "-E- Failed to get TEMP env var\n");
    } else {
      EXPECT_EQ(result, 0) << err;
      EXPECT_EQ(temp_files_dir, dir.path());
      EXPECT_EQ(work_dir.rfind(dir.path() + "/sfxter_", 0), 0u) << work_dir;
      EXPECT_EQ(remove_directory_tree(work_dir), 0);
    }
  }

  ScopedEnvironment missing("TEMP", dir.file("no/such"));
  testing::internal::CaptureStderr();
  EXPECT_EQ(create_temp_work_directory(temp_files_dir, work_dir), -1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("-E- Failed to create temporary directory ", 0), 0u) << err;
}

}  // namespace
