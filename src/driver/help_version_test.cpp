#include "driver/help_version.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

std::string help_for(bool no_extract_list) {
  SfxOptions options;
  options.no_extract_list = no_extract_list;
  testing::internal::CaptureStdout();
  print_help(options);
  return testing::internal::GetCapturedStdout();
}

TEST(PrintHelp, PrintsTheOptionsByteForByte) {
  const std::string head =
      "\nSELF EXTRACTOR OPTIONS\n"
      "        --sfx-extract-dir <dir>       : Use <dir> for temporary files during execution\n";
  const std::string extract_only =
      "        --sfx-extract-only            : Do not execute, only extract files to a location\n"
      "                                        specified through the --sfx-extract-dir option\n";
  const std::string tail =
      "        --sfx-no-pause                : Do not wait for user keypress after completion\n"
      "                                        when run in a new command window\n"
      "\n";
  EXPECT_EQ(help_for(false), head + extract_only + tail);
  EXPECT_EQ(help_for(true), head + tail);
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

}  // namespace
