// SPDX-License-Identifier: Zlib
#pragma once

// The backward search for the version pattern, shared by the stub's reader and the generator's
// inspector. It gives exactly the result of testing one 32-byte window per position, from the
// highest position down, but reads the file in blocks from the end and searches them in memory.

#include <cstdint>
#include <cstdio>

enum class PatternSearch { Found, NotFound, SeekFailed, ReadFailed };

// Searches `file` for the version pattern field: for p = `start`, `start` - 1, ... down to 1, the
// 32 bytes at p, cut at their first NUL, must equal "ZOLT_VERSION_PATT:", that is the 18 pattern
// characters followed by a NUL. Returns Found and sets `position` to the highest such p; NotFound
// when no position matches (also when `start` is below 1); SeekFailed or ReadFailed when the file
// cannot be positioned or a window cannot be read in full (e.g. `start` + 32 lies beyond the end).
// Leaves the file position undefined.
[[nodiscard]] PatternSearch find_version_pattern(std::FILE* file, std::int64_t start,
                                                 std::int64_t& position);
