// SPDX-License-Identifier: Zlib
#include "extract/archive_stream.hpp"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

unsigned char byte_at(std::uint64_t offset) { return static_cast<unsigned char>(offset * 7 % 251); }

// A region of `length` bytes, each of which tells its offset.
ArchiveRegion telling_region(std::uint64_t length) {
  ArchiveRegion region;
  region.read_file = [](std::uint64_t offset, void* buffer, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      static_cast<unsigned char*>(buffer)[i] = byte_at(offset + i);
    }
    return true;
  };
  region.length = length;
  return region;
}

TEST(ArchiveStream, MinizipReadsComeFromItsPositionWhateverWasReadBetween) {
  constexpr std::uint64_t k_length = 256 * 1024;
  ArchiveStream stream(telling_region(k_length));
  ArchiveReader reader = stream.reader();
  zlib_filefunc64_def functions = stream.file_functions();
  voidpf file = functions.zopen64_file(functions.opaque, "", 0);
  auto seek = [&](std::uint64_t offset) {
    ASSERT_EQ(functions.zseek64_file(functions.opaque, file, offset, ZLIB_FILEFUNC_SEEK_SET), 0);
  };
  // minizip's reads, a byte or a name at a time, and the entries' data read between them far away,
  // which refills both windows.
  auto read = [&](std::uint64_t at, uLong size) {
    unsigned char bytes[64] = {};
    uLong got = functions.zread_file(functions.opaque, file, bytes, size);
    EXPECT_EQ(got, std::min<std::uint64_t>(size, k_length - at)) << at;
    for (uLong i = 0; i < got; ++i) {
      EXPECT_EQ(bytes[i], byte_at(at + i)) << at + i;
    }
    EXPECT_EQ(functions.ztell64_file(functions.opaque, file), at + got);
  };
  auto read_far = [&](std::uint64_t at) {
    unsigned char piece[16];
    ASSERT_TRUE(reader(at, piece, sizeof piece));
    EXPECT_EQ(piece[15], byte_at(at + 15));
  };
  seek(1000);
  read(1000, 1);
  read(1001, 1);
  read_far(100000);
  read(1002, 1);
  read_far(200000);
  read_far(150000);
  read(1003, 40);
  read(1043, 1);
  seek(k_length - 3);
  read(k_length - 3, 1);
  read(k_length - 2, 8);
  seek(32 * 1024 - 1);
  read(32 * 1024 - 1, 2);
}

}  // namespace
