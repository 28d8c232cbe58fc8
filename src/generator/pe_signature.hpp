// SPDX-License-Identifier: Zlib
#pragma once

// Finds the Authenticode signature of a Windows executable. A signing tool puts it at the end of
// the file and records where in the certificate table entry of the PE optional header's data
// directory, the one entry that holds a file offset rather than an address in memory.

#include <cstdint>
#include <cstdio>
#include <optional>

// The headers of a PE file that say what it is and where its image ends.
struct PeHeaders {
  // The file header's machine (0x8664: x86-64) and characteristics (0x0002: an executable image).
  unsigned machine = 0;
  unsigned characteristics = 0;
  // The optional header's magic: 0x10B for PE32, 0x20B for PE32+.
  unsigned magic = 0;
  // Where the optional header starts, its size as the file header gives it, and the number of
  // sections, whose table follows it.
  std::int64_t optional_header = 0;
  std::int64_t optional_size = 0;
  unsigned sections = 0;
};

inline constexpr unsigned k_pe_machine_x86_64 = 0x8664;
inline constexpr unsigned k_pe_executable_image = 0x0002;
inline constexpr unsigned k_pe32_plus_magic = 0x20B;

// The headers of the PE file open in `file`: "MZ", the pointer at 0x3C to "PE\0\0", the file
// header and the optional header's magic (PE32 or PE32+), at most 96 sections. Anything else has
// none; the file position is left anywhere.
std::optional<PeHeaders> read_pe_headers(std::FILE* file);

// Where the image of the PE file with `headers` ends: after its headers and the raw data of its
// sections; -1 when the section table cannot be read.
std::int64_t pe_image_end(std::FILE* file, const PeHeaders& headers);

struct SignatureSpan {
  std::int64_t offset = 0;
  std::int64_t length = 0;
};

// The signature of the PE file open in `file`, when it is one and has a signature in its place:
// the certificate entry within the optional header as the file header sizes it, the table
// after the image's headers and sections, on an 8-byte boundary, within the file, and starting
// with a record of signed PKCS #7 data. Anything else has none; the file position is left
// anywhere.
std::optional<SignatureSpan> find_pe_signature(std::FILE* file);
