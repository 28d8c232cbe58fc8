// SPDX-License-Identifier: Zlib
#pragma once

// The extraction on two threads, for archives of many entries. Entries are claimed in shares of
// a few, in archive order; each thread goes to the first entry of its share and on through it
// with a minizip handle and windows of its own over the one archive region. The first entry in
// archive order that fails decides: its messages are printed, no entry after it is begun, one
// begun already stops at its next piece (its file removed when it made it), and every entry
// before it is complete.

#include <unzip.h>

#include <cstdint>
#include <vector>

#include "common/target_platform.hpp"
#include "extract/archive_stream.hpp"
#include "extract/entry_sink.hpp"

// From this many entries on, extract_archive runs two threads, unless two entries may land on one
// file (extract/extraction_plan.hpp). Its engine takes another threshold where one is given.
inline constexpr std::uint64_t k_parallel_entries = 16;

// Extracts the `count` entries of `archive`, which reads `stream`, with the entry rules of
// `target`, in the shares that begin at `shares` (the plan's), on this thread into `own_sink`
// and on a second one into `second_sink` (this one alone when no second can start). The second
// thread reads `stream`'s region through a stream of its own: the region's reader and progress
// hook must serve two threads at once (positioned reads of a FileHandle do). Returns as
// extract_all_entries does.
[[nodiscard]] int extract_in_parallel(ArchiveStream& stream, unzFile archive,
                                      const std::vector<unz64_file_pos>& shares,
                                      std::uint64_t count, TargetPlatform target,
                                      unsigned creation_mask, EntrySink& own_sink,
                                      EntrySink& second_sink);
