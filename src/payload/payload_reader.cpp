// SPDX-License-Identifier: Zlib
#include "payload/payload_reader.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "console/messages.hpp"
#include "common/display_text.hpp"
#include "common/stdio_file.hpp"
#include "package/trailer_codec.hpp"
#include "package/trailer_layout.hpp"
#include "package/trailer_search.hpp"
#include "platform/platform.hpp"
#include "workdir/path.hpp"

namespace {

// The size of the copy buffer: the archive goes straight to the file, without stdio's buffer.
constexpr std::size_t k_copy_buffer_size = 256 * 1024;
// The most copied by the system at one time, between two looks at termination requests.
constexpr std::size_t k_system_copy_piece = 16 * 1024 * 1024;

// The archive file cannot take the archive.
int out_of_space(const PayloadResult& result) {
  print_error("Failed to write on file %s, might be out of space\n", result.archive_path.c_str());
  return k_payload_archive_error;
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

  std::string version;
  switch (read_layout_version(file, position, version)) {
    case TrailerFault::None:
      break;
    case TrailerFault::VersionMismatch:
      print_error(
          "Extractor layout version : '%s' differs than expected '%s', make sure generator and "
          "sfx_stub versions are matched\n",
          display_text(version).c_str(), k_layout_version);
      return false;
    default:
      print_error("Failed to read current version: '%s'\n", self_path.c_str());
      return false;
  }
  bytes_after -= k_layout_version_size;
  return true;
}

bool read_extra_tool_section(std::int32_t probe, std::FILE* file, std::uint32_t& section_size,
                             const std::string& self_path,
                             std::vector<std::string>& extra_tool_commands) {
  section_size = 0;
  std::optional<std::string> command;
  switch (probe_extra_tool_section(file, probe, command)) {
    case TrailerFault::None:
      break;
    case TrailerFault::ExtraToolSeekFailed:
      print_error("Failed to seek extra tool Pattern offset, file : '%s'\n", self_path.c_str());
      return false;
    case TrailerFault::ExtraToolPatternReadFailed:
      print_error("Failed to read extra tool Pattern : '%s'\n", self_path.c_str());
      return false;
    default:
      print_error("Failed to read extra tool cmd : '%s'\n", self_path.c_str());
      return false;
  }
  if (command) {
    section_size += k_extra_tool_section_size;
    extra_tool_commands.push_back(*command);
  }
  return true;
}

namespace {

// open_payload on the open `stub`, which `self_path` names in messages; a stub that could not be
// opened is null, with errno telling why.
int open_opened_payload(const StdioFile& stub, const std::string& self_path,
                        const std::string& work_dir, TargetPlatform target,
                        PayloadResult& result) {
  int error = stub ? platform::stream_file_handle(stub.get(), result.package) : errno;
  if (error != 0) {
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
                               self_path, result.extra_tool_commands)) {
    return k_payload_file_error;
  }

  // A trailer found too near the start of the file puts the command section before it; the codec
  // checks that rather than leaving it to the runtime's seek.
  std::int64_t command_offset =
      std::int64_t{trailer_end} - std::int64_t{section_size} - k_trailer_size;
  std::uint32_t archive_length = 0;
  switch (read_command_section(stub.get(), command_offset, result.command_template,
                               archive_length)) {
    case TrailerFault::None:
      break;
    case TrailerFault::CommandSeekFailed:
      print_error("Failed to seek Exec cmd offset, file : '%s'\n", self_path.c_str());
      return k_payload_file_error;
    case TrailerFault::CommandReadFailed:
      print_error("Failed to read command section, file : '%s'\n", self_path.c_str());
      return k_payload_read_error;
    default:
      print_error("Failed to read offset, file : '%s'\n", self_path.c_str());
      return k_payload_read_error;
  }

  // An archive longer than everything before the command section would start before the file.
  std::int64_t archive_offset = command_offset - std::int64_t{archive_length};
  if (archive_offset < 0 || platform::seek_file(stub.get(), archive_offset, SEEK_SET) != 0) {
    print_error("Failed to seek start offset, file '%s'\n", self_path.c_str());
    return k_payload_file_error;
  }
  result.archive_offset = static_cast<std::uint64_t>(archive_offset);
  result.archive_length = archive_length;

  // The name may be taken already: left over from an earlier run, or planted by someone else in a
  // shared folder (a file to be swapped after the copy, a link to a file of the user's). It is
  // removed, never followed or written through, and the archive is created anew and read back
  // through the descriptor that created it.
  result.archive_path = join_path(work_dir, "archive.zip", target);
  error = platform::remove_tree(result.archive_path);
  if (error != 0 && error != ENOENT && error != ENOTDIR) {
    print_error("Failed to remove %s: %s\n", result.archive_path.c_str(), std::strerror(error));
    return k_payload_archive_error;
  }
  if (platform::create_exclusive_file(result.archive_path, result.archive) != 0) {
    print_error("Failed to open file %s\n", result.archive_path.c_str());
    return k_payload_archive_error;
  }
  result.archive_written = true;
  return k_payload_ok;
}

}  // namespace

int open_payload(const std::string& self_path, const std::string& work_dir, TargetPlatform target,
                 PayloadResult& result) {
  return open_opened_payload(StdioFile::open(self_path, "rb"), self_path, work_dir, target,
                             result);
}

int open_own_payload(const std::string& self_path, const std::string& work_dir,
                     TargetPlatform target, PayloadResult& result) {
  return open_opened_payload(StdioFile(platform::open_own_executable()), self_path, work_dir,
                             target, result);
}

int read_payload(const std::string& self_path, const std::string& work_dir, TargetPlatform target,
                 PayloadResult& result) {
  int status = open_payload(self_path, work_dir, target, result);
  return status != k_payload_ok ? status : copy_archive(result, self_path);
}

int reserve_archive_space(PayloadResult& result) {
  // Room that is not there fails the copy before it starts; a file system that cannot set room
  // aside leaves the copy to find out as it goes.
  int error = platform::reserve_file_space(result.archive, result.archive_length);
  if (error != 0 && error != EOPNOTSUPP && error != ENOSYS) {
    return out_of_space(result);
  }
  return k_payload_ok;
}

int copy_archive(PayloadResult& result, const std::string& self_path) {
  // The archive goes over in large pieces, copied by the system itself where it can; a request to
  // end the process is looked at between pieces. Every read names its position: the extraction
  // may be reading the same file meanwhile.
  const std::uint32_t archive_length = result.archive_length;
  // Left unfilled: only the pages a read reaches are ever touched.
  std::unique_ptr<char[]> buffer;
  std::uint32_t copied = 0;
  int signal_number = 0;
  while (copied < archive_length) {
    if (platform::termination_requested(signal_number)) {
      return k_payload_interrupted;
    }
    std::uint64_t position = result.archive_offset + copied;
    std::size_t wanted = std::min<std::size_t>(k_system_copy_piece, archive_length - copied);
    std::size_t count = 0;
    int error = 0;
    if (!buffer) {
      error = platform::copy_between_files(result.package, position, result.archive, wanted, count);
      if (error == 0 && count == 0) {
        error = EOPNOTSUPP;
      }
      if (error == 0) {
        copied += static_cast<std::uint32_t>(count);
        continue;
      }
      if (error == EINTR) {
        continue;
      }
      if (error != ENOSYS && error != EXDEV && error != EINVAL && error != EOPNOTSUPP) {
        return out_of_space(result);
      }
      // Read and written here from now on: also when the system copied nothing, which some file
      // systems do before the end; reading finds the real end.
      buffer.reset(new char[k_copy_buffer_size]);
    }
    wanted = std::min<std::size_t>(k_copy_buffer_size, wanted);
    error = platform::read_file_at(result.package, position, buffer.get(), wanted, count);
    if (error == EINTR) {
      continue;
    }
    if (error != 0 || count == 0) {
      break;
    }
    std::size_t written = 0;
    while (written < count) {
      std::size_t piece = 0;
      error = platform::write_file(result.archive, buffer.get() + written, count - written, piece);
      if (error == EINTR) {
        return k_payload_interrupted;
      }
      if (error != 0 || piece == 0) {
        return out_of_space(result);
      }
      written += piece;
    }
    copied += static_cast<std::uint32_t>(count);
  }
  if (copied < archive_length) {
    print_error("File %s ended after %u of the archive's %u bytes\n", self_path.c_str(),
                static_cast<unsigned>(copied), static_cast<unsigned>(archive_length));
    return k_payload_short_copy;
  }
  return k_payload_ok;
}
