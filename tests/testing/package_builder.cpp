// SPDX-License-Identifier: Zlib
#include "testing/package_builder.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "common/stdio_file.hpp"
#include "generator/package_writer.hpp"
#include "package/trailer_codec.hpp"
#include "package/trailer_layout.hpp"
#include "platform/platform.hpp"
#include "testing/scoped_temp_dir.hpp"

namespace {

std::string field(const std::string& text, int width) {
  std::string result = text.substr(0, static_cast<std::size_t>(width));
  result.resize(static_cast<std::size_t>(width), '\0');
  return result;
}

std::string pattern_text(const char* reversed, int length) {
  char pattern[k_pattern_field_size];
  build_pattern_field(reversed, length, pattern);
  return std::string(pattern, static_cast<std::size_t>(length));
}

bool write(const PackageRequest& request) {
  std::string error;
  if (!write_package(request, error)) {
    ADD_FAILURE() << "cannot build " << request.output_path << ": " << error;
    return false;
  }
  return true;
}

PackageRequest make_request(const std::string& stub_path, ArchiveSource source,
                            const std::string& source_path, const std::string& command_template,
                            const std::optional<std::string>& extra_tool_command,
                            const std::string& out_path) {
  PackageRequest request;
  request.stub_path = stub_path;
  request.source = source;
  request.source_path = source_path;
  request.command_template = command_template;
  request.extra_tool_command = extra_tool_command;
  request.output_path = out_path;
  return request;
}

}  // namespace

bool build_package(const std::string& stub_path, const std::string& folder,
                   const std::string& command_template,
                   const std::optional<std::string>& extra_tool_command,
                   const std::string& out_path) {
  return write(make_request(stub_path, ArchiveSource::Folder, folder, command_template,
                            extra_tool_command, out_path));
}

bool build_package_from_zip(const std::string& stub_path, const std::string& zip_path,
                            const std::string& command_template,
                            const std::optional<std::string>& extra_tool_command,
                            const std::string& out_path) {
  return write(make_request(stub_path, ArchiveSource::ZipFile, zip_path, command_template,
                            extra_tool_command, out_path));
}

bool assemble_package(const std::string& stub_path, const std::string& zip_path,
                      const std::string& command_template,
                      const std::optional<std::string>& extra_tool_command,
                      const std::string& out_path) {
  std::string archive = read_file(zip_path);
  std::string trailer = make_trailer(command_template, static_cast<std::uint32_t>(archive.size()),
                                     extra_tool_command);
  if (!write_file(out_path, read_file(stub_path) + archive + trailer) ||
      platform::set_file_mode(out_path, 0755) != 0) {
    ADD_FAILURE() << "cannot write " << out_path;
    return false;
  }
  return true;
}

std::string RawTrailer::version_pattern_text() {
  return pattern_text(k_version_pattern_reversed, k_version_pattern_length);
}

std::string RawTrailer::extra_tool_pattern_text() {
  return pattern_text(k_extra_tool_pattern_reversed, k_extra_tool_pattern_length);
}

std::string make_trailer(const RawTrailer& trailer) {
  std::string bytes = field(trailer.command_template, k_command_section_size);
  for (int shift = 24; shift >= 0; shift -= 8) {
    bytes += static_cast<char>((trailer.archive_length >> shift) & 0xFF);
  }
  if (trailer.extra_tool_command) {
    bytes += field(trailer.extra_tool_pattern_field, k_pattern_field_size);
    bytes += field(*trailer.extra_tool_command, k_extra_tool_command_size);
  }
  bytes += field(trailer.version_pattern_field, k_pattern_field_size);
  bytes += field(trailer.layout_version, k_layout_version_size);
  return bytes;
}

std::string make_trailer(const std::string& command_template, std::uint32_t archive_length,
                         const std::optional<std::string>& extra_tool_command) {
  return encode_trailer(command_template, archive_length, extra_tool_command);
}

bool append_bytes(const std::string& path, const std::string& bytes) {
  StdioFile file = StdioFile::open(path, "ab");
  if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() ||
      file.close() != 0) {
    ADD_FAILURE() << "cannot append to " << path;
    return false;
  }
  return true;
}
