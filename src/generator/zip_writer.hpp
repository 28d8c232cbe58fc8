// SPDX-License-Identifier: Zlib
#pragma once

// Writes a ZIP archive through minizip's zip interface.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "generator/archive_item.hpp"
#include "generator/progress_line.hpp"

// Writes `items`, in the given order and with their names as given, as a ZIP archive into the open
// `file` (opened for writing, binary), starting at `begin`; every ZIP offset counts from `begin`.
// Entries record the made-by host Unix, their permission bits and modification time; names are
// UTF-8, and those that are not plain ASCII carry the UTF-8 flag (bit 11); files are
// deflated at `level` (1-9) or stored (0); zip64 fields are used where sizes or counts need them.
// The size of `item`'s content: its data, or its source file's size (0 when that cannot be read).
std::uint64_t content_size(const ArchiveItem& item);

// Every byte of content stored is told to `progress` when given. Returns true, or false with a
// message in `error`.
[[nodiscard]] bool write_zip(std::FILE* file, std::int64_t begin,
                             const std::vector<ArchiveItem>& items, int level, std::string& error,
                             ProgressLine* progress = nullptr);
