#include "payload/payload_reader.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "command/command_lists.hpp"
#include "common/messages.hpp"
#include "payload/payload_layout.hpp"
#include "payload/trailer_search.hpp"
#include "platform/platform.hpp"
#include "workdir/path.hpp"

namespace {

// Owns a stdio stream; closes it on every way out unless it was closed by hand.
class OpenFile {
 public:
  explicit OpenFile(std::FILE* file) : m_file(file) {}
  ~OpenFile() {
    if (m_file != nullptr) {
      std::fclose(m_file);
    }
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  std::FILE* get() const { return m_file; }
  // Closes the stream; false when the last buffered bytes could not be written.
  bool close() {
    std::FILE* file = m_file;
    m_file = nullptr;
    return std::fclose(file) == 0;
  }

 private:
  std::FILE* m_file;
};

// The size of the copy buffer, which also takes the command section first.
constexpr std::size_t k_copy_buffer_size = 1024;

std::uint32_t decode_big_endian(const unsigned char (&bytes)[k_archive_length_size]) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

}  // namespace

bool find_layout_version(std::int32_t start, std::FILE* file, std::uint32_t& bytes_after,
                         const std::string& self_path) {
  std::int64_t position = 0;
  switch (find_version_pattern(file, start, position)) {
    case PatternSearch::Found:
      break;
    case PatternSearch::SeekFailed:
      print_error("Failed to seek version Pattern offset, file : '%s'\n", self_path.c_str());
      return false;
    case PatternSearch::ReadFailed:
      print_error("Failed to read version pattern : '%s'\n", self_path.c_str());
      return false;
    case PatternSearch::NotFound:
      bytes_after += static_cast<std::uint32_t>(std::max<std::int32_t>(start, 0));
      print_error(
          "Failed to find version pattern, vek_fwsfx_gen is older than expected : '%s', make sure "
          "to have the latest ORBA\n",
          k_layout_version);
      return false;
  }
  // One count for every position above the match.
  bytes_after += static_cast<std::uint32_t>(start - position);

  char version[k_layout_version_size + 1] = {};
  if (platform::seek_file(file, position + k_pattern_field_size, SEEK_SET) != 0 ||
      std::fread(version, 1, k_layout_version_size, file) != k_layout_version_size) {
    print_error("Failed to read current version: '%s'\n", self_path.c_str());
    return false;
  }
  version[k_layout_version_size] = '\0';
  if (std::strcmp(version, k_layout_version) != 0) {
    print_error(
        "Extractor layout version : '%s' differs than expected '%s', make sure generator and "
        "sfx_stub versions are matched\n",
        version, k_layout_version);
    return false;
  }
  bytes_after -= k_layout_version_size;
  return true;
}

bool read_extra_tool_section(std::int32_t probe, std::FILE* file, std::uint32_t& section_size,
                             const std::string& self_path) {
  section_size = 0;
  char pattern[k_pattern_field_size];
  build_pattern_field(k_extra_tool_pattern_reversed, k_extra_tool_pattern_length, pattern);
  if (probe < 1) {
    return true;
  }
  if (platform::seek_file(file, probe, SEEK_SET) != 0) {
    print_error("Failed to seek extra tool Pattern offset, file : '%s'\n", self_path.c_str());
    return false;
  }
  char window[k_pattern_field_size + 1];
  if (std::fread(window, 1, k_pattern_field_size, file) != k_pattern_field_size) {
    print_error("Failed to read extra tool Pattern : '%s'\n", self_path.c_str());
    return false;
  }
  window[k_pattern_field_size] = '\0';
  if (std::strcmp(window, pattern) != 0) {
    return true;
  }
  char command[k_extra_tool_command_size + 1];
  if (std::fread(command, 1, k_extra_tool_command_size, file) != k_extra_tool_command_size) {
    print_error("Failed to read extra tool cmd : '%s'\n", self_path.c_str());
    return false;
  }
  section_size += k_extra_tool_section_size;
  command[k_extra_tool_command_size] = '\0';
  extra_tool_commands.emplace_back(command);
  return true;
}

int read_payload(const std::string& self_path, const std::string& work_dir, PayloadResult& result) {
  OpenFile stub(std::fopen(self_path.c_str(), "rb"));
  if (stub.get() == nullptr) {
    int error = errno;
    print_error("Failed to Extract file %s, %s\n", self_path.c_str(), std::strerror(error));
    return k_payload_file_error;
  }
  if (platform::seek_file(stub.get(), 0, SEEK_END) != 0) {
    print_error("Failed to seek file end, file :'%s'\n", self_path.c_str());
    return k_payload_file_error;
  }
  std::int64_t file_size = platform::tell_file(stub.get());
  if (file_size == -1) {
    print_error("Failed to get file size, file : '%s'\n", self_path.c_str());
    return k_payload_file_error;
  }
  // Every position below is a signed 32-bit value; a larger file would wrap around.
  if (file_size >= k_package_size_limit) {
    print_error("Package file '%s' is %lld bytes long; a package must be smaller than 2 GiB\n",
                self_path.c_str(), static_cast<long long>(file_size));
    return k_payload_file_error;
  }
  std::int32_t size = static_cast<std::int32_t>(file_size);

  std::uint32_t bytes_after = 0;
  if (!find_layout_version(size - k_pattern_field_size, stub.get(), bytes_after, self_path)) {
    return k_payload_file_error;
  }
  std::int32_t trailer_end = size - static_cast<std::int32_t>(bytes_after);
  std::uint32_t section_size = 0;
  if (trailer_end - k_extra_tool_probe_distance > 0 &&
      !read_extra_tool_section(trailer_end - k_extra_tool_probe_distance, stub.get(), section_size,
                               self_path)) {
    return k_payload_file_error;
  }

  // A trailer found too near the start of the file puts the command section before it; checked
  // here rather than left to the runtime's seek.
  std::int64_t command_offset =
      std::int64_t{trailer_end} - std::int64_t{section_size} - k_trailer_size;
  if (command_offset < 0 || platform::seek_file(stub.get(), command_offset, SEEK_SET) != 0) {
    print_error("Failed to seek Exec cmd offset, file : '%s'\n", self_path.c_str());
    return k_payload_file_error;
  }
  char buffer[k_copy_buffer_size + 1];
  if (std::fread(buffer, 1, k_command_section_size, stub.get()) != k_command_section_size) {
    print_error("Failed to read command section, file : '%s'\n", self_path.c_str());
    return k_payload_read_error;
  }
  buffer[k_command_section_size] = '\0';
  result.command_template = buffer;

  unsigned char length_bytes[k_archive_length_size];
  if (std::fread(length_bytes, 1, k_archive_length_size, stub.get()) != k_archive_length_size) {
    print_error("Failed to read offset, file : '%s'\n", self_path.c_str());
    return k_payload_read_error;
  }
  std::uint32_t archive_length = decode_big_endian(length_bytes);

  // An archive longer than everything before the command section would start before the file.
  std::int64_t archive_offset = command_offset - std::int64_t{archive_length};
  if (archive_offset < 0 || platform::seek_file(stub.get(), archive_offset, SEEK_SET) != 0) {
    print_error("Failed to seek start offset, file '%s'\n", self_path.c_str());
    return k_payload_file_error;
  }

  result.archive_path = join_path(work_dir, "archive.zip");
  OpenFile archive(std::fopen(result.archive_path.c_str(), "wb"));
  if (archive.get() == nullptr) {
    print_error("Failed to open file %s\n", result.archive_path.c_str());
    return k_payload_archive_error;
  }
  result.archive_written = true;

  std::uint32_t copied = 0;
  while (copied < archive_length) {
    std::size_t read = std::fread(buffer, 1, k_copy_buffer_size, stub.get());
    if (read == 0) {
      break;
    }
    std::size_t wanted = std::min<std::size_t>(read, archive_length - copied);
    std::size_t written = std::fwrite(buffer, 1, wanted, archive.get());
    if (written < wanted) {
      print_error("Failed to write on file %s, might be out of space\n",
                  result.archive_path.c_str());
      return k_payload_archive_error;
    }
    copied += static_cast<std::uint32_t>(written);
  }
  // The last buffered bytes reach the disk only here, so a full disk may show up only now.
  if (!archive.close()) {
    print_error("Failed to write on file %s, might be out of space\n", result.archive_path.c_str());
    return k_payload_archive_error;
  }
  if (copied < archive_length) {
    print_error("File %s ended after %u of the archive's %u bytes\n", self_path.c_str(),
                static_cast<unsigned>(copied), static_cast<unsigned>(archive_length));
    return k_payload_short_copy;
  }
  return k_payload_ok;
}
