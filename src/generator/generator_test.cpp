// The generator: folder and ZIP packages that read back as written, refusals that leave nothing
// behind, and the command line.

#include <gtest/gtest.h>
#include <unzip.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/dos_time.hpp"
#include "generator/folder_scan.hpp"
#include "generator/generator_cli.hpp"
#include "generator/package_info.hpp"
#include "generator/package_writer.hpp"
#include "generator/zip_writer.hpp"
#include "platform/platform.hpp"
#include "testing/archive_builder.hpp"
#include "testing/package_builder.hpp"
#include "testing/scoped_temp_dir.hpp"

namespace fs = std::filesystem;

namespace {

bool is_windows() { return platform::platform_kind() == platform::PlatformKind::Windows; }

// A stand-in stub: the writer copies it without looking into it.
const std::string k_stub = std::string(3000, 'S');

struct Listed {
  std::string name;
  unsigned host = 0;
  unsigned long external = 0;
  unsigned long method = 0;
  unsigned long dos_date = 0;
  std::uint64_t size = 0;
  unsigned long flag = 0;
};

// The archive inside `package`, written out as a file of its own and listed through minizip.
std::vector<Listed> list_archive(const std::string& package, const std::string& scratch) {
  PackageInfo info;
  std::string error;
  EXPECT_TRUE(inspect_package(package, ArchiveCheck::ListOnly, info, error)) << error;
  std::string bytes = read_file(package).substr(
      static_cast<std::size_t>(info.trailer.archive_offset), info.trailer.archive_length);
  std::string zip_path = scratch + "/listed.zip";
  EXPECT_TRUE(write_file(zip_path, bytes));
  std::vector<Listed> listed;
  unzFile zip = unzOpen64(zip_path.c_str());
  EXPECT_NE(zip, nullptr);
  for (int step = unzGoToFirstFile(zip); step == UNZ_OK; step = unzGoToNextFile(zip)) {
    unz_file_info64 file_info;
    char name[512] = {};
    EXPECT_EQ(
        unzGetCurrentFileInfo64(zip, &file_info, name, sizeof name - 1, nullptr, 0, nullptr, 0),
        UNZ_OK);
    listed.push_back({name, static_cast<unsigned>(file_info.version >> 8), file_info.external_fa,
                      file_info.compression_method, file_info.dosDate, file_info.uncompressed_size,
                      file_info.flag});
  }
  unzClose(zip);
  return listed;
}

// A DOS date and time, read as local time, in seconds since 1970.
long long local_seconds(unsigned long dos) {
  return static_cast<long long>(dos_date_time_to_local_seconds(static_cast<std::uint32_t>(dos)));
}

class GeneratorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stub = dir.file("stub.exe");
    ASSERT_TRUE(write_file(stub, k_stub));
    payload = dir.file("payload");
    out = dir.file("out");
    fs::create_directories(fs::path(payload) / "a" / "empty");
    fs::create_directories(fs::path(payload) / "c" / "d");
    fs::create_directories(out);
    ASSERT_TRUE(write_file(payload + "/b.txt", "bee\n"));
    ASSERT_TRUE(write_file(payload + "/a/x.sh", "echo x\n"));
    std::string big;
    for (int i = 0; i < 50000; ++i) {
      big += std::to_string(i * 7919 % 100003);
    }
    ASSERT_TRUE(write_file(payload + "/c/d/e.bin", big));
    big_size = big.size();
  }

  PackageRequest request() const {
    PackageRequest r;
    r.stub_path = stub;
    r.source = ArchiveSource::Folder;
    r.source_path = payload;
    r.command_template = "a/x.sh %argv%";
    r.output_path = out + "/package.exe";
    return r;
  }

  ScopedTempDir dir;
  std::string stub;
  std::string payload;
  std::string out;
  std::size_t big_size = 0;
};

TEST_F(GeneratorTest, FolderRoundTrips) {
  fs::permissions(payload + "/a/x.sh", static_cast<fs::perms>(0755));
  // A known modification time, a day ago.
  std::time_t day_ago = std::time(nullptr) - 86400;
  fs::last_write_time(payload + "/b.txt",
                      fs::file_time_type::clock::now() - std::chrono::hours(24));

  PackageRequest r = request();
  r.extra_tool_command = "flash %device%";
  std::string error;
  ASSERT_TRUE(write_package(r, error)) << error;
  EXPECT_EQ(read_file(r.output_path).substr(0, k_stub.size()), k_stub);

  PackageInfo info;
  ASSERT_TRUE(inspect_package(r.output_path, ArchiveCheck::ReadEveryEntry, info, error)) << error;
  EXPECT_EQ(info.trailer.command_template, "a/x.sh %argv%");
  EXPECT_EQ(info.trailer.extra_tool_command, std::optional<std::string>("flash %device%"));
  EXPECT_EQ(info.trailer.archive_offset, static_cast<std::int64_t>(k_stub.size()));
  EXPECT_EQ(info.trailer.bytes_after, 0);
  EXPECT_EQ(info.archive.entry_count, 7u);
  EXPECT_EQ(info.archive.total_size, big_size + 4 + 7);

  std::vector<Listed> listed = list_archive(r.output_path, dir.path());
  std::vector<std::string> names;
  for (const Listed& entry : listed) {
    names.push_back(entry.name);
    EXPECT_EQ(entry.host, 3u) << entry.name;
    bool directory = entry.name.back() == '/';
    EXPECT_EQ((entry.external >> 16) & 0170000, directory ? 0040000u : 0100000u) << entry.name;
    EXPECT_EQ(entry.method, directory ? 0u : 8u) << entry.name;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"a/", "a/empty/", "a/x.sh", "b.txt", "c/", "c/d/",
                                             "c/d/e.bin"}));
  ASSERT_EQ(listed.size(), 7u);
  if (!is_windows()) {
    EXPECT_EQ((listed[2].external >> 16) & 0777, 0755u);
    EXPECT_EQ((listed[3].external >> 16) & 0777, 0644u);
    EXPECT_TRUE((fs::status(r.output_path).permissions() & fs::perms::owner_exec) !=
                fs::perms::none);
  }
  // DOS times have two-second steps.
  long long stored = local_seconds(listed[3].dos_date);
  EXPECT_LE(stored, static_cast<long long>(day_ago));
  EXPECT_GE(stored, static_cast<long long>(day_ago) - 3);
}

TEST_F(GeneratorTest, LevelZeroStores) {
  PackageRequest r = request();
  r.level = 0;
  std::string error;
  ASSERT_TRUE(write_package(r, error)) << error;
  for (const Listed& entry : list_archive(r.output_path, dir.path())) {
    EXPECT_EQ(entry.method, 0u) << entry.name;
  }
}

// Names are UTF-8; readers take those without the UTF-8 flag for CP437.
TEST_F(GeneratorTest, NonAsciiNamesCarryTheUtf8Flag) {
  const std::string cyrillic = "\xD0\x94\xD0\xB8\xD1\x80";
  const std::string cjk_file = "\xE6\x96\x87\xE4\xBB\xB6.bin";
  fs::create_directories(fs::u8path(payload + "/" + cyrillic));
  ASSERT_TRUE(write_file(payload + "/" + cyrillic + "/" + cjk_file, "x"));
  PackageRequest r = request();
  std::string error;
  ASSERT_TRUE(write_package(r, error)) << error;
  std::vector<std::string> marked;
  for (const Listed& entry : list_archive(r.output_path, dir.path())) {
    if ((entry.flag & 0x800) != 0) {
      marked.push_back(entry.name);
    }
  }
  EXPECT_EQ(marked, (std::vector<std::string>{cyrillic + "/", cyrillic + "/" + cjk_file}));
}

TEST_F(GeneratorTest, ZipInputIsAppendedUnchanged) {
  std::vector<ArchiveItem> items(1);
  items[0].name = "tool.cmd";
  items[0].data = "@echo off\n";
  std::string zip_path = dir.file("input.zip");
  {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(zip_path.c_str(), "wb"),
                                                         std::fclose);
    std::string error;
    ASSERT_TRUE(write_zip(file.get(), 0, items, 6, error)) << error;
  }
  std::string zip_bytes = read_file(zip_path);
  PackageRequest r = request();
  r.source = ArchiveSource::ZipFile;
  r.source_path = zip_path;
  std::string error;
  ASSERT_TRUE(write_package(r, error)) << error;
  std::string package = read_file(r.output_path);
  EXPECT_EQ(package.substr(k_stub.size(), zip_bytes.size()), zip_bytes);
  EXPECT_EQ(package.size(), k_stub.size() + zip_bytes.size() + 300);
}

TEST_F(GeneratorTest, RefusalsLeaveNothingBehind) {
  std::string not_zip = dir.file("not.zip");
  ASSERT_TRUE(write_file(not_zip, std::string(5000, 'z')));
  // A ZIP whose comment ends in the extra-tool pattern and a NUL: the stub would take its last
  // bytes for an extra tool section.
  std::string tricky_zip = dir.file("tricky.zip");
  {
    std::vector<ArchiveItem> items(1);
    items[0].name = "f";
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(tricky_zip.c_str(), "wb"),
                                                         std::fclose);
    std::string error;
    ASSERT_TRUE(write_zip(file.get(), 0, items, 6, error)) << error;
  }
  std::string comment = RawTrailer::extra_tool_pattern_text() + std::string(7, '\0');
  std::string zip_bytes = read_file(tricky_zip);
  zip_bytes[zip_bytes.size() - 2] = static_cast<char>(comment.size());
  ASSERT_TRUE(write_file(tricky_zip, zip_bytes + comment));

  struct Case {
    const char* what;
    void (*change)(PackageRequest&, const std::string&, const std::string&);
    const char* message;
  } cases[] = {
      {"long template",
       [](PackageRequest& r, const std::string&, const std::string&) {
         r.command_template = std::string(257, 't');
       },
       "257 bytes long"},
      {"template with NUL",
       [](PackageRequest& r, const std::string&, const std::string&) {
         r.command_template = std::string("tool\0x", 6);
       },
       "NUL"},
      {"empty template",
       [](PackageRequest& r, const std::string&, const std::string&) { r.command_template = ""; },
       "empty"},
      {"blank template",
       [](PackageRequest& r, const std::string&, const std::string&) {
         r.command_template = "  \t";
       },
       "empty"},
      {"long extra tool",
       [](PackageRequest& r, const std::string&, const std::string&) {
         r.extra_tool_command = std::string(300, 'e');
       },
       "300 bytes long"},
      {"extra tool with NUL",
       [](PackageRequest& r, const std::string&, const std::string&) {
         r.extra_tool_command = std::string("a\0b", 3);
       },
       "NUL"},
      {"empty extra tool",
       [](PackageRequest& r, const std::string&, const std::string&) { r.extra_tool_command = ""; },
       "empty"},
      {"level", [](PackageRequest& r, const std::string&, const std::string&) { r.level = 10; },
       "level"},
      {"missing stub",
       [](PackageRequest& r, const std::string&, const std::string&) { r.stub_path += ".gone"; },
       "no such file"},
      {"stub is a folder",
       [](PackageRequest& r, const std::string&, const std::string&) {
         r.stub_path = r.source_path;
       },
       "not a regular file"},
      {"missing folder",
       [](PackageRequest& r, const std::string&, const std::string&) { r.source_path += ".gone"; },
       "not a directory"},
      {"not a ZIP",
       [](PackageRequest& r, const std::string& bad, const std::string&) {
         r.source = ArchiveSource::ZipFile;
         r.source_path = bad;
       },
       "not a ZIP archive"},
      {"misread archive",
       [](PackageRequest& r, const std::string&, const std::string& tricky) {
         r.source = ArchiveSource::ZipFile;
         r.source_path = tricky;
       },
       "extra tool section"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PackageRequest r = request();
    c.change(r, not_zip, tricky_zip);
    std::string error;
    EXPECT_FALSE(write_package(r, error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_EQ(tree_listing(out), std::vector<std::string>{});
  }
}

TEST_F(GeneratorTest, RefusesFolderEntriesThatCannotBeStored) {
  if (is_windows()) {
    GTEST_SKIP() << "long paths, and names that Windows cannot hold anyway";
  }
  // 250 bytes of directory names and a 10-byte file name: 260 bytes in all.
  fs::path deep = fs::path(payload) / std::string(120, 'd') / std::string(128, 'e');
  fs::create_directories(deep);
  ASSERT_TRUE(write_file((deep / "file.bin12").string(), "x"));
  std::string error;
  EXPECT_FALSE(write_package(request(), error));
  EXPECT_NE(error.find("260 bytes long"), std::string::npos) << error;
  fs::remove_all(fs::path(payload) / std::string(120, 'd'));

  const char* names[] = {"back\\slash", "co:lon"};
  for (const char* name : names) {
    ASSERT_TRUE(write_file(payload + "/" + name, "x"));
    EXPECT_FALSE(write_package(request(), error));
    EXPECT_NE(error.find(name), std::string::npos) << error;
    fs::remove(payload + "/" + name);
  }
  fs::create_symlink("b.txt", payload + "/link");
  EXPECT_FALSE(write_package(request(), error));
  EXPECT_NE(error.find("not a regular file or directory"), std::string::npos) << error;
  EXPECT_EQ(tree_listing(out), std::vector<std::string>{});
}

TEST_F(GeneratorTest, ArchivesOf2GiBOrMoreAreRefused) {
  std::string huge = dir.file("huge.zip");
  {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(huge.c_str(), "wb"),
                                                         std::fclose);
    ASSERT_EQ(platform::seek_file(file.get(), (std::int64_t{1} << 31) - 1, SEEK_SET), 0);
    ASSERT_EQ(std::fwrite("x", 1, 1, file.get()), 1u);
  }
  PackageRequest r = request();
  r.source = ArchiveSource::ZipFile;
  r.source_path = huge;
  std::string error;
  EXPECT_FALSE(write_package(r, error));
  EXPECT_NE(error.find("2 GiB"), std::string::npos) << error;
  r = request();
  r.stub_path = huge;
  EXPECT_FALSE(write_package(r, error));
  EXPECT_NE(error.find("2 GiB"), std::string::npos) << error;
  EXPECT_EQ(tree_listing(out), std::vector<std::string>{});
}

struct CliResult {
  int status;
  std::string out;
  std::string err;
};

CliResult run_cli(const std::vector<std::string>& arguments) {
  std::ostringstream out;
  std::ostringstream err;
  int status = run_generator(arguments, out, err);
  return {status, out.str(), err.str()};
}

// A package the generator makes is one that the stub it is packed with extracts, and --verify
// tells, for any package, whether its own stub would extract it.
TEST_F(GeneratorTest, AppliesTheEntryRulesOfItsStub) {
  const std::string more_entries =
      "the archive's directory holds more entries than its end record counts";
  std::string windows_stub = dir.file("windows_stub.exe");
  ASSERT_TRUE(write_file(windows_stub, "MZ" + k_stub));
  struct Case {
    const char* what;
    std::vector<ArchiveEntry> entries;
    // Empty when the stub extracts the archive.
    std::string windows_refusal;
    std::string linux_refusal;
    // Applied to the archive's bytes after they were written.
    void (*damage)(std::string& archive) = nullptr;
  } cases[] = {
      {"plain", {unix_file("a/b.txt", "x")}, "", ""},
      {"no entries", {}, "", ""},
      {"climbs out",
       {unix_file("a.txt", "a"), unix_file("../evil.txt", "x")},
       "the Windows stub would refuse entry ../evil.txt: the name climbs out with \"..\"",
       "the Linux stub would refuse entry ../evil.txt: the name climbs out with \"..\""},
      {"device name",
       {unix_file("include/aux.h", "x")},
       "the Windows stub would refuse entry include/aux.h: the name is a Windows device name",
       ""},
      // The stub would extract only the entries the end record counts.
      {"end record counts one of two",
       {unix_file("a.txt", "a"), unix_file("b.txt", "b")},
       more_entries,
       more_entries,
       [](std::string& archive) { set_end_record_count(archive, 1); }},
      {"zip64 end record counts none of two",
       {unix_file("a.txt", "a"), unix_file("b.txt", "b")},
       more_entries,
       more_entries,
       [](std::string& archive) {
         add_zip64_end_record(archive);
         set_end_record_count(archive, 0);
       }},
      {"zip64 end record",
       {unix_file("a.txt", "a"), unix_file("b.txt", "b")},
       "",
       "",
       [](std::string& archive) { add_zip64_end_record(archive); }},
  };
  std::string zip = dir.file("input.zip");
  for (const Case& c : cases) {
    ASSERT_TRUE(write_archive(zip, c.entries)) << c.what;
    if (c.damage != nullptr) {
      std::string bytes = read_file(zip);
      c.damage(bytes);
      ASSERT_TRUE(write_file(zip, bytes)) << c.what;
    }
    for (const std::string* stub_path : {&windows_stub, &stub}) {
      const std::string& refusal = stub_path == &windows_stub ? c.windows_refusal : c.linux_refusal;
      SCOPED_TRACE(std::string(c.what) + " with " + *stub_path);
      PackageRequest r = request();
      r.stub_path = *stub_path;
      r.source = ArchiveSource::ZipFile;
      r.source_path = zip;
      std::string error;
      EXPECT_EQ(write_package(r, error), refusal.empty());
      EXPECT_EQ(error, refusal.empty() ? "" : zip + ": " + refusal);
      std::string by_hand = dir.file("by_hand.exe");
      ASSERT_TRUE(assemble_package(*stub_path, zip, "tool", std::nullopt, by_hand));
      CliResult verified = run_cli({"--info", by_hand, "--verify"});
      EXPECT_EQ(verified.status, refusal.empty() ? 0 : 1) << verified.err;
      EXPECT_EQ(verified.err, refusal.empty()
                                  ? ""
                                  : "vek_fwsfx_gen: " + by_hand + ": archive: " + refusal + "\n");
      (void)platform::remove_file(r.output_path);
    }
  }
}

TEST_F(GeneratorTest, CommandLineUsageErrors) {
  const std::vector<std::string> cases[] = {
      {},
      {"--bogus"},
      {"stray"},
      {"--stub"},
      {"--stub", stub, "--dir", payload, "--command", "x"},
      {"--stub", stub, "--command", "x", "-o", out + "/p"},
      {"--stub", stub, "--dir", payload, "--zip", stub, "--command", "x", "-o", out + "/p"},
      {"--stub", stub, "--dir", payload, "--command", "x", "-o", out + "/p", "--level", "12"},
      {"--stub", stub, "--stub", stub, "--dir", payload, "--command", "x", "-o", out + "/p"},
      {"--stub", stub, "--dir", payload, "--command", "x", "-o", out + "/p", "--verify"},
      {"--info", stub, "--stub", stub},
  };
  for (const std::vector<std::string>& arguments : cases) {
    CliResult result = run_cli(arguments);
    std::string joined;
    for (const std::string& a : arguments) {
      joined += a + " ";
    }
    EXPECT_EQ(result.status, k_generator_usage_error) << joined;
    EXPECT_EQ(result.err.rfind("vek_fwsfx_gen: ", 0), 0u) << joined << result.err;
    EXPECT_NE(result.err.find("--help"), std::string::npos) << joined;
    EXPECT_EQ(result.out, "") << joined;
  }
  EXPECT_EQ(tree_listing(out), std::vector<std::string>{});
}

TEST_F(GeneratorTest, CommandLineBuildsAndInspects) {
  CliResult help = run_cli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: vek_fwsfx_gen --stub STUB", 0), 0u) << help.out;
  CliResult version = run_cli({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "vek_fwsfx_gen 1.0 (payload layout 2.0)\n");

  std::string package = out + "/p.exe";
  CliResult built = run_cli(
      {"--stub", stub, "--dir", payload, "--command", "a/x.sh", "--level", "9", "-o", package});
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(built.out + built.err, "");
  ASSERT_TRUE(append_bytes(package, "12345"));

  CliResult info = run_cli({"--info", package, "--verify"});
  EXPECT_EQ(info.status, 0) << info.err;
  std::istringstream lines(info.out);
  std::vector<std::string> expected_starts = {
      "layout version:      2.0", "command template:    a/x.sh", "archive offset:      3000",
      "archive length:      ",    "bytes after trailer: 5",      "archive entries:     7",
      "archive total size:  ",    "verified:            "};
  std::string line;
  for (const std::string& start : expected_starts) {
    ASSERT_TRUE(std::getline(lines, line)) << info.out;
    EXPECT_EQ(line.rfind(start, 0), 0u) << line;
  }

  // Damage one byte of the deflated data of the big entry: listing still works, verifying not.
  std::string bytes = read_file(package);
  bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x55);
  ASSERT_TRUE(write_file(package, bytes));
  EXPECT_EQ(run_cli({"--info", package}).status, 0);
  CliResult damaged = run_cli({"--info", package, "--verify"});
  EXPECT_EQ(damaged.status, k_generator_failed);
  EXPECT_NE(damaged.err.find("c/d/e.bin"), std::string::npos) << damaged.err;

  CliResult plain = run_cli({"--info", stub});
  EXPECT_EQ(plain.status, k_generator_failed);
  EXPECT_EQ(plain.err,
            "vek_fwsfx_gen: " + stub + ": no payload trailer found (no version pattern)\n");

  CliResult refused =
      run_cli({"--stub", stub, "--dir", payload, "--command", "", "-o", out + "/empty.exe"});
  EXPECT_EQ(refused.status, k_generator_failed);
  EXPECT_FALSE(path_exists(out + "/empty.exe"));
}

}  // namespace
