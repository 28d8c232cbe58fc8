#include "generator/trailer_format.hpp"

#include <algorithm>

#include "payload/payload_layout.hpp"
#include "payload/trailer_search.hpp"
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

bool read_at(std::FILE* file, std::int64_t position, char* buffer, int count) {
  return platform::seek_file(file, position, SEEK_SET) == 0 &&
         std::fread(buffer, 1, static_cast<std::size_t>(count), file) ==
             static_cast<std::size_t>(count);
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
  for (int shift = 24; shift >= 0; shift -= 8) {
    trailer += static_cast<char>((archive_length >> shift) & 0xFF);
  }
  if (extra_tool_command) {
    trailer += pattern_field(k_extra_tool_pattern_reversed, k_extra_tool_pattern_length);
    trailer += padded(*extra_tool_command, k_extra_tool_command_size);
  }
  trailer += pattern_field(k_version_pattern_reversed, k_version_pattern_length);
  trailer += padded(k_layout_version, k_layout_version_size);
  return trailer;
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
  char version[k_layout_version_size];
  if (!read_at(file, position + k_pattern_field_size, version, k_layout_version_size)) {
    error = "the trailer ends before its layout version";
    return false;
  }
  info.layout_version = field_text(version, k_layout_version_size);
  if (info.layout_version != k_layout_version) {
    error = "layout version '" + info.layout_version + "' differs from '" + k_layout_version + "'";
    return false;
  }
  info.trailer_end = position + k_version_pattern_distance;
  info.bytes_after = info.file_size - info.trailer_end;

  std::int64_t command_offset = info.trailer_end - k_trailer_size;
  std::int64_t probe = info.trailer_end - k_extra_tool_probe_distance;
  if (probe > 0) {
    char window[k_pattern_field_size];
    char command[k_extra_tool_command_size];
    if (!read_at(file, probe, window, k_pattern_field_size)) {
      error = "cannot read the extra tool section";
      return false;
    }
    if (field_text(window, k_pattern_field_size) ==
        field_text(pattern_field(k_extra_tool_pattern_reversed, k_extra_tool_pattern_length).data(),
                   k_pattern_field_size)) {
      if (std::fread(command, 1, sizeof command, file) != sizeof command) {
        error = "cannot read the extra-tool command";
        return false;
      }
      info.extra_tool_command = field_text(command, k_extra_tool_command_size);
      command_offset -= k_extra_tool_section_size;
    }
  }
  char command[k_command_section_size];
  unsigned char length[k_archive_length_size];
  if (command_offset < 0 || !read_at(file, command_offset, command, k_command_section_size) ||
      std::fread(length, 1, sizeof length, file) != sizeof length) {
    error = "the trailer is cut off at the start of the file";
    return false;
  }
  info.command_template = field_text(command, k_command_section_size);
  info.archive_length = (std::uint32_t{length[0]} << 24) | (std::uint32_t{length[1]} << 16) |
                        (std::uint32_t{length[2]} << 8) | std::uint32_t{length[3]};
  info.archive_offset = command_offset - info.archive_length;
  if (info.archive_offset < 0) {
    error = "the archive length " + std::to_string(info.archive_length) +
            " reaches before the start of the file";
    return false;
  }
  return true;
}
