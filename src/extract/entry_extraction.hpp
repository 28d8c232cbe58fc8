#pragma once

// The steps of the extraction below `extract_archive`: all entries, one entry, the directories
// on the way to a file, the file's time. Only the extraction and its tests include this; it is
// the one header that brings in minizip's unzip.h.

#include <unzip.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "package/zip_end_record.hpp"

class EntryBuffers;

// The archive being extracted: minizip's handle, which reads its structure, and a reader of the
// archive file, through which the entries' data is read directly.
struct ArchiveAccess {
  unzFile zip = nullptr;
  ArchiveReader read;
};

// Codes with which `extract_current_entry` stops the extraction, besides minizip's own error
// codes and negative read results.
inline constexpr int k_entry_write_failed = -1;
// minizip's internal-error code, also used for a failed allocation.
inline constexpr int k_entry_no_memory = -104;
// The entry's name was refused (absolute, drive letter, "..", too long).
inline constexpr int k_entry_refused = -1000;
// The output file, a directory entry or the mode of either could not be created or set.
inline constexpr int k_entry_not_created = -1001;
// A request to end the process came while the entry's data was written; nothing is printed.
inline constexpr int k_entry_interrupted = -1002;

// Extracts the entries of `archive` one after the other, from the current one, into the current
// directory, and stops at the first that cannot be extracted completely. `creation_mask` is the
// process's umask, read once for the extraction. Returns k_extract_ok when every entry was
// extracted, else k_extract_incomplete (after the reason was printed), or k_extract_interrupted
// when a request to end the process stopped it.
[[nodiscard]] int extract_all_entries(const ArchiveAccess& archive, unsigned creation_mask);

// Extracts the entry `archive` stands at into the current directory: a directory entry (name
// ending in '/' or '\') becomes a directory, with missing parents; a file entry is written under
// its relative name, with missing directories created, and gets the entry's time and permission
// bits (entry_mode with `creation_mask`). Returns 0 to go on, or, after printing why, the code
// that stops the extraction: one of minizip's error codes, a negative read result, or one of the
// k_entry_ codes. The data streams through `buffers`.
[[nodiscard]] int extract_current_entry(const ArchiveAccess& archive, unsigned creation_mask,
                                        EntryBuffers& buffers);

// Creates the directory `path` with every missing parent. A single trailing '/' is ignored.
// Returns 1 when done, 0 for an empty path or when a component cannot be created because its
// parent is missing (after printing "couldn't create directory %s\n"), and k_entry_no_memory
// when the working copy cannot be allocated. Other failures (a component that exists already, as
// a directory or not) are passed over; the caller finds out when it uses the path.
[[nodiscard]] int make_directory_path(const std::string& path);

// Gives the file `file_name` the modification time `dos_date_time` (DOS date in the high 16 bits,
// DOS time in the low 16 bits, local time). A file that cannot be opened keeps its times.
void set_file_time(const std::string& file_name, std::uint32_t dos_date_time);
