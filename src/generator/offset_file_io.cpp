// SPDX-License-Identifier: Zlib
#include "generator/offset_file_io.hpp"

#include "platform/platform.hpp"

namespace {

FileRegion& region_of(voidpf stream) { return *static_cast<FileRegion*>(stream); }

std::int64_t region_end(FileRegion& region) {
  std::int64_t here = platform::tell_file(region.file);
  if (here < 0 || platform::seek_file(region.file, 0, SEEK_END) != 0) {
    return -1;
  }
  std::int64_t end = platform::tell_file(region.file);
  return platform::seek_file(region.file, here, SEEK_SET) == 0 ? end : -1;
}

voidpf ZCALLBACK open_region(voidpf opaque, const void*, int) {
  FileRegion& region = *static_cast<FileRegion*>(opaque);
  if (region.file == nullptr || platform::seek_file(region.file, region.begin, SEEK_SET) != 0) {
    return nullptr;
  }
  return opaque;
}

uLong ZCALLBACK read_region(voidpf, voidpf, void*, uLong) { return 0; }

uLong ZCALLBACK write_region(voidpf, voidpf stream, const void* buffer, uLong size) {
  return static_cast<uLong>(std::fwrite(buffer, 1, size, region_of(stream).file));
}

ZPOS64_T ZCALLBACK tell_region(voidpf, voidpf stream) {
  FileRegion& region = region_of(stream);
  std::int64_t position = platform::tell_file(region.file);
  return position < region.begin ? static_cast<ZPOS64_T>(-1)
                                 : static_cast<ZPOS64_T>(position - region.begin);
}

long ZCALLBACK seek_region(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  FileRegion& region = region_of(stream);
  std::int64_t base = 0;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
      base = region.begin;
      break;
    case ZLIB_FILEFUNC_SEEK_CUR:
      base = platform::tell_file(region.file);
      break;
    case ZLIB_FILEFUNC_SEEK_END:
      base = region_end(region);
      break;
    default:
      return -1;
  }
  if (base < 0) {
    return -1;
  }
  // minizip passes backward moves from the end as the two's complement of the distance.
  std::int64_t target = base + static_cast<std::int64_t>(offset);
  if (target < region.begin) {
    return -1;
  }
  return platform::seek_file(region.file, target, SEEK_SET) == 0 ? 0 : -1;
}

int ZCALLBACK close_region(voidpf, voidpf) { return 0; }

int ZCALLBACK error_region(voidpf, voidpf stream) { return std::ferror(region_of(stream).file); }

}  // namespace

void fill_region_functions(zlib_filefunc64_def& functions, FileRegion& region) {
  // In the order ioapi.h declares them: open, read, write, tell, seek, close, error, opaque.
  functions = zlib_filefunc64_def{open_region, read_region,  write_region, tell_region,
                                  seek_region, close_region, error_region, &region};
}
