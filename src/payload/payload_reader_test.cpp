// SPDX-License-Identifier: Zlib
// The payload reader on packages put together in the tests: every trailer rule, every failure
// message, and the archive that comes out.

#include "payload/payload_reader.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "extract/archive_extraction.hpp"
#include "extract/archive_stream.hpp"
#include "package/entry_rules.hpp"
#include "platform/platform.hpp"
#include "testing/archive_builder.hpp"
#include "testing/package_builder.hpp"
#include "testing/scoped_temp_dir.hpp"
#include "workdir/path.hpp"

namespace {

bool is_windows() { return platform::platform_kind() == platform::PlatformKind::Windows; }

// Bytes that stand for a stub image or an archive; the reader does not look into either.
std::string filler(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>((i * 131 + seed * 17 + (i >> 7)) & 0xFF);
  }
  return bytes;
}

const std::string k_image = filler(2000, 1);
const std::string k_archive = filler(2500, 2);

std::string not_found_message() {
  return "-E- Failed to find version pattern, vek_fwsfx_gen is older than expected : '2.0', make "
         "sure to have the latest ORBA\n";
}

class PayloadReaderTest : public ::testing::Test {
 protected:
  // Writes `content` as the stub's file and reads it with the work directory `work_dir` (the
  // test's directory when empty). Keeps the result, the messages and the return value.
  int read(const std::string& content, const std::string& work_dir = "") {
    EXPECT_TRUE(write_file(package_path(), content));
    return read_existing(work_dir.empty() ? dir.path() : work_dir);
  }

  int read_existing(const std::string& work_dir) {
    result = PayloadResult{};
    testing::internal::CaptureStderr();
    int status = read_payload(package_path(), work_dir, this_platform(), result);
    err = testing::internal::GetCapturedStderr();
    return status;
  }

  // Runs `extract` (given the folder) into the new folder "target", capturing what it prints, and
  // checks that it succeeded with who.txt from the archive "original.zip".
  template <typename Extract>
  void expect_original_extracted(Extract extract) {
    std::string target = dir.file("target");
    ASSERT_EQ(platform::make_directory(target, platform::DirectoryAccess::Shared), 0);
    testing::internal::CaptureStdout();
    int extracted = extract(target);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(platform::set_current_directory(dir.path()), 0);
    EXPECT_EQ(extracted, k_extract_ok) << out;
    EXPECT_EQ(read_file(target + "/who.txt"), "original");
  }

  std::string package_path() const { return dir.file("package.exe"); }
  std::string archive_path() const { return dir.file("archive.zip"); }

  ScopedTempDir dir;
  PayloadResult result;
  std::string err;
};

RawTrailer trailer_for(const std::string& archive, const std::string& command = "tool %argv%") {
  RawTrailer trailer;
  trailer.command_template = command;
  trailer.archive_length = static_cast<std::uint32_t>(archive.size());
  return trailer;
}

TEST_F(PayloadReaderTest, CopiesTheArchiveWithAndWithoutExtraToolAndTrailingBytes) {
  struct Case {
    std::optional<std::string> extra_tool;
    std::string after;
  } cases[] = {
      {std::nullopt, ""},
      {std::nullopt, "12345"},
      {std::string("flash %device%"), ""},
      {std::string("flash %device%"), filler(5000, 3)},
      {std::nullopt, filler(4096 + 8192, 4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.after.size());
    RawTrailer trailer = trailer_for(k_archive);
    trailer.extra_tool_command = c.extra_tool;
    ASSERT_EQ(read(k_image + k_archive + make_trailer(trailer) + c.after), k_payload_ok) << err;
    EXPECT_EQ(err, "");
    EXPECT_TRUE(result.archive_written);
    EXPECT_EQ(result.archive_path, archive_path());
    EXPECT_EQ(result.command_template, "tool %argv%");
    EXPECT_EQ(read_file(archive_path()), k_archive);
    std::vector<std::string> expected_tools;
    if (c.extra_tool) {
      expected_tools.push_back(*c.extra_tool);
    }
    EXPECT_EQ(result.extra_tool_commands, expected_tools);
  }
}

TEST_F(PayloadReaderTest, AcceptsOnlyLayoutVersionTwoPointZero) {
  struct Case {
    std::string field;
    bool accepted;
    std::string shown;
  } cases[] = {
      {std::string("2.0\0abcd", 8), true, ""},
      {"2.0", true, ""},
      {"1.0", false, "1.0"},
      {"2.01", false, "2.01"},
      {"", false, ""},
      {"2.0.0", false, "2.0.0"},
      {"12345678", false, "12345678"},
      // Another package's bytes: never sent to the terminal as they are.
      {"\x1b[2J\x9b" "1m", false, "\\x1b[2J\\x9b1m"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    RawTrailer trailer = trailer_for(k_archive);
    trailer.layout_version = c.field;
    int status = read(k_image + k_archive + make_trailer(trailer));
    if (c.accepted) {
      EXPECT_EQ(status, k_payload_ok) << err;
      continue;
    }
    EXPECT_EQ(status, k_payload_file_error);
    EXPECT_EQ(err, "-E- Extractor layout version : '" + c.shown +
                       "' differs than expected '2.0', make sure generator and sfx_stub versions "
                       "are matched\n");
    EXPECT_FALSE(result.archive_written);
  }
}

TEST_F(PayloadReaderTest, FilesWithoutPayloadAreRejected) {
  RawTrailer unterminated = trailer_for(k_archive);
  unterminated.version_pattern_field = RawTrailer::version_pattern_text() + "X";
  std::string at_zero = RawTrailer::version_pattern_text() + std::string(14, '\0') + "2.0";
  const std::string cases[] = {
      "",
      "x",
      std::string(32, '\0'),
      // Position 0 is never tested.
      at_zero + std::string(21, '\0'),
      k_image,
      k_image + k_archive + make_trailer(unterminated),
  };
  for (const std::string& content : cases) {
    SCOPED_TRACE(content.size());
    EXPECT_EQ(read(content), k_payload_file_error);
    EXPECT_EQ(err, not_found_message());
    EXPECT_FALSE(result.archive_written);
    EXPECT_FALSE(path_exists(archive_path()));
  }
}

TEST_F(PayloadReaderTest, PatternTooNearTheEndLeavesNoRoomForTheVersion) {
  std::string content = k_image + RawTrailer::version_pattern_text() + std::string(14, '\0');
  EXPECT_EQ(read(content), k_payload_file_error);
  EXPECT_EQ(err, "-E- Failed to read current version: '" + package_path() + "'\n");
}

TEST_F(PayloadReaderTest, CommandSectionWithoutNulGivesAll256Characters) {
  std::string command(256, 'c');
  command.replace(0, 5, "tool ");
  ASSERT_EQ(read(k_image + k_archive + make_trailer(trailer_for(k_archive, command))), k_payload_ok)
      << err;
  EXPECT_EQ(result.command_template, command);
}

TEST_F(PayloadReaderTest, ArchiveLengthZeroGivesAnEmptyArchive) {
  ASSERT_EQ(read(k_image + make_trailer(trailer_for(""))), k_payload_ok) << err;
  EXPECT_TRUE(result.archive_written);
  EXPECT_TRUE(path_exists(archive_path()));
  EXPECT_EQ(read_file(archive_path()), "");
}

TEST_F(PayloadReaderTest, ArchiveLengthBeyondTheCommandSectionFailsBeforeAnyFileIsCreated) {
  const std::string content_before = k_image + k_archive;
  const std::uint32_t lengths[] = {static_cast<std::uint32_t>(content_before.size() + 1),
                                   0x80000000u, 0xFFFFFFFFu};
  for (std::uint32_t length : lengths) {
    SCOPED_TRACE(length);
    RawTrailer trailer = trailer_for(k_archive);
    trailer.archive_length = length;
    EXPECT_EQ(read(content_before + make_trailer(trailer)), k_payload_file_error);
    EXPECT_EQ(err, "-E- Failed to seek start offset, file '" + package_path() + "'\n");
    EXPECT_FALSE(result.archive_written);
    EXPECT_FALSE(path_exists(archive_path()));
  }
  // The whole file before the command section is still a valid archive.
  RawTrailer whole = trailer_for(content_before);
  ASSERT_EQ(read(content_before + make_trailer(whole)), k_payload_ok) << err;
  EXPECT_EQ(read_file(archive_path()), content_before);
}

// The probe at T - 328 happens only when that position is above 0. Here the 28 bytes before the
// command section start with the extra-tool pattern, so a probe would find a section.
TEST_F(PayloadReaderTest, PackagesOf328BytesOrLessAreNotProbedForExtraTool) {
  std::string lookalike = RawTrailer::extra_tool_pattern_text() + std::string(7, '\0');
  ASSERT_EQ(lookalike.size(), 28u);
  ASSERT_EQ(read(lookalike + make_trailer(trailer_for(lookalike))), k_payload_ok) << err;
  EXPECT_EQ(result.extra_tool_commands, std::vector<std::string>{});
  EXPECT_EQ(read_file(archive_path()), lookalike);

  // One byte more and the probe at 1 takes those bytes for a section; the command section would
  // then start before the file.
  EXPECT_EQ(read("S" + lookalike + make_trailer(trailer_for(lookalike))), k_payload_file_error);
  EXPECT_EQ(err, "-E- Failed to seek Exec cmd offset, file : '" + package_path() + "'\n");
  EXPECT_EQ(result.extra_tool_commands.size(), 1u);
}

// The layout cannot tell such an archive from a real section; the generator refuses to write it.
TEST_F(PayloadReaderTest, ArchiveEndingLikeAnExtraToolPatternIsReadAsASection) {
  std::string archive = k_archive + RawTrailer::extra_tool_pattern_text() + std::string(7, '\0');
  std::string content = k_image + archive + make_trailer(trailer_for(archive, "abcdtool run"));
  (void)read(content);
  // The section's command field starts 4 bytes into the command section; what follows is read
  // 288 bytes too far from the end.
  EXPECT_EQ(result.extra_tool_commands, std::vector<std::string>{"tool run"});
}

TEST_F(PayloadReaderTest, ArchivePathUsesThePlatformSeparators) {
  std::string work_dir = dir.path();
  for (char& c : work_dir) {
    if (c == '\\') {
      c = '/';
    }
  }
  ASSERT_EQ(read(k_image + k_archive + make_trailer(trailer_for(k_archive)), work_dir),
            k_payload_ok)
      << err;
  if (is_windows()) {
    EXPECT_EQ(result.archive_path.find('/'), std::string::npos) << result.archive_path;
    std::string expected = work_dir + "/archive.zip";
    to_backslashes(expected);
    EXPECT_EQ(result.archive_path, expected);
  } else {
    EXPECT_EQ(result.archive_path, work_dir + "/archive.zip");
  }
  EXPECT_EQ(read_file(archive_path()), k_archive);
}

TEST_F(PayloadReaderTest, MissingStubAndMissingWorkDirectory) {
  std::string missing = dir.file("missing.exe");
  testing::internal::CaptureStderr();
  EXPECT_EQ(read_payload(missing, dir.path(), this_platform(), result), k_payload_file_error);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "-E- Failed to Extract file " + missing + ", " + std::strerror(ENOENT) + "\n");
  // The running program's own file is opened, whatever the name says: this test program has no
  // payload (the trailer texts it holds forward make the search find a wrong one).
  testing::internal::CaptureStderr();
  EXPECT_EQ(open_own_payload(missing, dir.path(), this_platform(), result), k_payload_file_error);
  std::string own = testing::internal::GetCapturedStderr();
  EXPECT_EQ(own.find("Failed to Extract file"), std::string::npos) << own;

  std::string no_dir = dir.file("no_such_dir");
  EXPECT_EQ(read(k_image + k_archive + make_trailer(trailer_for(k_archive)), no_dir),
            k_payload_archive_error);
  EXPECT_EQ(err, "-E- Failed to open file " + join_path(no_dir, "archive.zip") + "\n");
  EXPECT_FALSE(result.archive_written);
  EXPECT_EQ(result.command_template, "tool %argv%");
}

// archive.zip may be there before the run: left over, or planted by someone else in a shared
// folder, to be swapped after the copy or to have the copy written through a link into one of the
// user's files. Whatever it is, it is removed without being followed, and the archive is a new
// file that only the user may read and write. (A full disk during the copy is tested end to end.)
TEST_F(PayloadReaderTest, ArchiveNameTakenAlreadyIsRemovedNotFollowed) {
  const std::string victim = dir.file("victim.txt");
  const std::string victim_dir = dir.file("victim_dir");
  const std::string nowhere = dir.file("nowhere");
  ASSERT_TRUE(write_file(victim, "the user's own data"));
  ASSERT_EQ(platform::make_directory(victim_dir, platform::DirectoryAccess::Shared), 0);
  ASSERT_TRUE(write_file(victim_dir + "/inside.txt", "inside"));
  struct Case {
    const char* label;
    // Needs symbolic links, which the Windows tests cannot make.
    bool link;
    std::function<void()> plant;
  } cases[] = {
      {"a file anyone may write", false,
       [&] {
         ASSERT_TRUE(write_file(archive_path(), "planted, to be rewritten after the copy"));
         ASSERT_EQ(platform::set_file_mode(archive_path(), 0666), 0);
       }},
      {"a folder with a file", false,
       [&] {
         ASSERT_EQ(platform::make_directory(archive_path(), platform::DirectoryAccess::Shared), 0);
         ASSERT_TRUE(write_file(archive_path() + "/inside.txt", "x"));
       }},
      {"a link to the user's file", true,
       [&] { std::filesystem::create_symlink(victim, archive_path()); }},
      {"a link to nowhere", true,
       [&] { std::filesystem::create_symlink(nowhere, archive_path()); }},
      {"a link to the user's folder", true,
       [&] { std::filesystem::create_directory_symlink(victim_dir, archive_path()); }},
  };
  const std::string content = k_image + k_archive + make_trailer(trailer_for(k_archive));
  for (const Case& c : cases) {
    if (c.link && is_windows()) {
      continue;
    }
    SCOPED_TRACE(c.label);
    result = PayloadResult{};
    (void)platform::remove_tree(archive_path());
    c.plant();
    EXPECT_EQ(read(content), k_payload_ok) << err;
    EXPECT_EQ(err, "");
    EXPECT_TRUE(result.archive_written);
    EXPECT_TRUE(result.archive.is_open());
    EXPECT_FALSE(std::filesystem::is_symlink(std::filesystem::symlink_status(archive_path())));
    EXPECT_EQ(read_file(archive_path()), k_archive);
    if (!is_windows()) {
      EXPECT_EQ(std::filesystem::status(archive_path()).permissions() & std::filesystem::perms::all,
                std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    EXPECT_EQ(read_file(victim), "the user's own data");
    EXPECT_EQ(tree_listing(victim_dir), std::vector<std::string>{"inside.txt"});
    EXPECT_FALSE(path_exists(nowhere));
  }
}

// The extraction reads the very file the reader wrote, through its open descriptor: another
// archive put under its name afterwards is never opened.
TEST_F(PayloadReaderTest, ExtractionReadsTheFileWrittenNotTheName) {
  ASSERT_TRUE(write_archive(dir.file("original.zip"), {unix_file("who.txt", "original")}));
  ASSERT_TRUE(write_archive(dir.file("impostor.zip"), {unix_file("who.txt", "impostor")}));
  std::string archive = read_file(dir.file("original.zip"));
  ASSERT_EQ(read(k_image + archive + make_trailer(trailer_for(archive))), k_payload_ok) << err;
  std::error_code failure;
  std::filesystem::rename(dir.file("impostor.zip"), archive_path(), failure);
  // Windows does not even let the name go while the reader's file is open.
  if (!is_windows()) {
    ASSERT_FALSE(failure) << failure.message();
  }
  expect_original_extracted([&](const std::string& target) {
    return extract_archive(result.archive, target, this_platform());
  });
}

// The copy on a second thread while the extraction reads the archive inside the package: both
// through the handle the trailer was read from, so a package put under the stub's name after the
// trailer was read is never read.
TEST_F(PayloadReaderTest, CopyAndExtractionBesideItReadTheOpenPackage) {
  ASSERT_TRUE(write_archive(dir.file("original.zip"),
                            {unix_file("who.txt", "original"), unix_file("big.bin", filler(300000, 7))}));
  ASSERT_TRUE(write_archive(dir.file("impostor.zip"), {unix_file("who.txt", "impostor")}));
  std::string archive = read_file(dir.file("original.zip"));
  std::string impostor = read_file(dir.file("impostor.zip"));
  ASSERT_TRUE(write_file(package_path(), k_image + archive + make_trailer(trailer_for(archive))));
  testing::internal::CaptureStderr();
  ASSERT_EQ(open_payload(package_path(), dir.path(), this_platform(), result), k_payload_ok);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(result.archive_offset, k_image.size());
  EXPECT_EQ(result.archive_length, archive.size());
  EXPECT_EQ(read_file(archive_path()), "");
  std::error_code failure;
  std::filesystem::remove(package_path(), failure);
  if (!failure) {
    ASSERT_TRUE(write_file(package_path(), k_image + impostor + make_trailer(trailer_for(impostor))));
  }

  struct Copy {
    PayloadResult* result;
    std::string self_path;
    int status;
  } copy{&result, package_path(), -100};
  std::uintptr_t thread = 0;
  ASSERT_EQ(platform::start_thread(
                [](void* argument) {
                  Copy& work = *static_cast<Copy*>(argument);
                  work.status = copy_archive(*work.result, work.self_path);
                },
                &copy, thread),
            0);
  expect_original_extracted([&](const std::string& target) {
    ArchiveRegion region;
    region.read_file = file_reader(result.package);
    region.base = result.archive_offset;
    region.length = result.archive_length;
    int extracted = extract_archive_region(std::move(region), target, this_platform(), UINT64_MAX);
    platform::join_thread(thread);
    return extracted;
  });
  EXPECT_EQ(copy.status, k_payload_ok);
  EXPECT_EQ(read_file(dir.file("target/big.bin")), filler(300000, 7));
  EXPECT_EQ(read_file(archive_path()), archive);
}

// Positions are signed 32-bit values: the largest package still works, one byte more is refused.
TEST_F(PayloadReaderTest, PackagesOf2GiBOrMoreAreRefused) {
  const std::int64_t limit = std::int64_t{1} << 31;
  std::string tail = k_archive + make_trailer(trailer_for(k_archive));
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(package_path().c_str(), "wb"),
                                                       std::fclose);
  ASSERT_TRUE(file);
  // A sparse file: the hole before the tail takes no disk space.
  ASSERT_EQ(
      platform::seek_file(file.get(), limit - 1 - static_cast<std::int64_t>(tail.size()), SEEK_SET),
      0);
  ASSERT_EQ(std::fwrite(tail.data(), 1, tail.size(), file.get()), tail.size());
  ASSERT_EQ(std::fflush(file.get()), 0);
  ASSERT_EQ(read_existing(dir.path()), k_payload_ok) << err;
  EXPECT_EQ(read_file(archive_path()), k_archive);

  ASSERT_EQ(std::fwrite("x", 1, 1, file.get()), 1u);
  ASSERT_EQ(std::fclose(file.release()), 0);
  result = PayloadResult{};
  (void)platform::remove_file(archive_path());
  EXPECT_EQ(read_existing(dir.path()), k_payload_file_error);
  EXPECT_EQ(err, "-E- Package file '" + package_path() +
                     "' is 2147483648 bytes long; a package must be smaller than 2 GiB\n");
  EXPECT_FALSE(result.archive_written);
  EXPECT_FALSE(path_exists(archive_path()));
}

// The search and version check on their own: the count of bytes after the trailer, across the
// edges of the blocks that the search reads.
TEST_F(PayloadReaderTest, FindLayoutVersionCountsBytesAfterTheTrailer) {
  const std::uint32_t counts[] = {0, 1, 4087, 4088, 4089, 12279, 12280, 12281, 70000};
  std::string trailer = make_trailer(trailer_for(k_archive));
  for (std::uint32_t count : counts) {
    SCOPED_TRACE(count);
    std::string content = k_image + k_archive + trailer + filler(count, 6);
    ASSERT_TRUE(write_file(package_path(), content));
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(package_path().c_str(), "rb"),
                                                         std::fclose);
    ASSERT_TRUE(file);
    std::uint32_t bytes_after = 0;
    testing::internal::CaptureStderr();
    bool found = find_layout_version(static_cast<std::int32_t>(content.size()) - 32, file.get(),
                                     bytes_after, package_path());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(found);
    EXPECT_EQ(bytes_after, count);
  }
}

TEST_F(PayloadReaderTest, ReadExtraToolSectionProbes) {
  std::string section =
      RawTrailer::extra_tool_pattern_text() + std::string(11, '\0') + std::string(256, 'e');
  ASSERT_TRUE(write_file(package_path(), "P" + section));
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(package_path().c_str(), "rb"),
                                                       std::fclose);
  ASSERT_TRUE(file);
  std::uint32_t size = 99;
  std::vector<std::string> commands;
  EXPECT_TRUE(read_extra_tool_section(0, file.get(), size, package_path(), commands));
  EXPECT_EQ(size, 0u);
  EXPECT_TRUE(read_extra_tool_section(2, file.get(), size, package_path(), commands));
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(commands, std::vector<std::string>{});
  EXPECT_TRUE(read_extra_tool_section(1, file.get(), size, package_path(), commands));
  EXPECT_EQ(size, 288u);
  EXPECT_EQ(commands, std::vector<std::string>{std::string(256, 'e')});

  // A section cut short.
  file.reset();
  ASSERT_TRUE(write_file(package_path(), "P" + section.substr(0, 200)));
  file.reset(std::fopen(package_path().c_str(), "rb"));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(read_extra_tool_section(1, file.get(), size, package_path(), commands));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "-E- Failed to read extra tool cmd : '" + package_path() + "'\n");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(read_extra_tool_section(190, file.get(), size, package_path(), commands));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "-E- Failed to read extra tool Pattern : '" + package_path() + "'\n");
}

}  // namespace
