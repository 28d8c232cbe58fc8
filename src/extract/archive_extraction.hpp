// SPDX-License-Identifier: Zlib
#pragma once

// Unpacks the payload's ZIP archive into the extraction directory.

#include <cstdint>
#include <string>

#include "common/target_platform.hpp"
#include "extract/entry_sink.hpp"
#include "platform/platform.hpp"

inline constexpr int k_extract_ok = 0;
// The file is not open, or not a ZIP archive.
inline constexpr int k_extract_not_an_archive = 1;
// The archive opened, but an entry could not be extracted completely (damaged data, a failed
// write, a refused entry name, ...), or its central directory holds other entries than its end
// record tells; the extraction stopped there after printing why.
inline constexpr int k_extract_incomplete = 2;
// The archive's entries need clearly more room than the extraction directory's file system has
// left; nothing was extracted.
inline constexpr int k_extract_no_space = 3;
// A request to end the process (platform::termination_requested) came; the extraction stopped
// between two entries or two pieces of an entry's data, without a message.
inline constexpr int k_extract_interrupted = 4;
// The target directory could not be entered (extract_archive_region only; the others end the
// process then).
inline constexpr int k_extract_cannot_enter = 5;

// Reads the open `archive_file` as a ZIP archive, with positioned reads only (the file is never
// opened again by name, so nobody can put another file under its name meanwhile), changes into
// `target_dir` and extracts every entry there with the entry rules of the stub for `target`,
// leaving the process in `target_dir`. Returns one of the codes above. Before it writes anything it
// checks that the entries minizip walks fill the central directory that the end record describes
// (else it prints the problem and returns k_extract_incomplete), and compares the entries' total
// size with the free space, printing
// "-E- Not enough space in DIR: N MB needed, M MB free" when they cannot fit. From sixteen
// entries on two threads extract, unless two entries may land on one file or the archive holds
// link entries for a Linux stub (extract/extraction_plan.hpp): then one does, in archive order.
// When `target_dir` cannot be entered it prints "Error changing into %s, aborting\n" and ends the
// process with status -1. `bits` says when a file the extraction creates gets its own
// permission bits (extract/entry_sink.hpp).
[[nodiscard]] int extract_archive(const platform::FileHandle& archive_file,
                                  const std::string& target_dir, TargetPlatform target,
                                  NewFileBits bits = NewFileBits::AfterData);

struct ArchiveRegion;

// extract_archive for the archive in `region` (extract/archive_stream.hpp), such as the one inside
// the package itself, with the stub's disk sinks; when `target_dir` cannot be entered it prints
// the same message but returns k_extract_cannot_enter, leaving the process's end to the caller.
// `free_bytes` is the room the caller measured for the entries (UINT64_MAX: the space check asks
// the file system itself).
[[nodiscard]] int extract_archive_region(ArchiveRegion region, const std::string& target_dir,
                                         TargetPlatform target, std::uint64_t free_bytes,
                                         NewFileBits bits = NewFileBits::AfterData);

// How an extraction goes about its work: where each of its two threads writes, from how many
// entries on it starts the second, and, on one thread, from which entry size on a second thread
// writes an entry's data while the first inflates it. extract_archive above writes to the disk
// from sixteen entries on, and a large entry on two threads; tests and the fuzz targets choose
// their own.
struct ExtractionEngine {
  EntrySink* sink = nullptr;
  EntrySink* second_sink = nullptr;
  std::uint64_t parallel_entries = 0;
  std::uint64_t ring_entry_size = UINT64_MAX;
  // The room for the entries as the caller measured it; UINT64_MAX: the space check asks.
  std::uint64_t free_bytes = UINT64_MAX;
};

// extract_archive with `engine`'s sinks and threshold.
[[nodiscard]] int extract_archive(const platform::FileHandle& archive_file,
                                  const std::string& target_dir, TargetPlatform target,
                                  const ExtractionEngine& engine);
