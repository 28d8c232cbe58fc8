// SPDX-License-Identifier: Zlib
#pragma once

// The stub marker: a record that every stub's build embeds and that tells the generator what the
// stub is. The generator finds it by a byte search for its prefix; the stub never reads it.
//
// The marker is 111 bytes, in this order, its text fields NUL-padded (a field without any NUL
// holds its full width):
//
//   prefix     15  "<sfxkit-stub/1>", the 1 being the marker's own layout version
//   platform    8  "linux" or "windows"
//   level       8  "plain" or "elevated" (a Windows stub whose manifest asks for administrator
//                  rights)
//   version    16  the sfxkit version the stub was built from, "1.0"
//   revision   64  the source revision (a git commit), or "N/A"
//
// The prefix shares no text with the trailer's patterns (package/trailer_layout.hpp). Like them
// it is stored reversed, and only the stub's build turns it forward (at compile time, into its
// marker): the generator builds the forward text at run time, so that its own file holds no
// marker and is never taken for a stub.

#include <cstddef>
#include <optional>
#include <string>

#include "common/target_platform.hpp"

// "<sfxkit-stub/1>", reversed.
inline constexpr char k_stub_marker_prefix_reversed[] = ">1/buts-tikxfs<";
inline constexpr int k_stub_marker_prefix_length = 15;
static_assert(sizeof(k_stub_marker_prefix_reversed) == k_stub_marker_prefix_length + 1);

// Field widths, in file order after the prefix.
inline constexpr int k_stub_marker_platform_size = 8;
inline constexpr int k_stub_marker_level_size = 8;
inline constexpr int k_stub_marker_version_size = 16;
inline constexpr int k_stub_marker_revision_size = 64;
inline constexpr int k_stub_marker_size = k_stub_marker_prefix_length +
                                          k_stub_marker_platform_size + k_stub_marker_level_size +
                                          k_stub_marker_version_size + k_stub_marker_revision_size;
static_assert(k_stub_marker_size == 111);

// The field texts.
inline constexpr char k_stub_platform_linux[] = "linux";
inline constexpr char k_stub_platform_windows[] = "windows";
inline constexpr char k_stub_level_plain[] = "plain";
inline constexpr char k_stub_level_elevated[] = "elevated";

// The marker's bytes.
struct StubMarkerBytes {
  char bytes[k_stub_marker_size];
};

// Whether `text` fits a field of `width` bytes.
constexpr bool fits_stub_marker_field(const char* text, int width) {
  int length = 0;
  while (text[length] != '\0') {
    ++length;
  }
  return length <= width;
}

// The marker with these field texts, which must fit their fields (`fits_stub_marker_field`).
// Evaluated at compile time by the stub's build, which alone holds the prefix forward.
constexpr StubMarkerBytes make_stub_marker(const char* platform, const char* level,
                                           const char* version, const char* revision) {
  StubMarkerBytes marker{};
  int at = 0;
  for (int i = 0; i < k_stub_marker_prefix_length; ++i) {
    marker.bytes[at++] = k_stub_marker_prefix_reversed[k_stub_marker_prefix_length - 1 - i];
  }
  const char* const texts[] = {platform, level, version, revision};
  const int widths[] = {k_stub_marker_platform_size, k_stub_marker_level_size,
                        k_stub_marker_version_size, k_stub_marker_revision_size};
  for (int field = 0; field < 4; ++field) {
    for (int i = 0; i < widths[field] && texts[field][i] != '\0'; ++i) {
      marker.bytes[at + i] = texts[field][i];
    }
    at += widths[field];
  }
  return marker;
}

enum class StubLevel { Plain, Elevated };

// What a marker says.
struct StubMarker {
  TargetPlatform platform = TargetPlatform::Linux;
  StubLevel level = StubLevel::Plain;
  std::string version;
  std::string revision;
};

// The forward prefix, built at run time.
std::string stub_marker_prefix();

// Reads the marker at the start of `bytes` (`size` of them): the prefix, a known platform and
// level, a version and a revision of printable ASCII, each at least one character. Returns
// nothing when any of it is missing or wrong.
std::optional<StubMarker> decode_stub_marker(const char* bytes, std::size_t size);

// The marker `marker` as the stub's build writes it, for the generator's tests; the texts must
// fit their fields.
std::string encode_stub_marker(const StubMarker& marker);

// The field texts: "linux"/"windows", "plain"/"elevated".
const char* stub_platform_text(TargetPlatform platform);
const char* stub_level_text(StubLevel level);
