// SPDX-License-Identifier: Zlib
#include "driver/help_version.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "platform/platform.hpp"
#include "testing/artifacts.hpp"
#include "testing/scoped_temp_dir.hpp"
#include "testing/process_runner.hpp"
#include "testing/stub_texts.hpp"

namespace {

std::string help_for(bool no_extract_list) {
  SfxOptions options;
  options.no_extract_list = no_extract_list;
  testing::internal::CaptureStdout();
  print_help(options);
  return testing::internal::GetCapturedStdout();
}

TEST(PrintHelp, PrintsTheOptionsByteForByte) {
  EXPECT_EQ(help_for(false), k_stub_help);
  EXPECT_EQ(help_for(true), k_stub_help_no_extract_list);
}

TEST(PrintVersion, PrintsOneLineWithTheBuildsValues) {
  testing::internal::CaptureStdout();
  print_version();
  std::string line = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(std::regex_match(
      line, std::regex("SelfExtractor 1\\.0, .+, built on [A-Z][a-z]{2} [ 0-9]\\d \\d{4}, "
                       "\\d\\d:\\d\\d:\\d\\d\\. Git SHA Hash: ([0-9a-f]{40}|N/A)\n")))
      << line;
}

// The stamp is taken at every build: after a new commit the next build prints that commit.
TEST(PrintVersion, RevisionIsTheSourceTreesHead) {
  if (platform::platform_kind() == platform::PlatformKind::Windows) {
    GTEST_SKIP() << "git runs on the build host";
  }
  ScopedTempDir dir;
  std::string source = examples_dir() + "/..";
  if (!path_exists(source + "/.git") ||
      platform::run_shell("git -C " + quote_for_shell(source) + " rev-parse HEAD >" +
                          quote_for_shell(dir.file("head")) + " 2>/dev/null") != 0) {
    GTEST_SKIP() << "not a git checkout";
  }
  testing::internal::CaptureStdout();
  print_version();
  std::string line = testing::internal::GetCapturedStdout();
  EXPECT_EQ(line.substr(line.find("Git SHA Hash: ") + 14), read_file(dir.file("head"))) << line;
}

}  // namespace
