// SPDX-License-Identifier: Zlib
// The stub as a process, before any payload is involved: command-line errors, the given-directory
// checks, and a plain stub that carries no payload.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "testing/artifacts.hpp"
#include "testing/process_runner.hpp"
#include "testing/scoped_temp_dir.hpp"
#include "testing/stub_texts.hpp"
#include "workdir/path.hpp"

namespace {


TEST(StubCommandLine, RejectsBadCommandLinesWithoutCreatingAnything) {
  ScopedTempDir dir;
  std::string plain = dir.file("plain");
  ASSERT_TRUE(write_file(plain, "x"));
  std::string missing = dir.file("missing");
  struct Case {
    std::vector<std::string> args;
    std::string out;
    std::string err;
  } cases[] = {
      {{"--sfx-extract-dir"},
       "",
       "-E- Destination directory not specified with --sfx-extract-dir option\n"},
      {{"-d"}, "", "-E- Devices is not Specified\n"},
      {{"--query", "--dev"}, "", "-E- Devices is not Specified\n"},
      {{"--sfx-extract-only"},
       "",
       "-E- --sfx-extract-only option must be used in conjunction with --sfx-extract-dir "
       "option\n"},
      {{"--sfx-extract-dir", plain},
       std::string("-I- Please consider using the following options:\n") + k_stub_help,
       "-E- " + plain + " is not a directory\n"},
      {{"--sfx-extract-dir", missing, "-v"},
       std::string("-I- Please consider using the following options:\n") + k_stub_help,
       "-E- Failed to access directory " + missing + ": "},
      {{"--no_extract_list", "--sfx-extract-dir", plain},
       std::string("-I- Please consider using the following options:\n") +
           k_stub_help_no_extract_list,
       "-E- " + plain + " is not a directory\n"},
  };
  for (const Case& c : cases) {
    ProcessResult result = run_process(stub_artifact(), c.args, dir.path());
    EXPECT_EQ(result.status, 252) << c.args[0];
    if (c.args.back() == "-v") {
      EXPECT_EQ(result.out.rfind(c.out, 0), 0u) << result.out;
      EXPECT_NE(result.out.find("SelfExtractor 1.0, "), std::string::npos) << result.out;
      EXPECT_EQ(result.err.rfind(c.err, 0), 0u) << result.err;
    } else {
      EXPECT_EQ(result.out, c.out) << c.args[0];
      EXPECT_EQ(result.err, c.err) << c.args[0];
    }
  }
  EXPECT_FALSE(path_exists(missing));
  EXPECT_EQ(read_file(plain), "x");
  EXPECT_EQ(tree_listing(dir.path()), std::vector<std::string>{"plain"});
}

TEST(StubCommandLine, PlainStubHasNoPayloadAndLeavesNothingBehind) {
  ScopedTempDir dir;
  ScopedEnvironment temp("TEMP", dir.path());
  ProcessResult in_temp = run_process(stub_artifact(), {}, dir.path());
  EXPECT_EQ(in_temp.status, 252);
  EXPECT_NE(in_temp.err.find("Failed to find version pattern"), std::string::npos);
  EXPECT_EQ(tree_listing(dir.path()), std::vector<std::string>{});

  ProcessResult result =
      run_process(stub_artifact(), {"--sfx-extract-dir", dir.path(), "--sfx-no-pause"}, dir.path());
  EXPECT_EQ(result.status, 252);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "-E- Failed to find version pattern, vek_fwsfx_gen is older than expected : '2.0', "
            "make sure to have the latest ORBA\n");
  EXPECT_EQ(tree_listing(dir.path()), std::vector<std::string>{});
}

TEST(StubCommandLine, ExtractionDirectoryInTheWayFailsThroughTheEnding) {
  ScopedTempDir dir;
  std::string in_the_way = join_path(dir.path(), "sfx_stub-dir");
  ASSERT_TRUE(write_file(in_the_way, "user data"));
  ProcessResult result =
      run_process(stub_artifact(), {"--sfx-extract-dir", dir.path()}, dir.path());
  EXPECT_EQ(result.status, 252);
  EXPECT_EQ(result.err, "-E- Failed to create directory " + in_the_way + ": " +
                            std::strerror(EEXIST) + "\n");
  EXPECT_EQ(read_file(in_the_way), "user data");
  EXPECT_EQ(tree_listing(dir.path()), std::vector<std::string>{"sfx_stub-dir"});
}

}  // namespace
