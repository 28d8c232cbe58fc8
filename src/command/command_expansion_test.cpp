// SPDX-License-Identifier: Zlib
#include "command/command_expansion.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/entry_rules.hpp"
#include "platform/platform.hpp"
#include "testing/scoped_temp_dir.hpp"

namespace {

const char k_sample_template[] =
    "quarnel.exe -u --log-on-update --ssl-certificate %ca-bundle.crt% %current-dir%  %argv%";

struct Expansion {
  std::string expanded;
  std::vector<std::string> tools;
  std::vector<std::string> displays;
};

Expansion expand(ShellSyntax syntax, const std::string& command_template, const std::string& args,
                 const std::string& current_dir, const std::string& extraction_dir,
                 std::vector<std::string> tools = {}, const std::string& device_arg = "") {
  ExpandedCommands expanded = expand_command_with(syntax, command_template, tools,
                                                  {args, current_dir, device_arg, extraction_dir});
  Expansion result;
  result.expanded = expanded.command;
  for (const ExtraToolCommand& tool : expanded.extra_tools) {
    result.tools.push_back(tool.runnable);
    result.displays.push_back(tool.display);
  }
  return result;
}

TEST(ExpandCommand, SamplePackageUnderWindowsRules) {
  Expansion result =
      expand(ShellSyntax::Cmd, k_sample_template, "-y", "D:\\fw", "E:\\Temp\\w\\pkg-dir");
  EXPECT_EQ(
      result.expanded,
      "quarnel.exe -u --log-on-update --ssl-certificate \"E:\\Temp\\w\\pkg-dir\\ca-bundle.crt\" "
      "--current-dir \"D:\\fw\\ \"   -y");
  EXPECT_EQ(make_command_line(command_prefix("E:\\Temp\\w\\pkg-dir", ShellSyntax::Cmd),
                              result.expanded, ShellSyntax::Cmd),
            "\"\"E:\\Temp\\w\\pkg-dir\\quarnel.exe\" -u --log-on-update --ssl-certificate "
            "\"E:\\Temp\\w\\pkg-dir\\ca-bundle.crt\" --current-dir \"D:\\fw\\ \"   -y\"");
  EXPECT_TRUE(result.displays.empty());
}

TEST(ExpandCommand, SamplePackageUnderLinuxRules) {
  Expansion result =
      expand(ShellSyntax::Posix, k_sample_template, "-y", "/home/fw", "/tmp/w/pkg-dir");
  EXPECT_EQ(result.expanded,
            "quarnel.exe -u --log-on-update --ssl-certificate \"/tmp/w/pkg-dir/ca-bundle.crt\" "
            "--current-dir \"/home/fw/\"   -y");
  EXPECT_EQ(make_command_line(command_prefix("/tmp/w/pkg-dir", ShellSyntax::Posix), result.expanded,
                              ShellSyntax::Posix),
            "\"/tmp/w/pkg-dir/quarnel.exe\" -u --log-on-update --ssl-certificate "
            "\"/tmp/w/pkg-dir/ca-bundle.crt\" --current-dir \"/home/fw/\"   -y");
}

TEST(ExpandCommand, PlaceholderSamples) {
  struct Case {
    ShellSyntax syntax;
    std::string command_template;
    std::string args;
    std::string current_dir;
    std::string expanded;
  } cases[] = {
      {ShellSyntax::Cmd, "tool -x", "-y", "D:\\fw", "tool -x"},
      {ShellSyntax::Cmd, "", "-y", "D:\\fw", ""},
      // Empty arguments leave the blanks around the placeholder.
      {ShellSyntax::Cmd, "t %current-dir%  %argv%", "", "D:\\fw",
       "t --current-dir \"D:\\fw\\ \"   "},
      {ShellSyntax::Cmd, "t %current-dir%", "", "E:\\", "t --current-dir \"E:\\\\ \" "},
      {ShellSyntax::Posix, "t %current-dir%", "", "/", "t --current-dir \"//\" "},
      {ShellSyntax::Cmd, "%argv%|%argv% %argv%", "a b", "D:\\", "a b|a b a b"},
      {ShellSyntax::Cmd, "%ca-bundle.crt%=%ca-bundle.crt%", "", "D:\\",
       "\"E:\\x\\ca-bundle.crt\"=\"E:\\x\\ca-bundle.crt\""},
      {ShellSyntax::Cmd, "%ARGV% % argv% %argv %Current-Dir% %CA-BUNDLE.CRT% %argv", "z", "D:\\",
       "%ARGV% % argv% %argv %Current-Dir% %CA-BUNDLE.CRT% %argv"},
      // A later pass replaces what an earlier value brought in; an earlier pass does not.
      {ShellSyntax::Cmd, "t %argv%", "%current-dir% %ca-bundle.crt%", "D:\\fw",
       "t --current-dir \"D:\\fw\\ \"  \"E:\\x\\ca-bundle.crt\""},
      {ShellSyntax::Cmd, "t %current-dir%", "", "D:\\%argv%", "t --current-dir \"D:\\%argv%\\ \" "},
      // Values that hold their own placeholder are inserted once and the expansion ends.
      {ShellSyntax::Cmd, "t %argv% %argv%", "%argv%", "D:\\", "t %argv% %argv%"},
      {ShellSyntax::Cmd, "t %current-dir%", "", "D:\\%current-dir%",
       "t --current-dir \"D:\\%current-dir%\\ \" "},
      {ShellSyntax::Cmd, "t %argv%gv%", "%ar", "D:\\", "t %argv%"},
      {ShellSyntax::Cmd, "t %device% %argv%", "-d dev0", "D:\\", "t %device% -d dev0"},
      // Linux quotes the directories it puts into the text; the user's arguments stay as typed.
      {ShellSyntax::Posix, "t %current-dir%%ca-bundle.crt% %argv%", "\"$HOME\" `id`",
       "/a b/$x/`y`/\"q\"/\\z",
       "t --current-dir \"/a b/\\$x/\\`y\\`/\\\"q\\\"/\\\\z/\" \"/tmp/x/ca-bundle.crt\" \"$HOME\" "
       "`id`"},
  };
  for (const Case& c : cases) {
    std::string extraction_dir = c.syntax == ShellSyntax::Cmd ? "E:\\x" : "/tmp/x";
    Expansion result = expand(c.syntax, c.command_template, c.args, c.current_dir, extraction_dir);
    EXPECT_EQ(result.expanded, c.expanded) << "template " << c.command_template;
  }
}

TEST(ExpandCommand, CertificatePathOfADirectoryThatNamesItsOwnPlaceholder) {
  EXPECT_EQ(expand(ShellSyntax::Cmd, "%ca-bundle.crt%", "", "D:\\", "E:\\%ca-bundle.crt%").expanded,
            "\"E:\\%ca-bundle.crt%\\ca-bundle.crt\"");
  EXPECT_EQ(expand(ShellSyntax::Posix, "%ca-bundle.crt%", "", "/", "/t/$w d").expanded,
            "\"/t/\\$w d/ca-bundle.crt\"");
}

TEST(ExpandCommand, ExtraToolCommands) {
  struct Case {
    ShellSyntax syntax;
    std::vector<std::string> tools;
    std::string device_arg;
    std::vector<std::string> runnable;
    std::vector<std::string> displays;
  } cases[] = {
      {ShellSyntax::Cmd, {}, "-d dev0", {}, {}},
      {ShellSyntax::Cmd,
       {"probe.exe %device% -q"},
       "-d dev0",
       {"\"\"E:\\T w\\pkg-dir\\probe.exe\" -d dev0 -q\""},
       {"probe.exe -d dev0 -q"}},
      {ShellSyntax::Cmd,
       {"probe.exe %device% -q"},
       "",
       {"\"\"E:\\T w\\pkg-dir\\probe.exe\"  -q\""},
       {"probe.exe  -q"}},
      {ShellSyntax::Posix,
       {"probe %device% -q", "check %device%%device%"},
       "-d dev0",
       {"\"/t w/pkg-dir/probe\" -d dev0 -q", "\"/t w/pkg-dir/check\" -d dev0-d dev0"},
       {"probe -d dev0 -q", "check -d dev0-d dev0"}},
      // The template's placeholders stay in an extra-tool command; its own stays out of reach of
      // a device argument that holds it.
      {ShellSyntax::Posix,
       {"p %argv% %current-dir% %ca-bundle.crt% %DEVICE% %device%"},
       "%device%",
       {"\"/t w/pkg-dir/p\" %argv% %current-dir% %ca-bundle.crt% %DEVICE% %device%"},
       {"p %argv% %current-dir% %ca-bundle.crt% %DEVICE% %device%"}},
  };
  for (const Case& c : cases) {
    std::string extraction_dir = c.syntax == ShellSyntax::Cmd ? "E:\\T w\\pkg-dir" : "/t w/pkg-dir";
    Expansion result = expand(c.syntax, "t", "", "D:\\", extraction_dir, c.tools, c.device_arg);
    EXPECT_EQ(result.tools, c.runnable) << "device " << c.device_arg;
    EXPECT_EQ(result.displays, c.displays) << "device " << c.device_arg;
  }
}

TEST(ExpandCommand, ThePlatformsShell) {
  struct Case {
    TargetPlatform target;
    std::string runnable;
  } cases[] = {
      {TargetPlatform::Windows, "\"\"\\x\\probe.exe\" -d dev1\""},
      {TargetPlatform::Linux, "\"/x/probe.exe\" -d dev1"},
  };
  for (const Case& c : cases) {
    ExpandedCommands expanded =
        expand_command(c.target, "t", {"probe.exe %device%"}, {"", "", "-d dev1", "/x"});
    EXPECT_EQ(expanded.command, "t");
    ASSERT_EQ(expanded.extra_tools.size(), 1u);
    EXPECT_EQ(expanded.extra_tools[0].display, "probe.exe -d dev1");
    EXPECT_EQ(expanded.extra_tools[0].runnable, c.runnable);
  }
}

TEST(MakeCommandLine, QuotesTheProgramPath) {
  struct Case {
    ShellSyntax syntax;
    std::string prefix;
    std::string text;
    std::string line;
  } cases[] = {
      {ShellSyntax::Cmd, "C:\\My Dir\\p-dir\\", "tool.exe -a \"b c\"",
       "\"\"C:\\My Dir\\p-dir\\tool.exe\" -a \"b c\"\""},
      // An empty template still gives a line: the prefix alone.
      {ShellSyntax::Cmd, "C:\\w\\p-dir\\", "", "\"\"C:\\w\\p-dir\\\"\""},
      {ShellSyntax::Posix, "/w/p-dir/", "", "\"/w/p-dir/\""},
      {ShellSyntax::Posix, "/w/p-dir/", "tool\t-a", "\"/w/p-dir/tool\"\t-a"},
      {ShellSyntax::Posix, "/w/p-dir/", " tool", "\"/w/p-dir/\" tool"},
      {ShellSyntax::Posix, "/h/$u `x` \"q\" \\/", "tool -a $HOME",
       "\"/h/\\$u \\`x\\` \\\"q\\\" \\\\/tool\" -a $HOME"},
      // A program name the template quoted itself is taken from its quotes.
      {ShellSyntax::Cmd, "C:\\w\\", "\"my tool.exe\" -a", "\"\"C:\\w\\my tool.exe\" -a\""},
      {ShellSyntax::Posix, "/w/", "\"my tool\" -a", "\"/w/my tool\" -a"},
      {ShellSyntax::Posix, "/w/", "\"open -a", "\"/w/\\\"open\" -a"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(make_command_line(c.prefix, c.text, c.syntax), c.line) << "text " << c.text;
  }
}

TEST(CommandPrefix, EndsInOneSeparator) {
  EXPECT_EQ(command_prefix("E:/Temp\\w/pkg-dir", ShellSyntax::Cmd), "E:\\Temp\\w\\pkg-dir\\");
  EXPECT_EQ(command_prefix("/tmp/a\\b/pkg-dir", ShellSyntax::Posix), "/tmp/a\\b/pkg-dir/");
}

// The shell itself reads the quoted words back as the exact values.
TEST(QuoteForPosixShell, ShellReadsTheValueBack) {
  if (shell_syntax(this_platform()) != ShellSyntax::Posix) {
    GTEST_SKIP() << "needs /bin/sh";
  }
  ScopedTempDir dir;
  const std::string values[] = {"",     "plain", "a b  c",      "$HOME $(id) ${x}",
                                "`id`", "\\n\\", "\"q\" 'a' *", "end\\"};
  for (const std::string& value : values) {
    std::string out = dir.file("out");
    ASSERT_EQ(platform::run_shell("printf %s " + quote_for_posix_shell(value) + " >" +
                                  quote_for_posix_shell(out)),
              0);
    EXPECT_EQ(read_file(out), value);
  }
}

}  // namespace
