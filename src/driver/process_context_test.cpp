// SPDX-License-Identifier: Zlib
#include "driver/process_context.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform/platform.hpp"
#include "testing/scoped_temp_dir.hpp"
#include "workdir/path.hpp"

namespace {

TEST(InitProcessContext, ClearsEveryFlagAndRecordsTheProcess) {
  SfxOptions options;
  options.extract_dir_given = options.extract_only = options.show_help = true;
  options.show_version = options.skip_extra_tools = options.no_pause = true;
  options.no_extract_list = true;
  options.device_arg = "-d x";
  options.extract_dir = "kept";
  options.program_name = "kept too";
  init_process_context(options);
  EXPECT_FALSE(options.extract_dir_given || options.extract_only || options.show_help ||
               options.show_version || options.skip_extra_tools || options.no_pause ||
               options.no_extract_list);
  EXPECT_EQ(options.device_arg, "");
  EXPECT_EQ(options.extract_dir, "kept");
  EXPECT_EQ(options.program_name, "kept too");
  EXPECT_EQ(options.current_dir, platform::current_directory());
  EXPECT_NE(options.self_path.find("sfx_tests"), std::string::npos) << options.self_path;
}

TEST(ConsoleStateFromCursor, OnlyTheTopLeftCornerIsFresh) {
  struct Case {
    bool is_console;
    int row;
    int column;
    ConsoleState state;
  } cases[] = {
      {false, 0, 0, ConsoleState::NoConsole},   {true, 0, 0, ConsoleState::FreshConsole},
      {true, 0, 5, ConsoleState::ConsoleInUse}, {true, 3, 0, ConsoleState::ConsoleInUse},
      {true, 3, 7, ConsoleState::ConsoleInUse}, {true, -1, -1, ConsoleState::ConsoleInUse},
  };
  for (const Case& c : cases) {
    platform::ConsoleCursor cursor;
    cursor.is_console = c.is_console;
    cursor.row = c.row;
    cursor.column = c.column;
    EXPECT_EQ(console_state_from_cursor(cursor), c.state)
        << c.is_console << " " << c.row << "," << c.column;
  }
}

TEST(DetectConsoleState, RedirectedOutputIsNoConsole) {
  // The test runner's standard output is a pipe or a file.
  platform::ConsoleCursor cursor;
  EXPECT_EQ(detect_console_state(cursor), ConsoleState::NoConsole);
  EXPECT_FALSE(cursor.report_late);
}

TEST(MakeAbsolutePath, ResolvesEveryRelativePath) {
  ScopedTempDir dir;
  const std::string here = dir.path();
  const char sep = native_separator();
  std::string parent = here.substr(0, here.rfind(sep));
  struct Case {
    std::string path;
    std::string full;
  } cases[] = {
      {"", ""},
      {"out", here + sep + "out"},
      {"./out", here + sep + "out"},
      {"../out", parent + sep + "out"},
      {"out/sub", here + sep + "out" + sep + "sub"},
      {here + sep + "x", here + sep + "x"},
  };
  for (const Case& c : cases) {
    std::string full = "stale";
    EXPECT_EQ(make_absolute_path(c.path, full), 0) << c.path;
    EXPECT_EQ(full, c.full) << c.path;
  }
  std::string full;
  EXPECT_EQ(make_absolute_path(std::string(1100, 'a'), full), ENAMETOOLONG);
}

}  // namespace
