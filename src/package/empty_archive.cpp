// SPDX-License-Identifier: Zlib
#include "package/empty_archive.hpp"

#include <cstring>

#include "common/little_endian.hpp"

namespace {

constexpr std::uint64_t k_end_record_size = 22;
constexpr std::uint64_t k_comment_limit = 0xffff;

}  // namespace

bool is_empty_archive(const ArchiveReader& read, std::uint64_t archive_size) {
  if (archive_size < k_end_record_size || archive_size > k_end_record_size + k_comment_limit) {
    return false;
  }
  unsigned char record[k_end_record_size];
  if (!read(0, record, sizeof record)) {
    return false;
  }
  static const unsigned char signature[] = {'P', 'K', 5, 6};
  if (std::memcmp(record, signature, sizeof signature) != 0) {
    return false;
  }
  // Disk numbers, entry counts, directory size and offset all zero; the comment fills the rest.
  for (int i = 4; i < 20; ++i) {
    if (record[i] != 0) {
      return false;
    }
  }
  return archive_size - k_end_record_size == read_little_endian(record + 20, 2);
}
