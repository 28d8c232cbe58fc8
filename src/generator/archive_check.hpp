#pragma once

// Reads a ZIP archive through minizip's unz* interface, to tell whether it is one and, on request,
// whether every entry's data is sound.

#include <cstdint>
#include <cstdio>
#include <string>

#include "package/entry_rules.hpp"

struct ArchiveSummary {
  std::uint64_t entry_count = 0;
  // The sum of the entries' uncompressed sizes.
  std::uint64_t total_size = 0;
};

enum class ArchiveCheck { ListOnly, ReadEveryEntry };

// Which stub the archive is for: `target`'s stub applies its entry rules
// (package/entry_rules.hpp); Ignore lists the entries whatever they are.
struct EntryRules {
  enum class Use { Apply, Ignore } use = Use::Apply;
  TargetPlatform target = TargetPlatform::Windows;
};

// Opens the bytes from `begin` to `end` of the open `file` as a ZIP archive and walks its central
// directory; with ReadEveryEntry also inflates every entry and checks its CRC. An archive without
// entries is sound. With `rules` applied, an entry the stub would refuse makes the archive
// unsound. Returns true and fills `summary`, or false with a message in `error`.
[[nodiscard]] bool check_archive(std::FILE* file, std::int64_t begin, std::int64_t end,
                                 ArchiveCheck check, const EntryRules& rules,
                                 ArchiveSummary& summary, std::string& error);
