#pragma once

// The one archive minizip cannot open: a ZIP file without entries, which is its end record alone
// (plus the record's comment). minizip looks for that record only behind the file's first byte.
// Stub and generator both recognise it here, so that both take it for what it is: nothing.

#include <cstdint>
#include <cstdio>

#include "package/zip_end_record.hpp"

// Whether the bytes from `begin` to `end` of the open `file` are exactly an end-of-central-
// directory record with no entries (disk numbers, counts, directory size and offset all zero),
// followed by its comment and nothing else. Leaves the file position undefined.
[[nodiscard]] bool is_empty_archive(std::FILE* file, std::int64_t begin, std::int64_t end);

// The same for the archive of `archive_size` bytes that `read` reads.
[[nodiscard]] bool is_empty_archive(const ArchiveReader& read, std::uint64_t archive_size);
