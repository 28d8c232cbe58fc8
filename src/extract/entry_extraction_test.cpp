// SPDX-License-Identifier: Zlib
#include "extract/entry_extraction.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "extract/archive_stream.hpp"
#include "extract/entry_sink.hpp"
#include "extract/extraction_plan.hpp"
#include "extract/parallel_extraction.hpp"
#include "platform/platform.hpp"
#include "testing/archive_builder.hpp"
#include "testing/disk_pass_through.hpp"
#include "testing/scoped_temp_dir.hpp"

namespace {

namespace fs = std::filesystem;

using Names = std::vector<std::string>;

// The steps of an entry's writing that a sink can fail.
enum class Step { MakeDirectory, OpenFile, Write, Flush, SetFileMode, CloseFile };

// The disk, but the step `failing` fails with `error` for the entry `victim`, as a full disk, an
// interrupted call or a directory in the way would make it fail.
class FailingSink final : public DiskPassThrough {
 public:
  FailingSink(Step failing, int error, std::string victim)
      : m_failing(failing), m_error(error), m_victim(std::move(victim)) {}

  int make_directory(const std::string& path, unsigned mode) override {
    return fails(Step::MakeDirectory, path == m_victim) ? m_error
                                                        : m_disk.make_directory(path, mode);
  }
  int open_file(const std::string& path, unsigned mode, bool& created) override {
    m_victim_open = path == m_victim;
    return fails(Step::OpenFile, m_victim_open) ? m_error : m_disk.open_file(path, mode, created);
  }
  int write(const void* data, std::size_t size) override {
    return fails(Step::Write, m_victim_open) ? m_error : m_disk.write(data, size);
  }
  int flush() override { return fails(Step::Flush, m_victim_open) ? m_error : m_disk.flush(); }
  int set_file_mode(unsigned mode) override {
    return fails(Step::SetFileMode, m_victim_open) ? m_error : m_disk.set_file_mode(mode);
  }
  int close_file() override {
    int closed = m_disk.close_file();
    return fails(Step::CloseFile, m_victim_open) ? m_error : closed;
  }

 private:
  bool fails(Step step, bool victim) const { return step == m_failing && victim; }

  Step m_failing;
  int m_error;
  std::string m_victim;
  bool m_victim_open = false;
};

// What the two threads' sinks of a parallel extraction share: whether the entry "late.bin" was
// opened and "damaged.bin" closed.
struct Rendezvous {
  std::mutex lock;
  std::condition_variable changed;
  bool late_open = false;
  bool damaged_closed = false;

  void note(bool Rendezvous::*event) {
    std::lock_guard<std::mutex> hold(lock);
    this->*event = true;
    changed.notify_all();
  }
  void wait_for(bool Rendezvous::*event) {
    std::unique_lock<std::mutex> hold(lock);
    changed.wait_for(hold, std::chrono::seconds(10), [&] { return this->*event; });
  }
};

// The disk, but "damaged.bin" is opened only once "late.bin" is open, and "late.bin" is written
// only once "damaged.bin" is closed, then slowly: whichever threads take them, the later entry is
// being written while the earlier one fails.
class RendezvousSink final : public DiskPassThrough {
 public:
  explicit RendezvousSink(Rendezvous& rendezvous) : m_rendezvous(rendezvous) {}

  int open_file(const std::string& path, unsigned mode, bool& created) override {
    m_open = path;
    if (path == "damaged.bin") {
      m_rendezvous.wait_for(&Rendezvous::late_open);
    }
    int opened = m_disk.open_file(path, mode, created);
    if (path == "late.bin") {
      m_rendezvous.note(&Rendezvous::late_open);
    }
    return opened;
  }
  int write(const void* data, std::size_t size) override {
    if (m_open == "late.bin") {
      m_rendezvous.wait_for(&Rendezvous::damaged_closed);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return m_disk.write(data, size);
  }
  int close_file() override {
    int closed = m_disk.close_file();
    if (m_open == "damaged.bin") {
      m_rendezvous.note(&Rendezvous::damaged_closed);
    }
    return closed;
  }

 private:
  Rendezvous& m_rendezvous;
  std::string m_open;
};

struct Extraction {
  int result = -1;
  std::string out;
};

// Each test writes its archive into a temporary folder and extracts it, entry by entry on this
// thread, into the folder "target" below it.
class EntryExtractionTest : public ::testing::Test {
 protected:
  EntryExtractionTest() : m_archive(m_dir.file("payload.zip")), m_target(m_dir.file("target")) {
    EXPECT_EQ(platform::make_directory(m_target, platform::DirectoryAccess::Shared), 0);
  }

  Extraction extract(const std::vector<ArchiveEntry>& entries, EntrySink& sink,
                     std::uint64_t ring_entry_size = k_no_write_ring) {
    EXPECT_TRUE(write_archive(m_archive, entries));
    return extract_written(sink, nullptr, ring_entry_size);
  }

  // With `second_sink`, on two threads, the second writing into `second_sink`; else entries of
  // `ring_entry_size` bytes or more are written by a thread of their own.
  Extraction extract_written(EntrySink& sink, EntrySink* second_sink = nullptr,
                             std::uint64_t ring_entry_size = k_no_write_ring) {
    Extraction extraction;
    platform::FileHandle file;
    ArchiveRegion region;
    region.read_file = file_reader(file);
    if (platform::open_file_for_reading(m_archive, file) != 0 ||
        platform::file_size(file, region.length) != 0) {
      ADD_FAILURE() << "cannot open " << m_archive;
      return extraction;
    }
    ArchiveStream stream(std::move(region));
    UnzipHandle archive;
    if (!open_archive(stream, archive) || archive.get() == nullptr ||
        platform::set_current_directory(m_target) != 0) {
      ADD_FAILURE() << "cannot open the archive " << m_archive;
      return extraction;
    }
    ExtractionPlan plan = plan_extraction(stream, archive.get(), this_platform());
    EXPECT_TRUE(plan.walked);
    ::testing::internal::CaptureStdout();
    extraction.result =
        second_sink == nullptr
            ? extract_all_entries(ArchiveAccess{archive.get(), stream.reader(), this_platform()},
                                  022, sink, ring_entry_size)
            : extract_in_parallel(stream, archive.get(), plan.shares, plan.walk.entries,
                                  this_platform(), 022, sink, *second_sink);
    extraction.out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(platform::set_current_directory(m_dir.path()), 0);
    return extraction;
  }

  ScopedTempDir m_dir;
  std::string m_archive;
  std::string m_target;
};

// A write that fails stops the extraction with the system's reason, whichever step it is and
// whichever thread writes; the entries before it stay, none after it is begun.
TEST_F(EntryExtractionTest, FailingSinkStepsStopTheExtraction) {
  const std::string big(100000, 'z');
  auto reason = [](int error) { return std::string(std::strerror(error)) + "\n"; };
  struct Case {
    const char* what;
    Step step;
    int error;
    // The entry the step fails for, and what it holds ("/" ending: a directory entry).
    std::string victim;
    std::string out;
    // 1: every entry's data is written by a thread of its own.
    std::uint64_t ring_entry_size = k_no_write_ring;
  } cases[] = {
      {"a full disk", Step::Write, ENOSPC, "full.bin", reason(ENOSPC)},
      {"a full disk on the writer thread", Step::Write, ENOSPC, "full.bin", reason(ENOSPC), 1},
      {"a write on the writer thread failing without a reason", Step::Write,
       k_sink_failed_without_reason, "full.bin", "error in writing extracted file\n", 1},
      {"an interrupted write", Step::Write, EINTR, "full.bin", reason(EINTR)},
      {"a write failing without a reason", Step::Write, k_sink_failed_without_reason, "full.bin",
       "error in writing extracted file\n"},
      {"a full disk at the flush", Step::Flush, ENOSPC, "full.bin", reason(ENOSPC)},
      {"a full disk at the close", Step::CloseFile, ENOSPC, "full.bin", reason(ENOSPC)},
      {"a directory in the way", Step::OpenFile, EISDIR, "d/full.bin",
       "error opening d/full.bin\n"},
      {"permission bits refused", Step::SetFileMode, EPERM, "full.bin",
       "error setting the permissions of full.bin: " + reason(EPERM)},
      {"a directory entry that cannot be made", Step::MakeDirectory, EACCES, "d/",
       "couldn't create directory d/\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ArchiveEntry victim =
        c.victim.back() == '/' ? unix_directory(c.victim) : unix_file(c.victim, big);
    FailingSink sink(c.step, c.error, c.victim);
    Extraction extraction =
        extract({unix_file("before.txt", "b"), victim, unix_file("after.txt", "a")}, sink,
                c.ring_entry_size);
    EXPECT_EQ(extraction.result, k_extract_incomplete);
    EXPECT_EQ(extraction.out, c.out);
    EXPECT_EQ(read_file(m_dir.file("target/before.txt")), "b");
    EXPECT_FALSE(path_exists(m_dir.file("target/after.txt")));
    ASSERT_EQ(platform::remove_tree(m_target), 0);
    ASSERT_EQ(platform::make_directory(m_target, platform::DirectoryAccess::Shared), 0);
  }
}

// Through the sink that writes nowhere every entry is still read, inflated and checked, and
// nothing is created.
TEST_F(EntryExtractionTest, NullSinkChecksEveryEntryAndWritesNothing) {
  std::vector<ArchiveEntry> entries = {unix_directory("d/"), unix_file("d/e/f.txt", "nested"),
                                       unix_file("big.bin", std::string(200000, 'q'))};
  NullSink nowhere;
  Extraction extraction = extract(entries, nowhere);
  EXPECT_EQ(extraction.result, k_extract_ok);
  EXPECT_EQ(extraction.out, "");
  EXPECT_EQ(tree_listing(m_target), Names{});

  // The stored data's first byte changed: its CRC no longer matches.
  entries = {unix_file("data.bin", "some stored data"), unix_file("after.txt", "a")};
  entries[0].method = ArchiveMethod::Stored;
  ASSERT_TRUE(write_archive(m_archive, entries));
  std::string bytes = read_file(m_archive);
  std::size_t data = bytes.find("some stored data");
  ASSERT_NE(data, std::string::npos);
  bytes[data] = 'S';
  ASSERT_TRUE(write_file(m_archive, bytes));
  extraction = extract_written(nowhere);
  EXPECT_EQ(extraction.result, k_extract_incomplete);
  EXPECT_EQ(extraction.out,
            "error " + std::to_string(UNZ_CRCERROR) + " with zipfile in unzCloseCurrentFile\n");
  EXPECT_EQ(tree_listing(m_target), Names{});
}

// On two threads, an entry after the first failing one stops at its next piece and its file goes,
// unless the file was there before; only the failure shows.
TEST_F(EntryExtractionTest, LaterEntryStopsWhenAnEarlierOneFailsOnTwoThreads) {
  std::vector<ArchiveEntry> entries = {unix_file("damaged.bin", "some stored data"),
                                       unix_file("late.bin", std::string(4 << 20, 'l'))};
  entries[0].method = ArchiveMethod::Stored;
  for (int i = 0; i < 14; ++i) {
    entries.push_back(unix_file("after" + std::to_string(i) + ".txt", "a"));
  }
  ASSERT_TRUE(write_archive(m_archive, entries));
  std::string bytes = read_file(m_archive);
  bytes[bytes.find("some stored data")] = 'S';
  ASSERT_TRUE(write_file(m_archive, bytes));
  for (bool planted : {false, true}) {
    if (planted) {
      ASSERT_TRUE(write_file(m_target + "/late.bin", "was there"));
    }
    Rendezvous rendezvous;
    RendezvousSink own(rendezvous);
    RendezvousSink second(rendezvous);
    Extraction extraction = extract_written(own, &second);
    EXPECT_EQ(extraction.result, k_extract_incomplete);
    EXPECT_EQ(extraction.out,
              "error " + std::to_string(UNZ_CRCERROR) + " with zipfile in unzCloseCurrentFile\n");
    Names left = planted ? Names{"damaged.bin", "late.bin"} : Names{"damaged.bin"};
    EXPECT_EQ(tree_listing(m_target), left);
  }
}

TEST_F(EntryExtractionTest, MakesDirectoryPaths) {
  DiskSink disk;
  ASSERT_EQ(platform::set_current_directory(m_target), 0);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(disk.make_directory_path("", 0750), 0);
  EXPECT_EQ(disk.make_directory_path("one", 0750), 1);
  EXPECT_EQ(disk.make_directory_path("two/three/four/", 0750), 1);
  EXPECT_EQ(disk.make_directory_path("two\\three\\five", 0750), 1);
  EXPECT_EQ(disk.make_directory_path("one", 0750), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  ASSERT_EQ(platform::set_current_directory(m_dir.path()), 0);
  if (platform::platform_kind() == platform::PlatformKind::Posix) {
    // Made with their bits, as the umask leaves them.
    fs::perms bits = fs::status(m_dir.file("target/two/three/four")).permissions();
    EXPECT_EQ(static_cast<unsigned>(bits & fs::perms::mask),
              0750u & ~platform::file_creation_mask());
  }
  Names expected = {"one/", "two/", "two/three/", "two/three/five/", "two/three/four/"};
  if (platform::platform_kind() == platform::PlatformKind::Posix) {
    // '\' is an ordinary character in a Linux path; the extraction turns it into '/' first.
    expected = {"one/", "two/", "two/three/", "two/three/four/", "two\\three\\five/"};
  }
  EXPECT_EQ(tree_listing(m_target), expected);
}

}  // namespace
