// SPDX-License-Identifier: Zlib
#pragma once

// minizip file functions over the end of an open stdio stream from a given offset on, so that
// minizip can write an archive directly behind the stub in a package, with every ZIP offset
// counted from the archive's own first byte. They are for minizip's writing side only: archives
// are read through extract/archive_stream.hpp.

#include <ioapi.h>

#include <cstdint>
#include <cstdio>

// The region: it starts at `begin` and ends at the end of the file. The stream stays owned by the
// caller; minizip's open and close calls neither open nor close it.
struct FileRegion {
  std::FILE* file = nullptr;
  std::int64_t begin = 0;
};

// Fills `functions` so that minizip writes `region`; reads find nothing (minizip reads only to add
// to an archive that exists). The path that minizip is given is ignored. `region` must outlive
// every minizip handle opened with `functions`.
void fill_region_functions(zlib_filefunc64_def& functions, FileRegion& region);
