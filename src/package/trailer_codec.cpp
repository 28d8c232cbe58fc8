// SPDX-License-Identifier: Zlib
#include "package/trailer_codec.hpp"

#include <algorithm>

#include "package/trailer_layout.hpp"
#include "package/trailer_search.hpp"
#include "platform/platform.hpp"

namespace {

std::string pattern_field(const char* reversed, int length) {
  char field[k_pattern_field_size];
  build_pattern_field(reversed, length, field);
  return std::string(field, sizeof field);
}

// `text` NUL-padded to `width` bytes.
std::string padded(const std::string& text, int width) {
  std::string field = text;
  field.resize(static_cast<std::size_t>(width), '\0');
  return field;
}

// The text of a field up to its first NUL.
std::string field_text(const char* field, int width) {
  return std::string(field, std::find(field, field + width, '\0'));
}

bool read_exactly(std::FILE* file, char* buffer, int count) {
  return std::fread(buffer, 1, static_cast<std::size_t>(count), file) ==
         static_cast<std::size_t>(count);
}

bool seek_to(std::FILE* file, std::int64_t position) {
  return position >= 0 && platform::seek_file(file, position, SEEK_SET) == 0;
}

// The archive length is the one number in the trailer: big-endian, most significant byte first.
std::string encode_big_endian(std::uint32_t value) {
  std::string bytes;
  for (int shift = 24; shift >= 0; shift -= 8) {
    bytes += static_cast<char>((value >> shift) & 0xFF);
  }
  return bytes;
}

std::uint32_t decode_big_endian(const char (&bytes)[k_archive_length_size]) {
  std::uint32_t value = 0;
  for (char byte : bytes) {
    value = (value << 8) | static_cast<unsigned char>(byte);
  }
  return value;
}

}  // namespace

bool check_command_field(const std::string& text, const std::string& what, std::string& error) {
  if (text.size() > static_cast<std::size_t>(k_command_section_size)) {
    error = what + " is " + std::to_string(text.size()) + " bytes long; at most " +
            std::to_string(k_command_section_size) + " fit";
    return false;
  }
  if (text.find('\0') != std::string::npos) {
    error = what + " holds a NUL byte";
    return false;
  }
  return true;
}

std::string encode_trailer(const std::string& command_template, std::uint32_t archive_length,
                           const std::optional<std::string>& extra_tool_command) {
  std::string trailer = padded(command_template, k_command_section_size);
  trailer += encode_big_endian(archive_length);
  if (extra_tool_command) {
    trailer += pattern_field(k_extra_tool_pattern_reversed, k_extra_tool_pattern_length);
    trailer += padded(*extra_tool_command, k_extra_tool_command_size);
  }
  trailer += pattern_field(k_version_pattern_reversed, k_version_pattern_length);
  trailer += padded(k_layout_version, k_layout_version_size);
  return trailer;
}

TrailerFault read_layout_version(std::FILE* file, std::int64_t pattern_position,
                                 std::string& version) {
  char field[k_layout_version_size];
  if (!seek_to(file, pattern_position + k_pattern_field_size) ||
      !read_exactly(file, field, k_layout_version_size)) {
    return TrailerFault::VersionReadFailed;
  }
  version = field_text(field, k_layout_version_size);
  return version == k_layout_version ? TrailerFault::None : TrailerFault::VersionMismatch;
}

TrailerFault probe_extra_tool_section(std::FILE* file, std::int64_t probe,
                                      std::optional<std::string>& command) {
  command.reset();
  char pattern[k_pattern_field_size];
  build_pattern_field(k_extra_tool_pattern_reversed, k_extra_tool_pattern_length, pattern);
  if (probe < 1) {
    return TrailerFault::None;
  }
  if (!seek_to(file, probe)) {
    return TrailerFault::ExtraToolSeekFailed;
  }
  char window[k_pattern_field_size];
  if (!read_exactly(file, window, k_pattern_field_size)) {
    return TrailerFault::ExtraToolPatternReadFailed;
  }
  if (field_text(window, k_pattern_field_size) != field_text(pattern, k_pattern_field_size)) {
    return TrailerFault::None;
  }
  char text[k_extra_tool_command_size];
  if (!read_exactly(file, text, k_extra_tool_command_size)) {
    return TrailerFault::ExtraToolCommandReadFailed;
  }
  command = field_text(text, k_extra_tool_command_size);
  return TrailerFault::None;
}

TrailerFault read_command_section(std::FILE* file, std::int64_t command_offset,
                                  std::string& command_template, std::uint32_t& archive_length) {
  if (!seek_to(file, command_offset)) {
    return TrailerFault::CommandSeekFailed;
  }
  char command[k_command_section_size];
  if (!read_exactly(file, command, k_command_section_size)) {
    return TrailerFault::CommandReadFailed;
  }
  command_template = field_text(command, k_command_section_size);
  char length[k_archive_length_size];
  if (!read_exactly(file, length, k_archive_length_size)) {
    return TrailerFault::LengthReadFailed;
  }
  archive_length = decode_big_endian(length);
  return TrailerFault::None;
}

bool read_trailer(std::FILE* file, TrailerInfo& info, std::string& error) {
  info = TrailerInfo{};
  if (platform::seek_file(file, 0, SEEK_END) != 0 ||
      (info.file_size = platform::tell_file(file)) < 0) {
    error = "cannot determine the package's size";
    return false;
  }
  if (info.file_size >= k_package_size_limit) {
    error = "the package is " + std::to_string(info.file_size) +
            " bytes long; a package must be smaller than 2 GiB";
    return false;
  }
  std::int64_t position = 0;
  switch (find_version_pattern(file, info.file_size - k_pattern_field_size, position)) {
    case PatternSearch::Found:
      break;
    case PatternSearch::NotFound:
      error = "no payload trailer found (no version pattern)";
      return false;
    default:
      error = "cannot read the package";
      return false;
  }
  switch (read_layout_version(file, position, info.layout_version)) {
    case TrailerFault::None:
      break;
    case TrailerFault::VersionMismatch:
      error =
          "layout version '" + info.layout_version + "' differs from '" + k_layout_version + "'";
      return false;
    default:
      error = "the trailer ends before its layout version";
      return false;
  }
  info.trailer_end = position + k_version_pattern_distance;
  info.bytes_after = info.file_size - info.trailer_end;

  switch (probe_extra_tool_section(file, info.trailer_end - k_extra_tool_probe_distance,
                                   info.extra_tool_command)) {
    case TrailerFault::None:
      break;
    case TrailerFault::ExtraToolCommandReadFailed:
      error = "cannot read the extra-tool command";
      return false;
    default:
      error = "cannot read the extra tool section";
      return false;
  }
  std::int64_t command_offset =
      info.trailer_end - k_trailer_size - (info.extra_tool_command ? k_extra_tool_section_size : 0);
  if (read_command_section(file, command_offset, info.command_template, info.archive_length) !=
      TrailerFault::None) {
    error = "the trailer is cut off at the start of the file";
    return false;
  }
  info.archive_offset = command_offset - info.archive_length;
  if (info.archive_offset < 0) {
    error = "the archive length " + std::to_string(info.archive_length) +
            " reaches before the start of the file";
    return false;
  }
  return true;
}
