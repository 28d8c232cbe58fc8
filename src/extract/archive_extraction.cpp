#include "extract/archive_extraction.hpp"

#include <cstdint>
#include <utility>

#include "common/exit_status.hpp"
#include "console/messages.hpp"
#include "extract/archive_stream.hpp"
#include "extract/entry_extraction.hpp"
#include "extract/entry_sink.hpp"
#include "extract/extraction_plan.hpp"
#include "extract/parallel_extraction.hpp"
#include "platform/platform.hpp"

int extract_archive(const platform::FileHandle& archive_file, const std::string& target_dir) {
  if (!archive_file.is_open()) {
    return k_extract_not_an_archive;
  }
  ArchiveRegion region;
  region.read_file = file_reader(archive_file);
  if (platform::file_size(archive_file, region.length) != 0) {
    return k_extract_not_an_archive;
  }
  ArchiveStream stream(std::move(region));
  UnzipHandle archive;
  if (!open_archive(stream, archive)) {
    return k_extract_not_an_archive;
  }

  if (platform::set_current_directory(target_dir) != 0) {
    print_plain("Error changing into %s, aborting\n", target_dir.c_str());
    archive.close();
    exit_now(k_exit_abort);
  }
  if (archive.get() == nullptr) {
    return k_extract_ok;
  }
  DiskSink sink;
  DirectoryWalk walk;
  std::uint64_t needed = 0;
  if (walk_directory(archive.get(), walk, needed)) {
    if (!fills_directory(stream, walk)) {
      return k_extract_incomplete;
    }
    if (!fits(needed, target_dir)) {
      return k_extract_no_space;
    }
    if (walk.entries >= k_parallel_entries) {
      DiskSink second_sink;
      return extract_in_parallel(stream, archive.get(), walk.entries,
                                 platform::file_creation_mask(), sink, second_sink);
    }
  }
  return extract_all_entries(ArchiveAccess{archive.get(), stream.reader()},
                             platform::file_creation_mask(), sink);
}
