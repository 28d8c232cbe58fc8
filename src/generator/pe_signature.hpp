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

// The signature of the PE file open in `file`, when it is one and has a signature that lies
// within the file; the file position is left anywhere.
std::optional<SignatureSpan> find_pe_signature(std::FILE* file);
