// SPDX-License-Identifier: Zlib
#include "package/entry_rules.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const TargetPlatform k_targets[] = {TargetPlatform::Windows, TargetPlatform::Linux};

TEST(EntryRules, RefusesNamesThatLeaveTheExtractionDirectory) {
  struct Case {
    const char* name;
    EntryNameVerdict verdict;
  } cases[] = {
      {"a.txt", EntryNameVerdict::Accepted},
      {"dir/", EntryNameVerdict::Accepted},
      {"a/b\\c.txt", EntryNameVerdict::Accepted},
      {"./a.txt", EntryNameVerdict::Accepted},
      {"a/./b", EntryNameVerdict::Accepted},
      {"..a/b", EntryNameVerdict::Accepted},
      {".hidden", EntryNameVerdict::Accepted},
      {"", EntryNameVerdict::Accepted},
      {"/etc/passwd", EntryNameVerdict::Absolute},
      {"\\windows\\x", EntryNameVerdict::Absolute},
      {"\\\\server\\share\\x", EntryNameVerdict::Absolute},
      {"/", EntryNameVerdict::Absolute},
      {"C:x", EntryNameVerdict::DriveLetter},
      {"c:\\x", EntryNameVerdict::DriveLetter},
      {"Z:/x", EntryNameVerdict::DriveLetter},
      {"C:", EntryNameVerdict::DriveLetter},
      {"a:b", EntryNameVerdict::DriveLetter},
      {"..", EntryNameVerdict::ClimbsOut},
      {"../x", EntryNameVerdict::ClimbsOut},
      {"a/../../x", EntryNameVerdict::ClimbsOut},
      {"a\\..\\x", EntryNameVerdict::ClimbsOut},
      {"a/..", EntryNameVerdict::ClimbsOut},
      {"a/../", EntryNameVerdict::ClimbsOut},
      {"a/.../b", EntryNameVerdict::ClimbsOut},
      {".. /x", EntryNameVerdict::ClimbsOut},
      {"a/. ./x", EntryNameVerdict::ClimbsOut},
  };
  for (const Case& c : cases) {
    for (TargetPlatform target : k_targets) {
      EXPECT_EQ(check_entry_name(c.name, std::strlen(c.name), target), c.verdict) << c.name;
    }
    if (c.verdict == EntryNameVerdict::Accepted) {
      EXPECT_STREQ(refusal_reason(c.verdict), "") << c.name;
    } else {
      EXPECT_STRNE(refusal_reason(c.verdict), "") << c.name;
    }
  }
}

TEST(EntryRules, DeviceNamesAreRefusedForWindowsOnly) {
  const char* devices[] = {"NUL",         "nul", "include/aux.h", "nul.txt", "COM1",
                           "lpt9.tar.gz", "Con", "a/PRN/b",       "aux ",    "com5 .x"};
  for (const char* name : devices) {
    EXPECT_EQ(check_entry_name(name, std::strlen(name), TargetPlatform::Windows),
              EntryNameVerdict::DeviceName)
        << name;
    EXPECT_EQ(check_entry_name(name, std::strlen(name), TargetPlatform::Linux),
              EntryNameVerdict::Accepted)
        << name;
  }
  const char* ordinary[] = {"CONSOLE",  "COM0",  "COM10",   "LPT",
                            "nulx.txt", "a.nul", "con_fig", "xaux"};
  for (const char* name : ordinary) {
    for (TargetPlatform target : k_targets) {
      EXPECT_EQ(check_entry_name(name, std::strlen(name), target), EntryNameVerdict::Accepted)
          << name;
    }
  }
}

// Names a Windows file cannot have: Windows would fail to create them, write them into an
// alternate data stream (':') or under another name (a trailing dot or blank dropped). Linux
// writes them as they are.
TEST(EntryRules, NamesWindowsCannotHoldAreRefusedForWindowsOnly) {
  struct Case {
    std::string name;
    EntryNameVerdict windows;
  } cases[] = {
      {"ab:c", EntryNameVerdict::ForbiddenCharacter},
      {"1:x", EntryNameVerdict::ForbiddenCharacter},
      {"file.txt:stream", EntryNameVerdict::ForbiddenCharacter},
      {"a<b", EntryNameVerdict::ForbiddenCharacter},
      {"d/a>b/c", EntryNameVerdict::ForbiddenCharacter},
      {"say \"hi\"", EntryNameVerdict::ForbiddenCharacter},
      {"a|b", EntryNameVerdict::ForbiddenCharacter},
      {"what?", EntryNameVerdict::ForbiddenCharacter},
      {"*.txt", EntryNameVerdict::ForbiddenCharacter},
      {"tab\there", EntryNameVerdict::ForbiddenCharacter},
      {"esc\x1b/x", EntryNameVerdict::ForbiddenCharacter},
      {"..a/b..", EntryNameVerdict::TrailingDotOrBlank},
      {"name.", EntryNameVerdict::TrailingDotOrBlank},
      {"name ", EntryNameVerdict::TrailingDotOrBlank},
      {"dir./a.txt", EntryNameVerdict::TrailingDotOrBlank},
      {"dir \\a.txt", EntryNameVerdict::TrailingDotOrBlank},
      {". /a.txt", EntryNameVerdict::TrailingDotOrBlank},
      {" ", EntryNameVerdict::TrailingDotOrBlank},
      {"dir/", EntryNameVerdict::Accepted},
      {"./a//b/./c", EntryNameVerdict::Accepted},
      {".hidden", EntryNameVerdict::Accepted},
      {" lead.txt", EntryNameVerdict::Accepted},
      {"caf\xc3\xa9.txt", EntryNameVerdict::Accepted},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(check_entry_name(c.name.c_str(), c.name.size(), TargetPlatform::Windows), c.windows)
        << c.name;
    EXPECT_EQ(check_entry_name(c.name.c_str(), c.name.size(), TargetPlatform::Linux),
              EntryNameVerdict::Accepted)
        << c.name;
    if (c.windows != EntryNameVerdict::Accepted) {
      EXPECT_STRNE(refusal_reason(c.windows), "") << c.name;
    }
    // A stored name that a Unicode path field stands in for is not written: zip puts '?' there
    // for characters its code page lacks.
    EXPECT_EQ(check_entry_name(c.name.c_str(), c.name.size(), TargetPlatform::Windows,
                               EntryNameUse::Stored),
              EntryNameVerdict::Accepted)
        << c.name;
  }
}

TEST(EntryRules, RefusesNamesThatDoNotFitOrHideAPart) {
  std::string longest(k_entry_name_limit - 1, 'n');
  EXPECT_EQ(check_entry_name(longest.c_str(), longest.size(), this_platform()),
            EntryNameVerdict::Accepted);
  // minizip hands back at most the buffer's bytes; the stored length tells the truth.
  EXPECT_EQ(check_entry_name(longest.c_str(), k_entry_name_limit, this_platform()),
            EntryNameVerdict::TooLong);
  EXPECT_EQ(check_entry_name(longest.c_str(), 70000, this_platform()), EntryNameVerdict::TooLong);
  // "a.txt\0../../x" comes back as "a.txt".
  EXPECT_EQ(check_entry_name("a.txt", 13, this_platform()), EntryNameVerdict::HasNul);
}

}  // namespace
