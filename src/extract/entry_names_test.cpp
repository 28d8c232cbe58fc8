// SPDX-License-Identifier: Zlib
#include "extract/entry_names.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(EntryNames, BackslashSeparatesOnBothPlatforms) {
  EXPECT_EQ(entry_path("a\\b/c\\d.txt", TargetPlatform::Windows), "a\\b/c\\d.txt");
  EXPECT_EQ(entry_path("a\\b/c\\d.txt", TargetPlatform::Linux), "a/b/c/d.txt");
  EXPECT_EQ(entry_path("plain.txt", TargetPlatform::Windows), "plain.txt");
  EXPECT_EQ(entry_path("plain.txt", TargetPlatform::Linux), "plain.txt");
}

TEST(EntryNames, ControlCharactersAreShownEscaped) {
  EXPECT_EQ(printable_name("plain/name.txt"), "plain/name.txt");
  EXPECT_EQ(printable_name("a\x1b[31mb"), "a\\x1b[31mb");
  EXPECT_EQ(printable_name("tab\there\r\n"), "tab\\x09here\\x0d\\x0a");
  EXPECT_EQ(printable_name("del\x7f"), "del\\x7f");
  // Bytes of other scripts are no control characters.
  EXPECT_EQ(printable_name("\xd0\x94\xd0\xb8\xd1\x80"), "\xd0\x94\xd0\xb8\xd1\x80");
  // C1 controls: U+009B (CSI) in UTF-8, and 0x9b alone, which an 8-bit terminal takes for CSI.
  EXPECT_EQ(printable_name("a\xc2\x9b" "2Jb\xc2\x80"), "a\\xc2\\x9b2Jb\\xc2\\x80");
  EXPECT_EQ(printable_name("a\x9b" "2J\x85"), "a\\x9b2J\\x85");
  // 0x80 to 0x9F inside a whole character stay (U+201B, U+00A0); so do Latin-1 letters
  // (0xe9) and the lead byte of a cut character, but not the cut character's 0x80.
  EXPECT_EQ(printable_name("\xe2\x80\x9b\xc2\xa0\xe9"), "\xe2\x80\x9b\xc2\xa0\xe9");
  EXPECT_EQ(printable_name("cut\xe2\x80"), "cut\xe2\\x80");
}

TEST(EntryNames, PermissionBitsFromUnixHostsOnly) {
  const unsigned long unix_host = 3UL << 8 | 30;
  const unsigned long fat_host = 20;
  const unsigned long ntfs_host = 10UL << 8 | 20;
  struct Case {
    unsigned long made_by;
    unsigned long unix_mode;
    EntryKind kind;
    unsigned umask;
    unsigned mode;
  } cases[] = {
      {unix_host, 0100755, EntryKind::File, 0, 0755},
      {unix_host, 0100600, EntryKind::File, 0, 0600},
      {unix_host, 0100444, EntryKind::File, 0, 0444},
      {unix_host, 0104755, EntryKind::File, 0, 0755},  // set-user-id dropped
      {unix_host, 0102750, EntryKind::File, 0, 0750},  // set-group-id dropped
      {unix_host, 0101777, EntryKind::File, 0, 0755},  // sticky and write for others dropped
      {unix_host, 0100000, EntryKind::File, 0, 0000},
      {unix_host, 0120777, EntryKind::File, 0, 0644},  // a link becomes a plain file
      {unix_host, 0, EntryKind::File, 0, 0644},        // Unix host without a mode
      {unix_host, 040755, EntryKind::Directory, 0, 0755},
      {unix_host, 040750, EntryKind::Directory, 0, 0750},
      {unix_host, 040555, EntryKind::Directory, 0, 0755},  // the owner keeps write and search
      {fat_host, 0100700, EntryKind::File, 0, 0644},
      {fat_host, 0, EntryKind::File, 0, 0644},
      {fat_host, 0, EntryKind::Directory, 0, 0755},
      {ntfs_host, 0100700, EntryKind::File, 0, 0644},
      // Nobody but the owner may write, whatever the entry and the umask say; read and execute
      // bits stay as the entry says, masked with the umask.
      {unix_host, 041777, EntryKind::Directory, 0, 0755},
      {unix_host, 040777, EntryKind::Directory, 022, 0755},
      {unix_host, 040777, EntryKind::Directory, 002, 0755},
      {unix_host, 040777, EntryKind::Directory, 077, 0700},
      {unix_host, 040775, EntryKind::Directory, 027, 0750},
      {unix_host, 040000, EntryKind::Directory, 077, 0700},
      {unix_host, 0100777, EntryKind::File, 0, 0755},
      {unix_host, 0100666, EntryKind::File, 002, 0644},
      {unix_host, 0100777, EntryKind::File, 077, 0700},
      {unix_host, 0100751, EntryKind::File, 027, 0750},
      {unix_host, 0100755, EntryKind::File, 0222, 0555},
      {unix_host, 0120777, EntryKind::File, 077, 0600},
      {fat_host, 0, EntryKind::File, 077, 0600},
      {fat_host, 0, EntryKind::Directory, 027, 0750},
  };
  for (const Case& c : cases) {
    // The FAT attribute byte in the low bits must not matter.
    unsigned long attributes = c.unix_mode << 16 | 0x20;
    EXPECT_EQ(entry_mode(c.made_by, attributes, c.kind, c.umask), c.mode)
        << std::oct << "made by 0" << c.made_by << ", mode 0" << c.unix_mode << ", umask 0"
        << c.umask;
  }
}

}  // namespace

// Judged from the link's own folder, by the text alone; ".." only before the first name.
TEST(EntryNames, LinkTargetsStayInsideTheExtractionDirectory) {
  struct Case {
    const char* path;
    const char* target;
    LinkTargetVerdict verdict;
  } cases[] = {
      {"lib/libfoo.so.1", "libfoo.so.1.2", LinkTargetVerdict::Accepted},
      {"a/b/up", "../../c/d", LinkTargetVerdict::Accepted},
      {"./a//b/up", "./.././../c", LinkTargetVerdict::Accepted},
      {"self", ".", LinkTargetVerdict::Accepted},
      {"a/b/up", "../../..", LinkTargetVerdict::ClimbsOut},
      {"top", "..", LinkTargetVerdict::ClimbsOut},
      {"./a//up", "../..", LinkTargetVerdict::ClimbsOut},
      {"a/l", "x/../y", LinkTargetVerdict::ClimbsAfterName},
      {"a/l", "/etc/passwd", LinkTargetVerdict::Absolute},
      // '\' is an ordinary character in a Linux link.
      {"a/l", "..\\..\\..", LinkTargetVerdict::Accepted},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(check_link_target(c.path, c.target), c.verdict) << c.path << " -> " << c.target;
  }
}
