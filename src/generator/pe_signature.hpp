#pragma once

// Finds the Authenticode signature of a Windows executable. A signing tool puts it at the end of
// the file and records where in the certificate table entry of the PE optional header's data
// directory, the one entry that holds a file offset rather than an address in memory.

#include <cstdint>
#include <cstdio>
#include <optional>

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
