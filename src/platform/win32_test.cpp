// SPDX-License-Identifier: Zlib
#include "platform/platform.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/win32_paths.hpp"
#include "testing/archive_builder.hpp"
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

// The work directory's lock: nobody else may open the file while it is held, not even this
// process a second time; it may be deleted, so that the ending removes it before letting go. The
// handle is not inherited by commands, and a reparse point of the name is opened itself. Wine does
// not show inheritance or reparse points, so the way the file is opened is checked as well.
TEST(Win32Platform, LockFileSharesNothingButDeletion) {
  platform::LockFileOpening opening = platform::lock_file_opening();
  EXPECT_EQ(opening.access, 0xC0000000ul);  // GENERIC_READ | GENERIC_WRITE
  EXPECT_EQ(opening.share, 0x4ul);          // FILE_SHARE_DELETE
  EXPECT_EQ(opening.disposition, 4ul);      // OPEN_ALWAYS
  EXPECT_EQ(opening.flags & 0x00200000ul, 0x00200000ul);  // FILE_FLAG_OPEN_REPARSE_POINT
  EXPECT_FALSE(opening.inheritable);

  ScopedTempDir dir;
  std::string lock = dir.file("lock");
  std::intptr_t held = -1;
  ASSERT_EQ(platform::lock_file(lock, held), 0);
  std::intptr_t second = -1;
  EXPECT_EQ(platform::lock_file(lock, second), EWOULDBLOCK);
  std::FILE* reader = std::fopen(lock.c_str(), "rb");
  EXPECT_EQ(reader, nullptr);
  if (reader != nullptr) {
    std::fclose(reader);
  }
  EXPECT_EQ(platform::remove_file(lock), 0);
  platform::unlock_file(held);
  EXPECT_FALSE(path_exists(lock));
  ASSERT_EQ(platform::lock_file(lock, held), 0);
  platform::unlock_file(held);
  EXPECT_NE(platform::lock_file(dir.path(), held), 0);
}

TEST(Win32Platform, FullPathUsesBackslashes) {
  std::string out;
  ASSERT_EQ(platform::full_path("C:/Temp/./work/../x", 1024, out), 0);
  EXPECT_EQ(out, "C:\\Temp\\x");
  EXPECT_NE(platform::full_path("C:\\" + std::string(1100, 'x'), 1024, out), 0);
}

TEST(Win32Platform, Utf8BecomesUtf16) {
  struct Case {
    std::string utf8;
    std::wstring utf16;
  } cases[] = {
      {"", L""},
      {"plain.txt", L"plain.txt"},
      {"\xD0\x94\xD0\xB8\xD1\x80", L"\x0414\x0438\x0440"},
      {"\xE7\x9B\xAE\xE5\xBD\x95", L"\x76EE\x5F55"},
      // Outside the basic plane: a surrogate pair.
      {"\xF0\x9F\x98\x80!", std::wstring(L"\xD83D\xDE00!")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::utf8_to_utf16(c.utf8), c.utf16) << c.utf8;
  }
}

TEST(Win32Platform, ExtendedLengthPaths) {
  ScopedTempDir dir;
  std::wstring here = platform::utf8_to_utf16(dir.path());
  std::string deep = "C:\\" + std::string(300, 'd');
  struct Case {
    std::string path;
    std::wstring extended;
  } cases[] = {
      {"C:\\Temp\\x", L"\\\\?\\C:\\Temp\\x"},
      {"C:/Temp/./work/../x", L"\\\\?\\C:\\Temp\\x"},
      {"\\\\server\\share\\dir\\f", L"\\\\?\\UNC\\server\\share\\dir\\f"},
      {"//server/share/f", L"\\\\?\\UNC\\server\\share\\f"},
      {"a\\b", L"\\\\?\\" + here + L"\\a\\b"},
      {"\xD0\x94/f", L"\\\\?\\" + here + L"\\\x0414\\f"},
      {"\\\\?\\C:\\x/./y", L"\\\\?\\C:\\x/./y"},
      {deep, L"\\\\?\\" + platform::utf8_to_utf16(deep)},
  };
  for (const Case& c : cases) {
    std::wstring out;
    EXPECT_EQ(platform::extended_length_path(c.path, out), 0) << c.path;
    EXPECT_EQ(out, c.extended) << c.path;
  }
}

// Past 260 characters, which only the "\\?\" form reaches wherever the system's long-path
// policy is off.
TEST(Win32Platform, DeepPathsAreCreatedTimedAndRemoved) {
  ScopedTempDir dir;
  std::string path = dir.file("tree");
  ASSERT_EQ(platform::make_directory(path, platform::DirectoryAccess::Private), 0);
  for (int i = 0; i < 6; ++i) {
    path += "\\" + std::string(50, static_cast<char>('a' + i));
    ASSERT_EQ(platform::make_directory(path, platform::DirectoryAccess::Shared), 0) << path;
  }
  ASSERT_GT(path.size(), 300u);
  std::string file = path + "\\\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt";
  bool created = false;
  platform::FileHandle out;
  ASSERT_EQ(platform::open_output_file(file, created, out), 0);
  EXPECT_TRUE(created);
  std::size_t written = 0;
  EXPECT_EQ(platform::write_file(out, "deep", 4, written), 0);
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(out.close(), 0);
  // Opened again, the file is found, and emptied.
  ASSERT_EQ(platform::open_output_file(file, created, out), 0);
  EXPECT_FALSE(created);
  EXPECT_EQ(platform::write_file(out, "deep", 4, written), 0);
  EXPECT_EQ(out.close(), 0);
  EXPECT_EQ(read_file(file), "deep");
  platform::PathKind kind = platform::PathKind::Directory;
  EXPECT_EQ(platform::query_path(file, kind), 0);
  EXPECT_EQ(kind, platform::PathKind::Other);
  std::uint32_t time = dos_date_time(2001, 2, 3, 4, 5, 6);
  platform::set_file_time(file, time);
  EXPECT_EQ(file_mtime(file), local_seconds(time));

  EXPECT_EQ(platform::remove_tree(dir.file("tree")), 0);
  EXPECT_FALSE(path_exists(dir.file("tree")));
}

}  // namespace
