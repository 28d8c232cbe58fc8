// SPDX-License-Identifier: Zlib
#pragma once

// Reading and writing the payload trailer laid out in package/trailer_layout.hpp. This is the one
// place that knows the trailer's bytes: the stub's payload reader reads it field by field through
// the steps below (so that it can name the field that failed), the generator writes it with
// `encode_trailer` and reads a package back with `read_trailer`.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

// Checks that `text` fits a command field: at most 256 bytes and no NUL. Returns true, or false
// with a message about `what` in `error`.
[[nodiscard]] bool check_command_field(const std::string& text, const std::string& what,
                                       std::string& error);

// The trailer for an archive of `archive_length` bytes: the command section holding
// `command_template`, the archive length, the extra tool section when `extra_tool_command` is set,
// the version pattern and the layout version "2.0". The texts must pass `check_command_field`.
std::string encode_trailer(const std::string& command_template, std::uint32_t archive_length,
                           const std::optional<std::string>& extra_tool_command);

// What went wrong in one step of reading a trailer; None when the step succeeded.
enum class TrailerFault {
  None,
  // The layout version field cannot be read in full.
  VersionReadFailed,
  // The layout version field does not read "2.0" up to its first NUL.
  VersionMismatch,
  ExtraToolSeekFailed,
  ExtraToolPatternReadFailed,
  ExtraToolCommandReadFailed,
  // The command section lies before the start of the file or cannot be reached.
  CommandSeekFailed,
  CommandReadFailed,
  LengthReadFailed,
};

// Reads the layout version field that follows the version pattern found at `pattern_position`
// into `version` (its text up to the first NUL). Returns None when it is "2.0", VersionMismatch
// when it is anything else, VersionReadFailed when it cannot be read.
[[nodiscard]] TrailerFault read_layout_version(std::FILE* file, std::int64_t pattern_position,
                                               std::string& version);

// Looks for the extra tool section at `probe`: when the 32 bytes there, cut at their first NUL,
// equal the extra-tool pattern, reads the command that follows into `command`; otherwise leaves
// `command` empty. A `probe` below 1 finds nothing. Returns None in both cases, or the fault when
// the file cannot be positioned or read.
[[nodiscard]] TrailerFault probe_extra_tool_section(std::FILE* file, std::int64_t probe,
                                                    std::optional<std::string>& command);

// Reads the command section at `command_offset` (its text up to the first NUL, at most 256
// characters, into `command_template`) and the big-endian archive length behind it.
[[nodiscard]] TrailerFault read_command_section(std::FILE* file, std::int64_t command_offset,
                                                std::string& command_template,
                                                std::uint32_t& archive_length);

// What a reader finds in a package.
struct TrailerInfo {
  std::int64_t file_size = 0;
  std::int64_t trailer_end = 0;
  std::int64_t bytes_after = 0;
  std::int64_t archive_offset = 0;
  std::uint32_t archive_length = 0;
  std::string layout_version;
  std::string command_template;
  std::optional<std::string> extra_tool_command;
};

// Reads the trailer of the package open in `file` by the stub's rules: the backward search for the
// version pattern from the end, layout version "2.0", the extra tool section when the probe 328
// bytes below the trailer end finds its pattern, the command section and an archive that lies
// within the file. Returns true, or false with a message in `error` when the stub would refuse it.
[[nodiscard]] bool read_trailer(std::FILE* file, TrailerInfo& info, std::string& error);
