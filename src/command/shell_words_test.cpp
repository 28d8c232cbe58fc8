// SPDX-License-Identifier: Zlib
#include "command/shell_words.hpp"

#include <gtest/gtest.h>

#include "platform/platform.hpp"
#include "testing/process_runner.hpp"
#include "testing/scoped_temp_dir.hpp"

namespace {

using Words = std::vector<std::string>;

// A line is run without a shell only when the shell would take it literally; the words must be
// the ones the shell makes: each accepted line, handed to printf through the real shell, must give
// the same words.
TEST(ShellWords, LiteralLinesOnly) {
  bool real_shell = platform::platform_kind() == platform::PlatformKind::Posix;
  ScopedTempDir dir;
  struct Case {
    std::string line;
    bool literal;
    Words words;
  } cases[] = {
      {"\"/tmp/sfxter_u_7/pkg-dir/./tool\" --current-dir \"/home/u/\" -y", true,
       {"/tmp/sfxter_u_7/pkg-dir/./tool", "--current-dir", "/home/u/", "-y"}},
      {"  ./tool\ta  b  ", true, {"./tool", "a", "b"}},
      {"\"/d/\"tool\" x\"y --name='Line 3 tester' ''", true,
       {"/d/tool xy", "--name=Line 3 tester", ""}},
      {"\"/Дир/工具\" x=1,y@z%+", true, {"/Дир/工具", "x=1,y@z%+"}},
      // A program without a path may be a builtin, a keyword or a PATH lookup.
      {"exit 3", false, {}},
      {"tool.sh %argv%", false, {}},
      // Expansions, operators, globs, escapes, comments, home directories, assignments.
      {"./tool $HOME", false, {}},
      {"./tool \"$HOME\"", false, {}},
      {"./tool `id`", false, {}},
      {"./tool \"a\\\"b\"", false, {}},
      {"./tool a\\ b", false, {}},
      {"./tool && ./other", false, {}},
      {"./tool; ./other", false, {}},
      {"./tool | cat", false, {}},
      {"./tool > out", false, {}},
      {"./tool *.bin", false, {}},
      {"./tool ~/x", false, {}},
      {"./tool #comment", false, {}},
      {"A=1/b ./tool", false, {}},
      {"./tool (x)", false, {}},
      {"./tool \"unterminated", false, {}},
      {"./tool\nreboot", false, {}},
      {"", false, {}},
  };
  for (const Case& c : cases) {
    Words words;
    EXPECT_EQ(literal_shell_words(c.line, words), c.literal) << c.line;
    if (c.literal) {
      EXPECT_EQ(words, c.words) << c.line;
    }
    if (c.literal && real_shell) {
      std::string printed = dir.file("printed");
      ASSERT_EQ(platform::run_shell("sh -c 'printf \"<%s>\" \"$@\"' sh " + c.line + " >" +
                                    quote_for_shell(printed)),
                0)
          << c.line;
      std::string expected;
      for (const std::string& word : c.words) {
        expected += "<" + word + ">";
      }
      EXPECT_EQ(read_file(printed), expected) << c.line;
    }
  }
}

}  // namespace
