#pragma once

// Reads a package back: its trailer by the stub's rules and its archive through minizip.

#include <string>

#include "generator/archive_check.hpp"
#include "package/trailer_codec.hpp"

struct PackageInfo {
  TrailerInfo trailer;
  ArchiveSummary archive;
};

// Reads the trailer of the package `path` and lists its archive; with ReadEveryEntry also reads
// every entry and checks its CRC. Returns true when the package is sound, or false with a message
// in `error`; `info` holds what was read up to the failure.
[[nodiscard]] bool inspect_package(const std::string& path, ArchiveCheck check, PackageInfo& info,
                                   std::string& error);

// `info` as the lines that "--info" prints.
std::string describe_package(const PackageInfo& info);
