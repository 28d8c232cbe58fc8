// SPDX-License-Identifier: Zlib
#pragma once

// minizip's reading side over an archive that lies in a region of an open file: the stub's
// archive.zip, or the archive inside a package or a ZIP file the generator checks. Every read
// names its position, offsets count from the archive's own first byte, and the file is never
// opened again by name. This is the one place that hands minizip its read functions and the one
// owner of minizip's reader handle.

#include <unzip.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "package/zip_end_record.hpp"
#include "platform/platform.hpp"

// Where an archive lies: `length` bytes from `base` of a file that `read_file` reads (its offsets
// count from the file's first byte).
struct ArchiveRegion {
  ArchiveReader read_file;
  std::uint64_t base = 0;
  std::uint64_t length = 0;
  // Told how many bytes each read took (minizip's and those of the stream's reader), when set.
  std::function<void(std::uint64_t bytes)> progress;
};

// A reader of the open `file` with positioned reads, whatever its own position. `file` must
// outlive the reader.
ArchiveReader file_reader(const platform::FileHandle& file);

// The archive of a region as minizip reads it. minizip reads the directory and the local headers
// a field, often a byte, at a time: small reads are served from two windows of the file, each read
// in one piece, one following the directory and one the local headers. Reads past the region's
// end find nothing.
class ArchiveStream {
 public:
  explicit ArchiveStream(ArchiveRegion region);
  ArchiveStream(const ArchiveStream&) = delete;
  ArchiveStream& operator=(const ArchiveStream&) = delete;

  const ArchiveRegion& region() const { return m_region; }
  std::uint64_t size() const { return m_region.length; }

  // Reads up to `size` bytes at `offset` of the archive, through a window when they are few.
  // Returns how many came: fewer only at the region's end or after a failed read, which is noted
  // for minizip's error function.
  std::size_t read_at(std::uint64_t offset, void* buffer, std::size_t size);

  // A reader of the archive for the package format's checks and the entries' data; it must not
  // outlive the stream.
  ArchiveReader reader();

  // minizip's file functions over this stream (the path minizip is given is ignored). The stream
  // must outlive every handle opened with them.
  zlib_filefunc64_def file_functions();

 private:
  // minizip's read, seek, tell and error functions.
  friend struct ArchiveStreamFunctions;

  // A window holds the headers of a few dozen small entries, and their data too (read_at takes
  // reads of a quarter window or more straight from the file). Each thread of an extraction has
  // a stream: 32 KiB windows took 64 KiB more of the peak memory on two threads, and saved a few
  // hundred reads on 20,000 entries.
  static constexpr std::size_t k_window_size = 16 * 1024;
  struct Window {
    std::unique_ptr<char[]> bytes;
    std::uint64_t offset = 0;
    std::size_t length = 0;
    bool covers(std::uint64_t at, std::size_t size) const {
      return at >= offset && at + size <= offset + length;
    }
  };

  // Points the cursor at `position` when the last window holds it; else the cursor holds nothing.
  void aim_cursor(std::uint64_t position);
  // minizip's read of `size` bytes at its position, which it moves on.
  std::size_t read_for_minizip(void* buffer, std::size_t size);
  // Reads straight from the file, the region's end kept.
  std::size_t read_region(std::uint64_t offset, void* buffer, std::size_t size);

  ArchiveRegion m_region;
  // Whether the region has a progress hook: asked on every one of minizip's byte reads.
  bool m_counts_progress;
  // The position minizip's seek and tell functions keep, and whether a read failed.
  std::uint64_t m_position = 0;
  bool m_failed = false;
  Window m_windows[2];
  // The window used last; a miss refills the other one.
  int m_last_used = 0;
  // minizip's position in the last window, and that window's end: the bytes that minizip's reads
  // take without a look at the windows. Refilling a window empties it.
  const char* m_cursor = nullptr;
  const char* m_cursor_end = nullptr;
};

// The one owner of a minizip reader handle: it closes the handle on every way out.
class UnzipHandle {
 public:
  UnzipHandle() = default;
  ~UnzipHandle() { close(); }
  UnzipHandle(const UnzipHandle&) = delete;
  UnzipHandle& operator=(const UnzipHandle&) = delete;

  unzFile get() const { return m_handle; }
  // Takes over `handle`, closing the one held before.
  void reset(unzFile handle) {
    close();
    m_handle = handle;
  }
  void close() {
    if (m_handle != nullptr) {
      (void)unzClose(m_handle);
      m_handle = nullptr;
    }
  }

 private:
  unzFile m_handle = nullptr;
};

// Opens `stream` as a ZIP archive. Returns true when it is one: `archive` then holds minizip's
// handle, or none for an archive without entries (its end record alone), which minizip cannot
// open and which is what it is: nothing.
[[nodiscard]] bool open_archive(ArchiveStream& stream, UnzipHandle& archive);
