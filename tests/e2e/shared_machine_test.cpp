// SPDX-License-Identifier: Zlib
// Packages on a machine shared with other users and other runs: a temporary folder that everybody
// may write into, names planted there by another user, two runs with the same process id in
// different pid namespaces (containers sharing /tmp), folders the command locked itself out of.
// The runs are real: the victim is a user without root rights (setpriv), the other user plants
// things as root would let any user do. Linux only; the tests need root and skip without it.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "testing/archive_builder.hpp"
#include "testing/artifacts.hpp"
#include "testing/package_builder.hpp"
#include "testing/process_runner.hpp"
#include "testing/scoped_temp_dir.hpp"

namespace {

// Users without a passwd entry: the victim runs the package, the other one plants and attacks.
constexpr int k_victim = 54321;
constexpr int k_other_user = 54322;

std::string as_user(int uid) {
  std::string id = std::to_string(uid);
  return "setpriv --reuid=" + id + " --regid=" + id + " --clear-groups ";
}

class SharedMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (platform::platform_kind() == platform::PlatformKind::Windows) {
      GTEST_SKIP() << "users, modes and pid namespaces are a Linux matter";
    }
    if (platform::run_shell("[ \"$(id -u)\" = 0 ] && command -v setpriv >/dev/null && "
                            "command -v unshare >/dev/null && unshare --pid --fork true "
                            "2>/dev/null") != 0) {
      GTEST_SKIP() << "needs root, setpriv and unshare --pid to act as two users and two pid "
                      "namespaces";
    }
    // Every user may look into the test's folder; its temporary folder is shared like /tmp.
    ASSERT_EQ(platform::set_file_mode(m_dir.path(), 0755), 0);
    m_temp = m_dir.file("temp");
    m_payload = m_dir.file("payload");
    m_package = m_dir.file("pkg");
    for (const std::string& folder : {m_temp, m_payload}) {
      ASSERT_EQ(platform::make_directory(folder, platform::DirectoryAccess::Shared), 0);
    }
    ASSERT_EQ(platform::run_shell("chmod 1777 " + quote_for_shell(m_temp)), 0);
  }

  // Builds the package from a payload folder holding tool.sh with `script` and payload.txt; its
  // command is "tool.sh %argv%".
  void build(const std::string& script) {
    ASSERT_TRUE(write_file(m_payload + "/tool.sh", "#!/bin/sh\n" + script));
    ASSERT_EQ(platform::set_file_mode(m_payload + "/tool.sh", 0755), 0);
    ASSERT_TRUE(write_file(m_payload + "/payload.txt", "payload"));
    ASSERT_TRUE(build_package(stub_artifact(), m_payload, "tool.sh %argv%", std::nullopt,
                              m_package));
    ASSERT_EQ(platform::set_file_mode(m_package, 0755), 0);
  }

  ProcessResult shell(const std::string& command) {
    return run_command_line(command, m_dir.path());
  }

  // The package started as the victim, with the shared temporary folder, in a pid namespace of
  // its own when `pid_one` (it is then process 1, so its work directory's name is known).
  std::string victim_run(const std::string& arguments, bool pid_one) {
    return "env USER=victim TEMP=" + quote_for_shell(m_temp) + " " +
           (pid_one ? "unshare --pid --fork " : "") + as_user(k_victim) +
           quote_for_shell(m_package) + " --sfx-no-pause " + arguments;
  }

  ScopedTempDir m_dir;
  std::string m_temp;
  std::string m_payload;
  std::string m_package;
};

// Two runs with the same user and process id, in two pid namespaces, share the temporary folder
// and overlap: each keeps its own directory for its whole life, and each ending removes its own.
TEST_F(SharedMachine, RunsWithTheSameProcessIdKeepTheirOwnDirectories) {
  // Each command waits until both are running; the first then looks for its files, the second
  // looks again after the first run has ended.
  build(R"(name=$1 marks=$2
wait_for() {
  n=0
  while [ ! -e "$1" ]; do n=$((n + 1)); [ $n -le 300 ] || exit 9; sleep 0.1; done
}
touch "$marks/$name.started"
wait_for "$marks/first.started"
wait_for "$marks/second.started"
[ -e payload.txt ] || exit 7
if [ "$name" = second ]; then
  wait_for "$marks/first.status"
  [ -e payload.txt ] || exit 8
fi
pwd >"$marks/$name.dir"
)");
  std::string marks = m_dir.file("marks");
  ASSERT_EQ(platform::make_directory(marks, platform::DirectoryAccess::Shared), 0);
  std::string run = "TEMP=" + quote_for_shell(m_temp) + " unshare --pid --fork " +
                    quote_for_shell(m_package) + " --sfx-no-pause ";
  std::string m = quote_for_shell(marks);
  // The second run starts once the first one's command runs.
  std::string both = "{ " + run + "first " + m + " >" + m + "/first.out 2>&1; echo $? >" + m +
                     "/status.tmp; mv " + m + "/status.tmp " + m + "/first.status; } & " +
                     "n=0; while [ ! -e " + m + "/first.started ] && [ $n -lt 300 ]; do " +
                     "n=$((n + 1)); sleep 0.1; done; " + run + "second " + m + " >" + m +
                     "/second.out 2>&1; echo $? >" + m + "/second.status; wait";
  ASSERT_EQ(platform::run_shell(both), 0);

  EXPECT_EQ(read_file(marks + "/first.status"), "0\n") << read_file(marks + "/first.out");
  EXPECT_EQ(read_file(marks + "/second.status"), "0\n") << read_file(marks + "/second.out");
  EXPECT_EQ(read_file(marks + "/first.dir"), m_temp + "/sfxter_root_1/pkg-dir\n");
  EXPECT_EQ(read_file(marks + "/second.dir"), m_temp + "/sfxter_root_1_1/pkg-dir\n");
  EXPECT_EQ(tree_listing(m_temp), std::vector<std::string>{});
}

// Another user plants something at the name the victim's run would take. The run takes the next
// name, succeeds, and leaves the planted thing as it was.
TEST_F(SharedMachine, NamesPlantedByAnotherUserNeitherBlockNorCatchARun) {
  build("pwd\n");
  std::string name = m_temp + "/sfxter_victim_1";
  std::string other = m_dir.file("other");
  ASSERT_EQ(platform::make_directory(other, platform::DirectoryAccess::Shared), 0);
  ASSERT_TRUE(write_file(other + "/mine", "the other user's"));
  std::string owner = std::to_string(k_other_user);
  std::string chown = "chown -hR " + owner + ":" + owner + " ";
  ASSERT_EQ(platform::run_shell(chown + quote_for_shell(other)), 0);
  struct Case {
    const char* what;
    std::string plant;
    std::vector<std::string> planted_listing;
  } cases[] = {
      {"a file", "echo planted >" + name, {"sfxter_victim_1"}},
      {"a folder open to all",
       "mkdir " + name + " && echo planted >" + name + "/inside && chmod 777 " + name,
       {"sfxter_victim_1/", "sfxter_victim_1/inside"}},
      {"a link to a folder", "ln -s " + other + " " + name, {"sfxter_victim_1"}},
      {"a link to a missing folder", "ln -s " + m_dir.file("missing") + " " + name,
       {"sfxter_victim_1"}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(platform::run_shell(c.plant + " && " + chown + name), 0) << c.what;
    ProcessResult result = shell(victim_run("", true));
    EXPECT_EQ(result.status, 0) << c.what << ": " << result.out << result.err;
    EXPECT_NE(result.out.find(name + "_1/pkg-dir\n"), std::string::npos)
        << c.what << ": " << result.out;
    EXPECT_EQ(result.err, "") << c.what;
    EXPECT_EQ(tree_listing(m_temp), c.planted_listing) << c.what;
    EXPECT_EQ(tree_listing(other), std::vector<std::string>{"mine"}) << c.what;
    EXPECT_EQ(read_file(other + "/mine"), "the other user's") << c.what;
    ASSERT_EQ(platform::run_shell("rm -rf " + name), 0);
  }
}

// A package whose folder is open to everybody (mode 0777 in the archive), unpacked into a shared
// folder: another user may neither put a file of their own in the tool's place nor write into it.
// Neither into the folders the run makes itself (the extraction directory, device_info and its
// json folder) and those an entry needs (deep/er), whatever the umask.
TEST_F(SharedMachine, ExtractedFoldersAndFilesAreNeverWritableForOthers) {
  std::string archive = m_dir.file("payload.zip");
  const std::string tool = "#!/bin/sh\necho the package's tool\n";
  // deep/er/ comes without entries of its own: the stub makes those folders itself.
  ASSERT_TRUE(write_archive(
      archive,
      {unix_directory("tools/", 0777), unix_file("tools/tool.sh", tool, 0777),
       unix_file("notes.txt", "notes", 0666), unix_file("deep/er/data.txt", "data", 0644)}));
  ASSERT_TRUE(build_package_from_zip(stub_artifact(), archive, "tools/tool.sh", std::nullopt,
                                     m_package));
  ASSERT_EQ(platform::set_file_mode(m_package, 0755), 0);
  std::string shared = m_dir.file("shared");
  ASSERT_EQ(platform::make_directory(shared, platform::DirectoryAccess::Shared), 0);
  ASSERT_EQ(platform::run_shell("chmod 1777 " + quote_for_shell(shared)), 0);
  // In the shared folder, where the other user may move their own file away again.
  std::string forged = shared + "/forged.sh";
  ASSERT_TRUE(write_file(forged, "#!/bin/sh\necho the other user's code\n"));
  ASSERT_EQ(platform::run_shell("chown " + std::to_string(k_other_user) + " " + forged), 0);
  std::string extracted = shared + "/pkg-dir";

  struct Case {
    const char* umask;
    const char* folder_mode;
    const char* file_mode;
  } cases[] = {
      {"022", "755", "755"}, {"002", "755", "755"}, {"000", "755", "755"}, {"077", "700", "700"}};
  for (const Case& c : cases) {
    ProcessResult result = shell(std::string("umask ") + c.umask + "; " +
                                 victim_run("--sfx-extract-dir " + quote_for_shell(shared) +
                                                " --sfx-extract-only",
                                            false));
    ASSERT_EQ(result.status, 0) << c.umask << ": " << result.out << result.err;
    EXPECT_EQ(shell("stat -c %a " + extracted + "/tools " + extracted + "/tools/tool.sh " +
                    extracted + "/notes.txt")
                  .out,
              std::string(c.folder_mode) + "\n" + c.file_mode + "\n" +
                  (c.umask == std::string("077") ? "600" : "644") + "\n")
        << "umask " << c.umask;
    std::string made_folders, modes;
    for (const char* folder : {"", "/device_info", "/device_info/json", "/deep", "/deep/er"}) {
      made_folders += " " + extracted + folder;
      modes += std::string(c.folder_mode) + "\n";
    }
    EXPECT_EQ(shell("stat -c %a" + made_folders).out, modes) << "umask " << c.umask;
    EXPECT_NE(shell(as_user(k_other_user) + "touch " + extracted + "/device_info/json/x.json")
                  .status,
              0)
        << "umask " << c.umask;
    // The other user tries to swap the tool and to change it.
    EXPECT_NE(shell(as_user(k_other_user) + "mv -f " + forged + " " + extracted +
                    "/tools/tool.sh")
                  .status,
              0)
        << "umask " << c.umask;
    EXPECT_NE(shell(as_user(k_other_user) + "sh -c 'echo evil >>" + extracted +
                    "/tools/tool.sh'")
                  .status,
              0)
        << "umask " << c.umask;
    EXPECT_EQ(read_file(extracted + "/tools/tool.sh"), tool) << "umask " << c.umask;
    ASSERT_EQ(platform::run_shell("rm -rf " + extracted), 0);
  }
}

// The command leaves folders that deny their owner reading, writing or entering; the ending still
// removes the whole work directory. Root may enter any folder anyway: the run is the victim's.
TEST_F(SharedMachine, FoldersTheCommandLockedAreStillRemoved) {
  build(R"(set -e
mkdir -p a/b c/d e/f g/h/i
for d in a/b c/d e/f g/h/i; do echo x >"$d/file"; done
chmod 000 a
chmod 100 c
chmod 300 e
chmod 000 g/h g
echo command done
)");
  ProcessResult result = shell(victim_run("", false));
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_NE(result.out.find("command done\n"), std::string::npos) << result.out;
  EXPECT_EQ(tree_listing(m_temp), std::vector<std::string>{});
}

}  // namespace
