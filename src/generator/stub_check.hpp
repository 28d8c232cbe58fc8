// SPDX-License-Identifier: Zlib
#pragma once

// What makes a file a stub: an executable for x86-64 (ELF or PE32+) that carries the stub marker
// of its platform (package/stub_marker.hpp) and no payload trailer of its own.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "package/stub_marker.hpp"

// The kind of executable a file is, and where its image ends: for ELF after its headers, segments
// and sections; for PE after its headers and the raw data of its sections (a signature appended
// to the image lies beyond).
struct ExecutableImage {
  enum class Kind { ElfX86_64, Pe32PlusX86_64, Other } kind = Kind::Other;
  std::int64_t end = 0;
};

// The executable image of the file open in `file`: an ELF file of class 64, little-endian, for
// x86-64, an executable or a position-independent one; or a PE32+ executable image for x86-64
// (read by generator/pe_signature.hpp). Anything else, or headers that cannot be read, is Other.
ExecutableImage read_executable_image(std::FILE* file);

enum class MarkerSearch {
  Found,
  // No marker, but the heading of the stub's help: a stub built before stubs had a marker.
  OlderStub,
  // Neither.
  Missing,
  // The prefix is there, but not a marker that reads.
  Damaged,
  ReadFailed,
};

// Searches the first `limit` bytes of `file` for the marker's prefix and reads the marker at the
// first place it is found into `marker`.
[[nodiscard]] MarkerSearch find_stub_marker(std::FILE* file, std::int64_t limit,
                                            StubMarker& marker);

// Checks the file `path` that is to be packed as a stub: an executable as above that carries a
// marker for its kind (linux for ELF, windows for PE) and holds no payload trailer (the backward
// search of the stub's own reader finds no version pattern). Returns true and fills `marker`, or
// false with a message that names `path` in `error`.
[[nodiscard]] bool check_stub(const std::string& path, StubMarker& marker, std::string& error);

// `marker` in one line of text: platform, execution level, version and revision.
std::string describe_stub_marker(const StubMarker& marker);
