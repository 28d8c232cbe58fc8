#include "common/shell_words.hpp"

#include <gtest/gtest.h>

namespace {

using Words = std::vector<std::string>;

// A line is run without a shell only when the shell would take it literally; the words must be
// the ones the shell makes.
TEST(ShellWords, LiteralLinesOnly) {
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
  }
}

}  // namespace
