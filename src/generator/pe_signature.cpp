#include "generator/pe_signature.hpp"

#include <cstring>

#include "common/little_endian.hpp"
#include "platform/platform.hpp"

namespace {

constexpr std::int64_t k_new_header_pointer = 0x3C;
constexpr std::size_t k_file_header_size = 20;
constexpr unsigned k_pe32_magic = 0x10B;
constexpr unsigned k_pe32_plus_magic = 0x20B;
constexpr std::uint32_t k_certificate_table = 4;

bool read_at(std::FILE* file, std::int64_t offset, unsigned char* buffer, std::size_t size) {
  return platform::seek_file(file, offset, SEEK_SET) == 0 &&
         std::fread(buffer, 1, size, file) == size;
}

}  // namespace

std::optional<SignatureSpan> find_pe_signature(std::FILE* file) {
  unsigned char bytes[4];
  if (!read_at(file, 0, bytes, 2) || std::memcmp(bytes, "MZ", 2) != 0 ||
      !read_at(file, k_new_header_pointer, bytes, 4)) {
    return std::nullopt;
  }
  // "PE\0\0", the file header, then the optional header, whose magic tells where its data
  // directory starts and where the count of its entries stands.
  auto pe = static_cast<std::int64_t>(read_little_endian(bytes, 4));
  unsigned char magic[2];
  if (!read_at(file, pe, bytes, 4) || std::memcmp(bytes, "PE\0\0", 4) != 0 ||
      !read_at(file, pe + 4 + k_file_header_size, magic, 2)) {
    return std::nullopt;
  }
  std::int64_t optional_header = pe + 4 + k_file_header_size;
  std::int64_t count_at = 0;
  switch (read_little_endian(magic, 2)) {
    case k_pe32_magic:
      count_at = optional_header + 92;
      break;
    case k_pe32_plus_magic:
      count_at = optional_header + 108;
      break;
    default:
      return std::nullopt;
  }
  unsigned char entry[8];
  if (!read_at(file, count_at, bytes, 4) || read_little_endian(bytes, 4) <= k_certificate_table ||
      !read_at(file, count_at + 4 + 8 * k_certificate_table, entry, sizeof entry)) {
    return std::nullopt;
  }
  SignatureSpan span{static_cast<std::int64_t>(read_little_endian(entry, 4)),
                     static_cast<std::int64_t>(read_little_endian(entry + 4, 4))};
  if (span.offset == 0 || span.length == 0 || platform::seek_file(file, 0, SEEK_END) != 0 ||
      span.offset + span.length > platform::tell_file(file)) {
    return std::nullopt;
  }
  return span;
}
