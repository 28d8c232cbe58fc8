// SPDX-License-Identifier: Zlib
// The trailer and the generator as processes: a package whose layout version does not match ends
// the run, and a folder goes through vek_fwsfx_gen, its --info --verify and the stub's extract-only
// run unchanged.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "testing/archive_builder.hpp"
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

// A full disk while the archive is copied out, for real, in two ways: the stub runs under a
// file-size limit of a few KiB (SIGXFSZ ignored, so writes fail with EFBIG; the archive's room is
// set aside all the same, so the copy fails while the extraction reads the package beside it),
// or the given directory lies on a file system too small for the archive (setting its room aside
// fails before anything is extracted). Either way only the copy's message comes, and the run ends
// through the ending, which deletes the half-written archive and leaves an extract-only run's
// directory as fresh as it was.
TEST_F(PayloadTrailer, FullDiskDuringTheCopyEndsTheRunAndRemovesTheArchive) {
  if (platform::platform_kind() == platform::PlatformKind::Windows) {
    GTEST_SKIP() << "needs a POSIX shell's ulimit";
  }
  ASSERT_TRUE(write_file(payload + "/noise.bin", noise(1200000)));
  ASSERT_TRUE(build_package(stub_artifact(), payload, "bin/tool.txt", std::nullopt, package));
  std::string temp = dir.file("temp");
  fs::create_directories(temp);
  std::string small = dir.file("small");
  fs::create_directories(small);
  bool mounted = platform::run_shell("mount -t tmpfs -o size=128k sfxkit-test " +
                                     quote_for_shell(small) + " 2>/dev/null") == 0;
  // What an extract-only run leaves in the given directory: its fresh extraction directory.
  const std::vector<std::string> fresh = {"fw_update-dir/", "fw_update-dir/device_info/",
                                          "fw_update-dir/device_info/json/"};
  enum Target { Given, Temporary, Small };
  struct Case {
    const char* label;
    const char* setting;
    Target target;
    bool extract_only;
  } cases[] = {
      {"file-size limit, SIGXFSZ ignored by the caller", "trap '' XFSZ; ulimit -f 8; ", Given,
       false},
      {"file-size limit, SIGXFSZ at its default", "ulimit -f 8; ", Given, false},
      {"file-size limit, extract-only", "ulimit -f 8; ", Given, true},
      {"file-size limit, temporary work directory", "ulimit -f 8; ", Temporary, false},
      {"small file system", "", Small, false},
      {"small file system, extract-only", "", Small, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    if (c.target == Small && !mounted) {
      continue;
    }
    std::string target = c.target == Small ? small : given;
    std::vector<std::string> arguments = {
        "-c", std::string(c.setting) + "exec \"$0\" \"$@\"", package, "--sfx-no-pause"};
    if (c.target != Temporary) {
      arguments.insert(arguments.end(), {"--sfx-extract-dir", target});
    }
    if (c.extract_only) {
      arguments.push_back("--sfx-extract-only");
    }
    ScopedEnvironment temp_variable("TEMP", temp);
    ProcessResult result = run_process("/bin/sh", arguments, dir.path());
    EXPECT_EQ(result.status, 252);
    EXPECT_EQ(result.out, "");
    if (c.target != Temporary) {
      EXPECT_EQ(result.err, "-E- Failed to write on file " + join_path(target, "archive.zip") +
                                ", might be out of space\n");
    } else {
      // The temporary work directory's name ends with the user and the process id.
      EXPECT_EQ(result.err.rfind("-E- Failed to write on file " + temp + "/sfxter_", 0), 0u)
          << result.err;
    }
    EXPECT_EQ(tree_listing(target), c.extract_only ? fresh : std::vector<std::string>{});
    EXPECT_EQ(tree_listing(temp), std::vector<std::string>{});
    fs::remove_all(fs::path(target) / "fw_update-dir");
  }
  if (mounted) {
    // Room for the archive, not for it and the entries too: the space check counts the archive's
    // room as taken, as if the copy had come first.
    ASSERT_EQ(platform::run_shell("mount -o remount,size=1800k " + quote_for_shell(small)), 0);
    ProcessResult result = run_process(package, {"--sfx-extract-dir", small, "--sfx-no-pause"},
                                       dir.path());
    EXPECT_EQ(result.status, 252);
    EXPECT_EQ(result.err, "-E- Not enough space in " + join_path(small, "fw_update-dir") +
                              ": 2 MB needed, 0 MB free\n");
    EXPECT_EQ(tree_listing(small), std::vector<std::string>{});
    EXPECT_EQ(platform::run_shell("umount " + quote_for_shell(small)), 0);
  } else {
    GTEST_SKIP() << "the small file system needs root to mount a tmpfs";
  }
}

// A termination request while the archive is copied and the extraction reads the package beside
// it stops both; the ending cleans up as after any interrupt.
TEST_F(PayloadTrailer, InterruptDuringCopyAndExtractionLeavesNothingBehind) {
  if (platform::platform_kind() == platform::PlatformKind::Windows) {
    GTEST_SKIP() << "signals are a Linux matter";
  }
  ASSERT_TRUE(write_file(payload + "/noise.bin", noise(48 * 1024 * 1024)));
  ASSERT_TRUE(build_package(stub_artifact(), payload, "bin/tool.txt", std::nullopt, package));
  for (bool extract_only : {false, true}) {
    SCOPED_TRACE(extract_only);
    std::string archive = join_path(given, "archive.zip");
    // The signal goes as soon as archive.zip exists: the copy has just started.
    std::string script = quote_for_shell(package) + " --sfx-extract-dir " +
                         quote_for_shell(given) + " --sfx-no-pause" +
                         (extract_only ? " --sfx-extract-only" : "") +
                         " </dev/null & pid=$!\nwhile [ ! -e " + quote_for_shell(archive) +
                         " ] && kill -0 $pid 2>/dev/null; do :; done\nkill -TERM $pid\n" +
                         "wait $pid";
    ProcessResult result = run_process("/bin/sh", {"-c", script}, dir.path());
    EXPECT_EQ(result.status, 143) << result.out << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(path_exists(archive));
    if (extract_only) {
      // Whatever the extraction had unpacked stays, as after any interrupted extract-only run.
      EXPECT_TRUE(path_exists(join_path(given, "fw_update-dir")));
      fs::remove_all(fs::path(given) / "fw_update-dir");
    }
    EXPECT_EQ(tree_listing(given), std::vector<std::string>{});
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
