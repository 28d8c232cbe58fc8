#pragma once

// What the extraction checks before it writes anything: that the entries minizip walks fill the
// central directory the end record describes, and that they fit into the free space.

#include <unzip.h>

#include <cstdint>
#include <string>

#include "extract/archive_stream.hpp"
#include "package/zip_end_record.hpp"

// Walks the central directory of `archive` the way the extraction goes through it: as many
// entries as the end record counts for minizip. Notes where they stand in `walk` and adds up
// their uncompressed sizes in `total`, leaving the archive at its first entry. False when minizip
// cannot walk it; the extraction then finds out for itself.
[[nodiscard]] bool walk_directory(unzFile archive, DirectoryWalk& walk, std::uint64_t& total);

// Whether the entries that `walk` met fill the central directory that the end record of the
// archive in `stream` describes. An end record that counts too few entries would leave the rest
// of the payload behind without a word. Prints the problem when they do not.
[[nodiscard]] bool fills_directory(ArchiveStream& stream, const DirectoryWalk& walk);

// Whether `needed` bytes fit where the archive unpacks to, `target_dir`. Filling the disk half-way
// would leave a broken payload and a full disk; a clear refusal up front leaves neither. Prints
// "-E- Not enough space in DIR: N MB needed, M MB free" when they do not; a file system that
// cannot be asked counts as roomy enough.
[[nodiscard]] bool fits(std::uint64_t needed, const std::string& target_dir);
