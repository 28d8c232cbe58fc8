// SPDX-License-Identifier: Zlib
#pragma once

// Reads a package back: its trailer by the stub's rules and its archive through minizip; prints
// what it found as text or as JSON.

#include <optional>
#include <string>

#include "generator/archive_check.hpp"
#include "generator/pe_signature.hpp"
#include "package/stub_marker.hpp"
#include "package/trailer_codec.hpp"

struct PackageInfo {
  TrailerInfo trailer;
  ArchiveSummary archive;
  // The Authenticode signature of a Windows package, when it has one: after the trailer when the
  // package was signed, within the stub when a signed stub was packed (no longer valid then).
  std::optional<SignatureSpan> signature;
  // The platform of the package's stub, which decodes the entry names it writes.
  TargetPlatform target = TargetPlatform::Windows;
  // What the stub's marker says, when the file starts with a stub that carries one (also when
  // the trailer cannot be read).
  std::optional<StubMarker> stub;
  // How far reading got: the trailer was read, then the archive's directory walked.
  bool trailer_read = false;
  bool archive_read = false;
};

// Reads the trailer of the package `path` and lists its archive; with ReadEveryEntry also reads
// every entry and checks its CRC, showing a progress line on `progress`. Returns true when the
// package is sound, or false with a message in `error`; `info` holds what was read up to the
// failure. Without a trailer, the message tells a file that starts with a marked stub and has
// more bytes after it ("damaged or incomplete package") from a bare stub and from anything else
// ("not a package"); entry data that does not read back makes a "damaged package".
[[nodiscard]] bool inspect_package(const std::string& path, ArchiveCheck check, PackageInfo& info,
                                   std::string& error, const ProgressOutput& progress = {});

// `info` as the lines that "--info" prints; the package's texts with their control characters
// escaped (common/display_text.hpp).
std::string describe_package(const PackageInfo& info);

// The entries of `info` as the lines that "--list" prints, one per entry: 'd', 'l' (a symbolic
// link) or '-', the permission bits in octal (blank when the entry was not made on Unix), the
// size, the CRC-32 in hex, the stored date and time, the name the package's stub writes and, for
// a link, " -> " and its target (control characters escaped).
std::string describe_entries(const PackageInfo& info);

// What "--info --json" and "--list --json" print about the package `path`.
struct PackageReport {
  std::string path;
  PackageInfo info;
  // Whether every entry read back with a matching CRC; unset when that was not asked.
  std::optional<bool> verified;
  // What failed; empty when nothing did.
  std::string error;
};

enum class ReportEntries { Leave, Include };

// `report` as one JSON document of schema 1 (UTF-8; invalid UTF-8 in names and commands replaced
// with U+FFFD; control characters, DEL and C1 included, as \u escapes): the package, its file
// size, the trailer's fields and offsets, the signature, the stub's marker (platform, execution
// level, version, revision; null without one), the archive summary, the verification result and
// the error (null when none); with Include also every entry, whose `name` is the name the package's
// stub writes and `name_hex` the stored bytes in hex when they are not valid UTF-8 (else null).
std::string package_json(const PackageReport& report, ReportEntries entries);
