#include "extract/extraction_plan.hpp"

#include <cstring>

#include "console/messages.hpp"
#include "platform/platform.hpp"

bool walk_directory(unzFile archive, DirectoryWalk& walk, std::uint64_t& total) {
  walk = DirectoryWalk{};
  total = 0;
  unz_global_info64 global;
  std::memset(&global, 0, sizeof global);
  if (unzGetGlobalInfo64(archive, &global) != UNZ_OK) {
    return false;
  }
  for (ZPOS64_T i = 0; i < global.number_entry; ++i) {
    if ((i == 0 ? unzGoToFirstFile(archive) : unzGoToNextFile(archive)) != UNZ_OK) {
      return false;
    }
    unz_file_info64 info;
    std::memset(&info, 0, sizeof info);
    if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
      return false;
    }
    if (i == 0) {
      walk.first_offset = static_cast<std::uint64_t>(unzGetOffset64(archive));
    }
    ++walk.entries;
    walk.bytes += k_central_header_size + static_cast<std::uint64_t>(info.size_filename) +
                  static_cast<std::uint64_t>(info.size_file_extra) +
                  static_cast<std::uint64_t>(info.size_file_comment);
    total += static_cast<std::uint64_t>(info.uncompressed_size);
  }
  return unzGoToFirstFile(archive) == UNZ_OK;
}

bool fills_directory(ArchiveStream& stream, const DirectoryWalk& walk) {
  ZipEndRecord record;
  DirectoryFill fill = read_zip_end_record(stream.reader(), stream.size(), record)
                           ? compare_directory_walk(record, walk)
                           : DirectoryFill::Mismatch;
  if (fill == DirectoryFill::Exact) {
    return true;
  }
  print_plain("%s\n", directory_fill_problem(fill));
  return false;
}

bool fits(std::uint64_t needed, const std::string& target_dir) {
  constexpr std::uint64_t k_megabyte = 1024 * 1024;
  platform::FileSystemInfo info;
  if (platform::file_system_info(target_dir, info) != 0 || needed <= info.free_bytes) {
    return true;
  }
  std::uint64_t available = info.free_bytes;
  print_error("Not enough space in %s: %llu MB needed, %llu MB free\n", target_dir.c_str(),
              static_cast<unsigned long long>((needed + k_megabyte - 1) / k_megabyte),
              static_cast<unsigned long long>(available / k_megabyte));
  return false;
}
