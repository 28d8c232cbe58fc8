// SPDX-License-Identifier: Zlib
// The trailer and the generator as processes: a package whose layout version does not match ends
// the run, and a folder goes through vek_fwsfx_gen, its --info --verify and the stub's extract-only
// run unchanged.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "testing/artifacts.hpp"
#include "testing/package_builder.hpp"
#include "testing/process_runner.hpp"
#include "testing/scoped_temp_dir.hpp"
#include "workdir/path.hpp"

namespace {

namespace fs = std::filesystem;

class PayloadTrailer : public ::testing::Test {
 protected:
  void SetUp() override {
    payload = dir.file("payload");
    given = dir.file("given");
    fs::create_directories(fs::path(payload) / "bin");
    fs::create_directories(fs::path(payload) / "empty");
    fs::create_directories(given);
    ASSERT_TRUE(write_file(payload + "/bin/tool.txt", "tool\n"));
    ASSERT_TRUE(write_file(payload + "/readme.txt", std::string(70000, 'r')));
    package = dir.file("fw_update" + fs::path(stub_artifact()).extension().string());
  }

  ScopedTempDir dir;
  std::string payload;
  std::string given;
  std::string package;
};

TEST_F(PayloadTrailer, LayoutVersionMismatchEndsTheRun) {
  for (const std::string version : {"1.0", "2.01"}) {
    ASSERT_TRUE(build_package(stub_artifact(), payload, "bin/tool.txt", std::nullopt, package));
    std::string bytes = read_file(package);
    bytes.replace(bytes.size() - 8, 8, version + std::string(8 - version.size(), '\0'));
    ASSERT_TRUE(write_file(package, bytes));

    ProcessResult result =
        run_process(package, {"--sfx-extract-dir", given, "--sfx-no-pause"}, dir.path());
    EXPECT_EQ(result.status, 252);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "-E- Extractor layout version : '" + version +
                              "' differs than expected '2.0', make sure generator and sfx_stub "
                              "versions are matched\n");
    EXPECT_EQ(tree_listing(given), std::vector<std::string>{});
  }
}

// A full disk while the archive is copied out, for real: the stub runs under a file-size limit of
// a few KiB, with SIGXFSZ ignored by its caller or at its default (the stub ignores it itself, so
// writes fail with EFBIG rather than ending it). The run ends through the ending, which deletes
// the half-written archive from the given directory, or the whole temporary work directory.
TEST_F(PayloadTrailer, FullDiskDuringTheCopyEndsTheRunAndRemovesTheArchive) {
  if (platform::platform_kind() == platform::PlatformKind::Windows) {
    GTEST_SKIP() << "needs a POSIX shell's ulimit";
  }
  std::string noise;
  unsigned state = 12345;
  for (int i = 0; i < 40000; ++i) {
    state = state * 1103515245u + 12345u;
    noise += static_cast<char>(state >> 24);
  }
  ASSERT_TRUE(write_file(payload + "/noise.bin", noise));
  ASSERT_TRUE(build_package(stub_artifact(), payload, "bin/tool.txt", std::nullopt, package));
  std::string temp = dir.file("temp");
  fs::create_directories(temp);

  struct Case {
    const char* what;
    const char* signal_setting;
    bool given_directory;
  } cases[] = {
      {"SIGXFSZ ignored by the caller", "trap '' XFSZ; ", true},
      {"SIGXFSZ at its default", "", true},
      {"in a temporary work directory", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> arguments = {
        "-c", std::string(c.signal_setting) + "ulimit -f 8; exec \"$0\" \"$@\"", package,
        "--sfx-no-pause"};
    if (c.given_directory) {
      arguments.insert(arguments.end(), {"--sfx-extract-dir", given});
    }
    ScopedEnvironment temp_variable("TEMP", temp);
    ProcessResult result = run_process("/bin/sh", arguments, dir.path());
    EXPECT_EQ(result.status, 252);
    std::string::size_type name_end = result.err.find("/archive.zip, might be out of space\n");
    ASSERT_NE(name_end, std::string::npos) << result.err;
    EXPECT_EQ(result.err.substr(name_end), "/archive.zip, might be out of space\n");
    std::string named = result.err.substr(0, name_end);
    if (c.given_directory) {
      EXPECT_EQ(named, "-E- Failed to write on file " + given);
    } else {
      // The temporary work directory's name ends with the user and the process id.
      EXPECT_EQ(named.rfind("-E- Failed to write on file " + temp + "/sfxter_", 0), 0u) << named;
    }
    EXPECT_EQ(tree_listing(given), std::vector<std::string>{});
    EXPECT_EQ(tree_listing(temp), std::vector<std::string>{});
  }
}

TEST_F(PayloadTrailer, GeneratorPackageVerifiesAndExtracts) {
  ProcessResult built = run_process(generator_artifact(),
                                    {"--stub", stub_artifact(), "--dir", payload, "--command",
                                     "bin/tool.txt %argv%", "-o", package},
                                    dir.path());
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(built.out + built.err, "");
  // Bytes after the trailer change nothing.
  ASSERT_TRUE(append_bytes(package, "12345"));

  ProcessResult info =
      run_process(generator_artifact(), {"--info", package, "--verify"}, dir.path());
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("command template:    bin/tool.txt %argv%\n"), std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("bytes after trailer: 5\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("archive entries:     4\n"), std::string::npos) << info.out;

  ProcessResult run =
      run_process(package, {"--sfx-extract-dir", given, "--sfx-extract-only"}, dir.path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  std::string extracted = join_path(given, "fw_update-dir");
  EXPECT_EQ(run.out, "Extracting to " + extracted + " ... Done\n");
  EXPECT_EQ(tree_listing(extracted),
            (std::vector<std::string>{"bin/", "bin/tool.txt", "device_info/", "device_info/json/",
                                      "empty/", "readme.txt"}));
  EXPECT_EQ(read_file(join_path(extracted, "readme.txt")), std::string(70000, 'r'));
  EXPECT_EQ(read_file(join_path(extracted, "bin/tool.txt")), "tool\n");
}

TEST_F(PayloadTrailer, GeneratorRefusalsWriteNothing) {
  ProcessResult empty = run_process(
      generator_artifact(),
      {"--stub", stub_artifact(), "--dir", payload, "--command", "", "-o", package}, dir.path());
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.err,
            "vek_fwsfx_gen: the command template is empty; the stub would have nothing to run\n");
  ProcessResult usage =
      run_process(generator_artifact(), {"--stub", stub_artifact(), "-o", package}, dir.path());
  EXPECT_EQ(usage.status, 2);
  EXPECT_EQ(usage.err.rfind("vek_fwsfx_gen: ", 0), 0u) << usage.err;
  EXPECT_FALSE(path_exists(package));
}

}  // namespace
