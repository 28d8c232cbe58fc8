// SPDX-License-Identifier: Zlib
#pragma once

// One entry's extraction, and the loop that extracts the entries one after the other on one
// thread. Only the extraction, its tests and its fuzz target include this; with
// extract/archive_stream.hpp it is the one header that brings in minizip's unzip.h.

#include <unzip.h>

#include <cstdint>
#include <string>

#include "extract/archive_extraction.hpp"
#include "extract/entry_data.hpp"
#include "extract/entry_sink.hpp"
#include "package/entry_rules.hpp"
#include "package/zip_end_record.hpp"

class EntryBuffers;

// The archive being extracted: minizip's handle, which reads its structure, a reader of the
// archive, through which the entries' data is read directly, and the platform whose stub extracts
// it (its entry rules and the way it decodes names).
struct ArchiveAccess {
  unzFile zip = nullptr;
  ArchiveReader read;
  TargetPlatform target;
};

// Codes with which `extract_current_entry` stops the extraction, besides minizip's own error
// codes, negative read results and k_entry_no_memory (extract/entry_sink.hpp).
inline constexpr int k_entry_write_failed = -1;
// The entry was refused: its name (absolute, drive letter, "..", too long), a link's target, or a
// path that runs through a symbolic link.
inline constexpr int k_entry_refused = -1000;
// The output file, a directory entry or the mode of either could not be created or set.
inline constexpr int k_entry_not_created = -1001;
// A request to end the process came while the entry's data was written; nothing is printed.
inline constexpr int k_entry_interrupted = -1002;
// The entry was to stop (EntryStop) while its data was written; its file is removed when the
// entry created it, and nothing is printed.
inline constexpr int k_entry_stopped = -1003;

// Reads the record and the stored name of the entry `archive` stands at, as
// unzGetCurrentFileInfo64 does into `info` and `name` (`name_size` bytes of room), and into
// `extra` its central extra field where that may tell the name's character set (a name not marked
// as UTF-8; empty otherwise): in one read of the header, through `extra_room`, k_extra_field_room
// bytes of which only the field's are written. Returns minizip's code.
[[nodiscard]] int read_entry_header(unzFile archive, unz_file_info64& info, char* name,
                                    uLong name_size, char* extra_room, std::string& extra);

// The target of the link entry (extract/entry_names.hpp) that `archive` stands at, described by
// `info`: its data, read and checked as the extraction reads it. Empty when it cannot be read,
// or has k_link_target_limit bytes or more. Prints nothing.
std::string link_target_of(const ArchiveAccess& archive, const unz_file_info64& info);

// Extracts the entries of `archive` one after the other, from the current one, into `sink`, and
// stops at the first that cannot be extracted completely. `creation_mask` is the process's umask,
// read once for the extraction. An entry of `ring_entry_size` bytes or more is written by a second
// thread while this one inflates it (EntryBuffers). Returns k_extract_ok when every entry was
// extracted, else k_extract_incomplete (after the reason was printed), or k_extract_interrupted
// when a request to end the process stopped it.
[[nodiscard]] int extract_all_entries(const ArchiveAccess& archive, unsigned creation_mask,
                                      EntrySink& sink,
                                      std::uint64_t ring_entry_size = k_no_write_ring);

// Extracts the entry `archive` stands at into `sink`: a directory entry (name ending in '/' or
// '\') becomes a directory, with missing parents; a file entry is written under its relative
// name, with missing directories created, and gets the entry's time and permission bits
// (entry_mode with `creation_mask`). Folders are made with their bits, never writable by group
// or others. For a Linux stub a link entry becomes a symbolic link when its target stays inside
// the extraction directory (check_link_target) and is refused otherwise; an entry whose path runs
// through a symbolic link is refused too. Returns 0 to go on, or, after printing why, the code that
// stops the extraction: one of minizip's error codes, a negative read result, k_entry_no_memory
// or one of the k_entry_ codes above. The data streams through `buffers`; `stop` may stop it
// between two pieces.
[[nodiscard]] int extract_current_entry(const ArchiveAccess& archive, unsigned creation_mask,
                                        EntryBuffers& buffers, EntrySink& sink,
                                        const EntryStop& stop = {});
