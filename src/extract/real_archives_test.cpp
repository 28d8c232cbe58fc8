// SPDX-License-Identifier: Zlib
// The extraction against archives written by real ZIP tools: Info-ZIP zip, Python's zipfile,
// bsdtar and 7-Zip. Each source tree is archived by the tool, extracted, and the result compared
// with the source byte for byte, with modification times and permission bits. The tools run on
// Linux only, so these tests do too.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "extract/archive_extraction.hpp"
#include "platform/platform.hpp"
#include "testing/archive_builder.hpp"
#include "testing/process_runner.hpp"
#include "testing/scoped_temp_dir.hpp"
#include "workdir/path.hpp"

namespace {

namespace fs = std::filesystem;

using Names = std::vector<std::string>;

// An arbitrary moment with an even number of seconds; each file of a tree gets its own.
constexpr std::int64_t k_base_time = 1600000000;

struct SourceFile {
  const char* name;
  std::string data;
  unsigned mode;
};

// Bytes that deflate cannot squeeze much and that span many 8192-byte reads.
std::string binary_data(std::size_t size) {
  std::string data(size, '\0');
  std::uint32_t state = 12345;
  for (char& c : data) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  return data;
}

void set_mode(const std::string& path, unsigned mode) {
  fs::permissions(path, static_cast<fs::perms>(mode), fs::perm_options::replace);
}

class RealArchivesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (platform::platform_kind() != platform::PlatformKind::Posix) {
      GTEST_SKIP() << "the archiving tools run on Linux";
    }
    m_source = m_dir.file("source");
    m_target = m_dir.file("target");
    m_archive = m_dir.file("archive.zip");
    ASSERT_EQ(platform::make_directory(m_source, platform::DirectoryAccess::Shared), 0);
    ASSERT_EQ(platform::make_directory(m_target, platform::DirectoryAccess::Shared), 0);
  }

  // A tree with what real packages hold and what trips extractors up: nesting, an empty file, an
  // empty directory, blanks in names, binary data across many buffers, modes, a link.
  void make_source_tree(bool with_link) {
    for (const char* directory : {"sub", "sub/deep", "sub/deep/empty_dir", "locked", "bin"}) {
      fs::create_directory(m_source + "/" + directory);
    }
    const SourceFile files[] = {
        {"a.txt", "plain text\n", 0644},
        {"bin/tool.sh", "#!/bin/sh\necho tool\n", 0755},
        {"private.key", "secret", 0600},
        {"empty", "", 0644},
        {"with blank.txt", "blank", 0664},
        {"sub/deep/nested.txt", std::string(30000, 'n'), 0640},
        {"locked/inside.txt", "inside", 0400},
        {"binary.dat", binary_data(300000), 0644},
    };
    std::int64_t time = k_base_time;
    for (const SourceFile& file : files) {
      std::string path = m_source + "/" + file.name;
      ASSERT_TRUE(write_file(path, file.data)) << path;
      set_mode(path, file.mode);
      // Odd seconds too: tools round them up or down to the DOS two-second step.
      ASSERT_TRUE(set_file_mtime(path, time)) << path;
      time += 86400 + 3;
    }
    set_mode(m_source + "/locked", 0700);
    set_mode(m_source + "/sub/deep", 0750);
    if (with_link) {
      fs::create_symlink("a.txt", m_source + "/link");
    }
  }

  // Runs `script` with /bin/sh in the source folder; returns its status after reporting output
  // of a failure.
  int run_in_source(const std::string& script) {
    ProcessResult result = run_process(
        "/bin/sh", {"-c", "cd " + quote_for_shell(m_source) + " && " + script}, m_dir.path());
    EXPECT_EQ(result.status, 0) << script << "\n" << result.out << result.err;
    return result.status;
  }

  // Runs the Python `script` with the source folder, the archive and `more` as its arguments.
  int run_python(const std::string& script, const std::vector<std::string>& more = {}) {
    std::vector<std::string> arguments = {"-c", script, m_source, m_archive};
    arguments.insert(arguments.end(), more.begin(), more.end());
    ProcessResult result = run_process("python3", arguments, m_dir.path());
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    return result.status;
  }

  // Extracts the archive and compares the result with the source tree.
  void expect_same_tree(const TreeComparison& comparison, const std::string& label) {
    ::testing::internal::CaptureStdout();
    int result = extract_archive_file(m_archive, m_target);
    std::string out = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(platform::set_current_directory(m_dir.path()), 0);
    EXPECT_EQ(result, k_extract_ok) << label;
    EXPECT_EQ(out, "") << label;
    EXPECT_EQ(compare_trees(m_source, m_target, comparison), Names{}) << label;
  }

  void reset_target() {
    ASSERT_EQ(platform::set_current_directory(m_dir.path()), 0);
    ASSERT_EQ(platform::remove_tree(m_target), 0);
    ASSERT_EQ(platform::make_directory(m_target, platform::DirectoryAccess::Shared), 0);
    (void)platform::remove_file(m_archive);
  }

  ScopedTempDir m_dir;
  std::string m_source;
  std::string m_target;
  std::string m_archive;
};

TEST_F(RealArchivesTest, InfoZip) {
  make_source_tree(true);
  TreeComparison all;
  all.modes = true;
  ASSERT_EQ(run_in_source("zip -q -r -y " + quote_for_shell(m_archive) + " ."), 0);
  expect_same_tree(all, "zip, deflated, with directory entries");

  // Stored, and without directory entries: every file's folders come from its own name, and
  // the empty directory and the folders' modes are not in the archive.
  reset_target();
  ASSERT_EQ(run_in_source("zip -q -r -y -0 -D " + quote_for_shell(m_archive) + " ."), 0);
  TreeComparison files_only;
  files_only.modes = true;
  files_only.directory_modes = false;
  files_only.ignored = {"sub/deep/empty_dir/"};
  expect_same_tree(files_only, "zip, stored, no directory entries");
}

TEST_F(RealArchivesTest, PythonZipfileStreamingAndZip64) {
  make_source_tree(false);
  // Written to a stream that cannot seek: sizes and CRCs follow the data in data descriptors.
  // Directory entries come first, the deepest first, each before its parent's entry.
  const char* streaming = R"(
import os, sys, zipfile
source, archive = sys.argv[1], sys.argv[2]
class Unseekable:
    def __init__(self, f): self.f = f
    def write(self, b): return self.f.write(b)
    def flush(self): self.f.flush()
dirs, files = [], []
for root, dirnames, filenames in os.walk(source):
    dirs += [os.path.join(root, d) for d in dirnames]
    files += [os.path.join(root, f) for f in filenames]
with open(archive, 'wb') as raw:
    with zipfile.ZipFile(Unseekable(raw), 'w', zipfile.ZIP_DEFLATED) as z:
        for path in sorted(dirs, key=lambda p: -p.count(os.sep)) + sorted(files):
            z.write(path, os.path.relpath(path, source))
assert all(i.flag_bits & 8 for i in zipfile.ZipFile(archive).infolist() if not i.is_dir())
)";
  ASSERT_EQ(run_python(streaming), 0);
  TreeComparison all;
  all.modes = true;
  expect_same_tree(all, "python, streamed");

  // zip64: sizes in zip64 extra fields of the local headers, and the zip64 end record with its
  // locator, which zipfile writes for archives of 65,536 entries or more; a lowered limit makes it
  // write one for this small tree. zipfile puts zip64 fields into the central directory only for
  // entries of 4 GiB or more, or behind that mark; a lowered limit gives every entry its sizes
  // and offset there too (Debian's separate minizip 1.1 read those wrongly).
  struct Zip64Case {
    const char* label;
    // zipfile.ZIP64_LIMIT; zipfile's own is 2**31 - 1.
    const char* limit;
  } zip64_cases[] = {
      {"python, zip64 in local headers", "2147483647"},
      {"python, zip64 in local headers and the central directory", "0"},
  };
  const char* zip64 = R"(
import os, shutil, sys, zipfile
source, archive, limit = sys.argv[1], sys.argv[2], int(sys.argv[3])
zipfile.ZIP_FILECOUNT_LIMIT = 0
zipfile.ZIP64_LIMIT = limit
with zipfile.ZipFile(archive, 'w') as z:
    for n, (root, dirnames, filenames) in enumerate(sorted(os.walk(source))):
        if root != source:
            z.write(root, os.path.relpath(root, source))
        for i, name in enumerate(sorted(filenames)):
            path = os.path.join(root, name)
            info = zipfile.ZipInfo.from_file(path, os.path.relpath(path, source))
            info.compress_type = zipfile.ZIP_DEFLATED if (n + i) % 2 else zipfile.ZIP_STORED
            with open(path, 'rb') as f, z.open(info, 'w', force_zip64=True) as out:
                shutil.copyfileobj(f, out)
data = open(archive, 'rb').read()
assert b'PK\x06\x06' in data and b'PK\x06\x07' in data
assert limit or all(i.extra[:2] == b'\x01\x00' for i in zipfile.ZipFile(archive).infolist())
)";
  for (const Zip64Case& c : zip64_cases) {
    reset_target();
    ASSERT_EQ(run_python(zip64, {c.limit}), 0) << c.label;
    expect_same_tree(all, c.label);
  }
}

TEST_F(RealArchivesTest, PythonRepeatedNames) {
  // The later entry of a name overwrites the earlier one, longer or not.
  const char* script = R"(
import sys, zipfile, warnings
warnings.simplefilter('ignore')
with zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_DEFLATED) as z:
    for i, text in enumerate(['first, the longest of them', 'second', '']):
        z.writestr(zipfile.ZipInfo('r/same.txt', (2020, 1, 2, 3, 4, 6 + 2 * i)), text)
    z.writestr('r/other.txt', 'other')
)";
  ASSERT_EQ(run_python(script), 0);
  ::testing::internal::CaptureStdout();
  int result = extract_archive_file(m_archive, m_target);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(result, k_extract_ok);
  EXPECT_EQ(tree_listing(m_target), (Names{"r/", "r/other.txt", "r/same.txt"}));
  EXPECT_EQ(read_file(m_target + "/r/same.txt"), "");
  EXPECT_EQ(file_mtime(m_target + "/r/same.txt"),
            local_seconds(dos_date_time(2020, 1, 2, 3, 4, 10)));
}

// Link entries as zipfile writes them when told the Unix mode of a link: links that stay inside
// become links; one that climbs out, or an entry through a link, stops the extraction.
TEST_F(RealArchivesTest, PythonLinkEntries) {
  const char* script = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[2], 'w') as z:
    for i, spec in enumerate(sys.argv[3:]):
        kind, name, data = spec.split(':', 2)
        info = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6))
        info.create_system = 3
        info.external_attr = (0o120777 if kind == 'L' else 0o100644) << 16
        info.compress_type = zipfile.ZIP_DEFLATED if i % 2 else zipfile.ZIP_STORED
        z.writestr(info, data)
)";
  struct Case {
    std::vector<std::string> entries;
    std::string out;
    Names listing;
  } cases[] = {
      {{"F:lib/libfoo.so.1.2:elf", "L:lib/libfoo.so.1:libfoo.so.1.2",
        "L:bin/foo:../lib/libfoo.so.1"},
       "",
       {"bin/", "bin/foo", "lib/", "lib/libfoo.so.1", "lib/libfoo.so.1.2"}},
      {{"F:first.txt:1", "L:escape:../outside", "F:after.txt:a"},
       "refusing entry escape: the link target climbs out with \"..\"\n",
       {"first.txt"}},
      {{"L:d:.", "F:d/x:through"},
       "refusing entry d/x: the path runs through a symbolic link\n",
       {"d"}},
  };
  for (const Case& c : cases) {
    reset_target();
    ASSERT_EQ(run_python(script, c.entries), 0);
    ::testing::internal::CaptureStdout();
    int result = extract_archive_file(m_archive, m_target);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.out) << c.entries[1];
    EXPECT_EQ(result, c.out.empty() ? k_extract_ok : k_extract_incomplete) << c.entries[1];
    EXPECT_EQ(tree_listing(m_target), c.listing) << c.entries[1];
    if (c.out.empty()) {
      EXPECT_EQ(fs::read_symlink(m_target + "/bin/foo").string(), "../lib/libfoo.so.1");
      EXPECT_EQ(read_file(m_target + "/bin/foo"), "elf");
    }
  }
}

TEST_F(RealArchivesTest, PythonEmptyArchive) {
  ASSERT_EQ(run_python("import sys, zipfile\nzipfile.ZipFile(sys.argv[2], 'w').close()\n"), 0);
  ::testing::internal::CaptureStdout();
  int result = extract_archive_file(m_archive, m_target);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(result, k_extract_ok);
  EXPECT_EQ(tree_listing(m_target), Names{});
}

TEST_F(RealArchivesTest, Bsdtar) {
  make_source_tree(true);
  TreeComparison all;
  all.modes = true;
  // bsdtar streams: data descriptors behind deflated entries.
  ASSERT_EQ(run_in_source("bsdtar --format zip -cf " + quote_for_shell(m_archive) + " *"), 0);
  expect_same_tree(all, "bsdtar, deflated");
  reset_target();
  ASSERT_EQ(run_in_source("bsdtar --format zip --options zip:compression=store -cf " +
                          quote_for_shell(m_archive) + " *"),
            0);
  expect_same_tree(all, "bsdtar, stored");
}

TEST_F(RealArchivesTest, SevenZip) {
  make_source_tree(true);
  TreeComparison all;
  all.modes = true;
  ASSERT_EQ(run_in_source("7z a -bd -bso0 -tzip -snl " + quote_for_shell(m_archive) + " ."), 0);
  expect_same_tree(all, "7z, deflated");
  reset_target();
  ASSERT_EQ(run_in_source("7z a -bd -bso0 -tzip -mx=0 -snl " + quote_for_shell(m_archive) + " ."),
            0);
  expect_same_tree(all, "7z, stored");
}

// What the extraction cannot unpack stops it: encrypted entries (no password is ever used) and
// methods minizip does not inflate.
TEST_F(RealArchivesTest, EntriesThatCannotBeUnpackedStopTheExtraction) {
  std::string text;
  for (int i = 0; i < 2000; ++i) {
    text += "line " + std::to_string(i) + " of a compressible text\n";
  }
  ASSERT_TRUE(write_file(m_source + "/first.txt", "first"));
  ASSERT_TRUE(write_file(m_source + "/second.txt", text));
  ASSERT_TRUE(write_file(m_source + "/third.txt", "third"));
  struct Case {
    std::string command;
    std::string out;
  } cases[] = {
      {"zip -q -P secret", "refusing entry second.txt: the entry is encrypted\n"},
      // Without bzip2 support minizip would hand out the compressed bytes as the data.
      {"zip -q -Z bzip2",
       "refusing entry second.txt: compression method 12 (BZIP2) is not supported; "
       "pack with Deflate or store\n"},
      {"7z a -bd -bso0 -tzip -mm=LZMA",
       "refusing entry second.txt: compression method 14 (LZMA) is not supported; "
       "pack with Deflate or store\n"},
  };
  for (const Case& c : cases) {
    reset_target();
    ASSERT_EQ(run_in_source("zip -q " + quote_for_shell(m_archive) + " first.txt && " + c.command +
                            " " + quote_for_shell(m_archive) + " second.txt && zip -q " +
                            quote_for_shell(m_archive) + " third.txt"),
              0);
    ::testing::internal::CaptureStdout();
    int result = extract_archive_file(m_archive, m_target);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, k_extract_incomplete) << c.command;
    EXPECT_EQ(out, c.out) << c.command;
    EXPECT_EQ(tree_listing(m_target), Names{"first.txt"}) << c.command;
  }
}

TEST_F(RealArchivesTest, HundredMegabyteEntry) {
  // Text-like data, so that zip's fastest level keeps the test quick.
  const std::uintmax_t size = std::uintmax_t{100} << 20;
  std::string path = m_source + "/big.log";
  {
    std::ofstream out(path, std::ios::binary);
    std::string block;
    std::uintmax_t written = 0;
    for (std::uint32_t line = 0; out.good() && written < size; ++line) {
      block += "record " + std::to_string(line * 7919u % 1000003u) + " of the device log\n";
      if (block.size() >= (1u << 20) || written + block.size() >= size) {
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
        written += block.size();
        block.clear();
      }
    }
    ASSERT_TRUE(out.good());
  }
  ASSERT_GE(fs::file_size(path), size);
  ASSERT_TRUE(set_file_mtime(path, k_base_time));
  ASSERT_EQ(run_in_source("zip -q -1 " + quote_for_shell(m_archive) + " big.log"), 0);
  TreeComparison all;
  all.modes = true;
  expect_same_tree(all, "100 MB entry");
  // Not kept for a look even when the test failed: too large.
  for (const std::string& big : {path, m_target + "/big.log", m_archive}) {
    (void)platform::remove_file(big);
  }
}

TEST_F(RealArchivesTest, TwentyThousandSmallFiles) {
  for (int d = 0; d < 20; ++d) {
    std::string directory = m_source + "/d" + std::to_string(d);
    fs::create_directory(directory);
    for (int f = 0; f < 1000; ++f) {
      std::string path = directory + "/f" + std::to_string(f) + ".json";
      ASSERT_TRUE(write_file(path, "{\"n\": " + std::to_string(d * 1000 + f) + "}\n"));
      ASSERT_TRUE(set_file_mtime(path, k_base_time + 2 * f));
    }
  }
  ASSERT_EQ(run_in_source("zip -q -r " + quote_for_shell(m_archive) + " ."), 0);
  TreeComparison all;
  all.modes = true;
  expect_same_tree(all, "20,000 files");
}

}  // namespace
