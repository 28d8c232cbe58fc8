// SPDX-License-Identifier: Zlib
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
#include "extract/write_ring.hpp"
#include "platform/platform.hpp"

int extract_archive(const platform::FileHandle& archive_file, const std::string& target_dir,
                    TargetPlatform target, NewFileBits bits) {
  DiskSink sink(bits);
  DiskSink second_sink(bits);
  return extract_archive(archive_file, target_dir, target,
                         ExtractionEngine{&sink, &second_sink, k_parallel_entries,
                                          k_ring_entry_size, k_ask_free_space});
}

namespace {

int extract_from(ArchiveRegion& region, const std::string& target_dir, TargetPlatform target,
                 const ExtractionEngine& engine) {
  ArchiveStream stream(std::move(region));
  UnzipHandle archive;
  if (!open_archive(stream, archive)) {
    return k_extract_not_an_archive;
  }

  if (platform::set_current_directory(target_dir) != 0) {
    print_plain("Error changing into %s, aborting\n", target_dir.c_str());
    return k_extract_cannot_enter;
  }
  if (archive.get() == nullptr) {
    return k_extract_ok;
  }
  // A directory minizip cannot walk is left to the extraction, which finds out for itself.
  ExtractionPlan plan = plan_extraction(stream, archive.get(), target);
  // The walk's memory is free again: its pages go back before the extraction's buffers come, and
  // the entries' small allocations do not spread over them.
  platform::release_freed_memory();
  if (plan.walked) {
    if (plan.fill != DirectoryFill::Exact) {
      print_plain("%s\n", directory_fill_problem(plan.fill));
      return k_extract_incomplete;
    }
    if (!fits(plan.needed, target_dir, engine.free_bytes)) {
      return k_extract_no_space;
    }
    if (plan.walk.entries >= engine.parallel_entries && !plan.collides && !plan.links) {
      return extract_in_parallel(stream, archive.get(), plan.shares, plan.walk.entries, target,
                                 platform::file_creation_mask(), *engine.sink,
                                 *engine.second_sink);
    }
  }
  return extract_all_entries(ArchiveAccess{archive.get(), stream.reader(), target},
                             platform::file_creation_mask(), *engine.sink, engine.ring_entry_size);
}

}  // namespace

int extract_archive_region(ArchiveRegion region, const std::string& target_dir,
                           TargetPlatform target, std::uint64_t free_bytes, NewFileBits bits) {
  DiskSink sink(bits);
  DiskSink second_sink(bits);
  return extract_from(region, target_dir, target,
                      ExtractionEngine{&sink, &second_sink, k_parallel_entries,
                                       k_ring_entry_size, free_bytes});
}

int extract_archive(const platform::FileHandle& archive_file, const std::string& target_dir,
                    TargetPlatform target, const ExtractionEngine& engine) {
  if (!archive_file.is_open()) {
    return k_extract_not_an_archive;
  }
  ArchiveRegion region;
  region.read_file = file_reader(archive_file);
  if (platform::file_size(archive_file, region.length) != 0) {
    return k_extract_not_an_archive;
  }
  int result = extract_from(region, target_dir, target, engine);
  if (result == k_extract_cannot_enter) {
    exit_now(k_exit_abort);
  }
  return result;
}
