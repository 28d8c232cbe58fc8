// SPDX-License-Identifier: Zlib
#pragma once

// The layout of the payload that the generator appends to a copy of the stub. Only the trailer
// codec (package/trailer_codec.hpp) and the backward search (package/trailer_search.hpp) use
// these constants; the stub's reader and the generator go through them.
//
// A package is, in file order: the stub image, the archive (a complete ZIP file of L bytes), the
// trailer, and optionally bytes after the trailer that nobody reads. Every trailer field lies at
// a fixed distance below the trailer end T:
//
//   without the extra tool section      with it
//   T - 300  command section (256)      T - 588  command section (256)
//   T -  44  archive length  (4)        T - 332  archive length (4)
//                                       T - 328  extra-tool pattern (32)
//                                       T - 296  extra-tool command (256)
//   T -  40  version pattern (32)       T -  40  version pattern (32)
//   T -   8  layout version  (8)        T -   8  layout version (8)
//
// Text fields end at their first NUL and are NUL-padded; a command field without any NUL holds 256
// characters. The archive length is big-endian. The archive lies in [K - L, K), K being the
// command section's offset. A reader finds T by searching backward for the version pattern.
//
// The stub's image must never hold either pattern text in forward order, or a plain stub would find
// a trailer in itself. So only the reversed texts are stored here, and everyone (the trailer
// codec, linked into the stub, included) builds the forward text at run time with
// `build_pattern_field`.

#include <cstdint>

// Field widths.
inline constexpr int k_command_section_size = 256;
inline constexpr int k_archive_length_size = 4;
inline constexpr int k_pattern_field_size = 32;
inline constexpr int k_extra_tool_command_size = 256;
inline constexpr int k_layout_version_size = 8;

// The extra tool section: its pattern field followed by its command field.
inline constexpr int k_extra_tool_section_size = k_pattern_field_size + k_extra_tool_command_size;

// Trailer lengths, from the command section to T.
inline constexpr int k_trailer_size =
    k_command_section_size + k_archive_length_size + k_pattern_field_size + k_layout_version_size;
inline constexpr int k_trailer_size_with_extra_tool = k_trailer_size + k_extra_tool_section_size;
static_assert(k_trailer_size == 300 && k_trailer_size_with_extra_tool == 588);

// Distances below T: the version pattern field, and the place where an extra-tool pattern field
// would start.
inline constexpr int k_version_pattern_distance = k_pattern_field_size + k_layout_version_size;
inline constexpr int k_extra_tool_probe_distance =
    k_extra_tool_section_size + k_version_pattern_distance;
static_assert(k_version_pattern_distance == 40 && k_extra_tool_probe_distance == 328);

// The only layout version this stub and this generator know.
inline constexpr char k_layout_version[] = "2.0";

// "ZOLT_VERSION_PATT:", reversed.
inline constexpr char k_version_pattern_reversed[] = ":TTAP_NOISREV_TLOZ";
inline constexpr int k_version_pattern_length = 18;
static_assert(sizeof(k_version_pattern_reversed) == k_version_pattern_length + 1);

// "SFX_EXTRA_TOOL_PATRN:", reversed: our 21-character extra-tool pattern.
inline constexpr char k_extra_tool_pattern_reversed[] = ":NRTAP_LOOT_ARTXE_XFS";
inline constexpr int k_extra_tool_pattern_length = 21;
static_assert(sizeof(k_extra_tool_pattern_reversed) == k_extra_tool_pattern_length + 1);

// File positions are signed 32-bit values in this layout: a package must be smaller than this.
inline constexpr std::int64_t k_package_size_limit = std::int64_t{1} << 31;

// Swaps the bytes at i and `length` - 1 - i for every i below `length` / 2; nothing happens for a
// `length` below 2.
inline void reverse_in_place(char* buffer, std::int32_t length) {
  for (std::int32_t i = 0; i < length / 2; ++i) {
    char c = buffer[i];
    buffer[i] = buffer[length - 1 - i];
    buffer[length - 1 - i] = c;
  }
}

// Fills `field` with NULs and the forward text of the pattern stored reversed in `reversed`
// (`length` characters). The stored text is read through a volatile pointer so that the compiler
// cannot fold the reversal and place the forward text among the stub's constants.
inline void build_pattern_field(const char* reversed, int length,
                                char (&field)[k_pattern_field_size]) {
  const volatile char* source = reversed;
  for (int i = 0; i < k_pattern_field_size; ++i) {
    field[i] = i < length ? source[i] : '\0';
  }
  reverse_in_place(field, length);
}
