#include "platform/platform.hpp"

#include <gtest/gtest.h>

#include <string>

#include "testing/scoped_temp_dir.hpp"

namespace {

TEST(Win32Platform, RunShellPassesExitStatusesThrough) {
  EXPECT_EQ(platform::run_shell("exit /b 0"), 0);
  EXPECT_EQ(platform::run_shell("exit /b 3"), 3);
}

TEST(Win32Platform, RemoveTreeTakesReadOnlyFiles) {
  ScopedTempDir dir;
  ASSERT_EQ(platform::make_directory(dir.file("tree"), platform::DirectoryAccess::Private), 0);
  ASSERT_EQ(platform::make_directory(dir.file("tree/sub"), platform::DirectoryAccess::Shared), 0);
  ASSERT_TRUE(write_file(dir.file("tree/sub/f"), "x"));
  ASSERT_EQ(platform::run_shell("attrib +r \"" + dir.file("tree/sub/f") + "\""), 0);
  EXPECT_EQ(platform::remove_tree(dir.file("tree")), 0);
  EXPECT_FALSE(path_exists(dir.file("tree")));
}

TEST(Win32Platform, FullPathUsesBackslashes) {
  std::string out;
  ASSERT_EQ(platform::full_path("C:/Temp/./work/../x", 1024, out), 0);
  EXPECT_EQ(out, "C:\\Temp\\x");
  EXPECT_NE(platform::full_path("C:\\" + std::string(1100, 'x'), 1024, out), 0);
}

}  // namespace
