#pragma once

// minizip file functions over one region of an open stdio stream, so that minizip can write an
// archive directly behind the stub in a package, or read the archive inside a package, with every
// ZIP offset counted from the archive's own first byte.

#include <ioapi.h>

#include <cstdint>
#include <cstdio>

#include "generator/progress_line.hpp"

// The region: it starts at `begin` and ends at `end`, or at the end of the file when `end` is -1.
// The stream stays owned by the caller; minizip's open and close calls neither open nor close it.
struct FileRegion {
  std::FILE* file = nullptr;
  std::int64_t begin = 0;
  std::int64_t end = -1;
  // Told of every byte read, when given.
  ProgressLine* progress = nullptr;
};

// Fills `functions` so that minizip reads and writes `region`. The path that minizip is given is
// ignored. `region` must outlive every minizip handle opened with `functions`.
void fill_region_functions(zlib_filefunc64_def& functions, FileRegion& region);
