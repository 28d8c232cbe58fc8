// The key prompt at the end of a run: shown and waited for only in a terminal opened for this run.
// A new tmux session is such a terminal; Linux only.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/platform.hpp"
#include "testing/artifacts.hpp"
#include "testing/process_runner.hpp"
#include "testing/scoped_temp_dir.hpp"

namespace {

const char k_prompt[] =
    "Press any key to continue ... (To suppress pause re-run with --sfx-no-pause flag)";

class KeyPromptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (platform::platform_kind() == platform::PlatformKind::Windows) {
      GTEST_SKIP() << "a fresh console window cannot be opened under Wine";
    }
    if (platform::run_shell("command -v tmux >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "tmux is not installed";
    }
    m_socket = "sfx_key_prompt_" + std::to_string(platform::process_id());
  }

  void TearDown() override {
    if (!m_socket.empty()) {
      (void)platform::run_shell("tmux -L " + m_socket + " kill-server >/dev/null 2>&1");
    }
  }

  // Starts `command` as the only program of a new tmux window of 200x24.
  void start(const std::string& command) {
    ASSERT_EQ(platform::run_shell("tmux -L " + m_socket + " -f /dev/null new-session -d -x 200 -y 24 " +
                                  quote_for_shell(command)),
              0);
  }

  std::string screen() {
    std::string file = m_dir.file("screen.txt");
    (void)platform::run_shell("tmux -L " + m_socket + " capture-pane -p > " +
                              quote_for_shell(file) + " 2>/dev/null");
    return read_file(file);
  }

  // Waits up to five seconds for `path` to appear.
  bool wait_for_file(const std::string& path) {
    for (int i = 0; i < 100; ++i) {
      if (path_exists(path)) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  bool wait_for_screen(const std::string& text) {
    for (int i = 0; i < 100; ++i) {
      if (screen().find(text) != std::string::npos) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  ScopedTempDir m_dir;
  std::string m_socket;
};

// The plain stub carries no payload, so each run ends with status 252 through the ending.
TEST_F(KeyPromptTest, FreshTerminalWaitsForOneKey) {
  std::string status_file = m_dir.file("status");
  start(quote_for_shell(stub_artifact()) + " --sfx-extract-dir " + quote_for_shell(m_dir.path()) +
        "; echo $? > " + quote_for_shell(status_file) + "; sleep 30");
  ASSERT_TRUE(wait_for_screen(k_prompt)) << screen();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(path_exists(status_file)) << "the stub did not wait for a key";
  ASSERT_EQ(platform::run_shell("tmux -L " + m_socket + " send-keys x"), 0);
  ASSERT_TRUE(wait_for_file(status_file)) << screen();
  EXPECT_EQ(read_file(status_file), "252\n");
  EXPECT_EQ(screen().find(std::string(k_prompt) + "x"), std::string::npos) << "the key was echoed";
}

TEST_F(KeyPromptTest, NoWaitWithNoPauseRedirectedOutputOrATerminalInUse) {
  struct Case {
    const char* name;
    std::string command;
  } cases[] = {
      {"no pause", quote_for_shell(stub_artifact()) + " --sfx-no-pause --sfx-extract-dir ."},
      {"redirected", quote_for_shell(stub_artifact()) + " --sfx-extract-dir . > out.txt"},
      {"in use", "echo earlier output; " + quote_for_shell(stub_artifact()) +
                     " --sfx-extract-dir ."},
  };
  for (const Case& c : cases) {
    std::string status_file = m_dir.file("status");
    (void)platform::remove_file(status_file);
    start("cd " + quote_for_shell(m_dir.path()) + " && " + c.command + "; echo $? > " +
          quote_for_shell(status_file) + "; sleep 30");
    ASSERT_TRUE(wait_for_file(status_file)) << c.name << ": " << screen();
    EXPECT_EQ(read_file(status_file), "252\n") << c.name;
    EXPECT_EQ(screen().find(k_prompt), std::string::npos) << c.name;
    TearDown();
  }
}

}  // namespace
