// SPDX-License-Identifier: Zlib
// The extraction as the stub runs it: an extract-only run that leaves exactly the payload, and
// extractions that cannot complete, which end the run with 252 before any command runs and leave
// nothing behind in the temporary directory.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
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

using Names = std::vector<std::string>;

bool on_linux() { return platform::platform_kind() == platform::PlatformKind::Posix; }

// A command that would leave a mark in the start directory if it ever ran.
const char k_marking_template[] = "marker %argv%";

class Extraction : public ::testing::Test {
 protected:
  void SetUp() override {
    m_temp = m_dir.file("temp");
    m_scratch = m_dir.file("scratch");
    m_given = m_dir.file("given");
    m_payload = m_dir.file("payload");
    for (const std::string& folder : {m_temp, m_scratch, m_given, m_payload}) {
      ASSERT_EQ(platform::make_directory(folder, platform::DirectoryAccess::Shared), 0) << folder;
    }
    m_temp_variable.emplace("TEMP", m_temp);
    m_package = m_dir.file("fw_update" + fs::path(stub_artifact()).extension().string());
    m_extracted = join_path(m_given, "fw_update-dir");
  }

  // A payload like the packages carry: the tool, the certificate bundle, the device data, and
  // some more depth, size and modes.
  void make_payload() {
    struct File {
      const char* name;
      std::string data;
      unsigned mode;
      // A device name on Windows, which refuses it; an ordinary name on Linux.
      bool device_name = false;
    } files[] = {
        {"marker", "#!/bin/sh\necho marker\n", 0755},
        {"ca-bundle.crt", "-----BEGIN CERTIFICATE-----\n", 0644},
        {"device_info/json/0x1d.json", "{\"device\": 29}\n", 0644},
        {"device_info/json/0x2e.json", "{\"device\": 46}\n", 0600},
        {"lib/plugins/deep/library.so", std::string(200000, '\x7f') + "end", 0755},
        {"empty.txt", "", 0644},
        {"include/aux.h", "#define AUX 1\n", 0644, true},
        {"nul.txt", "n", 0644, true},
        // Names in other scripts.
        {"Дир/файл.txt", "cyrillic\n", 0644},
        {"目录/文件.bin", "cjk\n", 0644},
    };
    std::int64_t time = 1500000000;
    for (const File& file : files) {
      if (file.device_name && !on_linux()) {
        continue;
      }
      fs::path path = fs::u8path(m_payload) / fs::u8path(file.name);
      fs::create_directories(path.parent_path());
      ASSERT_TRUE(write_file(path.string(), file.data)) << file.name;
      if (on_linux()) {
        fs::permissions(path, static_cast<fs::perms>(file.mode), fs::perm_options::replace);
      }
      ASSERT_TRUE(set_file_mtime(path.string(), time)) << file.name;
      time += 7 * 86400 + 1;
    }
  }

  ProcessResult run_extract_only() {
    return run_process(m_package, {"--sfx-extract-dir", m_given, "--sfx-extract-only"}, m_scratch);
  }

  std::string extracting_line() const { return "Extracting to " + m_extracted + " ..."; }

  ScopedTempDir m_dir;
  std::optional<ScopedEnvironment> m_temp_variable;
  std::string m_temp;
  std::string m_scratch;
  std::string m_given;
  std::string m_payload;
  std::string m_package;
  std::string m_extracted;
};

TEST_F(Extraction, ExtractOnlyLeavesExactlyThePayload) {
  make_payload();
  ASSERT_TRUE(
      build_package(stub_artifact(), m_payload, k_marking_template, std::nullopt, m_package));
  ProcessResult result = run_extract_only();
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, extracting_line() + " Done\n");
  EXPECT_EQ(result.err, "");
  TreeComparison comparison;
  comparison.modes = on_linux();
  EXPECT_EQ(compare_trees(m_payload, m_extracted, comparison), Names{});
  // No archive.zip beside the extraction directory, and nothing in the temporary directory.
  EXPECT_EQ(tree_listing(m_given).front(), "fw_update-dir/");
  EXPECT_FALSE(path_exists(join_path(m_given, "archive.zip")));
  EXPECT_EQ(tree_listing(m_temp), Names{});
  EXPECT_FALSE(path_exists(m_dir.file("marked")));
}

// A payload whose archive stops the extraction, with what the run prints about it.
struct FailingPayload {
  const char* label;
  std::vector<ArchiveEntry> entries;
  // Applied to the archive's bytes before it is packed.
  void (*damage)(std::string& archive);
  std::string out;
  // What of the payload is on disk after an extract-only run.
  Names left;
};

ArchiveEntry entry(const std::string& name, const std::string& data,
                   ArchiveMethod method = ArchiveMethod::Deflated) {
  ArchiveEntry result = unix_file(name, data, 0755);
  result.method = method;
  return result;
}

// Changes one byte of the stored data "payload data" so that its CRC no longer matches.
void break_stored_data(std::string& archive) {
  std::string::size_type at = archive.find("payload data");
  if (at != std::string::npos) {
    archive[at] = 'P';
  }
}

// The end record counts one entry of the archive's three.
void under_count_entries(std::string& archive) { set_end_record_count(archive, 1); }

// The same in a zip64 end record, which counts none.
void under_count_zip64_entries(std::string& archive) {
  add_zip64_end_record(archive);
  set_end_record_count(archive, 0);
}

// The payload command "marker" touches `mark` when it runs (on Linux).
std::string marker_script(const std::string& mark) {
  return "#!/bin/sh\ntouch " + quote_for_shell(mark) + "\n";
}

std::vector<FailingPayload> failing_payloads(const std::string& marker) {
  std::vector<FailingPayload> payloads = {
      {"climbs out",
       {entry("marker", marker), entry("../escaped.txt", "out"), entry("after.txt", "a")},
       nullptr,
       "refusing entry ../escaped.txt: the name climbs out with \"..\"\n",
       {"fw_update-dir/", "fw_update-dir/device_info/", "fw_update-dir/device_info/json/",
        "fw_update-dir/marker"}},
      // A name that would clear the screen is shown escaped.
      {"escape sequence",
       {entry("marker", "m"), entry("../\x1b[2J\x07gone", "out")},
       nullptr,
       "refusing entry ../\\x1b[2J\\x07gone: the name climbs out with \"..\"\n",
       {"fw_update-dir/", "fw_update-dir/device_info/", "fw_update-dir/device_info/json/",
        "fw_update-dir/marker"}},
      {"absolute",
       {entry("marker", "m"), entry("\\escaped.txt", "out")},
       nullptr,
       "refusing entry \\escaped.txt: the name is an absolute path\n",
       {"fw_update-dir/", "fw_update-dir/device_info/", "fw_update-dir/device_info/json/",
        "fw_update-dir/marker"}},
      {"drive letter",
       {entry("C:escaped.txt", "out"), entry("marker", "m")},
       nullptr,
       "refusing entry C:escaped.txt: the name carries a drive letter\n",
       {"fw_update-dir/", "fw_update-dir/device_info/", "fw_update-dir/device_info/json/"}},
      {"damaged data",
       {entry("marker", marker), entry("data.bin", "payload data", ArchiveMethod::Stored),
        entry("after.txt", "a")},
       break_stored_data,
       "error -105 with zipfile in unzCloseCurrentFile\n",
       {"fw_update-dir/", "fw_update-dir/data.bin", "fw_update-dir/device_info/",
        "fw_update-dir/device_info/json/", "fw_update-dir/marker"}},
      // An archive large enough to be copied beside the extraction (Linux): the message waits
      // for the copy.
      {"damaged data in a large archive",
       {entry("noise.bin", noise(1200000), ArchiveMethod::Stored), entry("marker", marker),
        entry("data.bin", "payload data", ArchiveMethod::Stored), entry("after.txt", "a")},
       break_stored_data,
       "error -105 with zipfile in unzCloseCurrentFile\n",
       {"fw_update-dir/", "fw_update-dir/data.bin", "fw_update-dir/device_info/",
        "fw_update-dir/device_info/json/", "fw_update-dir/marker", "fw_update-dir/noise.bin"}},
      // The run makes device_info itself; a file of that name cannot be written.
      {"file in the way",
       {entry("marker", "m"), entry("device_info", "not a folder"), entry("after.txt", "a")},
       nullptr,
       "error opening device_info\n",
       {"fw_update-dir/", "fw_update-dir/device_info/", "fw_update-dir/device_info/json/",
        "fw_update-dir/marker"}},
      // The extraction would stop after the entries counted and run the command on the rest
      // missing; it writes nothing.
      {"end record under-counts",
       {entry("marker", marker), entry("data.bin", "payload data"), entry("after.txt", "a")},
       under_count_entries,
       "the archive's directory holds more entries than its end record counts\n",
       {"fw_update-dir/", "fw_update-dir/device_info/", "fw_update-dir/device_info/json/"}},
      {"zip64 end record under-counts",
       {entry("marker", marker), entry("data.bin", "payload data"), entry("after.txt", "a")},
       under_count_zip64_entries,
       "the archive's directory holds more entries than its end record counts\n",
       {"fw_update-dir/", "fw_update-dir/device_info/", "fw_update-dir/device_info/json/"}},
  };
  if (!on_linux()) {
    // Windows would open the device instead of a file; Linux writes such names as they are.
    payloads.push_back(
        {"device name",
         {entry("marker", "m"), entry("include/aux.h", "x"), entry("after.txt", "a")},
         nullptr,
         "refusing entry include/aux.h: the name is a Windows device name\n",
         {"fw_update-dir/", "fw_update-dir/device_info/", "fw_update-dir/device_info/json/",
          "fw_update-dir/marker"}});
    // Every run would fail to create it ('?'), or write a stream of another file (':').
    payloads.push_back(
        {"a character Windows cannot hold",
         {entry("marker", "m"), entry("what?.txt", "x"), entry("after.txt", "a")},
         nullptr,
         "refusing entry what?.txt: the name holds a character Windows file names cannot hold\n",
         {"fw_update-dir/", "fw_update-dir/device_info/", "fw_update-dir/device_info/json/",
          "fw_update-dir/marker"}});
  }
  return payloads;
}

// Packs `payload` (damaged as it says) with the stub into the test's package.
bool package_failing_payload(const FailingPayload& payload, const std::string& archive,
                             const std::string& package) {
  if (!write_archive(archive, payload.entries)) {
    return false;
  }
  if (payload.damage != nullptr) {
    std::string bytes = read_file(archive);
    payload.damage(bytes);
    if (!write_file(archive, bytes)) {
      return false;
    }
  }
  return assemble_package(stub_artifact(), archive, k_marking_template, std::nullopt, package);
}

// The generator's --verify extracts a package as its stub does, writing nothing: the two give one
// verdict on the failing payloads above, on archives the stub extracts, and on Linux on every seed
// of the extraction fuzzer's corpus (fuzz/make-corpora). A file named like the run's own
// device_info folder is left out: it fails only where the run made that folder.
TEST_F(Extraction, VerifyGivesTheVerdictOfTheStub) {
  std::string archives = m_dir.file("archives");
  ASSERT_EQ(platform::make_directory(archives, platform::DirectoryAccess::Shared), 0);
  std::vector<std::string> paths;
  for (const FailingPayload& payload : failing_payloads("m")) {
    if (std::string(payload.label) != "file in the way") {
      paths.push_back(join_path(archives, std::string(payload.label) + ".zip"));
      ASSERT_TRUE(package_failing_payload(payload, paths.back(), m_package));
    }
  }
  ArchiveEntry renamed = entry("inside.txt", "a Unicode path field names another file");
  renamed.extra_field = unicode_path_field("inside.txt", "../escaped.txt");
  std::vector<ArchiveEntry> many;
  for (int i = 0; i < 20; ++i) {
    many.push_back(entry(i == 9 ? "same.bin" : "e" + std::to_string(i), std::to_string(i)));
  }
  for (const auto& extra :
       {std::pair<const char*, std::vector<ArchiveEntry>>{"sound", {entry("a/b.txt", "b")}},
        {"unicode path field", {renamed}},
        {"many", many}}) {
    paths.push_back(join_path(archives, std::string(extra.first) + ".zip"));
    ASSERT_TRUE(write_archive(paths.back(), extra.second));
  }
  if (!on_linux()) {
    // Each row starts two programs under Wine: a handful of them.
    std::vector<std::string> handful;
    for (const char* label : {"damaged data", "device name", "end record under-counts",
                              "unicode path field", "many"}) {
      handful.push_back(join_path(archives, std::string(label) + ".zip"));
    }
    paths = handful;
  } else if (run_command_line("command -v zip && command -v bsdtar && command -v python3",
                              m_scratch)
                 .status == 0) {
    // make-corpora finds the generator and the stub in the build folder it is given.
    std::string build = m_dir.file("build");
    fs::create_directory(build);
    fs::create_symlink(generator_artifact(), join_path(build, "vek_fwsfx_gen"));
    fs::create_symlink(stub_artifact(), join_path(build, "sfx_stub"));
    std::string script =
        (fs::path(examples_dir()).parent_path() / "fuzz" / "make-corpora").string();
    ProcessResult made = run_process(script, {build}, m_scratch);
    ASSERT_EQ(made.status, 0) << made.err;
    for (const fs::directory_entry& seed :
         fs::directory_iterator(join_path(build, "corpora/extraction_fuzzer"))) {
      paths.push_back(seed.path().string());
    }
    EXPECT_GT(paths.size(), 25u);
  }
  for (const std::string& path : paths) {
    ASSERT_TRUE(assemble_package(stub_artifact(), path, k_marking_template, std::nullopt,
                                 m_package));
    ProcessResult stub = run_extract_only();
    ProcessResult verify = run_process(generator_artifact(), {"--info", "--verify", m_package},
                                       m_scratch);
    EXPECT_EQ(verify.status == 0, stub.status == 0)
        << path << "\nstub: " << stub.status << " " << stub.out << stub.err
        << "\nverify: " << verify.status << " " << verify.err;
  }
}

TEST_F(Extraction, IncompleteExtractOnlyRunFailsAndKeepsWhatItExtracted) {
  for (const FailingPayload& payload : failing_payloads(marker_script(m_dir.file("marked")))) {
    ASSERT_TRUE(package_failing_payload(payload, m_dir.file("payload.zip"), m_package))
        << payload.label;
    ProcessResult result = run_extract_only();
    EXPECT_EQ(result.status, 252) << payload.label;
    // The extraction's own message follows the "Extracting to" line's dots directly and ends
    // that line.
    EXPECT_EQ(result.out, extracting_line() + payload.out) << payload.label;
    EXPECT_EQ(result.err, "-E- Extraction into " + m_extracted +
                              " is incomplete; the files extracted so far are left there\n")
        << payload.label;
    EXPECT_EQ(tree_listing(m_given), payload.left) << payload.label;
    EXPECT_EQ(tree_listing(m_temp), Names{}) << payload.label;
    EXPECT_FALSE(path_exists(m_dir.file("escaped.txt"))) << payload.label;
    EXPECT_FALSE(path_exists(m_dir.file("marked"))) << payload.label;
    ASSERT_EQ(platform::remove_tree(m_extracted), 0) << payload.label;
  }
}

TEST_F(Extraction, IncompleteExtractionNeverRunsTheCommand) {
  if (on_linux()) {
    // The marker works: a complete payload runs it.
    std::string archive = m_dir.file("complete.zip");
    ASSERT_TRUE(write_archive(archive, {entry("marker", marker_script(m_dir.file("marked")))}));
    ASSERT_TRUE(build_package_from_zip(stub_artifact(), archive, k_marking_template, std::nullopt,
                                       m_package));
    ProcessResult complete = run_process(m_package, {"--sfx-no-pause"}, m_scratch);
    EXPECT_EQ(complete.status, 0) << complete.err;
    ASSERT_TRUE(path_exists(m_dir.file("marked")));
    ASSERT_EQ(platform::remove_file(m_dir.file("marked")), 0);
  }
  for (const FailingPayload& payload : failing_payloads(marker_script(m_dir.file("marked")))) {
    ASSERT_TRUE(package_failing_payload(payload, m_dir.file("payload.zip"), m_package))
        << payload.label;
    // In the temporary directory, and in a given one without --sfx-extract-only.
    for (bool given : {false, true}) {
      std::vector<std::string> arguments = {"--sfx-no-pause"};
      if (given) {
        arguments = {"--sfx-extract-dir", m_given};
      }
      ProcessResult result = run_process(m_package, arguments, m_scratch);
      EXPECT_EQ(result.status, 252) << payload.label;
      EXPECT_EQ(result.out, payload.out) << payload.label;
      EXPECT_NE(result.err.find(" is incomplete; the command is not run\n"), std::string::npos)
          << payload.label << ": " << result.err;
      EXPECT_EQ(tree_listing(m_temp), Names{}) << payload.label;
      EXPECT_EQ(tree_listing(m_given), Names{}) << payload.label;
      EXPECT_FALSE(path_exists(m_dir.file("escaped.txt"))) << payload.label;
      EXPECT_FALSE(path_exists(m_dir.file("marked"))) << payload.label;
    }
  }
}

// A given directory may be shared: whatever someone left at the names the run uses is never
// followed, written through or run. A link at archive.zip is removed, not the file it points to;
// an "archive.zip.zip" beside it is never opened, not even when the payload is damaged.
TEST_F(Extraction, NamesPlantedInTheGivenDirectoryAreNeverUsed) {
  const std::string victim = m_dir.file("victim.txt");
  const std::string archive_name = join_path(m_given, "archive.zip");
  const std::string stray = join_path(m_given, "archive.zip.zip");
  const std::string lock_name = m_extracted + ".lock";
  struct Case {
    const char* label;
    // Needs symbolic links, which the Windows tests cannot make.
    bool link;
    std::function<void()> plant;
    // A package whose archive is no ZIP at all.
    bool damaged;
    int status;
    std::string err;
    Names left;
  } cases[] = {
      {"a link to the user's file at archive.zip",
       true,
       [&] { fs::create_symlink(victim, archive_name); },
       false,
       0,
       "",
       {}},
      {"a file anyone may write at archive.zip",
       false,
       [&] {
         ASSERT_TRUE(write_file(archive_name, "planted"));
         ASSERT_EQ(platform::set_file_mode(archive_name, 0666), 0);
       },
       false,
       0,
       "",
       {}},
      {"a stray archive.zip.zip beside a damaged payload",
       false,
       [&] {
         ASSERT_TRUE(write_archive(stray, {entry("marker", marker_script(m_dir.file("marked")))}));
       },
       true,
       252,
       "-E- No valid attachment found\n",
       {"archive.zip.zip"}},
      // The lock file of a run that was killed: what counts is a held lock, and nobody holds it.
      {"a killed run's lock file beside the extraction directory",
       false,
       [&] { ASSERT_TRUE(write_file(lock_name, "")); },
       false,
       0,
       "",
       {}},
      // Somebody else's folder at the lock's name: no run can lock the directory, and the run
      // says so before it touches anything.
      {"a folder at the lock's name",
       false,
       [&] {
         ASSERT_EQ(platform::make_directory(lock_name, platform::DirectoryAccess::Shared), 0);
       },
       false,
       252,
       "-E- Failed to open the lock file " + lock_name + " for " + m_extracted + ": " +
           std::strerror(on_linux() ? EISDIR : EACCES) + "\n",
       {"fw_update-dir.lock/"}},
  };
  // A command that runs on either platform, and says so.
  std::string good_archive = m_dir.file("good.zip");
  std::string good_template = on_linux() ? "tell %argv%" : "tell.cmd %argv%";
  ASSERT_TRUE(write_archive(good_archive, {entry("tell", "#!/bin/sh\necho marker ran\n"),
                                           entry("tell.cmd", "@echo marker ran\r\n")}));
  std::string damaged_archive = m_dir.file("damaged.zip");
  ASSERT_TRUE(write_file(damaged_archive, "no ZIP archive at all, not even a damaged one"));
  for (const Case& c : cases) {
    if (c.link && !on_linux()) {
      continue;
    }
    ASSERT_TRUE(write_file(victim, "the user's own data")) << c.label;
    c.plant();
    ASSERT_TRUE(assemble_package(stub_artifact(), c.damaged ? damaged_archive : good_archive,
                                 c.damaged ? k_marking_template : good_template, std::nullopt,
                                 m_package))
        << c.label;
    ProcessResult result =
        run_process(m_package, {"--sfx-extract-dir", m_given, "--sfx-no-pause"}, m_scratch);
    EXPECT_EQ(result.status, c.status) << c.label << ": " << result.err;
    EXPECT_EQ(result.err, c.err) << c.label;
    EXPECT_EQ(result.out.find("marker ran") != std::string::npos, c.status == 0)
        << c.label << ": " << result.out;
    EXPECT_EQ(read_file(victim), "the user's own data") << c.label;
    EXPECT_EQ(tree_listing(m_given), c.left) << c.label;
    EXPECT_FALSE(path_exists(m_dir.file("marked"))) << c.label;
    (void)platform::remove_tree(stray);
    (void)platform::remove_tree(lock_name);
  }
}

// The run of another user, who cannot remove a file at archive.zip in a shared sticky folder, or
// open the lock file there, stops there: nothing of that file is read, written or run.
TEST_F(Extraction, ArchiveNameThatCannotBeRemovedEndsTheRun) {
  if (!on_linux() ||
      platform::run_shell("command -v setpriv >/dev/null && [ \"$(id -u)\" = 0 ]") != 0) {
    GTEST_SKIP() << "needs root and setpriv to run the stub as a second user";
  }
  std::string shared = m_dir.file("shared");
  ASSERT_EQ(platform::make_directory(shared, platform::DirectoryAccess::Shared), 0);
  ASSERT_EQ(platform::run_shell("chmod 1777 " + quote_for_shell(shared)), 0);
  std::string archive = m_dir.file("payload.zip");
  ASSERT_TRUE(
      write_archive(archive, {entry("marker", marker_script(join_path(shared, "marked")))}));
  ASSERT_TRUE(build_package_from_zip(stub_artifact(), archive, k_marking_template, std::nullopt,
                                     m_package));
  for (const std::string& path : {m_dir.path(), m_scratch, m_package}) {
    ASSERT_EQ(platform::set_file_mode(path, 0755), 0) << path;
  }
  std::string extracted = join_path(shared, "fw_update-dir");
  struct Case {
    std::string planted;
    unsigned mode;
    std::string err;
  } cases[] = {
      // A file anyone may write, in a folder where only its owner may remove it.
      {join_path(shared, "archive.zip"), 0666,
       "-E- Failed to remove " + join_path(shared, "archive.zip") + ": " + std::strerror(EPERM) +
           "\n"},
      // A lock file only its owner may open.
      {extracted + ".lock", 0644,
       "-E- Failed to open the lock file " + extracted + ".lock for " + extracted + ": " +
           std::strerror(EACCES) + "\n"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(write_file(c.planted, "another user's file"));
    ASSERT_EQ(platform::set_file_mode(c.planted, c.mode), 0);
    ProcessResult result = run_process("setpriv",
                                       {"--reuid=54321", "--regid=54321", "--clear-groups",
                                        m_package, "--sfx-extract-dir", shared, "--sfx-no-pause"},
                                       m_scratch);
    EXPECT_EQ(result.status, 252) << result.out << result.err;
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(read_file(c.planted), "another user's file");
    EXPECT_EQ(tree_listing(shared), Names{fs::u8path(c.planted).filename().u8string()});
    ASSERT_EQ(platform::remove_file(c.planted), 0);
  }
}

// Entries whose recorded sizes add up to far more than any disk holds: the run says so before it
// writes anything, instead of filling the disk and failing half-way.
TEST_F(Extraction, PayloadLargerThanTheFreeSpaceIsRefusedUpFront) {
  std::vector<ArchiveEntry> entries;
  for (int i = 0; i < 1000; ++i) {
    entries.push_back(entry("part" + std::to_string(i) + ".bin", "x"));
  }
  std::string archive = m_dir.file("payload.zip");
  ASSERT_TRUE(write_archive(archive, entries));
  // Every central directory record claims an uncompressed size just below 4 GiB: 4 TB in all.
  std::string bytes = read_file(archive);
  const std::string central = "PK\x01\x02";
  int patched = 0;
  for (std::string::size_type at = bytes.find(central); at != std::string::npos;
       at = bytes.find(central, at + 1)) {
    bytes.replace(at + 24, 4, "\xfe\xff\xff\xff");
    ++patched;
  }
  ASSERT_EQ(patched, 1000);
  ASSERT_TRUE(write_file(archive, bytes));
  ASSERT_TRUE(
      assemble_package(stub_artifact(), archive, k_marking_template, std::nullopt, m_package));

  ProcessResult result = run_process(m_package, {"--sfx-extract-dir", m_given}, m_scratch);
  EXPECT_EQ(result.status, 252);
  EXPECT_EQ(result.out, "");
  std::string expected = "-E- Not enough space in " + m_extracted + ": 4096000 MB needed, ";
  EXPECT_EQ(result.err.rfind(expected, 0), 0u) << result.err;
  EXPECT_EQ(result.err.substr(result.err.size() - 9), " MB free\n") << result.err;
  EXPECT_EQ(tree_listing(m_given), Names{});
  EXPECT_FALSE(path_exists(m_dir.file("marked")));
}

// The extraction streams every entry through one small buffer: a large payload does not grow
// the stub. GNU time reports the stub's peak resident memory, on Linux.
TEST_F(Extraction, PeakMemoryStaysSmall) {
  if (!on_linux()) {
    GTEST_SKIP() << "measured with GNU time";
  }
#ifdef SFX_SANITIZED_BUILD
  GTEST_SKIP() << "the sanitizers' shadow memory and quarantine are not the stub's";
#endif
  ArchiveEntry big = entry("big.bin", std::string(1 << 20, 'b'));
  big.repeat = 64;
  std::vector<ArchiveEntry> entries = {big};
  for (int i = 0; i < 2000; ++i) {
    entries.push_back(entry("many/f" + std::to_string(i) + ".txt", std::to_string(i)));
  }
  std::string archive = m_dir.file("payload.zip");
  ASSERT_TRUE(write_archive(archive, entries));
  ASSERT_TRUE(build_package_from_zip(stub_artifact(), archive, k_marking_template, std::nullopt,
                                     m_package));
  std::string report = m_dir.file("peak.txt");
  ProcessResult result = run_process(
      "/usr/bin/time",
      {"-o", report, "-f", "%M", m_package, "--sfx-extract-dir", m_given, "--sfx-extract-only"},
      m_scratch);
  EXPECT_EQ(result.status, 0) << result.err;
  long peak_kb = -1;
  ASSERT_EQ(std::sscanf(read_file(report).c_str(), "%ld", &peak_kb), 1) << read_file(report);
  EXPECT_LT(peak_kb, 8 * 1024);
  EXPECT_EQ(fs::file_size(join_path(m_extracted, "big.bin")), std::uintmax_t{64} << 20);
  (void)platform::remove_file(join_path(m_extracted, "big.bin"));
}

}  // namespace
