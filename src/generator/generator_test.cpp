// SPDX-License-Identifier: Zlib
// The generator: folder and ZIP packages that read back as written, refusals that leave nothing
// behind, and the command line.

#include <gtest/gtest.h>
#include <unzip.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "common/dos_time.hpp"
#include "common/stdio_file.hpp"
#include "generator/folder_scan.hpp"
#include "generator/generator_cli.hpp"
#include "generator/package_info.hpp"
#include "generator/package_writer.hpp"
#include "generator/pe_signature.hpp"
#include "generator/stub_location.hpp"
#include "generator/zip_writer.hpp"
#include "platform/platform.hpp"
#include "testing/archive_builder.hpp"
#include "testing/artifacts.hpp"
#include "testing/package_builder.hpp"
#include "testing/process_runner.hpp"
#include "testing/scoped_temp_dir.hpp"
#include "testing/stub_images.hpp"

namespace fs = std::filesystem;

namespace {

bool is_windows() { return platform::platform_kind() == platform::PlatformKind::Windows; }

// Stand-in stubs: the smallest executables that carry a stub marker; the writer checks them and
// copies them unchanged.
const std::string k_stub = stub_image(TargetPlatform::Linux, StubLevel::Plain, 3000);
const std::string k_windows_stub = stub_image(TargetPlatform::Windows, StubLevel::Plain, 3000);

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
  // The package is written into a new file under a name nobody can guess: a link planted at a
  // predictable one leads nowhere.
  std::string victim = dir.file("victim.txt");
  std::string planted = r.output_path + ".partial-" + std::to_string(platform::process_id());
  ASSERT_TRUE(write_file(victim, "mine"));
  if (!is_windows()) {
    fs::create_symlink(victim, planted);
  }
  std::string error;
  ASSERT_TRUE(write_package(r, error)) << error;
  EXPECT_EQ(read_file(r.output_path).substr(0, k_stub.size()), k_stub);
  EXPECT_EQ(read_file(victim), "mine");
  EXPECT_EQ(tree_listing(out).size(), is_windows() ? 1u : 2u);

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
  // A Linux name in another character set (Latin-1) is not UTF-8 and must not claim to be.
  if (!is_windows()) {
    ASSERT_TRUE(write_file(payload + "/latin-\xe9.txt", "x"));
  }
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
  // The stub under a second name.
  std::error_code no_hard_link;
  fs::create_hard_link(stub, dir.file("stub-link.exe"), no_hard_link);
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
       ": does not exist"},
      {"folder is a file",
       [](PackageRequest& r, const std::string&, const std::string&) { r.source_path += "/b.txt"; },
       ": not a directory"},
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
      {"output is the stub",
       [](PackageRequest& r, const std::string&, const std::string&) {
         r.output_path = r.stub_path;
       },
       "would replace the stub"},
      {"output is the stub by another path",
       [](PackageRequest& r, const std::string&, const std::string&) {
         r.output_path = r.source_path + "/../stub.exe";
       },
       "would replace the stub"},
      {"output is a hard link to the stub",
       [](PackageRequest& r, const std::string&, const std::string&) {
         r.output_path = (fs::path(r.stub_path).parent_path() / "stub-link.exe").string();
       },
       "would replace the stub"},
      {"output is the ZIP input",
       [](PackageRequest& r, const std::string&, const std::string& tricky) {
         r.source = ArchiveSource::ZipFile;
         r.source_path = tricky;
         r.output_path = tricky;
       },
       "would replace the ZIP file"},
      {"output is a folder",
       [](PackageRequest& r, const std::string&, const std::string&) {
         r.output_path = r.source_path + "/a";
       },
       "would replace a folder; only a regular file is replaced by a package"},
      {"output is a FIFO (a folder on Windows)",
       [](PackageRequest& r, const std::string&, const std::string&) {
         r.output_path = (fs::path(r.stub_path).parent_path() / "fifo").string();
       },
       "; only a regular file is replaced by a package"},
  };
  std::string fifo = dir.file("fifo");
  if (is_windows()) {
    fs::create_directory(fifo);
  } else {
    ASSERT_EQ(run_process("mkfifo", {fifo}, dir.path()).status, 0);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PackageRequest r = request();
    c.change(r, not_zip, tricky_zip);
    std::string error;
    EXPECT_FALSE(write_package(r, error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_EQ(tree_listing(out), std::vector<std::string>{});
  }
  EXPECT_EQ(read_file(stub), k_stub);
  EXPECT_EQ(read_file(dir.file("stub-link.exe")), no_hard_link ? "" : k_stub);
  EXPECT_EQ(fs::status(fifo).type(), is_windows() ? fs::file_type::directory : fs::file_type::fifo);
  // A device is judged by its kind alone, never written to: this test may run as root.
  std::string error;
  if (!is_windows()) {
    EXPECT_FALSE(check_output_target("/dev/null", error));
    EXPECT_EQ(error, "the package /dev/null would replace a device; only a regular file is "
                     "replaced by a package");
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
  EXPECT_EQ(tree_listing(out), std::vector<std::string>{});
}

// Payload folders as vendors have them: shared libraries with their version links, links to
// folders, links that lead elsewhere. A link is stored as a copy of its target under its own name.
TEST_F(GeneratorTest, SymbolicLinksInTheFolder) {
  if (is_windows()) {
    GTEST_SKIP() << "symbolic links need privileges on Windows";
  }
  std::string outside = dir.file("outside.txt");
  ASSERT_TRUE(write_file(outside, "far away\n"));
  ASSERT_TRUE(write_file(payload + "/libfoo.so.1", "ELF library"));
  const std::vector<std::string> plain = {"a/", "a/empty/", "a/x.sh",    "b.txt",
                                          "c/", "c/d/",     "c/d/e.bin", "libfoo.so.1"};
  struct Case {
    const char* what;
    // The link's name below the folder and what it points to.
    std::string link;
    std::string target;
    OutsideLinks outside_links;
    // The entries added to `plain`, with the content of the first; empty when refused.
    std::vector<std::string> added;
    std::string content;
    std::string refusal;
  } cases[] = {
      {"library version link",
       "libfoo.so",
       "libfoo.so.1",
       OutsideLinks::Refuse,
       {"libfoo.so"},
       "ELF library",
       ""},
      {"link into a subfolder",
       "lib.so",
       "a/x.sh",
       OutsideLinks::Refuse,
       {"lib.so"},
       "echo x\n",
       ""},
      {"link to a folder",
       "current",
       "c",
       OutsideLinks::Refuse,
       {"current/", "current/d/", "current/d/e.bin"},
       "",
       ""},
      {"link out of the folder",
       "far.txt",
       outside,
       OutsideLinks::Refuse,
       {},
       "",
       "it leads out of the folder (--follow-links stores its target)"},
      {"link out of the folder, followed",
       "far.txt",
       outside,
       OutsideLinks::Follow,
       {"far.txt"},
       "far away\n",
       ""},
      {"link that climbs out",
       "up.txt",
       "../outside.txt",
       OutsideLinks::Refuse,
       {},
       "",
       "it leads out of the folder"},
      {"dangling link",
       "gone.so",
       "libgone.so.1",
       OutsideLinks::Follow,
       {},
       "",
       "its target cannot be read"},
      {"link to a folder above it",
       "a/loop",
       "..",
       OutsideLinks::Refuse,
       {},
       "",
       "a symbolic link to a folder that holds it would never end"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string link = payload + "/" + c.link;
    fs::create_symlink(c.target, link);
    PackageRequest r = request();
    r.outside_links = c.outside_links;
    std::string error;
    bool written = write_package(r, error);
    EXPECT_EQ(written, c.refusal.empty()) << error;
    if (written) {
      std::vector<std::string> expected = plain;
      expected.insert(expected.end(), c.added.begin(), c.added.end());
      std::sort(expected.begin(), expected.end());
      std::vector<std::string> names;
      for (const Listed& entry : list_archive(r.output_path, dir.path())) {
        names.push_back(entry.name);
        if (entry.name == c.added[0] && !c.content.empty()) {
          EXPECT_EQ(entry.size, c.content.size());
          EXPECT_EQ((entry.external >> 16) & 0170000, 0100000u) << "stored as a plain file";
        }
      }
      EXPECT_EQ(names, expected);
      PackageInfo info;
      EXPECT_TRUE(inspect_package(r.output_path, ArchiveCheck::ReadEveryEntry, info, error))
          << error;
      fs::remove(r.output_path);
    } else {
      EXPECT_EQ(error.rfind("cannot store", 0), 0u) << error;
      EXPECT_NE(error.find(link + " -> " + c.target), std::string::npos) << error;
      EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
    }
    fs::remove(link);
    EXPECT_EQ(tree_listing(out), std::vector<std::string>{});
  }
}

// A package written into the folder it packs leaves itself out, so building again does not pack
// the previous package into the next one.
TEST_F(GeneratorTest, PackageInsideItsFolderIsLeftOut) {
  PackageRequest r = request();
  r.output_path = payload + "/package.exe";
  std::string error;
  ASSERT_TRUE(write_package(r, error)) << error;
  std::string first = read_file(r.output_path);
  ASSERT_TRUE(write_package(r, error)) << error;
  EXPECT_EQ(read_file(r.output_path).size(), first.size());
  std::vector<std::string> names;
  for (const Listed& entry : list_archive(r.output_path, dir.path())) {
    names.push_back(entry.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"a/", "a/empty/", "a/x.sh", "b.txt", "c/", "c/d/",
                                             "c/d/e.bin"}));
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

// A PE32+ image of one section (raw data 0x200 to 0x400) with a certificate entry: the signature
// counts only where a signing tool puts it.
TEST(PeSignature, OnlyARecordInItsPlaceCounts) {
  auto put = [](std::string& bytes, std::size_t at, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) {
      bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
    }
  };
  // WIN_CERTIFICATE: 16 bytes long, revision 2.0, signed PKCS #7 data; at 0x200 and at 0x400.
  auto image = [&put](std::uint32_t optional_size, std::uint32_t offset, unsigned type) {
    std::string bytes(0x420, '\0');
    bytes.replace(0, 2, "MZ");
    put(bytes, 0x3C, 0x40, 4);
    bytes.replace(0x40, 4, std::string("PE\0\0", 4));
    put(bytes, 0x46, 1, 2);
    put(bytes, 0x54, optional_size, 2);
    put(bytes, 0x58, 0x20B, 2);
    put(bytes, 0x58 + 108, 16, 4);
    put(bytes, 0x58 + 112 + 32, offset, 4);
    put(bytes, 0x58 + 112 + 36, 16, 4);
    put(bytes, 0x148 + 16, 0x200, 4);
    put(bytes, 0x148 + 20, 0x200, 4);
    for (std::size_t at : {0x200, 0x400}) {
      put(bytes, at, 16, 4);
      put(bytes, at + 4, 0x200, 2);
      put(bytes, at + 6, type, 2);
    }
    return bytes;
  };
  struct Case {
    const char* what;
    std::string bytes;
    bool has_signature;
  } cases[] = {
      {"after the image", image(240, 0x400, 2), true},
      {"entry beyond the optional header", image(112 + 32, 0x400, 2), false},
      {"table within the section data", image(240, 0x200, 2), false},
      {"table off its 8-byte boundary", image(240, 0x404, 2), false},
      {"X.509 record instead of signed data", image(240, 0x400, 1), false},
  };
  ScopedTempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(write_file(dir.file("image.exe"), c.bytes));
    StdioFile file = StdioFile::open(dir.file("image.exe"), "rb");
    std::optional<SignatureSpan> span = find_pe_signature(file.get());
    ASSERT_EQ(span.has_value(), c.has_signature);
    if (span) {
      EXPECT_EQ(span->offset, 0x400);
      EXPECT_EQ(span->length, 16);
    }
  }
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

CliResult run_cli(const std::vector<std::string>& arguments,
                  const GeneratorEnvironment& environment) {
  std::ostringstream out;
  std::ostringstream err;
  int status = run_generator(arguments, environment, out, err);
  return {status, out.str(), err.str()};
}

std::string hex_crc(const std::string& data) {
  char text[12];
  std::snprintf(
      text, sizeof text, "%08lx",
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  return text;
}

// Only a stub is packed: an x86-64 executable that carries the stub marker of its platform and
// no trailer of its own. The built stubs pass, and a package tells what its stub is.
TEST_F(GeneratorTest, PacksOnlyStubs) {
  std::string package = dir.file("package.exe");
  ASSERT_TRUE(build_package(stub, payload, "a/x.sh", std::nullopt, package));
  std::string other_machine = k_stub;
  other_machine[18] = static_cast<char>(183);  // AArch64
  std::string pe32 = k_windows_stub;
  pe32[0x58] = 0x0B;  // the optional header's magic: PE32, not PE32+
  pe32[0x59] = 0x01;
  const std::string not_a_stub =
      std::string(is_windows() ? "a PE32+ (Windows x86-64)" : "an ELF x86-64") +
      " executable, but not an sfxkit stub (no stub marker)";
  const std::string refused = " is refused: ";
  struct Case {
    const char* what;
    std::string path;
    // The file's bytes, written to `path`; none for a file that is there.
    std::string bytes;
    // Empty when the stub is packed.
    std::string refusal;
    TargetPlatform platform = TargetPlatform::Linux;
    StubLevel level = StubLevel::Plain;
  } cases[] = {
      {"text file", dir.file("notes.txt"), std::string(2000, 't'),
       "it is not an ELF x86-64 or PE32+ (Windows x86-64) executable"},
      {"ELF for another machine", dir.file("arm"), other_machine,
       "it is not an ELF x86-64 or PE32+ (Windows x86-64) executable"},
      {"32-bit Windows executable", dir.file("pe32.exe"), pe32,
       "it is not an ELF x86-64 or PE32+ (Windows x86-64) executable"},
      {"system program", "/bin/ls", "",
       "an ELF x86-64 executable, but not an sfxkit stub (no stub marker)"},
      {"the generator", generator_artifact(), "", not_a_stub},
      {"package", package, "",
       "it holds a payload trailer of its own: it is a package, not a stub"},
      {"stub of an older sfxkit", dir.file("older"),
       stub_image(TargetPlatform::Linux, "\nSELF EXTRACTOR OPTIONS\n", 3000),
       "it carries no stub marker; it was built by an older sfxkit: rebuild it with this one, or "
       "pack with --target"},
      {"damaged marker", dir.file("damaged"),
       stub_image(TargetPlatform::Linux, stub_marker_prefix() + "mac", 3000),
       "its stub marker is damaged"},
      {"marker of the other platform", dir.file("other"),
       stub_image(TargetPlatform::Linux,
                  encode_stub_marker(test_stub_marker(TargetPlatform::Windows)), 3000),
       "an ELF x86-64 executable whose marker says windows"},
      {"Linux stand-in", stub, "", ""},
      {"Windows stand-in", dir.file("windows.exe"), k_windows_stub, "", TargetPlatform::Windows},
      {"elevated Windows stand-in", dir.file("admin.exe"),
       stub_image(TargetPlatform::Windows, StubLevel::Elevated, 3000), "", TargetPlatform::Windows,
       StubLevel::Elevated},
      {"the built stub", stub_artifact(), "", "", this_platform()},
      {"the built elevated stub", admin_stub_artifact(), "", "", TargetPlatform::Windows,
       StubLevel::Elevated},
  };
  // The linker kept the built stubs' marker, once each; the generator carries none.
  const std::string prefix = stub_marker_prefix();
  for (const std::string& path : {stub_artifact(), admin_stub_artifact(), generator_artifact()}) {
    std::string bytes = path.empty() ? "" : read_file(path);
    std::size_t first = bytes.find(prefix);
    EXPECT_EQ(first == std::string::npos, path.empty() || path == generator_artifact()) << path;
    if (first != std::string::npos) {
      EXPECT_EQ(bytes.find(prefix, first + 1), std::string::npos) << path;
    }
  }
  std::string built = out + "/built.exe";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.path.empty() || (c.bytes.empty() && !path_exists(c.path))) {
      continue;  // no elevated stub in a Linux build; no /bin/ls on Windows
    }
    if (!c.bytes.empty()) {
      ASSERT_TRUE(write_file(c.path, c.bytes));
    }
    CliResult result =
        run_cli({"--stub", c.path, "--dir", payload, "--command", "a/x.sh", "-o", built});
    if (!c.refusal.empty()) {
      EXPECT_EQ(result.status, k_generator_failed);
      EXPECT_EQ(result.err, "vek_fwsfx_gen: the stub " + c.path + refused + c.refusal + "\n");
      EXPECT_EQ(tree_listing(out), std::vector<std::string>{});
      continue;
    }
    ASSERT_EQ(result.status, 0) << result.err;
    CliResult info = run_cli({"--info", "--json", "--verify", built});
    EXPECT_EQ(info.status, 0) << info.err;
    nlohmann::json described = nlohmann::json::parse(info.out)["stub"];
    EXPECT_EQ(described["platform"], stub_platform_text(c.platform));
    EXPECT_EQ(described["execution_level"], stub_level_text(c.level));
    EXPECT_EQ(described["version"], "1.0");
    EXPECT_FALSE(described["revision"].get<std::string>().empty());
    CliResult text = run_cli({"--info", built});
    EXPECT_NE(text.out.find(
                  std::string("stub level:          ") + stub_level_text(c.level) +
                  (c.level == StubLevel::Elevated ? " (asks for administrator rights)\n" : "\n")),
              std::string::npos)
        << text.out;
    fs::remove(built);
  }
}

// A package the generator makes is one that the stub it is packed with extracts, and --verify
// tells, for any package, whether its own stub would extract it.
TEST_F(GeneratorTest, AppliesTheEntryRulesOfItsStub) {
  const std::string more_entries =
      "the archive's directory holds more entries than its end record counts";
  std::string windows_stub = dir.file("windows_stub.exe");
  ASSERT_TRUE(write_file(windows_stub, k_windows_stub));
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
      // The stub writes the name of the Unicode path field, not the stored one.
      {"a Unicode path field that climbs out",
       {[] {
         ArchiveEntry entry = unix_file("a.txt", "x");
         entry.extra_field = unicode_path_field("a.txt", "../evil.txt");
         return entry;
       }()},
       "the Windows stub would refuse entry ../evil.txt: the name climbs out with \"..\"",
       "the Linux stub would refuse entry ../evil.txt: the name climbs out with \"..\""},
      {"a character Windows cannot hold",
       {unix_file("what?.txt", "x")},
       "the Windows stub would refuse entry what?.txt: the name holds a character Windows file "
       "names cannot hold",
       ""},
      {"an alternate data stream",
       {unix_file("tool.exe", "x"), unix_file("tool.exe:hidden", "y")},
       "the Windows stub would refuse entry tool.exe:hidden: the name holds a character Windows "
       "file names cannot hold",
       ""},
      {"a folder name ending in a dot",
       {unix_file("dir./a.txt", "x")},
       "the Windows stub would refuse entry dir./a.txt: a part of the name ends in a dot or a "
       "blank",
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

// The stub runs the command's first word from the extraction directory: a program that is not in
// the package, or a shell script for a Windows stub, deserves a word; the build goes on.
TEST_F(GeneratorTest, WarnsOfAProgramThePackageLacks) {
  std::string windows_stub = dir.file("windows_stub.exe");
  ASSERT_TRUE(write_file(windows_stub, k_windows_stub));
  ASSERT_TRUE(write_file(payload + "/setup.exe", "MZ"));
  const std::string lacks =
      " is not a file in the package; the stub runs it from the extraction "
      "directory\n";
  const std::string w = "vek_fwsfx_gen: warning: the ";
  struct Case {
    std::string command;
    std::vector<std::string> extra;
    std::string windows_err;
    std::string linux_err;
  } cases[] = {
      {"a/x.sh -q",
       {},
       w + "command runs a/x.sh, a shell script, which the Windows stub cannot run\n",
       ""},
      {"./b.txt", {"--extra-tool", "\"c/d/e.bin\" %device%"}, "", ""},
      {"SETUP /S", {}, "", w + "command's first word SETUP" + lacks},
      {"setup.exe",
       {"--extra-tool", "tool.exe"},
       w + "extra tool's first word tool.exe" + lacks,
       w + "extra tool's first word tool.exe" + lacks},
      {"missing.sh",
       {},
       w +
           "command runs missing.sh, a shell script, which the Windows stub "
           "cannot run\n" +
           w + "command's first word missing.sh" + lacks,
       w + "command's first word missing.sh" + lacks},
      {"/usr/bin/env true", {}, "", ""},
      {"%extract_dir%/a/x.sh", {}, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    for (const std::string* stub_path : {&windows_stub, &stub}) {
      std::vector<std::string> arguments = {"--stub", *stub_path,     "--dir",
                                            payload,  "--command",    c.command,
                                            "-o",     out + "/p.exe", "--quiet"};
      arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
      CliResult built = run_cli(arguments);
      EXPECT_EQ(built.status, 0) << *stub_path << built.err;
      EXPECT_EQ(built.err, stub_path == &windows_stub ? c.windows_err : c.linux_err) << *stub_path;
    }
  }
}

// Windows takes names that differ only in case for one file: which entry's contents it keeps
// would depend on the order. One name twice (an archive updated in place) is extracted by every
// stub, the last one winning, and deserves a word.
TEST_F(GeneratorTest, NamesThatMeetInOneFile) {
  std::string windows_stub = dir.file("windows_stub.exe");
  ASSERT_TRUE(write_file(windows_stub, k_windows_stub));
  const std::string twice =
      "vek_fwsfx_gen: warning: the archive holds same.bin twice; the stub keeps the last one\n";
  std::string zip = dir.file("input.zip");
  struct Case {
    const char* what;
    std::vector<ArchiveEntry> entries;
    // What the generator prints; the build fails when it ends in a refusal.
    std::string windows_err;
    std::string linux_err;
  } cases[] = {
      {"names differing in case",
       {unix_file("Read.me", "1"), unix_file("d/x", "2"), unix_file("READ.ME", "3")},
       "vek_fwsfx_gen: " + zip +
           ": the Windows stub would write entries Read.me and READ.ME into one file: Windows "
           "does not tell their names apart\n",
       ""},
      {"one name twice",
       {unix_file("same.bin", "old"), unix_file("other", "2"), unix_file("same.bin", "new")},
       twice,
       twice},
      {"folders differing in case, files apart",
       {unix_file("Docs/a", "1"), unix_file("docs/b", "2"), unix_directory("DOCS/")},
       "",
       ""},
      // A link stays a link on Linux, and must stay inside; Windows writes its target as a file.
      {"a link",
       {unix_file("lib/libfoo.so.1.2", "elf"), unix_link("lib/libfoo.so.1", "libfoo.so.1.2")},
       "vek_fwsfx_gen: warning: entry lib/libfoo.so.1 is a symbolic link: the Windows stub writes "
       "it as a file holding its target\n",
       ""},
      {"a link leading out",
       {unix_link("lib/up", "../../etc")},
       "vek_fwsfx_gen: warning: entry lib/up is a symbolic link: the Windows stub writes it as a "
       "file holding its target\n",
       "vek_fwsfx_gen: " + zip +
           ": the Linux stub would refuse entry lib/up: the link target climbs out with \"..\"\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(write_archive(zip, c.entries));
    for (const std::string* stub_path : {&windows_stub, &stub}) {
      const std::string& expected = stub_path == &windows_stub ? c.windows_err : c.linux_err;
      bool refused = expected.find("warning") == std::string::npos && !expected.empty();
      CliResult built = run_cli({"--stub", *stub_path, "--zip", zip, "--command", "/bin/x", "-o",
                                 out + "/p.exe", "--quiet"});
      EXPECT_EQ(built.status, refused ? 1 : 0) << *stub_path;
      EXPECT_EQ(built.err, expected) << *stub_path;
      EXPECT_EQ(fs::exists(out + "/p.exe"), !refused) << *stub_path;
      fs::remove(out + "/p.exe");
    }
  }
  // The two spellings of one name, './same.bin' and 'same.bin', meet as well.
  ASSERT_TRUE(write_archive(zip, {unix_file("./same.bin", "a"), unix_file("same.bin", "b")}));
  CliResult built = run_cli(
      {"--stub", stub, "--zip", zip, "--command", "same.bin", "-o", out + "/p.exe", "--quiet"});
  EXPECT_EQ(built.err, twice);
  if (!is_windows()) {
    // A folder on a file system that tells case apart.
    ASSERT_TRUE(write_file(payload + "/B.TXT", "other bee\n"));
    PackageRequest r = request();
    r.stub_path = windows_stub;
    std::string error;
    EXPECT_FALSE(write_package(r, error));
    EXPECT_EQ(error,
              "the Windows stub would write entries B.TXT and b.txt into one file: Windows does "
              "not tell their names apart");
    r.stub_path = stub;
    EXPECT_TRUE(write_package(r, error)) << error;
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
      {"--info"},
      {"--info", stub, stub},
      {"--info", "--list", stub},
      {"--list", "--verify", stub},
      {"--list", stub, "--follow-links"},
      {"--json=yes", "--info", stub},
      {"--stub", stub, "--dir", payload, "--command", "x", "-o", out + "/p", "--json"},
      {"--stub", stub, "--dir", payload, "--command", "x", "-o", out + "/p", "extra"},
      {"--target", "mac", "--dir", payload, "--command", "x", "-o", out + "/p"},
      {"--target", "linux", "--stub", stub, "--dir", payload, "--command", "x", "-o", out + "/p"},
      {"--dir", payload, "--command", "x", "-o", out + "/p"},
      {"--stub=" + stub, "--dir", payload, "--command", "x", "-o", out + "/p", "--level=12"},
      {"--stub", stub, "--zip", stub, "--command", "x", "-o", out + "/p", "--follow-links"},
      {"--target", "linux", "--admin", "--dir", payload, "--command", "x", "-o", out + "/p"},
      {"--stub", stub, "--admin", "--dir", payload, "--command", "x", "-o", out + "/p"},
      {"--info", "--admin", stub},
      {"--list", "--quiet", "--follow-links", stub},
  };
  GeneratorEnvironment bad_epoch;
  bad_epoch.source_date_epoch = "yesterday";
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
  CliResult epoch =
      run_cli({"--stub", stub, "--dir", payload, "--command", "x", "-o", out + "/p"}, bad_epoch);
  EXPECT_EQ(epoch.status, k_generator_usage_error);
  EXPECT_NE(epoch.err.find("SOURCE_DATE_EPOCH"), std::string::npos) << epoch.err;
  EXPECT_EQ(tree_listing(out), std::vector<std::string>{});
}

TEST_F(GeneratorTest, CommandLineBuildsAndInspects) {
  CliResult help = run_cli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(
      help.out.rfind("Usage: vek_fwsfx_gen (--target linux|windows [--admin] | --stub STUB)", 0),
      0u)
      << help.out;
  for (const char* documented :
       {"  --target PLATFORM", "  --admin", "  --stub STUB", "  --follow-links", "  --list",
        "  --json", "  --quiet", "SOURCE_DATE_EPOCH", "Exit status:\n  0  ", "\n  1  ",
        "\n  2  usage error"}) {
    EXPECT_NE(help.out.find(documented), std::string::npos) << documented;
  }
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
  // Options in any order, "--" before a package whose name starts with a dash.
  for (const std::vector<std::string>& reordered :
       {std::vector<std::string>{"--info", "--verify", package},
        std::vector<std::string>{package, "--verify", "--info"},
        std::vector<std::string>{"--verify", "--info", "--", package}}) {
    CliResult again = run_cli(reordered);
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, info.out);
  }
  std::istringstream lines(info.out);
  std::vector<std::string> expected_starts = {
      "stub platform:       linux",
      "stub level:          plain",
      "stub version:        sfxkit 1.0, revision 0123456789abcdef0123456789abcdef01234567",
      "layout version:      2.0",
      "command template:    a/x.sh",
      "archive offset:      3000",
      "archive length:      ",
      "bytes after trailer: 5",
      "archive entries:     7",
      "archive total size:  ",
      "verified:            "};
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
  CliResult damaged = run_cli({"--info", "--verify", package});
  EXPECT_EQ(damaged.status, k_generator_failed);
  EXPECT_NE(damaged.err.find("c/d/e.bin"), std::string::npos) << damaged.err;
  EXPECT_EQ(damaged.out.find("verified:"), std::string::npos) << damaged.out;
  EXPECT_EQ(damaged.err.rfind("vek_fwsfx_gen: " + package + ": damaged package: archive: ", 0), 0u)
      << damaged.err;

  // Without a trailer: a package cut short, a bare stub, anything else.
  std::string truncated = out + "/truncated.exe";
  ASSERT_TRUE(write_file(truncated, bytes.substr(0, bytes.size() / 2)));
  std::string text_file = dir.file("notes.txt");
  ASSERT_TRUE(write_file(text_file, std::string(4000, 'n')));
  const std::string no_trailer = ": no payload trailer found (no version pattern)";
  struct Case {
    std::string path;
    std::string error;
  } without_trailer[] = {
      {truncated,
       truncated + ": damaged or incomplete package, download or copy it again" + no_trailer},
      {stub, stub + ": an sfxkit stub without a payload, not a package" + no_trailer},
      {text_file, text_file + ": not a package" + no_trailer},
  };
  for (const Case& c : without_trailer) {
    CliResult result = run_cli({"--info", c.path});
    EXPECT_EQ(result.status, k_generator_failed);
    EXPECT_EQ(result.err, "vek_fwsfx_gen: " + c.error + "\n");
    nlohmann::json document = nlohmann::json::parse(run_cli({"--info", "--json", c.path}).out);
    EXPECT_EQ(document["error"], c.error);
    EXPECT_EQ(document["stub"].is_null(), c.path == text_file) << c.path;
  }

  CliResult refused =
      run_cli({"--stub", stub, "--dir", payload, "--command", "", "-o", out + "/empty.exe"});
  EXPECT_EQ(refused.status, k_generator_failed);
  EXPECT_FALSE(path_exists(out + "/empty.exe"));
  CliResult on_folder = run_cli({"--stub", stub, "--dir", payload, "--command", "x", "-o", out});
  EXPECT_EQ(on_folder.status, k_generator_failed);
  EXPECT_EQ(on_folder.err, "vek_fwsfx_gen: the package " + out +
                               " would replace a folder; only a regular file is replaced by a "
                               "package\n");
}

// Building or verifying a big package on a terminal shows a progress line on standard error, which
// ends before anything else is written there; nothing shows elsewhere, with --quiet, or for small
// work.
TEST_F(GeneratorTest, LongWorkShowsProgressOnATerminalOnly) {
  struct Case {
    const char* what;
    bool terminal;
    bool quiet;
    std::uint64_t threshold;
    bool shown;
  } cases[] = {
      {"long work on a terminal", true, false, 1, true},
      {"standard error not a terminal", false, false, 1, false},
      {"--quiet", true, true, 1, false},
      {"short work", true, false, 1ull << 40, false},
  };
  std::string package = out + "/p.exe";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GeneratorEnvironment environment;
    environment.error_is_terminal = c.terminal;
    environment.progress_threshold = c.threshold;
    std::vector<std::string> quiet;
    if (c.quiet) {
      quiet.push_back("--quiet");
    }
    std::vector<std::string> build = {"--stub",    stub,     "--dir", payload,
                                      "--command", "a/x.sh", "-o",    package};
    build.insert(build.end(), quiet.begin(), quiet.end());
    std::vector<std::string> verify = {"--info", "--verify", package};
    verify.insert(verify.end(), quiet.begin(), quiet.end());
    for (const auto& [arguments, line] :
         {std::pair{build, "building " + package}, std::pair{verify, "verifying " + package}}) {
      CliResult result = run_cli(arguments, environment);
      ASSERT_EQ(result.status, 0) << result.err;
      std::string start = "\rvek_fwsfx_gen: " + line + ":   0%";
      std::string end = "\rvek_fwsfx_gen: " + line + ": 100%\n";
      if (c.shown) {
        EXPECT_EQ(result.err.rfind(start, 0), 0u) << result.err;
        EXPECT_EQ(result.err.size() - result.err.rfind(end), end.size()) << result.err;
      } else {
        EXPECT_EQ(result.err, "");
      }
    }
  }
  // A failure's message starts on a line of its own.
  std::string bytes = read_file(package);
  bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x55);
  ASSERT_TRUE(write_file(package, bytes));
  GeneratorEnvironment terminal;
  terminal.error_is_terminal = true;
  terminal.progress_threshold = 1;
  CliResult damaged = run_cli({"--info", "--verify", package}, terminal);
  EXPECT_EQ(damaged.status, k_generator_failed);
  EXPECT_NE(damaged.err.find("%\nvek_fwsfx_gen: "), std::string::npos) << damaged.err;
}

// --info --json and --list (--json): what a pipeline reads, parsed back.
TEST_F(GeneratorTest, CommandLineJsonAndListing) {
  fs::permissions(payload + "/a/x.sh", static_cast<fs::perms>(0755));
  std::string package = out + "/p.exe";
  GeneratorEnvironment fixed;
  fixed.source_date_epoch = "1700000000";
  CliResult built = run_cli({"-o", package, "--command", "a/x.sh", "--extra-tool", "flash %device%",
                             "--dir", payload, "--stub", stub},
                            fixed);
  ASSERT_EQ(built.status, 0) << built.err;
  ASSERT_TRUE(append_bytes(package, "12345"));
  std::int64_t size = static_cast<std::int64_t>(read_file(package).size());

  CliResult info = run_cli({"--json", "--info", package, "--verify"});
  ASSERT_EQ(info.status, 0) << info.err;
  nlohmann::json document = nlohmann::json::parse(info.out);
  EXPECT_EQ(document["package"], package);
  EXPECT_EQ(document["file_size"], size);
  nlohmann::json trailer = document["trailer"];
  EXPECT_EQ(trailer["layout_version"], "2.0");
  EXPECT_EQ(trailer["command_template"], "a/x.sh");
  EXPECT_EQ(trailer["extra_tool_command"], "flash %device%");
  EXPECT_EQ(trailer["archive_offset"], 3000);
  std::int64_t trailer_offset = 3000 + trailer["archive_length"].get<std::int64_t>();
  EXPECT_EQ(trailer["trailer_offset"], trailer_offset);
  EXPECT_EQ(trailer["trailer_length"], size - 5 - trailer_offset);
  EXPECT_EQ(trailer["bytes_after_trailer"], 5);
  EXPECT_TRUE(document["signature"].is_null());
  EXPECT_EQ(document["stub"], nlohmann::json({{"platform", "linux"},
                                              {"execution_level", "plain"},
                                              {"version", "1.0"},
                                              {"revision", test_stub_marker({}).revision}}));
  EXPECT_EQ(document["archive"]["entries"], 7);
  EXPECT_EQ(document["archive"]["total_size"], big_size + 4 + 7);
  EXPECT_EQ(document["verified"], true);
  EXPECT_TRUE(document["error"].is_null());
  EXPECT_EQ(run_cli({"--info", package, "--json"}).out.find("\"verified\": null"),
            info.out.find("\"verified\": true"));

  CliResult list = run_cli({"--list", package});
  ASSERT_EQ(list.status, 0) << list.err;
  // 1700000000 is 2023-11-14 22:13:20 UTC.
  // Windows has no execute bit: a script there is stored as 0644.
  const std::string script_mode = is_windows() ? "0644" : "0755";
  EXPECT_NE(list.out.find("- " + script_mode + "            7  " + hex_crc("echo x\n") +
                          "  2023-11-14 22:13:20  a/x.sh\n"),
            std::string::npos)
      << list.out;
  EXPECT_NE(list.out.find("d 0755            0  00000000  2023-11-14 22:13:20  c/d/\n"),
            std::string::npos)
      << list.out;
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 7);

  CliResult quiet_list = run_cli({"--list", "--quiet", package});
  EXPECT_EQ(quiet_list.status, 0) << quiet_list.err;
  EXPECT_EQ(quiet_list.out, list.out);

  CliResult listed = run_cli({"--list", "--json", package});
  ASSERT_EQ(listed.status, 0) << listed.err;
  nlohmann::json entries = nlohmann::json::parse(listed.out)["entries"];
  ASSERT_EQ(entries.size(), 7u);
  EXPECT_EQ(entries[2]["name"], "a/x.sh");
  EXPECT_EQ(entries[2]["type"], "file");
  EXPECT_EQ(entries[2]["size"], 7);
  EXPECT_EQ(entries[2]["crc32"], hex_crc("echo x\n"));
  EXPECT_EQ(entries[2]["method"], 8);
  EXPECT_EQ(entries[2]["time"], "2023-11-14T22:13:20");
  EXPECT_EQ(entries[2]["mode"], script_mode);
  EXPECT_EQ(entries[3]["mode"], "0644");
  EXPECT_EQ(entries[4]["type"], "directory");
  EXPECT_TRUE(entries[2]["link_target"].is_null());

  // A link entry, from a ZIP file: 'l' and its target.
  std::string zip = out + "/links.zip";
  std::string linked = out + "/links.pkg";
  ASSERT_TRUE(write_archive(zip, {unix_link("lib/libfoo.so.1", "libfoo.so.1.2")}));
  ASSERT_EQ(run_cli({"-o", linked, "--command", "/bin/true", "--zip", zip, "--stub", stub}).status,
            0);
  list = run_cli({"--list", linked});
  EXPECT_EQ(list.out, "l 0777           13  " + hex_crc("libfoo.so.1.2") +
                          "  2021-06-15 10:20:30  lib/libfoo.so.1 -> libfoo.so.1.2\n");
  entries = nlohmann::json::parse(run_cli({"--list", "--json", linked}).out)["entries"];
  EXPECT_EQ(entries[0]["type"], "link");
  EXPECT_EQ(entries[0]["link_target"], "libfoo.so.1.2");
  // Verifying refuses what the stub refuses: an entry through a link the archive made.
  ASSERT_TRUE(write_archive(zip, {unix_link("d", "."), unix_file("d/x", "x")}));
  ASSERT_EQ(run_cli({"-o", linked, "--command", "/bin/true", "--zip", zip, "--stub", stub}).status,
            0);
  CliResult through = run_cli({"--info", "--verify", linked});
  EXPECT_EQ(through.status, k_generator_failed);
  EXPECT_NE(through.err.find("the Linux stub would refuse entry d/x: the path runs through a "
                             "symbolic link"),
            std::string::npos)
      << through.err;

  // Failures still give a document, with what could be read and the error; the status says 1.
  std::string bytes = read_file(package);
  bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x55);
  ASSERT_TRUE(write_file(package, bytes));
  CliResult damaged = run_cli({"--info", "--verify", "--json", package});
  EXPECT_EQ(damaged.status, k_generator_failed);
  document = nlohmann::json::parse(damaged.out);
  EXPECT_EQ(document["verified"], false);
  EXPECT_EQ(document["archive"]["entries"], 7);
  EXPECT_NE(document["error"].get<std::string>().find("c/d/e.bin"), std::string::npos);
  EXPECT_EQ(damaged.err, "vek_fwsfx_gen: " + document["error"].get<std::string>() + "\n");
  CliResult plain = run_cli({"--list", "--json", stub});
  EXPECT_EQ(plain.status, k_generator_failed);
  document = nlohmann::json::parse(plain.out);
  EXPECT_TRUE(document["trailer"].is_null());
  EXPECT_TRUE(document["entries"].is_null());
  EXPECT_EQ(document["error"], stub +
                                   ": an sfxkit stub without a payload, not a package: no payload "
                                   "trailer found (no version pattern)");
  EXPECT_EQ(document["schema"], 1);
}

// What a package says reaches the terminal with its control characters escaped (C0, DEL, C1), so
// that a template cannot show one command while the package runs another; the JSON document
// names each entry as its stub writes it.
TEST_F(GeneratorTest, PackageTextsAreShownEscaped) {
  const std::string controls = "a\x1b[8mb\xc2\x9b.txt";
  const std::string latin = "caf\xe9\x9b.txt";
  ArchiveEntry renamed = unix_file("stored.txt", "z");
  renamed.extra_field = unicode_path_field("stored.txt", "decoded-\xc3\xbc.txt");
  std::string zip = dir.file("names.zip");
  ASSERT_TRUE(write_archive(zip, {unix_file(controls, "x"), unix_file(latin, "y"), renamed}));
  std::string package = out + "/p.exe";
  ASSERT_TRUE(assemble_package(stub, zip, "evil.sh\x1b[2K\rtool.sh --safe", "x\x7f\x85", package));

  CliResult info = run_cli({"--info", package});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("command template:    evil.sh\\x1b[2K\\x0dtool.sh --safe\n"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("extra-tool command:  x\\x7f\\x85\n"), std::string::npos) << info.out;
  CliResult list = run_cli({"--list", package});
  EXPECT_NE(list.out.find("  a\\x1b[8mb\\xc2\\x9b.txt\n"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("  caf\xe9\\x9b.txt\n"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("  decoded-\xc3\xbc.txt\n"), std::string::npos) << list.out;

  CliResult listed = run_cli({"--list", "--json", package});
  EXPECT_EQ(listed.out.find_first_of("\x1b\x7f\x9b"), std::string::npos) << listed.out;
  nlohmann::json entries = nlohmann::json::parse(listed.out)["entries"];
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0]["name"], controls);
  EXPECT_TRUE(entries[0]["name_hex"].is_null());
  EXPECT_EQ(entries[1]["name_hex"], "636166e99b2e747874");
  EXPECT_EQ(entries[2]["name"], "decoded-\xc3\xbc.txt");
  // A Windows stub reads a name that is not UTF-8 as CP437 (0x82 is an e with an acute accent).
  ASSERT_TRUE(write_archive(zip, {unix_file("caf\x82.txt", "y")}));
  ASSERT_TRUE(write_file(dir.file("windows.exe"), k_windows_stub));
  ASSERT_TRUE(assemble_package(dir.file("windows.exe"), zip, "tool", std::nullopt, package));
  entries = nlohmann::json::parse(run_cli({"--list", "--json", package}).out)["entries"];
  EXPECT_EQ(entries[0]["name"], "caf\xc3\xa9.txt");
  EXPECT_EQ(entries[0]["name_hex"], "636166822e747874");

  // The layout version of a package from elsewhere is quoted in the error, escaped too.
  RawTrailer trailer;
  trailer.layout_version = "\x1b]0;x\x07";
  ASSERT_TRUE(write_file(package, k_stub + make_trailer(trailer)));
  CliResult odd = run_cli({"--info", package});
  EXPECT_EQ(odd.status, k_generator_failed);
  EXPECT_NE(odd.err.find("layout version '\\x1b]0;x\\x07'"), std::string::npos) << odd.err;
}

// Two builds of the same files (created in another order, with other times and other modes
// beyond the execute bit, in another time zone) give the same bytes once SOURCE_DATE_EPOCH is
// set; and the bytes name neither the user nor the host.
TEST_F(GeneratorTest, SameInputsGiveTheSameBytes) {
  struct File {
    const char* name;
    const char* content;
    unsigned mode;
  };
  const File files[] = {{"bin/", "", 0755},        {"bin/tool", "#!/bin/sh\n", 0755},
                        {"doc/", "", 0755},        {"doc/readme.txt", "read me\n", 0644},
                        {"lib/", "", 0755},        {"lib/libfoo.so.1", "library", 0644},
                        {"zz.txt", "last\n", 0644}};
  auto make_tree = [&](const std::string& root, bool reversed, unsigned mode_mask, int hours_ago) {
    std::vector<File> order(std::begin(files), std::end(files));
    if (reversed) {
      std::reverse(order.begin(), order.end());
    }
    for (const File& f : order) {
      std::string path = root + "/" + f.name;
      if (path.back() == '/') {
        fs::create_directories(path);
      } else {
        fs::create_directories(fs::path(path).parent_path());
        ASSERT_TRUE(write_file(path, f.content));
        // Windows keeps no time of its own for a folder that a program may set.
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(hours_ago));
      }
      fs::permissions(path, static_cast<fs::perms>(f.mode & mode_mask));
    }
  };
  make_tree(dir.file("first"), false, 0777, 1);
  make_tree(dir.file("second"), true, 0750, 50);

  auto build = [&](const std::string& folder, const char* time_zone,
                   const std::optional<std::string>& epoch) {
    ScopedEnvironment zone("TZ", time_zone);
    GeneratorEnvironment environment;
    environment.source_date_epoch = epoch;
    std::string package = out + "/" + fs::path(folder).filename().string() + ".exe";
    CliResult built = run_cli(
        {"--stub", stub, "--dir", folder, "--command", "bin/tool", "-o", package}, environment);
    EXPECT_EQ(built.status, 0) << built.err;
    return read_file(package);
  };
  std::string first = build(dir.file("first"), "UTC0", std::string("1700000000"));
  std::string second = build(dir.file("second"), "JST-9", std::string("1700000000"));
  ASSERT_FALSE(first.empty());
  EXPECT_TRUE(first == second) << "the two packages differ";
  // Without SOURCE_DATE_EPOCH the files' own times go in.
  EXPECT_FALSE(build(dir.file("first"), "UTC0", std::nullopt) ==
               build(dir.file("second"), "UTC0", std::nullopt));

  std::string user;
  if (platform::user_name(user) == 0 && user.size() >= 3) {
    EXPECT_EQ(first.find(user), std::string::npos) << user;
  }
  std::string host = read_file("/etc/hostname");
  host = host.substr(0, host.find('\n'));
  if (host.size() >= 3) {
    EXPECT_EQ(first.find(host), std::string::npos) << host;
  }
}

// --target takes the stub that came with the generator: the installed one, or the one its build
// folder holds; it finds nothing elsewhere.
TEST_F(GeneratorTest, TargetFindsTheStubsBesideTheGenerator) {
  const std::string linux_stub = stub_image(TargetPlatform::Linux, StubLevel::Plain, 1003, 'L');
  const std::string windows_stub = stub_image(TargetPlatform::Windows, StubLevel::Plain, 1002, 'W');
  struct Case {
    const char* what;
    // The generator's path and the stubs in place, below the test's folder.
    const char* generator;
    const char* linux_path;
    const char* windows_path;
    const char* admin_path;
  } cases[] = {
      {"installed", "usr/bin/vek_fwsfx_gen", "usr/share/sfxkit/stubs/linux-x86_64/sfx_stub",
       "usr/share/sfxkit/stubs/windows-x86_64/sfx_stub.exe",
       "usr/share/sfxkit/stubs/windows-x86_64/sfx_stub_admin.exe"},
      {"native build folder", "build/native/vek_fwsfx_gen", "build/native/sfx_stub",
       "build/windows/sfx_stub.exe", "build/windows/sfx_stub_admin.exe"},
      {"windows build folder", "build/windows/vek_fwsfx_gen.exe", "build/native/sfx_stub",
       "build/windows/sfx_stub.exe", "build/windows/sfx_stub_admin.exe"},
  };
  const std::string admin_stub =
      stub_image(TargetPlatform::Windows, StubLevel::Elevated, 1002, 'A');
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedTempDir layout;
    for (const auto& [path, content] :
         {std::pair{c.linux_path, linux_stub}, std::pair{c.windows_path, windows_stub},
          std::pair{c.admin_path, admin_stub}}) {
      fs::create_directories(fs::path(layout.file(path)).parent_path());
      ASSERT_TRUE(write_file(layout.file(path), content));
    }
    GeneratorEnvironment environment;
    environment.program_path = layout.file(c.generator);
    for (const auto& [target, expected] :
         {std::pair{std::vector<std::string>{"--target", "linux"}, linux_stub},
          std::pair{std::vector<std::string>{"--target", "windows"}, windows_stub},
          std::pair{std::vector<std::string>{"--admin", "--target", "windows"}, admin_stub}}) {
      std::string package = out + "/" + target.back() + ".pkg";
      std::vector<std::string> arguments = target;
      arguments.insert(arguments.end(), {"--dir", payload, "--command", "a/x.sh", "-o", package});
      CliResult built = run_cli(arguments, environment);
      ASSERT_EQ(built.status, 0) << target.front() << ": " << built.err;
      EXPECT_EQ(read_file(package).substr(0, expected.size()), expected) << target.front();
      fs::remove(package);
    }
    // A plain stub in the elevated one's place is not packed for --admin.
    ASSERT_TRUE(write_file(layout.file(c.admin_path), windows_stub));
    CliResult swapped = run_cli({"--admin", "--target", "windows", "--dir", payload, "--command",
                                 "x", "-o", out + "/a.pkg"},
                                environment);
    EXPECT_EQ(swapped.status, k_generator_failed);
    EXPECT_EQ(swapped.err, "vek_fwsfx_gen: the stub " + layout.file(c.admin_path) +
                               " found for --target windows --admin is a windows plain stub\n");
    // Without the stubs nothing is found, and the message says where the generator looked.
    fs::remove(layout.file(c.windows_path));
    CliResult missing =
        run_cli({"--target", "windows", "--dir", payload, "--command", "x", "-o", out + "/w.pkg"},
                environment);
    EXPECT_EQ(missing.status, k_generator_failed);
    for (const std::string& candidate :
         stub_candidates(environment.program_path, TargetPlatform::Windows)) {
      EXPECT_NE(missing.err.find("\n  " + candidate + "\n"), std::string::npos) << missing.err;
    }
    EXPECT_NE(missing.err.find("--stub"), std::string::npos) << missing.err;
  }
  EXPECT_EQ(tree_listing(out), std::vector<std::string>{});

  // The real generator, copied into an installed layout, finds its own place.
  ScopedTempDir prefix;
  std::string generator = prefix.file("bin/" + fs::path(generator_artifact()).filename().string());
  std::string installed = prefix.file("share/sfxkit/stubs/linux-x86_64/sfx_stub");
  fs::create_directories(fs::path(generator).parent_path());
  fs::create_directories(fs::path(installed).parent_path());
  fs::copy_file(generator_artifact(), generator);
  ASSERT_TRUE(write_file(installed, linux_stub));
  ProcessResult run = run_process(
      generator,
      {"--target", "linux", "--dir", payload, "--command", "a/x.sh", "-o", out + "/real.pkg"},
      prefix.path());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(read_file(out + "/real.pkg").substr(0, linux_stub.size()), linux_stub);
}

}  // namespace
