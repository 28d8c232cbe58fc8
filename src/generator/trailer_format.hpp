#pragma once

// The payload trailer as the generator writes it and reads it back, after the rules in
// payload/payload_layout.hpp.

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
