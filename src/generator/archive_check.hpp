// SPDX-License-Identifier: Zlib
#pragma once

// Reads a ZIP archive through the stub's own extraction, to tell whether it is one and, on request,
// whether the package's stub would extract every entry.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "generator/progress_line.hpp"
#include "package/entry_rules.hpp"

// One entry as the archive's central directory records it.
struct ArchiveEntryInfo {
  std::string name;
  std::uint64_t size = 0;
  std::uint64_t compressed_size = 0;
  std::uint32_t crc = 0;
  unsigned method = 0;
  std::uint32_t dos_date_time = 0;
  // "Version made by": its high byte names the host (3: Unix, whose mode is the high half of the
  // external attributes).
  unsigned version_made_by = 0;
  std::uint32_t external_attributes = 0;
  // The general-purpose flags (bit 11: the name is UTF-8) and the central directory's extra field,
  // which may hold the name in UTF-8 (0x7075): what the stub decodes the name by.
  unsigned long flags = 0;
  std::string extra_field;
  // For an entry made on Unix as a symbolic link (extract/entry_names.hpp): its target, which is
  // its data; empty when it cannot be read.
  bool link = false;
  std::string link_target;
};

struct ArchiveSummary {
  std::uint64_t entry_count = 0;
  // The sum of the entries' uncompressed sizes, held at UINT64_MAX where it would wrap.
  std::uint64_t total_size = 0;
  // The entries walked, in the directory's order.
  std::vector<ArchiveEntryInfo> entries;
};

enum class ArchiveCheck { ListOnly, ReadEveryEntry };

// Which stub the archive is for: `target`'s stub applies its entry rules
// (package/entry_rules.hpp); Ignore lists the entries whatever they are.
struct EntryRules {
  enum class Use { Apply, Ignore } use = Use::Apply;
  TargetPlatform target = TargetPlatform::Windows;
};

// Opens the bytes from `begin` to `end` of the open `file` as a ZIP archive and walks its central
// directory as the stub does (extract/extraction_plan.hpp); with ReadEveryEntry also extracts
// every entry as `rules.target`'s stub does, into a sink that writes nothing, with the stub's entry
// rules and checks of the data. An archive without entries is sound. With `rules` applied to a
// listing, an entry the stub would refuse makes the archive unsound. Every byte read is told to
// `progress` when given. Returns true and fills `summary`, or false with a message in `error`.
[[nodiscard]] bool check_archive(std::FILE* file, std::int64_t begin, std::int64_t end,
                                 ArchiveCheck check, const EntryRules& rules,
                                 ArchiveSummary& summary, std::string& error,
                                 ProgressLine* progress = nullptr);
