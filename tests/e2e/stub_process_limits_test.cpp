// SPDX-License-Identifier: Zlib
// Linux-only conditions of the stub as a process that a test can bring about for real: a user
// without a name, an empty program name, very long command lines, few descriptors for a deep
// payload, a host that lacks every library but glibc.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "testing/archive_builder.hpp"
#include "testing/artifacts.hpp"
#include "testing/package_builder.hpp"
#include "testing/process_runner.hpp"
#include "testing/scoped_temp_dir.hpp"

namespace {

// The shared libraries the Linux stub may name: glibc's own, which every host has. The split-off
// pieces (libpthread, libdl, librt) are glibc too, merged into libc.so.6 since glibc 2.34.
const std::vector<std::string> k_glibc_libraries = {
    "libc.so.6",  "libm.so.6",  "libpthread.so.0", "libdl.so.2",
    "librt.so.1", "ld-linux-x86-64.so.2"};

class StubProcessLimits : public ::testing::Test {
 protected:
  void SetUp() override {
    if (platform::platform_kind() == platform::PlatformKind::Windows) {
      GTEST_SKIP() << "Linux process conditions";
    }
  }

  ProcessResult shell(const std::string& command) {
    return run_command_line(command, m_dir.path());
  }

  ScopedTempDir m_dir;
};

TEST_F(StubProcessLimits, UserWithoutANameCannotHaveATemporaryWorkDirectory) {
  if (platform::run_shell("command -v setpriv >/dev/null && [ \"$(id -u)\" = 0 ]") != 0) {
    GTEST_SKIP() << "needs root and setpriv to run as a user without a passwd entry";
  }
  std::string temp = m_dir.file("temp");
  ASSERT_EQ(platform::make_directory(temp, platform::DirectoryAccess::Shared), 0);
  ASSERT_EQ(platform::set_file_mode(temp, 0777), 0);
  ASSERT_EQ(platform::set_file_mode(m_dir.path(), 0755), 0);
  ProcessResult result =
      shell("env -u USER TEMP=" + quote_for_shell(temp) +
            " setpriv --reuid=54321 --regid=54321 --clear-groups " +
            quote_for_shell(stub_artifact()) + " --no_extract_list");
  EXPECT_EQ(result.status, 252);
  EXPECT_EQ(result.err, "-E- Failed to get username\n");
  EXPECT_EQ(result.out.rfind("-I- Please consider using the following options:\n", 0), 0u)
      << result.out;
  EXPECT_EQ(tree_listing(temp), std::vector<std::string>{});
}

// A user who may start no more threads (ulimit -u): the copy that would run beside the extraction
// runs first on the one thread instead, and the run is the same.
TEST_F(StubProcessLimits, NoSecondThreadCopiesFirst) {
#ifdef SFX_SANITIZED_BUILD
  GTEST_SKIP() << "a sanitized stub starts a thread of the sanitizer's own, which the limit refuses";
#endif
  if (platform::run_shell("command -v setpriv >/dev/null && [ \"$(id -u)\" = 0 ]") != 0) {
    GTEST_SKIP() << "needs root and setpriv to run as a user limited to one process";
  }
  std::string payload = m_dir.file("payload");
  std::string given = m_dir.file("given");
  ASSERT_EQ(platform::make_directory(payload, platform::DirectoryAccess::Shared), 0);
  ASSERT_EQ(platform::make_directory(given, platform::DirectoryAccess::Shared), 0);
  // An archive large enough to be copied beside the extraction.
  std::string data = noise(1200000);
  ASSERT_TRUE(write_file(payload + "/data.txt", data));
  std::string package = m_dir.file("pkg");
  ASSERT_TRUE(build_package(stub_artifact(), payload, "data.txt", std::nullopt, package));
  ASSERT_EQ(platform::set_file_mode(given, 0777), 0);
  ASSERT_EQ(platform::set_file_mode(package, 0755), 0);
  ASSERT_EQ(platform::set_file_mode(m_dir.path(), 0755), 0);
  ProcessResult result = shell("setpriv --reuid=54321 --regid=54321 --clear-groups bash -c "
                               "'ulimit -u 1; exec \"$0\" \"$@\"' " +
                               quote_for_shell(package) + " --sfx-extract-dir " +
                               quote_for_shell(given) + " --sfx-extract-only");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "Extracting to " + given + "/pkg-dir ... Done\n");
  EXPECT_EQ(read_file(given + "/pkg-dir/data.txt"), data);
  EXPECT_FALSE(path_exists(given + "/archive.zip"));
}

TEST_F(StubProcessLimits, OddCommandLinesDoNotCrashTheStub) {
  std::string stub = quote_for_shell(stub_artifact());
  std::string given = " --sfx-extract-dir " + quote_for_shell(m_dir.path()) + " --sfx-no-pause";
  std::string many;
  for (int i = 0; i < 10000; ++i) {
    many += " x";
  }
  struct Case {
    const char* name;
    std::string command;
  } cases[] = {
      {"empty program name", "bash -c 'exec -a \"\" \"$0\" \"$@\"' " + stub + given},
      {"10,000 arguments", stub + given + many},
      {"a 100 KB argument", stub + given + " " + std::string(100 * 1024, 'a')},
  };
  for (const Case& c : cases) {
    ProcessResult result = shell(c.command);
    // A plain stub carries no payload: the run gets as far as the payload and ends with 252.
    EXPECT_EQ(result.status, 252) << c.name;
    EXPECT_NE(result.err.find("-E- Failed to find version pattern"), std::string::npos)
        << c.name << ": " << result.err;
    // The given directory holds nothing afterwards (the output files are gone with the run).
    EXPECT_EQ(tree_listing(m_dir.path()), std::vector<std::string>{}) << c.name;
  }
}

// A payload 100 folders deep, run with 64 descriptors at most: the run ends with the command's
// status and removes everything, in a temporary work directory and in a given one.
TEST_F(StubProcessLimits, DeepPayloadRunsAndGoesWithFewDescriptors) {
  std::string payload = m_dir.file("payload");
  std::string temp = m_dir.file("temp");
  std::string given = m_dir.file("given");
  std::string package = m_dir.file("package");
  for (const std::string& folder : {payload, temp, given}) {
    ASSERT_EQ(platform::make_directory(folder, platform::DirectoryAccess::Shared), 0);
  }
  ASSERT_TRUE(write_file(payload + "/tool.sh", "#!/bin/sh\necho tool ran\n"));
  ASSERT_EQ(platform::set_file_mode(payload + "/tool.sh", 0755), 0);
  std::string folder = payload;
  for (int level = 0; level < 100; ++level) {
    folder += "/d";
    ASSERT_EQ(platform::make_directory(folder, platform::DirectoryAccess::Shared), 0);
    ASSERT_TRUE(write_file(folder + "/f", "x"));
  }
  ASSERT_TRUE(build_package(stub_artifact(), payload, "tool.sh", std::nullopt, package));
  for (const std::string& where : {std::string(), " --sfx-extract-dir " + given}) {
    ProcessResult result = shell("ulimit -n 64 && TEMP=" + quote_for_shell(temp) + " " +
                                 quote_for_shell(package) + " --sfx-no-pause" + where);
    EXPECT_EQ(result.status, 0) << where << ": " << result.err;
    EXPECT_EQ(result.out, "tool ran\n") << where;
    EXPECT_EQ(tree_listing(temp), std::vector<std::string>{}) << where;
    EXPECT_EQ(tree_listing(given), std::vector<std::string>{}) << where;
  }
}

// A package made here must start on any ordinary x86-64 Linux host, and such a host has glibc but
// not necessarily minizip, zlib or the C++ runtime: the stub links all of those statically. Nor
// does the stub tell where it was built: it carries no debugging information.
TEST_F(StubProcessLimits, StubNeedsNoLibraryBeyondGlibcAndNamesNoBuildFolder) {
#ifdef SFX_SANITIZED_BUILD
  GTEST_SKIP() << "a sanitized stub links the sanitizers' runtimes and libstdc++";
#endif
  ProcessResult result = shell("readelf -d " + quote_for_shell(stub_artifact()));
  ASSERT_EQ(result.status, 0) << result.err;
  std::vector<std::string> needed;
  std::istringstream lines(result.out);
  // Lines like " 0x...1 (NEEDED)  Shared library: [libc.so.6]".
  for (std::string line; std::getline(lines, line);) {
    std::string::size_type open = line.find('[');
    if (line.find("(NEEDED)") != std::string::npos && open != std::string::npos) {
      needed.push_back(line.substr(open + 1, line.find(']', open) - open - 1));
    }
  }
  EXPECT_TRUE(std::count(needed.begin(), needed.end(), "libc.so.6")) << result.out;
  for (const std::string& library : needed) {
    EXPECT_TRUE(std::count(k_glibc_libraries.begin(), k_glibc_libraries.end(), library))
        << "the stub needs " << library;
  }
  std::string source_root = examples_dir().substr(0, examples_dir().rfind('/'));
  EXPECT_EQ(read_file(stub_artifact()).find(source_root), std::string::npos) << source_root;
}

// The same for real: in a mount namespace of its own, every copy of minizip, the C++ runtime and
// libgcc_s the loader could find is covered by an empty file, and a package runs there from
// start to end.
TEST_F(StubProcessLimits, PackageRunsWhereOnlyGlibcIsInstalled) {
#ifdef SFX_SANITIZED_BUILD
  GTEST_SKIP() << "a sanitized stub links the sanitizers' runtimes and libstdc++";
#endif
  if (platform::run_shell("[ \"$(id -u)\" = 0 ] && command -v unshare >/dev/null && "
                          "unshare -m true 2>/dev/null") != 0) {
    GTEST_SKIP() << "needs root and unshare -m to hide libraries in a mount namespace";
  }
  std::string payload = m_dir.file("payload");
  std::string temp = m_dir.file("temp");
  std::string package = m_dir.file("package");
  std::string hidden = m_dir.file("hidden.txt");
  for (const std::string& folder : {payload, temp}) {
    ASSERT_EQ(platform::make_directory(folder, platform::DirectoryAccess::Shared), 0);
  }
  ASSERT_TRUE(write_file(payload + "/tool.sh", "#!/bin/sh\necho \"tool ran with $*\"\nexit 3\n"));
  ASSERT_EQ(platform::set_file_mode(payload + "/tool.sh", 0755), 0);
  ASSERT_TRUE(build_package(stub_artifact(), payload, "tool.sh %argv%", std::nullopt, package));

  // The libraries are looked for where the loader looks: its cache and the usual folders.
  // Each real file is covered once; symbolic links lead to a covered file.
  const char* hide_and_run = R"(
set -e
hidden=$1; shift
unset LD_LIBRARY_PATH LD_PRELOAD
{
  ldconfig -p 2>/dev/null | sed -n 's/.* => //p'
  find -L /lib /lib64 /usr/lib /usr/lib64 /usr/local/lib -maxdepth 2 -type f 2>/dev/null
} | grep -E '/lib(minizip|stdc\+\+|gcc_s)[^/]*$' | while read -r f; do readlink -f "$f"; done |
  sort -u >"$hidden"
while read -r f; do
  mount --bind /dev/null "$f"
  [ ! -s "$f" ]
done <"$hidden"
exec "$@"
)";
  ProcessResult result;
  {
    ScopedEnvironment temp_variable("TEMP", temp);
    result = shell("unshare -m /bin/sh -c " + quote_for_shell(hide_and_run) + " sh " +
                   quote_for_shell(hidden) + " " + quote_for_shell(package) +
                   " --sfx-no-pause one two");
  }
  // Proof that the namespace lacked what a host without these packages lacks.
  std::string hidden_files = read_file(hidden);
  EXPECT_NE(hidden_files.find("/libstdc++.so.6"), std::string::npos) << hidden_files;
  EXPECT_NE(hidden_files.find("/libgcc_s.so.1"), std::string::npos) << hidden_files;

  EXPECT_EQ(result.status, 3) << result.out << result.err;
  EXPECT_NE(result.out.find("tool ran with one two\n"), std::string::npos) << result.out;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(tree_listing(temp), std::vector<std::string>{});
}

}  // namespace
