// SPDX-License-Identifier: Zlib
#pragma once

// The payload reader: finds the trailer at the end of the stub's own file, checks its layout
// version, collects the command texts and copies the archive out into the work directory.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/target_platform.hpp"
#include "platform/platform.hpp"

// What the reader hands to the run. The caller sets `archive_written` to false before the call.
struct PayloadResult {
  // The reader created the archive file (also when the copy then failed): the name is the run's
  // to remove.
  bool archive_written = false;
  // The work directory joined with "archive.zip".
  std::string archive_path;
  // The archive file as the reader created and wrote it, still open: the extraction reads this
  // very file, never a file found under its name later.
  platform::FileHandle archive;
  // The stub's own file, opened once: the trailer was read through it, the copy reads the archive
  // from it, and an extraction that runs beside the copy reads the archive there too.
  platform::FileHandle package;
  // Where the archive lies in `package`.
  std::uint64_t archive_offset = 0;
  std::uint32_t archive_length = 0;
  // The command section's text up to its first NUL.
  std::string command_template;
  // The extra tool section's command, when the package has one: zero entries or one.
  std::vector<std::string> extra_tool_commands;
};

inline constexpr int k_payload_ok = 0;
// The stub's file cannot be opened, sized or positioned, or a pattern check failed.
inline constexpr int k_payload_file_error = -2;
// The command section or the archive length cannot be read in full.
inline constexpr int k_payload_read_error = -3;
// The archive file cannot be created or written, or whatever has its name cannot be removed.
inline constexpr int k_payload_archive_error = -4;
// The stub's file ended before the whole archive was copied.
inline constexpr int k_payload_short_copy = -5;
// A request to end the process came during the copy, which stopped there; nothing is printed.
inline constexpr int k_payload_interrupted = -6;

// Reads the payload of `self_path` and writes its archive as "archive.zip" into `work_dir`
// (joined with the separators of `target`, the platform the stub runs on).
// Whatever has that name already (a file, a folder, a symbolic link, perhaps another user's) is
// removed without following it, and the file is created new, for the current user only, and
// kept open in `result.archive`. A name that cannot be removed fails with
// "-E- Failed to remove PATH: REASON" and k_payload_archive_error.
// Appends the extra-tool command, if any, to `result.extra_tool_commands`. Prints its own "-E- " message
// on every failure and returns one of the negative codes above; 0 on success.
// A package of 2 GiB or more, which the layout's 32-bit positions cannot address, is refused with
// k_payload_file_error; a stub's file that ends before the whole archive was copied yields
// k_payload_short_copy with a message naming the file. A request to end the process
// (platform::termination_requested) stops the copy with k_payload_interrupted.
[[nodiscard]] int read_payload(const std::string& self_path, const std::string& work_dir,
                               TargetPlatform target, PayloadResult& result);

// read_payload in two halves. The first does everything but the copy: it finds the trailer and
// creates the archive file. The second copies the archive from `result.package` into
// `result.archive`, with read_payload's messages and codes; it prints nothing else and may run on
// another thread than the first.
[[nodiscard]] int open_payload(const std::string& self_path, const std::string& work_dir,
                               TargetPlatform target, PayloadResult& result);
[[nodiscard]] int copy_archive(PayloadResult& result, const std::string& self_path);

// Sets the archive file's whole length aside where the file system can, before copy_archive: a
// reservation that fails (a full disk) prints the copy's "might be out of space" message and
// fails with k_payload_archive_error; one the file system cannot make is no failure.
[[nodiscard]] int reserve_archive_space(PayloadResult& result);

// open_payload for the running stub's own file, opened as platform::open_own_executable opens
// it (on Linux the very file the system started, never another file found under its name);
// `self_path` only names it in messages.
[[nodiscard]] int open_own_payload(const std::string& self_path, const std::string& work_dir,
                                   TargetPlatform target, PayloadResult& result);

// The backward search for the trailer and the layout version check on the open stub's `file`:
// tests the positions `start`, `start` - 1, ... down to 1 (none when `start` is below 1) for the
// version pattern, then requires the 8 bytes 32 bytes above the match to read "2.0" up to their
// first NUL. On success adds the number of bytes after the trailer to `bytes_after` (so the caller
// passes 0 and gets file size - trailer end when `start` is file size - 32) and returns true.
// Otherwise prints the failure, naming `self_path` where the message has a file, and returns false.
[[nodiscard]] bool find_layout_version(std::int32_t start, std::FILE* file,
                                       std::uint32_t& bytes_after, const std::string& self_path);

// Looks for the extra tool section at `probe` in the open stub's `file`. Sets `section_size` to 288
// and appends the section's command to `extra_tool_commands` when the 32 bytes at `probe`, cut at
// their first NUL, equal the extra-tool pattern; sets it to 0 when they do not or `probe` is below
// 1. Returns true in both cases, false after printing why when the file cannot be positioned or
// read.
[[nodiscard]] bool read_extra_tool_section(std::int32_t probe, std::FILE* file,
                                           std::uint32_t& section_size,
                                           const std::string& self_path,
                                           std::vector<std::string>& extra_tool_commands);
