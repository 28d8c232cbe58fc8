// SPDX-License-Identifier: Zlib
// Packages from end to end: real packages built with the generator's writer from the sample
// payload (examples/payload and the sample payload tool), run as a user would run them. The tool
// reports what it received, so the tests see the arguments, directory, TEMP and certificate path
// exactly as a packaged tool sees them.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.hpp"
#include "testing/archive_builder.hpp"
#include "testing/artifacts.hpp"
#include "testing/package_builder.hpp"
#include "testing/process_runner.hpp"
#include "testing/scoped_temp_dir.hpp"
#include "testing/stub_texts.hpp"
#include "workdir/path.hpp"

namespace {

namespace fs = std::filesystem;


bool is_windows() { return platform::platform_kind() == platform::PlatformKind::Windows; }

// The value the tool printed on its line "key: value" at or after `from`, without the brackets
// it puts around values; "(missing)" when there is no such line.
std::string reported(const std::string& out, const std::string& key, std::size_t from = 0) {
  std::string line_start = key + ": ";
  std::string::size_type at = out.find(line_start, from);
  while (at != std::string::npos && at != 0 && out[at - 1] != '\n') {
    at = out.find(line_start, at + 1);
  }
  if (at == std::string::npos) {
    return "(missing)";
  }
  std::string::size_type begin = at + line_start.size();
  std::string value = out.substr(begin, out.find('\n', begin) - begin);
  if (value.size() >= 2 && value.front() == '[' && value.back() == ']') {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// The arguments the tool reported, in order, from the report that starts at `from`.
std::vector<std::string> reported_arguments(const std::string& out, std::size_t from = 0) {
  std::vector<std::string> arguments;
  int count = std::stoi("0" + reported(out, "arguments", from));
  for (int i = 1; i <= count; ++i) {
    arguments.push_back(reported(out, "argument " + std::to_string(i), from));
  }
  return arguments;
}

int count_of(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::string::size_type at = text.find(part); at != std::string::npos;
       at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

class PackageRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (payload_tool_artifact().empty()) {
      GTEST_SKIP() << "this build has no sample payload tool";
    }
    m_temp = m_dir.file("temp");
    m_scratch = m_dir.file("scratch");
    ASSERT_TRUE(make(m_temp));
    ASSERT_TRUE(make(m_scratch));
    m_temp_variable.emplace("TEMP", m_temp);

    m_tool = fs::path(payload_tool_artifact()).filename().string();
    m_payload = m_dir.file("payload");
    std::error_code error;
    fs::copy(fs::path(examples_dir()) / "payload", m_payload, fs::copy_options::recursive, error);
    ASSERT_FALSE(error) << error.message();
    fs::copy_file(payload_tool_artifact(), fs::path(m_payload) / m_tool, error);
    ASSERT_FALSE(error) << error.message();
    m_package = m_dir.file("fw_update" + fs::path(stub_artifact()).extension().string());
  }

  static bool make(const std::string& path) {
    return platform::make_directory(path, platform::DirectoryAccess::Shared) == 0;
  }

  // Builds the package from the sample payload with `command_template`, in which "T" stands
  // for the tool's file name.
  void build(const std::string& command_template,
             const std::optional<std::string>& extra_tool = std::nullopt) {
    ASSERT_TRUE(build_package(
        stub_artifact(), m_payload, with_tool(command_template),
        extra_tool ? std::optional<std::string>(with_tool(*extra_tool)) : std::nullopt, m_package));
  }

  // The same from an archive of the sample payload and `more` entries. Every file of the payload
  // is made on Unix with mode 0755.
  void build_with(const std::string& command_template, const std::vector<ArchiveEntry>& more) {
    std::vector<ArchiveEntry> entries;
    for (const std::string& name : tree_listing(m_payload)) {
      if (name.back() != '/') {
        entries.push_back(unix_file(name, read_file(in(m_payload, name)), 0755));
      }
    }
    entries.insert(entries.end(), more.begin(), more.end());
    std::string archive = m_dir.file("payload.zip");
    ASSERT_TRUE(write_archive(archive, entries));
    ASSERT_TRUE(build_package_from_zip(stub_artifact(), archive, with_tool(command_template),
                                       std::nullopt, m_package));
  }

  std::string with_tool(const std::string& text) const {
    return text.rfind("T ", 0) == 0 ? m_tool + text.substr(1) : text;
  }

  ProcessResult run(const std::vector<std::string>& arguments) {
    return run_process(m_package, arguments, m_scratch);
  }

  // Runs the package with `start` as its start directory, from a parent that stands elsewhere.
  ProcessResult run_in(const std::string& start, const std::vector<std::string>& arguments) {
    return run_process_in(start, m_package, arguments, m_scratch);
  }

  // The "--current-dir" value that reaches the tool for the start directory `dir`.
  static std::string start_dir_seen(const std::string& dir) {
    return is_windows() ? dir + "\\ " : dir + "/";
  }

  static std::string in(const std::string& dir, const std::string& name) {
    return dir + native_separator() + name;
  }

  ScopedTempDir m_dir;
  std::optional<ScopedEnvironment> m_temp_variable;
  std::string m_temp;
  std::string m_scratch;
  std::string m_payload;
  std::string m_package;
  std::string m_tool;
};

const char k_sample_template[] = "T --ssl-certificate %ca-bundle.crt% %current-dir% %argv%";

TEST_F(PackageRun, ToolSeesArgumentsDirectoryTempAndCertificate) {
  build(k_sample_template);
  ProcessResult result = run({"-y", "--level=2"});
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out.rfind("sfx_payload_tool: ", 0), 0u) << result.out;

  std::string directory = reported(result.out, "directory");
  std::string work_dir_start = in(m_temp, "sfxter_");
  EXPECT_EQ(directory.rfind(work_dir_start, 0), 0u) << directory;
  EXPECT_EQ(directory.substr(directory.size() - 14), in("", "fw_update-dir"));
  std::string certificate = in(directory, "ca-bundle.crt");
  EXPECT_EQ(reported_arguments(result.out),
            (std::vector<std::string>{"--ssl-certificate", certificate, "--current-dir",
                                      start_dir_seen(m_dir.path()), "-y", "--level=2"}));
  EXPECT_EQ(reported(result.out, "certificate").rfind("[" + certificate + "] found: ", 0), 0u)
      << result.out;
  EXPECT_EQ(reported(result.out, "TEMP"), m_temp);
  if (!is_windows()) {
    // The shell sets PWD to its directory; a command started without one gets it all the same.
    EXPECT_EQ(reported(result.out, "PWD"), directory);
  }
  EXPECT_EQ(reported(result.out, "data file"), "device_info/json/sample_device.json");
  EXPECT_EQ(result.out.find("Executing cmd"), std::string::npos);
  EXPECT_EQ(tree_listing(m_temp), std::vector<std::string>{});
}

TEST_F(PackageRun, StatusOfTheCommandDecidesAboutTheExtraTool) {
  build(k_sample_template, "T %device% --exit-status 5");

  ProcessResult failed = run({"--exit-status", "3"});
  EXPECT_EQ(failed.status, 3);
  EXPECT_EQ(count_of(failed.out, "sfx_payload_tool: "), 1) << failed.out;
  EXPECT_EQ(failed.out.find("Executing cmd"), std::string::npos);

  ProcessResult succeeded = run({"-d", "dev0"});
  EXPECT_EQ(succeeded.status, 5) << succeeded.out << succeeded.err;
  std::string announcement = "exit status: 0\n\n-I- Executing cmd : " + m_tool +
                             " -d dev0 --exit-status 5\nsfx_payload_tool: ";
  std::string::size_type at = succeeded.out.find(announcement);
  ASSERT_NE(at, std::string::npos) << succeeded.out;
  std::size_t second = at + announcement.size() - std::string("sfx_payload_tool: ").size();
  EXPECT_EQ(reported_arguments(succeeded.out, second),
            (std::vector<std::string>{"-d", "dev0", "--exit-status", "5"}));
  EXPECT_EQ(reported(succeeded.out, "directory", second), reported(succeeded.out, "directory"));
  EXPECT_EQ(reported(succeeded.out, "exit status", second), "5");
  EXPECT_EQ(tree_listing(m_temp), std::vector<std::string>{});
}

TEST_F(PackageRun, VersionAndHelpStandAroundTheCommandsOutput) {
  build(k_sample_template, "T --exit-status 5");
  struct Case {
    std::vector<std::string> args;
    bool version;
    bool help;
    int status;
  } cases[] = {
      {{"-v"}, true, false, 0},       {{"--version"}, true, false, 0},
      {{"-h"}, false, true, 0},       {{"--help", "--exit-status", "4"}, false, true, 4},
      {{"-h", "-v"}, true, false, 0},
  };
  for (const Case& c : cases) {
    ProcessResult result = run(c.args);
    std::string out = result.out;
    EXPECT_EQ(result.status, c.status) << c.args[0];
    if (c.version) {
      EXPECT_EQ(out.rfind("SelfExtractor 1.0, ", 0), 0u) << out;
      out = out.substr(out.find('\n') + 1);
    }
    EXPECT_EQ(out.rfind("sfx_payload_tool: ", 0), 0u) << out;
    std::string tool_end = "exit status: " + std::to_string(c.status) + "\n";
    EXPECT_EQ(out.substr(out.find(tool_end) + tool_end.size()), c.help ? k_stub_help : "")
        << c.args[0];
    EXPECT_EQ(reported(out, "argument 5"), c.args[0]);
    EXPECT_EQ(out.find("Executing cmd"), std::string::npos);
  }
  EXPECT_EQ(tree_listing(m_temp), std::vector<std::string>{});
}

TEST_F(PackageRun, QueryOptionsSkipTheExtraTool) {
  build(k_sample_template, "T --exit-status 5");
  for (const char* option : {"--no", "--query", "--online-query-psid"}) {
    ProcessResult result = run({option});
    EXPECT_EQ(result.status, 0) << option;
    EXPECT_EQ(count_of(result.out, "sfx_payload_tool: "), 1) << option;
    EXPECT_EQ(reported(result.out, "argument 5"), option);
  }
  ProcessResult result = run({"--nope"});
  EXPECT_EQ(result.status, 5);
  EXPECT_EQ(count_of(result.out, "sfx_payload_tool: "), 2) << result.out;
}

TEST_F(PackageRun, ExtractOnlyLeavesThePayloadInTheGivenDirectory) {
  build(k_sample_template);
  std::string given = m_dir.file("given");
  ASSERT_TRUE(make(given));
  ProcessResult result = run({"--sfx-extract-dir", given, "--sfx-extract-only"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "Extracting to " + in(given, "fw_update-dir") + " ... Done\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(tree_listing(given),
            (std::vector<std::string>{
                "fw_update-dir/", "fw_update-dir/ca-bundle.crt", "fw_update-dir/device_info/",
                "fw_update-dir/device_info/json/",
                "fw_update-dir/device_info/json/sample_device.json", "fw_update-dir/" + m_tool}));
  EXPECT_EQ(tree_listing(m_temp), std::vector<std::string>{});
}

TEST_F(PackageRun, ExtractOnlyGoesToAToolThatListsItself) {
  build("T --no_extract_list %argv%");
  std::string given = m_dir.file("given");
  ASSERT_TRUE(make(given));
  ProcessResult result = run({"--sfx-extract-dir", given, "-y", "--sfx-extract-only"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out.find("Extracting to"), std::string::npos);
  EXPECT_EQ(reported_arguments(result.out),
            (std::vector<std::string>{"--no_extract_list", "-y", "--sfx-extract-only"}));
  EXPECT_EQ(reported(result.out, "directory"), in(given, "fw_update-dir"));
  EXPECT_EQ(reported(result.out, "TEMP"), given);
  EXPECT_EQ(tree_listing(given), std::vector<std::string>{});
}

// Two packages with one name started into one given directory: while the first one's command
// runs, the second fails at once and touches nothing of it; the first runs to its end on its own
// files and leaves nothing behind, its lock file included.
TEST_F(PackageRun, SecondRunIntoTheSameGivenDirectoryFailsAtOnce) {
  build("T %argv%");
  std::string given = m_dir.file("given");
  std::string first_scratch = m_dir.file("first_scratch");
  std::string ready = m_dir.file("ready");
  ASSERT_TRUE(make(given));
  ASSERT_TRUE(make(first_scratch));
  std::string extracted = in(given, "fw_update-dir");
  // Long enough for the second run to start and end beside it, under Wine too.
  std::string seconds = is_windows() ? "10" : "3";
  ProcessResult first;
  std::atomic<bool> first_ended{false};
  std::thread first_run([&] {
    first = run_process(m_package,
                        {"--sfx-extract-dir", given, "--wait-seconds", seconds, "--touch", ready},
                        first_scratch);
    first_ended = true;
  });
  for (int i = 0; i < 1200 && !path_exists(ready) && !first_ended; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::vector<std::string> first_files = tree_listing(given);
  ProcessResult second = run({"--sfx-extract-dir", given, "--sfx-extract-only"});
  bool overlapped = !first_ended;
  std::vector<std::string> after_second = tree_listing(given);
  first_run.join();

  ASSERT_TRUE(overlapped) << "the first run ended before the second one did: " << first.out;
  EXPECT_EQ(second.status, 252) << second.out;
  EXPECT_EQ(second.out, "");
  EXPECT_EQ(second.err, "-E- Another run is using " + extracted + " (it holds " + extracted +
                            ".lock); nothing was changed there\n");
  EXPECT_EQ(after_second, first_files);
  EXPECT_NE(std::find(first_files.begin(), first_files.end(), "fw_update-dir/" + m_tool),
            first_files.end());
  EXPECT_EQ(first.status, 0) << first.out << first.err;
  EXPECT_NE(first.out.find("waited"), std::string::npos) << first.out;
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(tree_listing(given), std::vector<std::string>{});
}

TEST_F(PackageRun, StartDirectoryRemovedDuringTheCommand) {
  build("T %argv%");
  std::string start = m_dir.file("start");
  ASSERT_TRUE(make(start));
  ProcessResult result = run_in(start, {"--remove-dir", start});
  EXPECT_EQ(result.status, 1) << result.out;
  EXPECT_EQ(reported(result.out, "removed"), start);
  EXPECT_EQ(result.err, "-E- Failed to change directory.\n");
  EXPECT_FALSE(path_exists(start));
  EXPECT_EQ(tree_listing(m_temp), std::vector<std::string>{});
}

// Blanks, Cyrillic and CJK anywhere in the work directory, TEMP, the program path or the start
// directory keep the command runnable and reach the tool as they are; so do entry names in those
// scripts. An entry whose path passes 260 characters is extracted with its time and removed by the
// ending with the rest.
TEST_F(PackageRun, DirectoriesWithBlanksAndOtherScripts) {
  std::vector<std::string> data_files = {"device_info/json/Дир/файл.json",
                                         "device_info/json/目录/文件.json"};
  for (const std::string& name : data_files) {
    fs::path path = fs::u8path(m_payload) / fs::u8path(name);
    fs::create_directories(path.parent_path());
    ASSERT_TRUE(write_file(path.string(), "{}\n")) << name;
  }
  data_files.push_back("device_info/json/sample_device.json");
  std::sort(data_files.begin(), data_files.end());
  // 254 bytes in components of 55; the generator's folder scan cannot reach that deep on Windows,
  // so the package is made from an archive.
  ArchiveEntry deep = unix_file("lib", "deep\n");
  for (char c = 'a'; c < 'e'; ++c) {
    deep.name += "/" + std::string(55, c);
  }
  deep.name += "/" + std::string(22, 'f') + ".txt";
  deep.time = dos_date_time(2019, 8, 7, 6, 5, 4);
  build_with(k_sample_template, {deep});
  std::string package = m_package;

  struct Case {
    const char* given;
    const char* temp;
    const char* start;
  } cases[] = {
      {"my work", "temp of J Doe", "start here"},
      {"рабочая папка", "Временные файлы", "Дир"},
      {"工作 目录", "临时文件", "开始"},
  };
  for (const Case& c : cases) {
    std::string given = m_dir.file(c.given);
    std::string temp = m_dir.file(c.temp);
    std::string start = m_dir.file(c.start);
    ASSERT_TRUE(make(given)) << c.given;
    ASSERT_TRUE(make(temp)) << c.temp;
    ASSERT_TRUE(make(start)) << c.start;
    // The package runs from a folder of the same script.
    m_package = in(start, fs::u8path(package).filename().string());
    std::error_code error;
    fs::copy_file(fs::u8path(package), fs::u8path(m_package), error);
    ASSERT_FALSE(error) << c.start << ": " << error.message();
    std::string directory = in(given, "fw_update-dir");

    ProcessResult extracted = run({"--sfx-extract-dir", given, "--sfx-extract-only"});
    EXPECT_EQ(extracted.status, 0) << extracted.out << extracted.err;
    EXPECT_EQ(extracted.out, "Extracting to " + directory + " ... Done\n");
    EXPECT_EQ(read_file(in(directory, deep.name)), "deep\n") << c.given;
    EXPECT_EQ(file_mtime(in(directory, deep.name)), local_seconds(deep.time)) << c.given;
    EXPECT_EQ(platform::remove_tree(directory), 0) << c.given;

    ProcessResult in_given = run_in(start, {"--sfx-extract-dir", given, "-y"});
    EXPECT_EQ(in_given.status, 0) << in_given.out << in_given.err;
    EXPECT_EQ(in_given.err, "") << c.given;
    EXPECT_EQ(reported(in_given.out, "directory"), directory);
    EXPECT_EQ(reported_arguments(in_given.out),
              (std::vector<std::string>{"--ssl-certificate", in(directory, "ca-bundle.crt"),
                                        "--current-dir", start_dir_seen(start), "-y"}));
    EXPECT_NE(reported(in_given.out, "certificate").find("] found: "), std::string::npos)
        << in_given.out;
    std::vector<std::string> seen;
    for (std::string::size_type at = in_given.out.find("\ndata file: "); at != std::string::npos;
         at = in_given.out.find("\ndata file: ", at + 1)) {
      seen.push_back(reported(in_given.out, "data file", at + 1));
    }
    EXPECT_EQ(seen, data_files) << c.given;
    EXPECT_EQ(tree_listing(given), std::vector<std::string>{}) << c.given;

    ScopedEnvironment temp_variable("TEMP", temp);
    ProcessResult in_temp = run_in(start, {});
    EXPECT_EQ(in_temp.status, 0) << in_temp.out << in_temp.err;
    EXPECT_EQ(in_temp.err, "") << c.temp;
    EXPECT_EQ(reported(in_temp.out, "directory").rfind(in(temp, "sfxter_"), 0), 0u) << in_temp.out;
    EXPECT_EQ(reported(in_temp.out, "TEMP"), temp);
    EXPECT_NE(reported(in_temp.out, "certificate").find("] found: "), std::string::npos);
    EXPECT_EQ(tree_listing(temp), std::vector<std::string>{}) << c.temp;
  }
}

// On Linux the shell would read '$', '`', '"' and '\' in directory names; the stub quotes them.
TEST_F(PackageRun, DirectoriesWithShellCharacters) {
  if (is_windows()) {
    GTEST_SKIP() << "Windows names cannot hold these characters";
  }
  build(k_sample_template);
  std::string given = m_dir.file("w $HOME `false` \"q\" \\z");
  std::string start = m_dir.file("s $(false) 'a' \\");
  ASSERT_TRUE(make(given));
  ASSERT_TRUE(make(start));
  ProcessResult result = run_in(start, {"--sfx-extract-dir", given});
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  std::string directory = in(given, "fw_update-dir");
  EXPECT_EQ(reported_arguments(result.out),
            (std::vector<std::string>{"--ssl-certificate", in(directory, "ca-bundle.crt"),
                                      "--current-dir", start + "/"}));
  EXPECT_NE(reported(result.out, "certificate").find("] found: "), std::string::npos);
  EXPECT_EQ(tree_listing(given), std::vector<std::string>{});
}

// The start directory is the way back at the end and the command's --current-dir, however deep.
// The package reads its own payload from a folder however deep, also when the first 1,022 bytes
// of its name name another package.
TEST_F(PackageRun, DeepStartDirectoryAndPackageFolder) {
  if (is_windows()) {
    GTEST_SKIP() << "cmd.exe, which starts the packages here, takes no program or start directory "
                    "past 260 characters";
  }
  // Folders below the test's own, to about 900 bytes.
  std::string deep = m_dir.path();
  for (char c = 'a'; deep.size() < 898; ++c) {
    deep += native_separator() + std::string(std::min<std::size_t>(200, 898 - deep.size()), c);
    ASSERT_TRUE(make(deep));
  }
  // The package that the first 1,022 bytes of the last row's name name runs a failing command.
  std::string other = in(deep, std::string(1022 - deep.size() - 1, 'p'));
  ASSERT_EQ(other.size(), 1022u);
  build("T --exit-status 9");
  std::error_code error;
  fs::copy_file(fs::u8path(m_package), fs::u8path(other), error);
  ASSERT_FALSE(error) << error.message();
  build(k_sample_template);
  const std::string package = m_package;
  struct Case {
    const char* what;
    bool deep_start;
    std::string package;
  } cases[] = {
      {"a deep start directory", true, package},
      {"a package named by more than 1,022 bytes", false, in(deep, std::string(130, 'q'))},
      {"a name cut to 1,022 bytes names another package", false, other + "_own"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.package != package) {
      fs::copy_file(fs::u8path(package), fs::u8path(c.package), error);
      ASSERT_FALSE(error) << error.message();
    }
    m_package = c.package;
    std::string start = c.deep_start ? deep : m_scratch;
    ProcessResult result = run_in(start, {"--sfx-extract-dir", m_dir.path()});
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(result.err, "");
    std::vector<std::string> arguments = reported_arguments(result.out);
    ASSERT_EQ(arguments.size(), 4u) << result.out;
    EXPECT_EQ(arguments[3], start_dir_seen(start));
  }
}

// A temporary folder mounted noexec makes every package fail with the shell's 126; the run keeps
// that status and tells the user where to go instead.
TEST_F(PackageRun, NoexecTemporaryFolderGetsAHint) {
  if (is_windows()) {
    GTEST_SKIP() << "mount options are a Linux matter";
  }
  std::string temp = m_dir.file("noexec");
  ASSERT_TRUE(make(temp));
  if (platform::run_shell("mount -t tmpfs -o noexec,size=16m sfxkit-test " + quote_for_shell(temp) +
                          " 2>/dev/null") != 0) {
    GTEST_SKIP() << "needs root to mount a noexec tmpfs";
  }
  build(k_sample_template);
  ProcessResult result;
  {
    ScopedEnvironment temp_variable("TEMP", temp);
    result = run({"--sfx-no-pause"});
  }
  std::string listing = tree_listing(temp).empty() ? "" : tree_listing(temp).front();
  EXPECT_EQ(platform::run_shell("umount " + quote_for_shell(temp)), 0);
  EXPECT_EQ(result.status, 126) << result.out << result.err;
  ASSERT_GE(result.out.size(), 84u);
  EXPECT_EQ(result.out.substr(result.out.size() - 84),
            "-I- The temporary folder does not allow running programs; try --sfx-extract-dir DIR\n")
      << result.out;
  EXPECT_EQ(listing, "");

  // A given directory that allows programs runs the package.
  result = run({"--sfx-extract-dir", m_dir.path()});
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_EQ(result.out.find("does not allow running programs"), std::string::npos);
}

// Ctrl-C reaches the stub's whole process group; a termination request reaches the stub alone.
// Either way the command gets it, the stub waits for the command and still cleans up.
TEST_F(PackageRun, InterruptedCommandLeavesNothingBehind) {
  if (is_windows()) {
    GTEST_SKIP() << "signals are a Linux matter";
  }
  build("T %argv%");
  std::string given = m_dir.file("given");
  ASSERT_TRUE(make(given));
  struct Case {
    const char* kill;
    int status;
    // Run in the given directory rather than a temporary one.
    bool in_given;
  } cases[] = {
      {"kill -INT -$pid", 130, false},
      {"kill -TERM $pid", 143, false},
      {"kill -HUP $pid", 129, false},
      {"kill -TERM $pid", 143, true},
  };
  for (const Case& c : cases) {
    std::string ready = m_dir.file("ready");
    std::string out = m_scratch + "/out";
    (void)platform::remove_file(ready);
    // As from a shell with job control: a process group of its own, SIGINT not ignored (sh
    // ignores it for the programs it starts in the background).
    std::string script =
        "env --default-signal=INT setsid " + quote_for_shell(m_package) +
        (c.in_given ? " --sfx-extract-dir " + quote_for_shell(given) : std::string()) +
        " --wait-seconds 2 --touch " + quote_for_shell(ready) + " </dev/null >" +
        quote_for_shell(out) + " 2>&1 & pid=$!\n" + "n=0; while [ ! -e " + quote_for_shell(ready) +
        " ] && [ $n -lt 200 ]; do " + "sleep 0.05; n=$((n+1)); done\n" + c.kill +
        "\nwait $pid; status=$?\n" +
        // Long enough for a tool that was left running to finish its wait and say so.
        "sleep 3\nexit $status";
    int status = platform::run_shell(script);
    std::string output = read_file(out);
    EXPECT_EQ(status, c.status) << c.kill << "\n" << output;
    EXPECT_TRUE(path_exists(ready)) << c.kill;
    EXPECT_NE(output.find("waiting 2 s\n"), std::string::npos) << output;
    EXPECT_EQ(output.find("waited"), std::string::npos) << c.kill << "\n" << output;
    EXPECT_EQ(tree_listing(m_temp), std::vector<std::string>{}) << c.kill;
    // Neither the extraction directory nor its lock file.
    EXPECT_EQ(tree_listing(given), std::vector<std::string>{}) << c.kill;
  }
}

// However the stub starts the command (directly, through /bin/sh, or through the shell after the
// program could not be started directly), the command gets what it would get started the same
// way from the stub's own shell: the signals ignored and blocked when the stub started (as a
// background job, as under nohup; /bin/sh itself unblocks every signal), a closed pipe back at its
// default, the same descriptors; besides its arguments, PWD naming its directory, and its status
// passed back. What cannot be started at all is the shell's to report.
TEST_F(PackageRun, CommandStartsWithTheStubsSignalsAndDescriptors) {
  if (is_windows()) {
    GTEST_SKIP() << "signals and descriptors are a Linux matter";
  }
  struct Line {
    const char* start;
    bool through_shell;
    const char* command_template;
    int status;
    const char* error;
  } lines[] = {
      {"directly", false, "T --list-fds --list-signals 'a b' %argv%", 7, ""},
      {"through the shell", true, "T --list-fds --list-signals 'a b' %argv%; exit $?", 7, ""},
      {"ENOEXEC", true, "no_interpreter_line --list-fds --list-signals 'a b' %argv%", 7, ""},
      {"EACCES", true, "not_executable --list-fds 'a b' %argv%", 126, "Permission denied"},
      {"ENOENT", true, "missing --list-fds 'a b' %argv%", 127, "not found"},
  };
  // How the stub's own shell starts it: as from a job-control shell, as a background job of a
  // shell without job control, under nohup, with a signal blocked, with a file-size limit's signal
  // ignored (which the stub ignores for itself in any case).
  const char* stub_starts[] = {"", "--ignore-signal=INT,QUIT", "--ignore-signal=HUP",
                               "--block-signal=USR2", "--ignore-signal=XFSZ"};
  const std::string reporting[] = {"open descriptors", "ignored signals", "blocked signals"};
  for (const Line& line : lines) {
    build_with(line.command_template,
               {unix_file("no_interpreter_line", "exec ./" + m_tool + " \"$@\"\n", 0755),
                unix_file("not_executable", "#!/bin/sh\n", 0644)});
    for (const char* stub_start : stub_starts) {
      SCOPED_TRACE(std::string(line.start) + ", stub started with env " + stub_start);
      std::string env = std::string("env --default-signal ") + stub_start + " ";
      std::string tool = quote_for_shell(in(m_payload, m_tool)) + " --list-fds --list-signals";
      ProcessResult direct = run_command_line(
          env + (line.through_shell ? "/bin/sh -c " + quote_for_shell(tool + "; exit $?") : tool),
          m_scratch);
      ProcessResult result =
          run_command_line(env + quote_for_shell(m_package) + " --exit-status 7", m_scratch);
      EXPECT_EQ(result.status, line.status) << result.out << result.err;
      if (line.status != 7) {
        EXPECT_NE(result.err.find(line.error), std::string::npos) << result.err;
        continue;
      }
      EXPECT_EQ(result.err, "");
      EXPECT_EQ(reported_arguments(result.out),
                (std::vector<std::string>{"--list-fds", "--list-signals", "a b", "--exit-status",
                                          "7"}));
      EXPECT_EQ(reported(result.out, "PWD"), reported(result.out, "directory"));
      for (const std::string& key : reporting) {
        ASSERT_NE(reported(direct.out, key), "(missing)") << key << "\n" << direct.out;
        EXPECT_EQ(reported(result.out, key), reported(direct.out, key)) << key << "\n" << direct.out;
      }
    }
  }
  EXPECT_EQ(tree_listing(m_temp), std::vector<std::string>{});
}

// Under load: eight packages at once, then one package 500 times in a row. Each run passes its own
// exit status through the tool and must end with exactly that status; the tool sees exactly the
// descriptors that the tool started directly sees (the standard three and whatever this test
// inherited), none of the stub's; nothing stays in TEMP.
TEST_F(PackageRun, ManyRunsLeaveNothingBehind) {
  if (is_windows()) {
    GTEST_SKIP() << "the tool lists its descriptors on Linux; 500 runs under Wine take too long";
  }
  build("T %argv%");
  ProcessResult direct = run_process(in(m_payload, m_tool), {"--list-fds"}, m_scratch);
  std::string inherited = reported(direct.out, "open descriptors");
  ASSERT_EQ(inherited.rfind("0 1 2", 0), 0u) << direct.out;

  // One shell starts the eight packages in the background and collects their statuses.
  constexpr int k_parallel = 8;
  std::string script;
  for (int i = 0; i < k_parallel; ++i) {
    std::string package = m_dir.file("parallel_" + std::to_string(i));
    std::error_code error;
    fs::copy_file(m_package, package, error);
    ASSERT_FALSE(error) << error.message();
    fs::permissions(package, fs::perms::owner_exec, fs::perm_options::add, error);
    std::string n = std::to_string(i);
    script += quote_for_shell(package) + " --list-fds --exit-status " + std::to_string(i + 1) +
              " </dev/null >" + quote_for_shell(in(m_scratch, "out_" + n)) + " 2>" +
              quote_for_shell(in(m_scratch, "err_" + n)) + " & pid_" + n + "=$!\n";
  }
  for (int i = 0; i < k_parallel; ++i) {
    std::string n = std::to_string(i);
    script += "wait $pid_" + n + "; echo $? >" + quote_for_shell(in(m_scratch, "status_" + n)) +
              "\n";
  }
  ASSERT_EQ(platform::run_shell(script), 0);
  for (int i = 0; i < k_parallel; ++i) {
    std::string n = std::to_string(i);
    std::string out = read_file(in(m_scratch, "out_" + n));
    EXPECT_EQ(read_file(in(m_scratch, "status_" + n)), std::to_string(i + 1) + "\n") << out;
    EXPECT_EQ(reported(out, "open descriptors"), inherited) << out;
    EXPECT_EQ(read_file(in(m_scratch, "err_" + n)), "") << n;
  }
  EXPECT_EQ(tree_listing(m_temp), std::vector<std::string>{});

  constexpr int k_runs = 500;
  int failures = 0;
  for (int i = 0; i < k_runs && failures < 3; ++i) {
    int expected = i % 7;
    ProcessResult result = run({"--list-fds", "--exit-status", std::to_string(expected)});
    if (result.status != expected || reported(result.out, "open descriptors") != inherited ||
        !result.err.empty()) {
      ++failures;
      EXPECT_EQ(result.status, expected) << "run " << i << "\n" << result.out << result.err;
      EXPECT_EQ(reported(result.out, "open descriptors"), inherited) << "run " << i;
    }
  }
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(tree_listing(m_temp), std::vector<std::string>{});
}

// Outside the command the request is the stub's: while it copies the archive out or extracts it,
// the stub stops at its next piece, cleans up and ends with 128 + the signal's number; the
// command never runs. A 200 MB entry keeps each phase going long enough to be caught: the copy
// once archive.zip appears, the extraction once the entry's file appears; its data, stored or
// deflated, is written by a thread of its own, which stops too. On two threads (sixteen entries
// or more) both stop: the request comes once the second of two 100 MB entries is begun.
TEST_F(PackageRun, InterruptedUnpackingLeavesNothingBehind) {
  if (is_windows()) {
    GTEST_SKIP() << "signals are a Linux matter; the console events are unit-tested";
  }
  ArchiveEntry big = unix_file("big.bin", std::string(1 << 20, 'b'));
  big.repeat = 200;
  big.method = ArchiveMethod::Stored;
  std::string ran = m_dir.file("ran");
  ArchiveEntry deflated = big;
  deflated.method = ArchiveMethod::Deflated;
  std::vector<ArchiveEntry> one = {big};
  std::vector<ArchiveEntry> one_deflated = {deflated};
  ArchiveEntry half = big;
  half.repeat = 100;
  ArchiveEntry second_half = half;
  second_half.name = "big2.bin";
  std::vector<ArchiveEntry> many = {half, second_half};
  for (int i = 0; i < 14; ++i) {
    many.push_back(unix_file("small" + std::to_string(i), "s"));
  }
  struct Case {
    const char* phase;
    // What shows that the phase is under way, below the work directory.
    const char* sign;
    const char* kill;
    int status;
    const std::vector<ArchiveEntry>* entries;
  } cases[] = {
      {"copy", "archive.zip", "kill -TERM $pid", 143, &one},
      {"copy", "archive.zip", "kill -INT -$pid", 130, &one},
      {"extraction", "fw_update-dir/big.bin", "kill -HUP $pid", 129, &one},
      {"extraction", "fw_update-dir/big.bin", "kill -QUIT $pid", 131, &one},
      {"extraction of deflated data", "fw_update-dir/big.bin", "kill -TERM $pid", 143,
       &one_deflated},
      {"extraction on two threads", "fw_update-dir/big2.bin", "kill -TERM $pid", 143, &many},
  };
  const std::vector<ArchiveEntry>* built = nullptr;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.phase) + ": " + c.kill);
    if (c.entries != built) {
      build_with("T --touch " + quote_for_shell(ran), *c.entries);
      built = c.entries;
    }
    std::string out = m_scratch + "/out";
    // As from a shell with job control (see above; sh ignores SIGQUIT too in the background). The
    // sign is looked for as fast as the shell can, for as long as the stub runs.
    std::string script =
        "env --default-signal=INT,QUIT setsid " + quote_for_shell(m_package) + " </dev/null >" +
        quote_for_shell(out) + " 2>&1 & pid=$!\n" + "sign=" + quote_for_shell(m_temp) +
        "/sfxter_$(id -un)_$pid/" + c.sign + "\n" +
        "until [ -e \"$sign\" ] || ! kill -0 $pid 2>/dev/null; do :; done\n" + c.kill +
        "\nwait $pid";
    int status = platform::run_shell(script);
    std::string output = read_file(out);
    EXPECT_EQ(status, c.status) << output;
    EXPECT_FALSE(path_exists(ran)) << "the command ran";
    EXPECT_EQ(output.find("sfx_payload_tool"), std::string::npos) << output;
    EXPECT_EQ(tree_listing(m_temp), std::vector<std::string>{});
    (void)platform::remove_tree(m_temp);
    ASSERT_TRUE(make(m_temp));
  }
}

// A reader that is gone before the stub writes (`pkg -h | head -1`) costs the stub no more than
// the lines it cannot write: it still runs on, cleans up, and runs the extra tool after a
// successful command; the command's own writes end it as they would anywhere. The command here
// waits until its output has nobody to read it.
TEST_F(PackageRun, ClosedOutputPipeDoesNotEndTheStub) {
  if (is_windows()) {
    GTEST_SKIP() << "a closed pipe ends only POSIX programs";
  }
  std::string extra_ran = m_dir.file("extra_ran");
  std::string archive = m_dir.file("pipe.zip");
  ASSERT_TRUE(write_archive(
      archive,
      {unix_file("wait.sh", "#!/bin/sh\ntrap '' PIPE\nwhile printf x 2>/dev/null; do sleep 0.05; done\n",
                 0755),
       unix_file("mark.sh", "#!/bin/sh\n: > " + quote_for_shell(extra_ran) + "\n", 0755)}));
  ASSERT_TRUE(build_package_from_zip(stub_artifact(), archive, "wait.sh %argv%",
                                     std::string("mark.sh"), m_package));
  struct Case {
    const char* argument;
    bool extra_tool_runs;
  } cases[] = {{"-h", false}, {"-y", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argument);
    (void)platform::remove_file(extra_ran);
    std::string status_file = m_scratch + "/status";
    std::string err = m_scratch + "/err";
    int status = platform::run_shell("{ " + quote_for_shell(m_package) + " " + c.argument +
                                     " 2>" + quote_for_shell(err) + "; echo $? > " +
                                     quote_for_shell(status_file) + "; } | true");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read_file(status_file), "0\n") << read_file(err);
    EXPECT_EQ(path_exists(extra_ran), c.extra_tool_runs);
    EXPECT_EQ(tree_listing(m_temp), std::vector<std::string>{});
  }
}

}  // namespace
