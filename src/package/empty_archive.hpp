// SPDX-License-Identifier: Zlib
#pragma once

// The one archive minizip cannot open: a ZIP file without entries, which is its end record alone
// (plus the record's comment). minizip looks for that record only behind the file's first byte.
// Stub and generator both recognise it here, so that both take it for what it is: nothing.

#include <cstdint>

#include "package/zip_end_record.hpp"

// Whether the archive of `archive_size` bytes that `read` reads is exactly an end-of-central-
// directory record with no entries (disk numbers, counts, directory size and offset all zero),
// followed by its comment and nothing else.
[[nodiscard]] bool is_empty_archive(const ArchiveReader& read, std::uint64_t archive_size);
