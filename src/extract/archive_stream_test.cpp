// SPDX-License-Identifier: Zlib
#include "extract/archive_stream.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <utility>

namespace {

unsigned char byte_at(std::uint64_t offset) { return static_cast<unsigned char>(offset * 7 % 251); }

TEST(ArchiveStream, MinizipReadsComeFromItsPositionWhateverWasReadBetween) {
  constexpr std::uint64_t k_length = 256 * 1024;
  ArchiveRegion region;
  region.read_file = [](std::uint64_t offset, void* buffer, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      static_cast<unsigned char*>(buffer)[i] = byte_at(offset + i);
    }
    return true;
  };
  region.length = k_length;
  ArchiveStream stream(std::move(region));
  zlib_filefunc64_def minizip = stream.file_functions();
  voidpf file = minizip.zopen64_file(minizip.opaque, "", 0);
  // minizip's reads, a byte or a name at a time, from where it sought, up to the region's end.
  auto read = [&](std::uint64_t at, uLong size) {
    unsigned char bytes[64] = {};
    uLong got = minizip.zread_file(minizip.opaque, file, bytes, size);
    EXPECT_EQ(got, std::min<std::uint64_t>(size, k_length - at)) << at;
    for (uLong i = 0; i < got; ++i) {
      EXPECT_EQ(bytes[i], byte_at(at + i)) << at + i;
    }
    EXPECT_EQ(minizip.ztell64_file(minizip.opaque, file), at + got);
  };
  // The entries' data read far away between them, which refills both windows.
  auto read_far = [&stream](std::uint64_t at) {
    unsigned char piece[16];
    ASSERT_TRUE(stream.reader()(at, piece, sizeof piece));
    EXPECT_EQ(piece[15], byte_at(at + 15));
  };
  ASSERT_EQ(minizip.zseek64_file(minizip.opaque, file, 1000, ZLIB_FILEFUNC_SEEK_SET), 0);
  read(1000, 1);
  read_far(100000);
  read(1001, 1);
  read_far(200000);
  read_far(150000);
  read(1002, 40);
  read(1042, 1);
  ASSERT_EQ(minizip.zseek64_file(minizip.opaque, file, k_length - 3, ZLIB_FILEFUNC_SEEK_SET), 0);
  read(k_length - 3, 1);
  read(k_length - 2, 8);
}

}  // namespace
