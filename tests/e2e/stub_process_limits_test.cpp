// Linux-only conditions of the stub as a process that a test can bring about for real: a user
// without a name, an empty program name, very long command lines.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "testing/artifacts.hpp"
#include "testing/process_runner.hpp"
#include "testing/scoped_temp_dir.hpp"

namespace {

class StubProcessLimits : public ::testing::Test {
 protected:
  void SetUp() override {
    if (platform::platform_kind() == platform::PlatformKind::Windows) {
      GTEST_SKIP() << "Linux process conditions";
    }
  }

  // Runs `command` through /bin/sh with output into files; returns its status.
  ProcessResult shell(const std::string& command) {
    std::string out = m_dir.file("out.txt");
    std::string err = m_dir.file("err.txt");
    ProcessResult result;
    result.status = platform::run_shell(command + " >" + quote_for_shell(out) + " 2>" +
                                        quote_for_shell(err) + " </dev/null");
    result.out = read_file(out);
    result.err = read_file(err);
    return result;
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
    EXPECT_EQ(tree_listing(m_dir.path()), (std::vector<std::string>{"err.txt", "out.txt"}))
        << c.name;
  }
}

}  // namespace
