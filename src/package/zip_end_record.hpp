// SPDX-License-Identifier: Zlib
#pragma once

// The end of a ZIP archive's central directory: the end record, and for zip64 archives the zip64
// end record its locator points to. They tell how many entries the directory holds, how long it
// is and where it starts. minizip trusts the entry count alone; a count lower than the real one
// would make it skip the entries beyond. Stub and generator both read the record here and check
// that the entries minizip walked fill the directory exactly.

#include <cstddef>
#include <cstdint>
#include <functional>

// Reads `size` bytes at `offset` of the archive into `buffer`. Returns true when all of them came.
using ArchiveReader = std::function<bool(std::uint64_t offset, void* buffer, std::size_t size)>;

struct ZipEndRecord {
  // The entries the directory holds, by the record's count.
  std::uint64_t entry_count = 0;
  // The directory's length in bytes and its first byte, as the archive's offsets count.
  std::uint64_t directory_size = 0;
  std::uint64_t directory_offset = 0;
  // The values come from the zip64 end record.
  bool zip64 = false;
};

// Finds the end record in the archive of `archive_size` bytes that `read` reads, where minizip
// finds it: the last signature within the last 65,535 bytes (not at the first byte), and a zip64
// end record where a zip64 locator in that stretch points to one on disk 0 of 1. Returns true and
// fills `record`, or false when there is none or it cannot be read.
[[nodiscard]] bool read_zip_end_record(const ArchiveReader& read, std::uint64_t archive_size,
                                       ZipEndRecord& record);

// What a walk through the central directory with minizip met.
struct DirectoryWalk {
  // The entries walked.
  std::uint64_t entries = 0;
  // Where the first of them stands, as the archive's offsets count (unzGetOffset64).
  std::uint64_t first_offset = 0;
  // The sum of the walked entries' header sizes: 46 bytes each, plus name, extra field and comment.
  std::uint64_t bytes = 0;
};

// The central header's fixed part, in bytes.
inline constexpr std::uint64_t k_central_header_size = 46;

enum class DirectoryFill {
  // The walked entries fill the directory from its first byte to its last.
  Exact,
  // They end before the directory does: the end record counts fewer entries than it holds.
  MoreEntries,
  // They start elsewhere or run past its end.
  Mismatch,
};

// Compares what a walk met with the directory that `record` describes.
[[nodiscard]] DirectoryFill compare_directory_walk(const ZipEndRecord& record,
                                                   const DirectoryWalk& walk);

// The problem, in words, for a fill other than Exact ("the archive's directory holds more entries
// than its end record counts"); empty for Exact.
const char* directory_fill_problem(DirectoryFill fill);
