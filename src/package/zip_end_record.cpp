// SPDX-License-Identifier: Zlib
#include "package/zip_end_record.hpp"

#include <cstring>
#include <vector>

#include "common/little_endian.hpp"

namespace {

// minizip looks for the records only this far back from the archive's end: the longest comment.
constexpr std::uint64_t k_search_span = 0xffff;
constexpr std::size_t k_end_record_size = 22;
constexpr std::size_t k_zip64_locator_size = 20;
constexpr std::size_t k_zip64_end_record_size = 56;

const unsigned char k_end_signature[] = {'P', 'K', 5, 6};
const unsigned char k_zip64_locator_signature[] = {'P', 'K', 6, 7};
const unsigned char k_zip64_end_signature[] = {'P', 'K', 6, 6};

// The last searched bytes of the archive, and where they start.
struct Tail {
  std::vector<unsigned char> bytes;
  std::uint64_t start = 0;
};

// The position of the last `signature` in `tail`, or 0 for none: minizip takes a signature at the
// archive's first byte for none as well.
std::uint64_t last_signature(const Tail& tail, const unsigned char* signature) {
  for (std::size_t i = tail.bytes.size(); i >= 4; --i) {
    std::size_t at = i - 4;
    if (std::memcmp(&tail.bytes[at], signature, 4) == 0) {
      return tail.start + at;
    }
  }
  return 0;
}

// The zip64 end record that a locator in `tail` points to, as minizip takes it: the locator names
// disk 0 of 1 and the record carries its signature. False when there is none, which leaves the
// plain end record to be read.
bool find_zip64_end(const ArchiveReader& read, const Tail& tail, std::uint64_t& position) {
  std::uint64_t locator_at = last_signature(tail, k_zip64_locator_signature);
  unsigned char locator[k_zip64_locator_size];
  if (locator_at == 0 || !read(locator_at, locator, sizeof locator) ||
      read_little_endian(locator + 4, 4) != 0 || read_little_endian(locator + 16, 4) != 1) {
    return false;
  }
  position = read_little_endian(locator + 8, 8);
  unsigned char signature[4];
  return read(position, signature, sizeof signature) &&
         std::memcmp(signature, k_zip64_end_signature, sizeof signature) == 0;
}

}  // namespace

bool read_zip_end_record(const ArchiveReader& read, std::uint64_t archive_size,
                         ZipEndRecord& record) {
  record = ZipEndRecord{};
  Tail tail;
  std::uint64_t span = archive_size < k_search_span ? archive_size : k_search_span;
  if (span <= 4) {
    return false;
  }
  tail.start = archive_size - span;
  tail.bytes.resize(static_cast<std::size_t>(span));
  if (!read(tail.start, tail.bytes.data(), tail.bytes.size())) {
    return false;
  }

  std::uint64_t zip64_at = 0;
  if (find_zip64_end(read, tail, zip64_at)) {
    unsigned char fields[k_zip64_end_record_size];
    if (!read(zip64_at, fields, sizeof fields)) {
      return false;
    }
    // minizip counts the entries on this disk, which for a single disk are all of them.
    record.entry_count = read_little_endian(fields + 24, 8);
    record.directory_size = read_little_endian(fields + 40, 8);
    record.directory_offset = read_little_endian(fields + 48, 8);
    record.zip64 = true;
    return true;
  }

  std::uint64_t end_at = last_signature(tail, k_end_signature);
  unsigned char fields[k_end_record_size];
  if (end_at == 0 || !read(end_at, fields, sizeof fields)) {
    return false;
  }
  record.entry_count = read_little_endian(fields + 8, 2);
  record.directory_size = read_little_endian(fields + 12, 4);
  record.directory_offset = read_little_endian(fields + 16, 4);
  return true;
}

DirectoryFill compare_directory_walk(const ZipEndRecord& record, const DirectoryWalk& walk) {
  if (walk.entries > 0 && walk.first_offset != record.directory_offset) {
    return DirectoryFill::Mismatch;
  }
  if (walk.bytes < record.directory_size) {
    return DirectoryFill::MoreEntries;
  }
  return walk.bytes == record.directory_size ? DirectoryFill::Exact : DirectoryFill::Mismatch;
}

const char* directory_fill_problem(DirectoryFill fill) {
  switch (fill) {
    case DirectoryFill::Exact:
      break;
    case DirectoryFill::MoreEntries:
      return "the archive's directory holds more entries than its end record counts";
    case DirectoryFill::Mismatch:
      return "the archive's directory does not match its end record";
  }
  return "";
}
