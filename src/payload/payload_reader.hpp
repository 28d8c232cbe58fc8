#pragma once

// The payload reader: finds the trailer at the end of the stub's own file, checks its layout
// version, collects the command texts and copies the archive out into the work directory.

#include <cstdint>
#include <cstdio>
#include <string>

// What the reader hands to the run. The caller sets `archive_written` to false before the call.
struct PayloadResult {
  // The archive file was opened for writing (also when the copy then failed).
  bool archive_written = false;
  // The work directory joined with "archive.zip".
  std::string archive_path;
  // The command section's text up to its first NUL.
  std::string command_template;
};

inline constexpr int k_payload_ok = 0;
// The stub's file cannot be opened, sized or positioned, or a pattern check failed.
inline constexpr int k_payload_file_error = -2;
// The command section or the archive length cannot be read in full.
inline constexpr int k_payload_read_error = -3;
// The archive file cannot be created or written.
inline constexpr int k_payload_archive_error = -4;
// The stub's file ended before the whole archive was copied.
inline constexpr int k_payload_short_copy = -5;

// Reads the payload of `self_path` and writes its archive as "archive.zip" into `work_dir`.
// Appends the extra-tool command, if any, to `extra_tool_commands`. Prints its own "-E- " message
// on every failure and returns one of the negative codes above; 0 on success.
[[nodiscard]] int read_payload(const std::string& self_path, const std::string& work_dir,
                               PayloadResult& result);
