// SPDX-License-Identifier: Zlib
#pragma once

// One entry of an archive that the generator writes.

#include <cstdint>
#include <string>

#include "common/dos_time.hpp"

struct ArchiveItem {
  // The name as stored: '/' separated, a directory's name ends in '/'.
  std::string name;
  bool is_directory = false;
  // The file whose content is stored; when empty, `data` is stored instead.
  std::string source_path;
  std::string data;
  // rwx bits for user, group and other.
  unsigned mode = 0644;
  // Modification time: DOS date in the high 16 bits, DOS time in the low 16 bits, local time.
  std::uint32_t dos_date_time = k_earliest_dos_date_time;
};
