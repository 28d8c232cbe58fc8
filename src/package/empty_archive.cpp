#include "package/empty_archive.hpp"

#include <cstring>

#include "platform/platform.hpp"

namespace {

constexpr std::int64_t k_end_record_size = 22;
constexpr std::int64_t k_comment_limit = 0xffff;

}  // namespace

bool is_empty_archive(std::FILE* file, std::int64_t begin, std::int64_t end) {
  std::int64_t size = end - begin;
  if (size < k_end_record_size || size > k_end_record_size + k_comment_limit ||
      platform::seek_file(file, begin, SEEK_SET) != 0) {
    return false;
  }
  unsigned char record[k_end_record_size];
  if (std::fread(record, 1, sizeof record, file) != sizeof record) {
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
  return size - k_end_record_size == (record[20] | record[21] << 8);
}
