#pragma once

// Reads a ZIP archive through minizip's unz* interface, to tell whether it is one and, on request,
// whether every entry's data is sound.

#include <cstdint>
#include <cstdio>
#include <string>

struct ArchiveSummary {
  std::uint64_t entry_count = 0;
  // The sum of the entries' uncompressed sizes.
  std::uint64_t total_size = 0;
};

enum class ArchiveCheck { ListOnly, ReadEveryEntry };

// Opens the bytes from `begin` to `end` of the open `file` as a ZIP archive and walks its central
// directory; with ReadEveryEntry also inflates every entry and checks its CRC. Returns true and
// fills `summary`, or false with a message in `error`.
[[nodiscard]] bool check_archive(std::FILE* file, std::int64_t begin, std::int64_t end,
                                 ArchiveCheck check, ArchiveSummary& summary, std::string& error);
