// SPDX-License-Identifier: Zlib
#include "generator/pe_signature.hpp"

#include <algorithm>
#include <cstring>

#include "common/little_endian.hpp"
#include "platform/platform.hpp"

namespace {

constexpr std::int64_t k_new_header_pointer = 0x3C;
constexpr std::size_t k_file_header_size = 20;
constexpr unsigned k_pe32_magic = 0x10B;
constexpr std::uint32_t k_certificate_table = 4;
constexpr std::size_t k_section_header_size = 40;
// The Windows loader takes no image with more sections.
constexpr unsigned k_section_limit = 96;
// WIN_CERTIFICATE: its length (header included), revision and type, 2 for signed PKCS #7 data.
constexpr std::int64_t k_certificate_header_size = 8;
constexpr unsigned k_pkcs_signed_data = 2;

bool read_at(std::FILE* file, std::int64_t offset, unsigned char* buffer, std::size_t size) {
  return platform::seek_file(file, offset, SEEK_SET) == 0 &&
         std::fread(buffer, 1, size, file) == size;
}

// Where the image ends: its section table at `table` and the raw data of its `sections`; -1
// when the table cannot be read.
std::int64_t image_end(std::FILE* file, std::int64_t table, unsigned sections) {
  std::int64_t end = table + static_cast<std::int64_t>(k_section_header_size * sections);
  for (unsigned i = 0; i < sections; ++i) {
    unsigned char header[k_section_header_size];
    if (!read_at(file, table + static_cast<std::int64_t>(k_section_header_size * i), header,
                 sizeof header)) {
      return -1;
    }
    // SizeOfRawData at 16, PointerToRawData at 20.
    std::int64_t raw_end =
        static_cast<std::int64_t>(read_little_endian(header + 20, 4) + read_little_endian(header + 16, 4));
    end = std::max(end, raw_end);
  }
  return end;
}

}  // namespace

std::optional<PeHeaders> read_pe_headers(std::FILE* file) {
  unsigned char bytes[4];
  if (!read_at(file, 0, bytes, 2) || std::memcmp(bytes, "MZ", 2) != 0 ||
      !read_at(file, k_new_header_pointer, bytes, 4)) {
    return std::nullopt;
  }
  // "PE\0\0", the file header, then the optional header, whose magic tells its kind.
  std::int64_t pe = read_little_endian(bytes, 4);
  unsigned char file_header[k_file_header_size];
  unsigned char magic[2];
  PeHeaders headers;
  headers.optional_header = pe + 4 + k_file_header_size;
  if (!read_at(file, pe, bytes, 4) || std::memcmp(bytes, "PE\0\0", 4) != 0 ||
      !read_at(file, pe + 4, file_header, sizeof file_header) ||
      !read_at(file, headers.optional_header, magic, 2)) {
    return std::nullopt;
  }
  headers.machine = read_little_endian(file_header, 2);
  headers.sections = read_little_endian(file_header + 2, 2);
  headers.optional_size = read_little_endian(file_header + 16, 2);
  headers.characteristics = read_little_endian(file_header + 18, 2);
  headers.magic = read_little_endian(magic, 2);
  if ((headers.magic != k_pe32_magic && headers.magic != k_pe32_plus_magic) ||
      headers.sections > k_section_limit) {
    return std::nullopt;
  }
  return headers;
}

std::int64_t pe_image_end(std::FILE* file, const PeHeaders& headers) {
  return image_end(file, headers.optional_header + headers.optional_size, headers.sections);
}

std::optional<SignatureSpan> find_pe_signature(std::FILE* file) {
  std::optional<PeHeaders> headers = read_pe_headers(file);
  if (!headers) {
    return std::nullopt;
  }
  // The data directory's count of entries stands where the optional header's magic says.
  std::int64_t optional_header = headers->optional_header;
  std::int64_t optional_size = headers->optional_size;
  std::int64_t count_at = optional_header + (headers->magic == k_pe32_plus_magic ? 108 : 92);
  unsigned char bytes[4];
  // The certificate entry must lie within the optional header as the file header sizes it.
  std::int64_t entry_at = count_at + 4 + 8 * k_certificate_table;
  unsigned char entry[8];
  if (entry_at + 8 > optional_header + optional_size || !read_at(file, count_at, bytes, 4) ||
      read_little_endian(bytes, 4) <= k_certificate_table ||
      !read_at(file, entry_at, entry, sizeof entry)) {
    return std::nullopt;
  }
  SignatureSpan span{static_cast<std::int64_t>(read_little_endian(entry, 4)),
                     static_cast<std::int64_t>(read_little_endian(entry + 4, 4))};
  // A signing tool appends the table after the image, on an 8-byte boundary, as one or more
  // WIN_CERTIFICATE records; the first must be signed PKCS #7 data that fits.
  std::int64_t end = pe_image_end(file, *headers);
  unsigned char certificate[k_certificate_header_size];
  if (end < 0 || span.offset < end || span.offset % 8 != 0 ||
      span.length < k_certificate_header_size || platform::seek_file(file, 0, SEEK_END) != 0 ||
      span.offset + span.length > platform::tell_file(file) ||
      !read_at(file, span.offset, certificate, sizeof certificate) ||
      static_cast<std::int64_t>(read_little_endian(certificate, 4)) < k_certificate_header_size ||
      static_cast<std::int64_t>(read_little_endian(certificate, 4)) > span.length ||
      read_little_endian(certificate + 6, 2) != k_pkcs_signed_data) {
    return std::nullopt;
  }
  return span;
}
