// SPDX-License-Identifier: Zlib
// The key prompt at the end of a run: shown and waited for only in a terminal opened for this run,
// and the terminal left to the command: a run in the background never touches it, and keys typed
// ahead reach the command. A new tmux session is such a terminal; Linux only.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/platform.hpp"
#include "testing/artifacts.hpp"
#include "testing/package_builder.hpp"
#include "testing/process_runner.hpp"
#include "testing/scoped_temp_dir.hpp"

namespace {

const char k_prompt[] =
    "Press any key to continue ... (To suppress pause re-run with --sfx-no-pause flag)";

class KeyPromptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (platform::platform_kind() == platform::PlatformKind::Windows) {
      GTEST_SKIP() << "tmux drives a Linux terminal; the Windows console window is tested by "
                      "console_window_test.sh";
    }
    if (platform::run_shell("command -v tmux >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "tmux is not installed";
    }
  }

  void TearDown() override {
    if (!m_socket.empty()) {
      (void)platform::run_shell("tmux -L " + m_socket + " kill-server >/dev/null 2>&1");
    }
  }

  // Starts `command` as the only program of a new tmux window of 200x24. Each session gets a
  // server of its own: one that is still shutting down may refuse a new session.
  void start(const std::string& command) {
    static int sessions = 0;
    m_socket = "sfx_key_prompt_" + std::to_string(platform::process_id()) + "_" +
               std::to_string(++sessions);
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

  // Shell words that write the last command's status into `file`; the file appears only once it
  // holds the status.
  static std::string record_status(const std::string& file) {
    return "echo $? > " + quote_for_shell(file + ".part") + " && mv " +
           quote_for_shell(file + ".part") + " " + quote_for_shell(file);
  }

  // Builds a package whose command is the shell script `script`; returns its path.
  // A package whose command is `script`, with `ballast` more files to unpack before it runs.
  std::string build_script_package(const std::string& script, int ballast = 0) {
    std::string payload = m_dir.file("payload");
    std::string package = m_dir.file("pkg");
    (void)platform::remove_tree(payload);
    EXPECT_EQ(platform::make_directory(payload, platform::DirectoryAccess::Shared), 0);
    EXPECT_TRUE(write_file(payload + "/tool.sh", "#!/bin/sh\n" + script + "\n"));
    for (int i = 0; i < ballast; ++i) {
      EXPECT_TRUE(write_file(payload + "/ballast" + std::to_string(i), std::to_string(i)));
    }
    EXPECT_EQ(platform::set_file_mode(payload + "/tool.sh", 0755), 0);
    EXPECT_TRUE(build_package(stub_artifact(), payload, "tool.sh", std::nullopt, package));
    return package;
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
        "; " + record_status(status_file) + "; sleep 30");
  ASSERT_TRUE(wait_for_screen(k_prompt)) << screen();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(path_exists(status_file)) << "the stub did not wait for a key";
  ASSERT_EQ(platform::run_shell("tmux -L " + m_socket + " send-keys x"), 0);
  ASSERT_TRUE(wait_for_file(status_file)) << screen();
  EXPECT_EQ(read_file(status_file), "252\n");
  EXPECT_EQ(screen().find(std::string(k_prompt) + "x"), std::string::npos) << "the key was echoed";
}

// Ctrl-C or a termination request at the prompt ends the wait and the run with 128 + the signal's
// number, and the terminal's settings are back as they were (echo, canonical mode).
TEST_F(KeyPromptTest, SignalAtThePromptRestoresTheTerminal) {
  struct Case {
    const char* name;
    // tmux keys, or a signal for kill (sent to the stub alone).
    const char* keys;
    const char* signal;
    const char* status;
  } cases[] = {
      {"SIGTERM", nullptr, "TERM", "143\n"},
      {"SIGHUP", nullptr, "HUP", "129\n"},
      {"Ctrl-C", "C-c", nullptr, "130\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string status_file = m_dir.file("status");
    std::string pid_file = m_dir.file("pid");
    std::string before = m_dir.file("stty_before");
    std::string after = m_dir.file("stty_after");
    for (const std::string& file : {status_file, pid_file, before, after}) {
      (void)platform::remove_file(file);
    }
    start("stty -a > " + quote_for_shell(before) + "; sh -c " +
          quote_for_shell("echo $$ > " + quote_for_shell(pid_file) + "; exec " +
                          quote_for_shell(stub_artifact()) + " --sfx-extract-dir " +
                          quote_for_shell(m_dir.path())) +
          "; " + record_status(status_file) + "; stty -a > " + quote_for_shell(after + ".part") +
          " && mv " + quote_for_shell(after + ".part") + " " + quote_for_shell(after) + "; sleep 30");
    ASSERT_TRUE(wait_for_screen(k_prompt)) << screen();
    if (c.keys != nullptr) {
      ASSERT_EQ(platform::run_shell("tmux -L " + m_socket + " send-keys " + c.keys), 0);
    } else {
      ASSERT_EQ(platform::run_shell("kill -" + std::string(c.signal) + " $(cat " +
                                    quote_for_shell(pid_file) + ")"),
                0);
    }
    ASSERT_TRUE(wait_for_file(status_file)) << screen();
    EXPECT_EQ(read_file(status_file), c.status);
    ASSERT_TRUE(wait_for_file(after)) << screen();
    EXPECT_EQ(read_file(after), read_file(before));
    TearDown();
  }
}

TEST_F(KeyPromptTest, NoWaitWithNoPauseRedirectedOutputOrATerminalInUse) {
  struct Case {
    const char* name;
    std::string command;
  } cases[] = {
      {"no pause", quote_for_shell(stub_artifact()) + " --sfx-no-pause --sfx-extract-dir ."},
      {"redirected", quote_for_shell(stub_artifact()) + " --sfx-extract-dir . > out.txt"},
      {"in use",
       "echo earlier output; " + quote_for_shell(stub_artifact()) + " --sfx-extract-dir ."},
      // Neither is asked for its cursor, so none counts as fresh.
      {"dumb terminal", "TERM=dumb " + quote_for_shell(stub_artifact()) + " --sfx-extract-dir ."},
      {"no TERM", "env -u TERM " + quote_for_shell(stub_artifact()) + " --sfx-extract-dir ."},
  };
  for (const Case& c : cases) {
    std::string status_file = m_dir.file("status");
    (void)platform::remove_file(status_file);
    start("cd " + quote_for_shell(m_dir.path()) + " && " + c.command + "; " +
          record_status(status_file) + "; sleep 30");
    ASSERT_TRUE(wait_for_file(status_file)) << c.name << ": " << screen();
    EXPECT_EQ(read_file(status_file), "252\n") << c.name;
    EXPECT_EQ(screen().find(k_prompt), std::string::npos) << c.name;
    TearDown();
  }
}

// A job-control shell stops a background job that changes the terminal's settings or writes to it
// (SIGTTOU); the stub must end by itself with its command's status, also when it is sent to the
// background after it found a terminal of its own (then it skips the key wait).
TEST_F(KeyPromptTest, BackgroundRunEndsByItselfWithTheCommandsStatus) {
  struct Case {
    const char* name;
    const char* script;
    // The shell's lines, where P is the package's command line.
    const char* shell;
    bool prompt_shown;
  } cases[] = {
      {"started in the background", "exit 7", "P & wait $!", false},
      {"sent to the background during its command", "kill -TSTP 0; exit 7", "P; bg %1; wait %1",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string package = build_script_package(c.script);
    std::string status_file = m_dir.file("status");
    (void)platform::remove_file(status_file);
    std::string shell = c.shell;
    shell.replace(shell.find('P'), 1,
                  quote_for_shell(package) + " --sfx-extract-dir " + quote_for_shell(m_dir.path()));
    start("bash --norc --noprofile -i -c " +
          quote_for_shell("set -m; " + shell + "; " + record_status(status_file) +
                          "; jobs -l; sleep 30"));
    ASSERT_TRUE(wait_for_file(status_file)) << screen();
    EXPECT_EQ(read_file(status_file), "7\n") << screen();
    EXPECT_EQ(screen().find("Stopped (tty"), std::string::npos) << screen();
    EXPECT_EQ(screen().find(k_prompt) != std::string::npos, c.prompt_shown) << screen();
    TearDown();
  }
}

// Keys typed while the stub starts are the command's: the stub's question to the terminal must
// not swallow them.
TEST_F(KeyPromptTest, KeysTypedAheadReachTheCommand) {
  std::string typed_file = m_dir.file("typed");
  std::string go_file = m_dir.file("go");
  std::string status_file = m_dir.file("status");
  std::string package = build_script_package("IFS= read -r line; printf '%s' \"$line\" > " +
                                             quote_for_shell(typed_file) + "; exit 7");
  start("while [ ! -e " + quote_for_shell(go_file) + " ]; do sleep 0.05; done; " +
        quote_for_shell(package) + " --sfx-no-pause --sfx-extract-dir " +
        quote_for_shell(m_dir.path()) + "; " + record_status(status_file) + "; sleep 30");
  ASSERT_EQ(platform::run_shell("tmux -L " + m_socket + " send-keys 'typed ahead' Enter"), 0);
  // The terminal echoes the line once it holds it.
  ASSERT_TRUE(wait_for_screen("typed ahead")) << screen();
  ASSERT_TRUE(write_file(go_file, ""));
  ASSERT_TRUE(wait_for_file(status_file)) << screen();
  EXPECT_EQ(read_file(status_file), "7\n");
  EXPECT_EQ(read_file(typed_file), "typed ahead");
}

// A terminal that answers the cursor question late (a slow remote link): the answer must not reach
// the command as typed input, and a line typed after it must. `script` gives the stub a terminal
// whose input is this test's; it answers nothing by itself. Right after the question the "user"
// stops the terminal's output (XOFF), so the stub is held at its next output line (the version
// line that "-v" asks for, printed before the command); the answer comes well after the stub
// stopped waiting for it, and then output resumes.
TEST_F(KeyPromptTest, LateCursorAnswerNeverReachesTheCommand) {
  if (platform::run_shell("command -v script >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "script is not installed";
  }
  std::string typed_file = m_dir.file("typed");
  std::string status_file = m_dir.file("status");
  std::string typescript = m_dir.file("typescript");
  // The unpacking of many files gives the "user" time to see the question and stop the output
  // before the stub reaches its version line, also on a busy machine.
  std::string package = build_script_package(
      "IFS= read -r line; printf '%s' \"$line\" > " + quote_for_shell(typed_file) + "; exit 7",
      1000);
  // A terminal of a known type is asked; `script` passes on whatever TERM the test runs with.
  std::string run = "TERM=xterm " + quote_for_shell(package) +
                    " -v --sfx-no-pause --sfx-extract-dir " + quote_for_shell(m_dir.path()) + "; " +
                    record_status(status_file);
  std::string terminal =
      "i=0; until grep -q \"$(printf '\\033\\\\[6n')\" " + quote_for_shell(typescript) +
      " 2>/dev/null || [ $i -ge 100 ]; do sleep 0.05; i=$((i+1)); done; "
      "printf '\\023'; sleep 0.5; printf '\\033[5;1Rtyped\\n\\021'; "
      "i=0; until [ -e " +
      quote_for_shell(status_file) + " ] || [ $i -ge 100 ]; do sleep 0.05; i=$((i+1)); done";
  ASSERT_EQ(platform::run_shell("(" + terminal + ") | script -qfec " + quote_for_shell(run) + " " +
                                quote_for_shell(typescript) + " >/dev/null 2>&1"),
            0);
  ASSERT_TRUE(path_exists(status_file)) << read_file(typescript);
  EXPECT_EQ(read_file(status_file), "7\n");
  EXPECT_EQ(read_file(typed_file), "typed") << read_file(typescript);
}

}  // namespace
