// SPDX-License-Identifier: Zlib
#include "extract/archive_extraction.hpp"

#include <gtest/gtest.h>
#include <unzip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/environment.hpp"
#include "extract/parallel_extraction.hpp"
#include "extract/write_ring.hpp"
#include "platform/platform.hpp"
#include "testing/archive_builder.hpp"
#include "testing/process_runner.hpp"
#include "testing/scoped_temp_dir.hpp"
#include "workdir/path.hpp"

namespace {

namespace fs = std::filesystem;

using Names = std::vector<std::string>;

bool on_linux() { return platform::platform_kind() == platform::PlatformKind::Posix; }

// `name` with the separators the Linux stub writes ('\\' becomes '/'); Windows takes both.
std::string linux_path(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

unsigned mode_of(const std::string& path) {
  return static_cast<unsigned>(fs::status(path).permissions() & fs::perms::mask);
}

struct Extraction {
  int result = -1;
  std::string out;
};

// Each test gets a temporary folder with the archive in it and an empty extraction directory
// "target" below it, so that anything written outside "target" shows in the folder's listing.
class ArchiveExtractionTest : public ::testing::Test {
 protected:
  ArchiveExtractionTest() : m_archive(m_dir.file("payload.zip")), m_target(m_dir.file("target")) {
    EXPECT_EQ(platform::make_directory(m_target, platform::DirectoryAccess::Shared), 0);
  }

  Extraction extract(const std::vector<ArchiveEntry>& entries) {
    EXPECT_TRUE(write_archive(m_archive, entries));
    return extract_written();
  }

  // A `ring_entry_size` other than 0 replaces the entry size from which a thread of its own
  // writes an entry's data.
  Extraction extract_written(const std::string& archive_path = "",
                             std::uint64_t ring_entry_size = 0) {
    Extraction extraction;
    ::testing::internal::CaptureStdout();
    extraction.result = extract_archive_file(archive_path.empty() ? m_archive : archive_path,
                                             m_target, ring_entry_size);
    extraction.out = ::testing::internal::GetCapturedStdout();
    return extraction;
  }

  std::string in_target(const std::string& name) const { return m_dir.file("target/" + name); }

  ScopedTempDir m_dir;
  std::string m_archive;
  std::string m_target;
};

TEST_F(ArchiveExtractionTest, ExtractsDataDirectoriesAndEntersTheTarget) {
  ArchiveEntry json;
  json.name = "device_info/json/0xd.json";
  json.data = "{\"id\": 13}\n";
  Extraction extraction =
      extract({unix_directory("device_info/"), unix_directory("device_info/json/"), json});
  EXPECT_EQ(extraction.result, k_extract_ok);
  EXPECT_EQ(extraction.out, "");
  EXPECT_EQ(tree_listing(m_target),
            (Names{"device_info/", "device_info/json/", "device_info/json/0xd.json"}));
  EXPECT_EQ(read_file(in_target("device_info/json/0xd.json")), json.data);
  std::string current;
  ASSERT_EQ(platform::full_path(".", 4096, current), 0);
  EXPECT_EQ(current, m_target);
}

TEST_F(ArchiveExtractionTest, CreatesMissingDirectoriesForFilesAndDirectoryEntries) {
  std::vector<ArchiveEntry> entries = {
      unix_file("a/b/f.txt", "nested"),
      // Met before its parent's entry, and no file follows below it.
      unix_directory("p/q/r/"),
      unix_directory("p/"),
      unix_file("w\\x\\y.txt", "backslashes"),
      unix_directory("w\\d\\"),
      unix_file("s//double.txt", "double separator"),
  };
  Extraction extraction = extract(entries);
  EXPECT_EQ(extraction.result, k_extract_ok);
  EXPECT_EQ(extraction.out, "");
  EXPECT_EQ(tree_listing(m_target), (Names{"a/", "a/b/", "a/b/f.txt", "p/", "p/q/", "p/q/r/", "s/",
                                           "s/double.txt", "w/", "w/d/", "w/x/", "w/x/y.txt"}));
  EXPECT_EQ(read_file(in_target("a/b/f.txt")), "nested");
  EXPECT_EQ(read_file(in_target("w/x/y.txt")), "backslashes");
}

// Names marked UTF-8 (bit 11), named by a Unicode path field or valid UTF-8 are written as
// UTF-8; other bytes are CP437, which Windows gets in UTF-8 and Linux keeps as they are. The
// checks and the length limit apply to the name as it is written.
TEST_F(ArchiveExtractionTest, WritesNamesInTheCharacterSetTheArchiveDeclares) {
  const std::string cyrillic = "\xD0\x94\xD0\xB8\xD1\x80/\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt";
  const std::string cjk = "\xE7\x9B\xAE\xE5\xBD\x95.bin";
  const std::string cp437 = "\x8E\x99\x9A.txt";
  const std::string cp437_written = on_linux() ? cp437 : "\xC3\x84\xC3\x96\xC3\x9C.txt";
  ArchiveEntry marked = unix_file(cyrillic, "marked");
  marked.flags = 0x800;
  ArchiveEntry unicode_path = unix_file("_?.bin", "unicode path field");
  unicode_path.extra_field = unicode_path_field("_?.bin", cjk);
  ArchiveEntry stale_field = unix_file(cp437, "cp437");
  stale_field.extra_field = unicode_path_field("other.txt", "other.txt");
  Extraction extraction =
      extract({marked, unicode_path, stale_field, unix_file("\xE2\x82\xAC.txt", "unmarked")});
  EXPECT_EQ(extraction.result, k_extract_ok);
  EXPECT_EQ(extraction.out, "");
  Names expected = {"\xD0\x94\xD0\xB8\xD1\x80/", cyrillic, cjk, cp437_written, "\xE2\x82\xAC.txt"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(tree_listing(m_target), expected);
  EXPECT_EQ(read_file(in_target(cyrillic)), "marked");
  EXPECT_EQ(read_file(in_target(cjk)), "unicode path field");
  EXPECT_EQ(read_file(in_target(cp437_written)), "cp437");

  ASSERT_EQ(platform::set_current_directory(m_dir.path()), 0);
  ASSERT_EQ(platform::remove_tree(m_target), 0);
  ASSERT_EQ(platform::make_directory(m_target, platform::DirectoryAccess::Shared), 0);
  // 100 CP437 bytes that become 200 bytes of UTF-8 on Windows.
  std::string wide = std::string(100, '\x8E') + ".txt";
  std::string umlauts;
  for (int i = 0; i < 100; ++i) {
    umlauts += "\xC3\x84";
  }
  std::string wide_written = on_linux() ? wide : umlauts + ".txt";
  std::string padded = std::string(60, 'p') + "/" + wide;
  extraction = extract({unix_file(padded, "long")});
  if (on_linux()) {
    EXPECT_EQ(extraction.result, k_extract_ok);
    EXPECT_EQ(read_file(in_target(padded)), "long");
  } else {
    EXPECT_EQ(extraction.result, k_extract_incomplete);
    EXPECT_EQ(extraction.out, "refusing entry " + std::string(60, 'p') + "/" + wide_written +
                                  ": the name has 256 bytes or more\n");
  }
  ArchiveEntry climbing = unix_file("inside.txt", "evil");
  climbing.extra_field = unicode_path_field("inside.txt", "../escaped.txt");
  extraction = extract({climbing});
  EXPECT_EQ(extraction.result, k_extract_incomplete);
  EXPECT_EQ(extraction.out, "refusing entry ../escaped.txt: the name climbs out with \"..\"\n");
  EXPECT_FALSE(path_exists(m_dir.file("escaped.txt")));
}

TEST_F(ArchiveExtractionTest, OverwritesFilesAndSetsEntryTimes) {
  ASSERT_TRUE(write_file(in_target("same.txt"), "old content that is longer"));
  ASSERT_TRUE(
      set_file_mtime(in_target("same.txt"), local_seconds(dos_date_time(2030, 1, 1, 0, 0, 0))));
  ArchiveEntry same = unix_file("same.txt", "new");
  same.time = dos_date_time(2019, 3, 4, 5, 6, 8);
  ArchiveEntry empty;
  empty.name = "empty.txt";
  empty.time = dos_date_time(1999, 12, 31, 23, 59, 58);
  ArchiveEntry stored;
  stored.name = "stored.bin";
  stored.data = std::string("\0\1\2\3\xff", 5);
  stored.method = ArchiveMethod::Stored;
  stored.time = dos_date_time(2024, 2, 29, 12, 0, 0);
  ArchiveEntry first = unix_file("twice.txt", "first version, longer than the second");
  ArchiveEntry second = unix_file("twice.txt", "second");
  second.time = dos_date_time(2020, 7, 1, 8, 0, 2);
  Extraction extraction = extract({same, empty, stored, first, second});
  EXPECT_EQ(extraction.result, k_extract_ok);
  EXPECT_EQ(extraction.out, "");
  EXPECT_EQ(tree_listing(m_target), (Names{"empty.txt", "same.txt", "stored.bin", "twice.txt"}));
  struct Expected {
    const char* name;
    std::string data;
    std::uint32_t time;
  } expected[] = {
      {"same.txt", "new", same.time},
      {"empty.txt", "", empty.time},
      {"stored.bin", stored.data, stored.time},
      {"twice.txt", "second", second.time},
  };
  for (const Expected& e : expected) {
    EXPECT_EQ(read_file(in_target(e.name)), e.data) << e.name;
    EXPECT_EQ(file_mtime(in_target(e.name)), local_seconds(e.time)) << e.name;
  }
}

// A DOS date that names no day (month 13, day 0) converts to no time on Windows: the file keeps
// the time it got when it was written, rather than an uninitialised one.
TEST_F(ArchiveExtractionTest, InvalidEntryTimeKeepsTheFilesOwnTime) {
  ArchiveEntry odd = unix_file("odd.txt", "odd");
  odd.time = (40u << 25) | (13u << 21) | (0u << 16) | (31u << 11) | (63u << 5) | 31u;
  std::int64_t before = file_mtime(m_target);
  Extraction extraction = extract({odd});
  EXPECT_EQ(extraction.result, k_extract_ok) << extraction.out;
  EXPECT_EQ(read_file(in_target("odd.txt")), "odd");
  if (platform::platform_kind() == platform::PlatformKind::Windows) {
    std::int64_t written = file_mtime(in_target("odd.txt"));
    EXPECT_GE(written, before - 2) << written;
    EXPECT_LE(written, before + 86400) << written;
  }
}

TEST_F(ArchiveExtractionTest, EmptyArchiveWritesNothing) {
  Extraction extraction = extract({});
  EXPECT_EQ(extraction.result, k_extract_ok);
  EXPECT_EQ(extraction.out, "");
  EXPECT_EQ(tree_listing(m_target), Names{});
  EXPECT_EQ(platform::current_directory(), m_target);

  // The end record alone, with a comment; and records that only look like one.
  const std::string record = std::string("PK\5\6", 4) + std::string(16, '\0');
  struct Case {
    std::string bytes;
    int result;
  } cases[] = {
      {record + std::string("\7\0", 2) + "comment", k_extract_ok},
      {record + std::string("\7\0", 2) + "comment!", k_extract_not_an_archive},
      {record + std::string("\0", 1), k_extract_not_an_archive},
      {"PK\5\6" + std::string("\0\0\0\0\1\0\1\0", 8) + std::string(10, '\0'),
       k_extract_not_an_archive},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(write_file(m_archive, c.bytes));
    EXPECT_EQ(extract_written().result, c.result) << c.bytes.size();
    EXPECT_EQ(tree_listing(m_target), Names{});
  }
}

TEST_F(ArchiveExtractionTest, NoArchiveLeavesEverythingAsItWas) {
  ASSERT_TRUE(write_file(m_dir.file("not_a_zip"), "plain text, no archive"));
  std::string not_a_zip = m_dir.file("not_a_zip");
  std::string missing = m_dir.file("missing");
  // Only the file given is read: an archive under its name with ".zip" appended is not.
  ASSERT_TRUE(write_archive(m_dir.file("not_a_zip.zip"), {unix_file("stray.txt", "stray")}));
  for (const std::string& path : {not_a_zip, missing}) {
    Extraction extraction = extract_written(path);
    EXPECT_EQ(extraction.result, k_extract_not_an_archive) << path;
    EXPECT_EQ(extraction.out, "") << path;
    EXPECT_EQ(platform::current_directory(), m_dir.path()) << path;
  }
  platform::FileHandle closed;
  EXPECT_EQ(extract_archive(closed, m_target, this_platform()), k_extract_not_an_archive);
  EXPECT_EQ(tree_listing(m_dir.path()), (Names{"not_a_zip", "not_a_zip.zip", "target/"}));
}

TEST_F(ArchiveExtractionTest, UnixModesOnLinux) {
  if (!on_linux()) {
    GTEST_SKIP() << "Windows files have no permission bits";
  }
  ArchiveEntry fat_file;
  fat_file.name = "fat.txt";
  fat_file.data = "made on FAT";
  ArchiveEntry fat_directory;
  fat_directory.name = "fatdir/";
  ArchiveEntry link;
  link.name = "link";
  link.data = "run.sh";
  link.unix_mode = 0120777;
  std::vector<ArchiveEntry> entries = {
      unix_file("run.sh", "#!/bin/sh\n", 0755),
      unix_file("private.txt", "p", 0600),
      unix_file("setuid", "s", 04755),
      unix_file("readonly.txt", "r", 0444),
      // A read-only directory entry before the file below it.
      unix_directory("locked/", 0555),
      unix_file("locked/inside.txt", "i", 0640),
      fat_file,
      fat_directory,
      link,
  };
  ASSERT_TRUE(write_archive(m_archive, entries));
  struct Expected {
    const char* name;
    unsigned mode;
  } expected[] = {
      {"run.sh", 0755}, {"private.txt", 0600},       {"setuid", 0755},  {"readonly.txt", 0444},
      {"locked", 0755}, {"locked/inside.txt", 0640}, {"fat.txt", 0644}, {"fatdir", 0755},
  };
  // Files get their bits after their data or as they are created; "private.txt", found in place
  // with other bits, gets its own after its data either way.
  for (NewFileBits bits : {NewFileBits::AfterData, NewFileBits::AtCreation}) {
    std::string target = m_dir.file(bits == NewFileBits::AfterData ? "after" : "at-creation");
    ASSERT_TRUE(fs::create_directory(target));
    ASSERT_TRUE(write_file(target + "/private.txt", "was there"));
    fs::permissions(target + "/private.txt", fs::perms(0644));
    platform::FileHandle archive;
    ASSERT_EQ(platform::open_file_for_reading(m_archive, archive), 0);
    DiskSink sink(bits);
    DiskSink second_sink(bits);
    ::testing::internal::CaptureStdout();
    int result = extract_archive(
        archive, target, this_platform(),
        ExtractionEngine{&sink, &second_sink, k_parallel_entries, k_ring_entry_size, UINT64_MAX});
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(result, k_extract_ok);
    for (const Expected& e : expected) {
      EXPECT_EQ(mode_of(target + "/" + e.name), e.mode) << std::oct << e.name;
    }
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(target + "/link")));
    EXPECT_EQ(fs::read_symlink(target + "/link").string(), "run.sh");
  }
}

// The absolute names point into the test's own folder, so that a name that got through would
// show up there instead of anywhere else.
std::string absolute_inside(const std::string& folder, char separator) {
  std::string path = folder;
  if (path.size() > 1 && path[1] == ':') {
    path.erase(0, 2);
  }
  for (char& c : path) {
    if (c == '/' || c == '\\') {
      c = separator;
    }
  }
  return path + separator + "escaped.txt";
}

TEST_F(ArchiveExtractionTest, RefusesHostileNamesBeforeWritingAnything) {
  struct Case {
    std::string name;
    std::string reason;
    // A link entry's target (Linux only); none for a file entry.
    std::optional<std::string> link = std::nullopt;
  } cases[] = {
      {absolute_inside(m_dir.path(), '/'), "the name is an absolute path"},
      {absolute_inside(m_dir.path(), '\\'), "the name is an absolute path"},
      {"C:escaped.txt", "the name carries a drive letter"},
      {"C:\\escaped.txt", "the name carries a drive letter"},
      {"c:/escaped.txt", "the name carries a drive letter"},
      {"../escaped.txt", "the name climbs out with \"..\""},
      {"made/../../escaped.txt", "the name climbs out with \"..\""},
      {"made\\..\\..\\escaped.txt", "the name climbs out with \"..\""},
      {"made/...\\escaped.txt", "the name climbs out with \"..\""},
      {"made/../", "the name climbs out with \"..\""},
      {"../", "the name climbs out with \"..\""},
      {"link", "the link target is an absolute path", absolute_inside(m_dir.path(), '/')},
      {"made/link", "the link target climbs out with \"..\"", "../../escaped.txt"},
      {"made/link", "the link target climbs out with \"..\"", "./.././/.."},
      {"made/link", "the link target has \"..\" behind a name", "x/../.."},
      {"link", "the link target is empty", ""},
      {"link", "the link target holds a NUL byte", std::string("a\0b", 3)},
      {"link", "the link target has 4096 bytes or more", std::string(4096, 'l')},
  };
  for (const Case& c : cases) {
    if (c.link && !on_linux()) {
      continue;
    }
    Extraction extraction =
        extract({unix_file("before.txt", "b"),
                 c.link ? unix_link(c.name, *c.link) : unix_file(c.name, "evil"),
                 unix_file("after.txt", "a")});
    EXPECT_EQ(extraction.result, k_extract_incomplete) << c.name;
    EXPECT_EQ(extraction.out, "refusing entry " + c.name + ": " + c.reason + "\n") << c.name;
    EXPECT_EQ(tree_listing(m_target), Names{"before.txt"}) << c.name;
    EXPECT_EQ(tree_listing(m_dir.path()), (Names{"payload.zip", "target/", "target/before.txt"}))
        << c.name;
    ASSERT_EQ(platform::set_current_directory(m_dir.path()), 0);
    ASSERT_EQ(platform::remove_file(in_target("before.txt")), 0);
  }
}

TEST_F(ArchiveExtractionTest, RefusesNamesTooLongForTheBuffer) {
  // 255 bytes fit; the components stay short for the file systems' sake.
  std::string fits;
  while (fits.size() + 20 < 255) {
    fits += std::string(19, 'd') + "/";
  }
  fits += std::string(255 - fits.size(), 'f');
  ASSERT_EQ(fits.size(), 255u);
  std::string too_long = fits + "g";
  Extraction extraction = extract(
      {unix_file(fits, "fits"), unix_file(too_long, "too long"), unix_file("after.txt", "a")});
  EXPECT_EQ(extraction.result, k_extract_incomplete);
  EXPECT_EQ(extraction.out, "refusing entry " + too_long + ": the name has 256 bytes or more\n");
  EXPECT_EQ(read_file(in_target(fits)), "fits");
  EXPECT_FALSE(path_exists(in_target(too_long)));
  EXPECT_FALSE(path_exists(in_target("after.txt")));
}

// Offset of the first entry's data: behind its local header, name and extra field.
std::size_t first_data_offset(const std::string& archive) {
  auto u16 = [&](std::size_t at) {
    return static_cast<std::size_t>(static_cast<unsigned char>(archive[at])) |
           static_cast<std::size_t>(static_cast<unsigned char>(archive[at + 1])) << 8;
  };
  return 30 + u16(26) + u16(28);
}

// Sets the 16-bit field at `offset` of the first local header and of the first central header
// (whose fields stand 2 bytes further on) to `value`.
void patch_first_entry(std::string& archive, std::size_t local_offset, unsigned value) {
  std::size_t central = archive.find(std::string("PK\1\2", 4));
  for (std::size_t at : {local_offset, central + local_offset + 2}) {
    archive[at] = static_cast<char>(value & 0xff);
    archive[at + 1] = static_cast<char>(value >> 8);
  }
}

// `data` as a raw deflate stream, as a ZIP entry holds it.
std::string raw_deflate(const std::string& data) {
  z_stream stream{};
  std::string out(data.size() + 1024, '\0');
  EXPECT_EQ(
      deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY),
      Z_OK);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// An entry "damaged.txt" whose stored bytes are `stored` as they are, recorded with the size and
// CRC-32 of `claimed`.
ArchiveEntry crafted_entry(ArchiveMethod method, const std::string& stored,
                           const std::string& claimed) {
  ArchiveEntry entry;
  entry.name = "damaged.txt";
  entry.method = method;
  entry.data = stored;
  entry.raw = true;
  entry.raw_size = claimed.size();
  entry.raw_crc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(claimed.data()), static_cast<uInt>(claimed.size())));
  return entry;
}

TEST_F(ArchiveExtractionTest, DamagedDataStopsTheExtraction) {
  const std::string crc_error =
      "error " + std::to_string(UNZ_CRCERROR) + " with zipfile in unzCloseCurrentFile\n";
  const std::string data_error =
      "error " + std::to_string(Z_DATA_ERROR) + " with zipfile in unzReadCurrentFile\n";
  auto first_data_byte = [](unsigned char value) {
    return [value](std::string& bytes) {
      bytes[first_data_offset(bytes)] = static_cast<char>(value);
    };
  };
  // The low half of the recorded CRC-32 changed: the data no longer matches it.
  auto wrong_crc = [](std::string& bytes) { patch_first_entry(bytes, 14, 0x1234); };
  ArchiveEntry plain;
  plain.name = "damaged.txt";
  plain.data = std::string(20000, 'a') + "tail";
  ArchiveEntry stored = plain;
  stored.method = ArchiveMethod::Stored;
  // Many times the writer thread's buffers.
  ArchiveEntry large = plain;
  for (int i = 0; large.data.size() < (3 << 20); ++i) {
    large.data += std::to_string(i * 7919L);
  }
  ArchiveEntry large_stored = large;
  large_stored.method = ArchiveMethod::Stored;
  const std::string twenty(20, 'x');
  // A stored deflate block (final or not) that says it holds `length` bytes and holds `content`.
  auto stored_block = [](bool final, unsigned length, const std::string& content) {
    return std::string{static_cast<char>(final ? 1 : 0), static_cast<char>(length & 0xff),
                       static_cast<char>(length >> 8), static_cast<char>(~length & 0xff),
                       static_cast<char>(~length >> 8 & 0xff)} +
           content;
  };
  struct Case {
    const char* what;
    ArchiveEntry damaged;
    std::function<void(std::string&)> damage;
    std::string out;
  } cases[] = {
      {"stored data with one byte changed", stored, first_data_byte('X'), crc_error},
      {"stored data with a wrong CRC", stored, wrong_crc, crc_error},
      {"deflated data with a wrong CRC", plain, wrong_crc, crc_error},
      {"large deflated data with a wrong CRC", large, wrong_crc, crc_error},
      {"large stored data with one byte changed", large_stored, first_data_byte('X'), crc_error},
      {"deflated data starting with a reserved block type", plain, first_data_byte(0xff),
       data_error},
      // Each of these would pass the CRC check: the stream must also end with the entry's size.
      {"a final stored block longer than the data",
       crafted_entry(ArchiveMethod::Deflated, stored_block(true, 100, twenty), twenty), nullptr,
       data_error},
      {"a deflate stream without a final block",
       crafted_entry(ArchiveMethod::Deflated, stored_block(false, 20, twenty), twenty), nullptr,
       data_error},
      {"a deflate stream that goes on past the entry's size",
       crafted_entry(ArchiveMethod::Deflated, raw_deflate(std::string(100000, 'a')),
                     std::string(1000, 'a')),
       nullptr, data_error},
      {"a deflate stream followed by more bytes",
       crafted_entry(ArchiveMethod::Deflated, raw_deflate(twenty) + "more", twenty), nullptr,
       data_error},
      {"stored data longer than the entry's size",
       crafted_entry(ArchiveMethod::Stored, twenty + "more", twenty), nullptr, data_error},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(write_archive(m_archive, {c.damaged, unix_file("after.txt", "a")}));
    std::string bytes = read_file(m_archive);
    if (c.damage) {
      c.damage(bytes);
    }
    ASSERT_TRUE(write_file(m_archive, bytes));
    // On one thread, then with the data written by a thread of its own, which must leave the
    // same: the message, and the damaged entry's file as far as it was written.
    std::string left;
    for (std::uint64_t ring_entry_size : {std::uint64_t{UINT64_MAX}, std::uint64_t{1}}) {
      SCOPED_TRACE(ring_entry_size == 1 ? "writer thread" : "one thread");
      Extraction extraction = extract_written("", ring_entry_size);
      EXPECT_EQ(extraction.result, k_extract_incomplete);
      EXPECT_EQ(extraction.out, c.out);
      EXPECT_FALSE(path_exists(in_target("after.txt")));
      ASSERT_EQ(platform::set_current_directory(m_dir.path()), 0);
      std::string file =
          path_exists(in_target("damaged.txt")) ? read_file(in_target("damaged.txt")) : "none";
      if (ring_entry_size != 1) {
        left = file;
      } else {
        EXPECT_EQ(file.size(), left.size());
        EXPECT_TRUE(file == left);
      }
      (void)platform::remove_file(in_target("damaged.txt"));
    }
  }
  // The same streams, whole, extract.
  for (const ArchiveEntry& sound :
       {crafted_entry(ArchiveMethod::Deflated, stored_block(true, 20, twenty), twenty),
        crafted_entry(ArchiveMethod::Deflated,
                      stored_block(false, 20, twenty) + stored_block(true, 0, ""), twenty),
        crafted_entry(ArchiveMethod::Deflated, raw_deflate(twenty), twenty),
        crafted_entry(ArchiveMethod::Deflated, raw_deflate(""), ""),
        crafted_entry(ArchiveMethod::Stored, twenty, twenty)}) {
    Extraction extraction = extract({sound, unix_file("after.txt", "a")});
    EXPECT_EQ(extraction.result, k_extract_ok) << extraction.out;
    EXPECT_EQ(read_file(in_target("damaged.txt")), sound.raw_size == 0 ? "" : twenty);
    ASSERT_EQ(platform::set_current_directory(m_dir.path()), 0);
  }
}

// From sixteen entries on the extraction runs on two threads, and gives the answer of one.
// Whichever thread meets it, the first failing entry in archive order decides: only its message
// shows, and every entry before it is complete. Entries that may land on one file go on one
// thread, in archive order: the last one wins, and a file where a folder is needed fails alike.
TEST_F(ArchiveExtractionTest, FirstFailingEntryInArchiveOrderDecidesOnTwoThreads) {
  const std::string crc_error =
      "error " + std::to_string(UNZ_CRCERROR) + " with zipfile in unzCloseCurrentFile\n";
  struct Renamed {
    int index;
    const char* name;
    // Null: the entry's usual data.
    const char* data = nullptr;
  };
  struct Case {
    const char* what;
    std::vector<int> refused;
    std::vector<int> damaged;
    // The first failing entry, -1 for none, and what it prints.
    int first;
    std::string out;
    std::vector<Renamed> renamed = {};
    // An entry of 8 MiB, which is still being written when the other thread reaches the next.
    int large = -1;
  } cases[] = {
      {"every entry sound", {}, {}, -1, ""},
      {"one damaged entry", {}, {25}, 25, crc_error},
      // Side by side, the later entry is met by the other thread, often before the first fails.
      {"a damaged entry just before a refused one", {13}, {12}, 12, crc_error},
      {"a refused entry just before a damaged one", {5}, {6}, 5,
       "refusing entry ../e05.txt: the name climbs out with \"..\"\n"},
      {"two damaged entries far apart", {}, {10, 30}, 10, crc_error},
      {"one name twice, the first large",
       {},
       {},
       -1,
       "",
       {{8, "same.bin"}, {9, "same.bin", "SMALL"}},
       8},
      {"one destination spelt three ways", {}, {}, -1, "",
       {{3, "./a/x"}, {4, "a//x", "second"}, {5, "a\\x", "third"}}, 3},
      {"names that differ in case", {}, {}, -1, "", {{6, "Case.txt"}, {7, "case.txt"}}, 6},
      {"a file where a folder is needed", {}, {}, 11, "error opening a/x\n",
       {{10, "a"}, {11, "a/x"}}, 10},
      {"a folder where a file is needed", {}, {}, 11, "error opening a\n",
       {{10, "a/x"}, {11, "a"}}, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto contains = [](const std::vector<int>& list, int i) {
      return std::find(list.begin(), list.end(), i) != list.end();
    };
    std::vector<ArchiveEntry> entries;
    for (int i = 0; i < 40; ++i) {
      std::string number = (i < 10 ? "0" : "") + std::to_string(i);
      ArchiveEntry entry = unix_file((contains(c.refused, i) ? "../e" : "e") + number + ".txt",
                                     "<entry " + number + ">" + std::string(4000, 'x'));
      entry.method = ArchiveMethod::Stored;
      entry.repeat = i == c.large ? 2048 : 1;
      entries.push_back(entry);
    }
    for (const Renamed& r : c.renamed) {
      entries[r.index].name = r.name;
      if (r.data != nullptr) {
        entries[r.index].data = r.data;
      }
    }
    ASSERT_TRUE(write_archive(m_archive, entries));
    std::string bytes = read_file(m_archive);
    for (int i : c.damaged) {
      std::size_t at = bytes.find("<entry " + std::string(i < 10 ? "0" : "") + std::to_string(i));
      ASSERT_NE(at, std::string::npos);
      bytes[at] = '!';
    }
    ASSERT_TRUE(write_file(m_archive, bytes));
    Extraction extraction = extract_written();
    EXPECT_EQ(extraction.result, c.first < 0 ? k_extract_ok : k_extract_incomplete);
    EXPECT_EQ(extraction.out, c.out);
    int complete = c.first < 0 ? 40 : c.first;
    for (int i = 0; i < complete; ++i) {
      // The last entry written to the same file decides what it holds. Only renamed entries
      // can share a file (asked of the file system, which is slow under Wine: not for every pair).
      std::string path = in_target(linux_path(entries[i].name));
      int last = i;
      // Renamed entries come in archive order.
      for (const Renamed& r : c.renamed) {
        std::error_code error;
        if (r.index > last && r.index < complete && i >= c.renamed.front().index &&
            fs::equivalent(path, in_target(linux_path(entries[r.index].name)), error)) {
          last = r.index;
        }
      }
      std::string expected;
      for (std::uint64_t n = 0; n < entries[last].repeat; ++n) {
        expected += entries[last].data;
      }
      EXPECT_TRUE(read_file(path) == expected) << entries[i].name << " from entry " << last;
    }
    ASSERT_EQ(platform::set_current_directory(m_dir.path()), 0);
    ASSERT_EQ(platform::remove_tree(m_target), 0);
    ASSERT_EQ(platform::make_directory(m_target, platform::DirectoryAccess::Shared), 0);
  }
}

// The entries' sizes are added up before anything is written. A sum that would wrap (two zip64
// entries of 2^63 bytes add up to 0) is held at its ceiling and refused like any total beyond the
// free space.
TEST_F(ArchiveExtractionTest, SizesBeyondTheFreeSpaceAreRefusedUpFront) {
  struct Case {
    const char* what;
    std::vector<std::uint64_t> sizes;
  } cases[] = {
      {"two entries of 2^63 bytes", {1ull << 63, 1ull << 63}},
      {"2^64 - 1 bytes and one more", {UINT64_MAX, 1}},
      {"four entries of 2^62 bytes and a small one",
       {1ull << 62, 1ull << 62, 1ull << 62, 1ull << 62, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Each central header claims its size in a zip64 extra field.
    std::vector<ArchiveEntry> entries;
    for (std::uint64_t size : c.sizes) {
      ArchiveEntry entry = unix_file("big" + std::to_string(entries.size()) + ".bin", "x");
      std::string field;
      for (int shift = 0; shift < 64; shift += 8) {
        field += static_cast<char>((size >> shift) & 0xff);
      }
      entry.extra_field = extra_field_record(0x0001, field);
      entries.push_back(entry);
    }
    ASSERT_TRUE(write_archive(m_archive, entries));
    std::string bytes = read_file(m_archive);
    const std::string central("PK\1\2", 4);
    for (std::size_t at = bytes.find(central); at != std::string::npos;
         at = bytes.find(central, at + 1)) {
      bytes.replace(at + 24, 4, "\xff\xff\xff\xff");
    }
    ASSERT_TRUE(write_file(m_archive, bytes));
    ::testing::internal::CaptureStderr();
    Extraction extraction = extract_written();
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(extraction.result, k_extract_no_space) << extraction.out;
    EXPECT_EQ(err.rfind("-E- Not enough space in " + m_target + ": 17592186044416 MB needed, ", 0),
              0u)
        << err;
    EXPECT_EQ(tree_listing(m_target), Names{});
    ASSERT_EQ(platform::set_current_directory(m_dir.path()), 0);
  }
}

TEST_F(ArchiveExtractionTest, DataThatEndsBeforeTheEntrysSizeStopsTheExtraction) {
  // minizip checks the CRC only once the entry's whole size was read; a deflate stream that ends
  // early must not pass as complete.
  for (ArchiveMethod method : {ArchiveMethod::Deflated, ArchiveMethod::Stored}) {
    ArchiveEntry shortened;
    shortened.name = "short.txt";
    shortened.data = std::string(20000, 'a') + "tail";
    shortened.method = method;
    ASSERT_TRUE(write_archive(m_archive, {shortened, unix_file("after.txt", "a")}));
    std::string bytes = read_file(m_archive);
    patch_first_entry(bytes, 22, 20004 + 100);
    ASSERT_TRUE(write_file(m_archive, bytes));
    Extraction extraction = extract_written();
    EXPECT_EQ(extraction.result, k_extract_incomplete) << static_cast<int>(method);
    EXPECT_EQ(extraction.out,
              "error " + std::to_string(UNZ_CRCERROR) + " with zipfile in unzReadCurrentFile\n");
    EXPECT_FALSE(path_exists(in_target("after.txt")));
    ASSERT_EQ(platform::set_current_directory(m_dir.path()), 0);
  }
}

// minizip walks as many entries as the end record counts. A count lower than the directory holds
// would leave the rest out without a word: the extraction compares the entries walked with the
// directory's recorded size and offset, and writes nothing when they differ.
TEST_F(ArchiveExtractionTest, EndRecordThatUnderCountsStopsTheExtraction) {
  const std::string more_entries =
      "the archive's directory holds more entries than its end record counts\n";
  struct Case {
    const char* label;
    bool zip64;
    // The count set in the end record; -1 leaves it as written.
    int count;
    std::string out;
  } cases[] = {
      {"as written", false, -1, ""},
      {"one of three", false, 1, more_entries},
      {"none of three", false, 0, more_entries},
      {"zip64, as written", true, -1, ""},
      {"zip64, two of three", true, 2, more_entries},
      {"zip64, none of three", true, 0, more_entries},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(write_archive(m_archive, {unix_file("first.txt", "1"), unix_directory("d/"),
                                          unix_file("d/third.txt", "3")}));
    std::string bytes = read_file(m_archive);
    if (c.zip64) {
      add_zip64_end_record(bytes);
    }
    if (c.count >= 0) {
      set_end_record_count(bytes, static_cast<std::uint64_t>(c.count));
    }
    ASSERT_TRUE(write_file(m_archive, bytes));
    Extraction extraction = extract_written();
    EXPECT_EQ(extraction.result, c.out.empty() ? k_extract_ok : k_extract_incomplete) << c.label;
    EXPECT_EQ(extraction.out, c.out) << c.label;
    EXPECT_EQ(tree_listing(m_target),
              c.out.empty() ? (Names{"d/", "d/third.txt", "first.txt"}) : Names{})
        << c.label;
    ASSERT_EQ(platform::set_current_directory(m_dir.path()), 0);
    ASSERT_EQ(platform::remove_tree(m_target), 0);
    ASSERT_EQ(platform::make_directory(m_target, platform::DirectoryAccess::Shared), 0);
  }
}

// The last entry's central extra field says it runs on past the archive's end, while its one
// record, skipped as minizip skips records, ends within it: minizip reads the entry, not the field,
// and the entries walked then overrun the directory the end record describes.
TEST_F(ArchiveExtractionTest, ExtraFieldPastTheArchivesEndStopsTheExtraction) {
  ArchiveEntry last = unix_file("last.txt", "2");
  last.extra_field = extra_field_record(0xcafe, "");
  ASSERT_TRUE(write_archive(m_archive, {unix_file("first.txt", "1"), last}));
  std::string bytes = read_file(m_archive);
  std::size_t header = bytes.rfind(std::string("PK\1\2", 4));
  std::size_t record = header + 46 + std::string("last.txt").size();
  bytes[header + 30] = 100;  // the field's length, 4 as written
  bytes[record + 2] = 96;    // its one record's length, 0 as written
  ASSERT_TRUE(write_file(m_archive, bytes));
  Extraction extraction = extract_written();
  EXPECT_EQ(extraction.result, k_extract_incomplete);
  EXPECT_EQ(extraction.out, "the archive's directory does not match its end record\n");
  EXPECT_EQ(tree_listing(m_target), Names{});
}

TEST_F(ArchiveExtractionTest, RefusesEntriesItCannotUnpack) {
  // minizip would hand out such data as it stands in the archive, with no CRC check at the end.
  struct Case {
    std::size_t field;
    unsigned value;
    std::string out;
  } cases[] = {
      {6, 1, "refusing entry locked.txt: the entry is encrypted\n"},
      {8, 12,
       "refusing entry locked.txt: compression method 12 (BZIP2) is not supported; "
       "pack with Deflate or store\n"},
      {8, 14,
       "refusing entry locked.txt: compression method 14 (LZMA) is not supported; "
       "pack with Deflate or store\n"},
      {8, 9,
       "refusing entry locked.txt: compression method 9 (Deflate64) is not supported; "
       "pack with Deflate or store\n"},
      {8, 77,
       "refusing entry locked.txt: compression method 77 is not supported; "
       "pack with Deflate or store\n"},
  };
  for (const Case& c : cases) {
    ArchiveEntry entry;
    entry.name = "locked.txt";
    entry.data = "looks like data";
    entry.method = ArchiveMethod::Stored;
    ASSERT_TRUE(write_archive(m_archive, {entry, unix_file("after.txt", "a")}));
    std::string bytes = read_file(m_archive);
    patch_first_entry(bytes, c.field, c.value);
    ASSERT_TRUE(write_file(m_archive, bytes));
    Extraction extraction = extract_written();
    EXPECT_EQ(extraction.result, k_extract_incomplete) << c.out;
    EXPECT_EQ(extraction.out, c.out);
    EXPECT_EQ(tree_listing(m_target), Names{}) << c.out;
    ASSERT_EQ(platform::set_current_directory(m_dir.path()), 0);
  }
}

TEST_F(ArchiveExtractionTest, FileThatCannotBeCreatedStopsTheExtraction) {
  // Printed whether or not SFX_STUB_DEBUG is set.
  ASSERT_EQ(platform::make_directory(in_target("blocked.txt"), platform::DirectoryAccess::Shared),
            0);
  ASSERT_TRUE(write_file(in_target("plain"), "a file where a directory must go"));
  struct Case {
    std::string name;
    std::string out;
  } cases[] = {
      {"blocked.txt", "error opening blocked.txt\n"},
      {"plain/below.txt", "error opening plain/below.txt\n"},
      // Windows reports a missing parent where Linux reports a file in the way, and the path
      // builder says so.
      {"plain/deeper/below.txt",
       std::string(on_linux() ? "" : "couldn't create directory plain/deeper\n") +
           "error opening plain/deeper/below.txt\n"},
  };
  for (const Case& c : cases) {
    Extraction extraction = extract({unix_file(c.name, "x"), unix_file("after.txt", "a")});
    EXPECT_EQ(extraction.result, k_extract_incomplete) << c.name;
    EXPECT_EQ(extraction.out, c.out) << c.name;
    EXPECT_EQ(tree_listing(m_target), (Names{"blocked.txt/", "plain"})) << c.name;
    ASSERT_EQ(platform::set_current_directory(m_dir.path()), 0);
  }
}

TEST_F(ArchiveExtractionTest, DirectoryThatCannotBeCreatedStopsTheExtraction) {
  Extraction extraction =
      extract({unix_file("name", "a file"), unix_directory("name/"), unix_file("after.txt", "a")});
  EXPECT_EQ(extraction.result, k_extract_incomplete);
  EXPECT_EQ(extraction.out, "couldn't create directory name/\n");
  EXPECT_EQ(tree_listing(m_target), Names{"name"});
}

TEST_F(ArchiveExtractionTest, FailedWritesStopTheExtraction) {
  if (!on_linux()) {
    GTEST_SKIP() << "needs a full device";
  }
  // A full device in the output file's place (a link to one would be replaced): the large entry
  // fails in a write, the small one only when the file is closed and its buffer flushed.
  for (std::size_t size : {std::size_t{100000}, std::size_t{100}}) {
    if (platform::run_shell("mknod " + quote_for_shell(in_target("full.bin")) +
                            " c 1 7 2>/dev/null") != 0) {
      GTEST_SKIP() << "needs root to make a device node like /dev/full";
    }
    Extraction extraction =
        extract({unix_file("full.bin", std::string(size, 'z'), 0666), unix_file("after.txt", "a")});
    EXPECT_EQ(extraction.result, k_extract_incomplete) << size;
    EXPECT_EQ(extraction.out, "No space left on device\n") << size;
    EXPECT_FALSE(path_exists(in_target("after.txt"))) << size;
    ASSERT_EQ(platform::set_current_directory(m_dir.path()), 0);
    ASSERT_EQ(platform::remove_file(in_target("full.bin")), 0);
  }
}

// Links the archive makes, or that were there before, are never written through: an entry whose
// path runs through one is refused; a link in a file's own place is replaced by the file.
TEST_F(ArchiveExtractionTest, LinkEntriesOnLinux) {
  if (!on_linux()) {
    // Windows writes a link entry as a file holding its target.
    EXPECT_EQ(extract({unix_link("l", "run.sh")}).result, k_extract_ok);
    EXPECT_EQ(read_file(in_target("l")), "run.sh");
    return;
  }
  const std::string outside = m_dir.file("outside");
  const std::string through = "the path runs through a symbolic link\n";
  // Two threads would take an archive of this size; the link keeps it on one, in archive order.
  std::vector<ArchiveEntry> many = {unix_link("d", ".")};
  for (int i = 10; i < 26; ++i) {
    many.push_back(unix_file(i == 17 ? "d/x" : "f" + std::to_string(i), "f"));
  }
  struct Case {
    const char* what;
    // Made in the target first: a file of that name, or a link to `planted_link` when given.
    std::string planted;
    std::string planted_link;
    std::vector<ArchiveEntry> entries;
    std::string out;
    Names listing;
    // A name in the target afterwards, whether it is a link, and what reading it gives.
    const char* checked;
    bool link;
    const char* content;
  } cases[] = {
      {"links inside",
       "",
       "",
       {unix_file("lib/libfoo.so.1.2", "elf"), unix_link("lib/libfoo.so.1", "libfoo.so.1.2"),
        unix_link("lib/up", "../lib/libfoo.so.1")},
       "",
       {"lib/", "lib/libfoo.so.1", "lib/libfoo.so.1.2", "lib/up"},
       "lib/up",
       true,
       "elf"},
      {"a link, then a file through it",
       "",
       "",
       {unix_link("d", "."), unix_file("d/x", "x")},
       "refusing entry d/x: " + through,
       {"d"},
       "d",
       true,
       nullptr},
      {"a link, then a folder through it",
       "",
       "",
       {unix_link("d", "."), unix_directory("d/s/")},
       "refusing entry d/s/: " + through,
       {"d"},
       "d",
       true,
       nullptr},
      {"a link, then a folder entry of its name",
       "",
       "",
       {unix_link("d", "dir"), unix_directory("d/")},
       "refusing entry d/: " + through,
       {"d"},
       "d",
       true,
       nullptr},
      {"a link, then a link through it",
       "",
       "",
       {unix_link("d", "."), unix_link("d/l", "x")},
       "refusing entry d/l: " + through,
       {"d"},
       "d",
       true,
       nullptr},
      {"a planted link to a folder outside",
       "out",
       outside,
       {unix_file("out/x", "x")},
       "refusing entry out/x: " + through,
       {"out"},
       "out",
       true,
       nullptr},
      {"a planted link to a file outside",
       "over",
       outside + "/victim.txt",
       {unix_file("over", "new")},
       "",
       {"over"},
       "over",
       false,
       "new"},
      {"a link over a planted file",
       "over",
       "",
       {unix_link("over", "lib"), unix_file("lib", "l")},
       "",
       {"lib", "over"},
       "over",
       true,
       "l"},
      {"a file over the archive's link",
       "",
       "",
       {unix_link("l", "victim.txt"), unix_file("l", "new")},
       "",
       {"l"},
       "l",
       false,
       "new"},
      {"on two threads the archive's order decides",
       "",
       "",
       many,
       "refusing entry d/x: " + through,
       {"d", "f10", "f11", "f12", "f13", "f14", "f15", "f16"},
       "f16",
       false,
       "f"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(platform::set_current_directory(m_dir.path()), 0);
    ASSERT_EQ(platform::remove_tree(m_target), 0);
    ASSERT_EQ(platform::make_directory(m_target, platform::DirectoryAccess::Shared), 0);
    (void)platform::remove_tree(outside);
    ASSERT_EQ(platform::make_directory(outside, platform::DirectoryAccess::Shared), 0);
    ASSERT_TRUE(write_file(outside + "/victim.txt", "victim"));
    if (!c.planted_link.empty()) {
      fs::create_symlink(c.planted_link, in_target(c.planted));
    } else if (!c.planted.empty()) {
      ASSERT_TRUE(write_file(in_target(c.planted), "planted"));
    }
    Extraction extraction = extract(c.entries);
    EXPECT_EQ(extraction.result, c.out.empty() ? k_extract_ok : k_extract_incomplete);
    EXPECT_EQ(extraction.out, c.out);
    EXPECT_EQ(tree_listing(m_target), c.listing);
    EXPECT_EQ(fs::is_symlink(fs::symlink_status(in_target(c.checked))), c.link);
    if (c.content != nullptr) {
      EXPECT_EQ(read_file(in_target(c.checked)), c.content);
    }
    EXPECT_EQ(tree_listing(outside), Names{"victim.txt"});
    EXPECT_EQ(read_file(outside + "/victim.txt"), "victim");
  }
  ASSERT_EQ(platform::set_current_directory(m_dir.path()), 0);
}

TEST_F(ArchiveExtractionTest, TargetThatCannotBeEnteredEndsTheProcess) {
  ASSERT_TRUE(write_archive(m_archive, {unix_file("never.txt", "n")}));
  // Where a death test runs the test again in a new process (Windows), that process must use
  // this one's names: it finds them in the environment.
  std::string base;
  if (!read_environment_variable("SFX_TEST_ABORT_DIR", base)) {
    base = m_dir.path();
  }
  ScopedEnvironment shared_base("SFX_TEST_ABORT_DIR", base);
  std::string missing = join_path(base, "missing");
  std::string out = join_path(base, "out.txt");
  // exit(-1) shows as 255 on Linux and as -1 on Windows.
  int status = on_linux() ? 255 : -1;
  std::string archive = join_path(base, "payload.zip");
  EXPECT_EXIT(
      {
        if (m_dir.path() != base) {
          // This process runs the test again only for this statement: its own folder goes.
          (void)platform::set_current_directory(base);
          (void)platform::remove_tree(m_dir.path());
        }
        (void)std::freopen(out.c_str(), "w", stdout);
        (void)extract_archive_file(archive, missing);
      },
      ::testing::ExitedWithCode(status), "");
  std::string printed = read_file(out);
  for (std::size_t at; (at = printed.find("\r\n")) != std::string::npos;) {
    printed.erase(at, 1);
  }
  EXPECT_EQ(printed, "Error changing into " + missing + ", aborting\n");
  EXPECT_EQ(tree_listing(m_target), Names{});
}

}  // namespace
