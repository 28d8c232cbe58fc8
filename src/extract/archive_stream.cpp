// SPDX-License-Identifier: Zlib
#include "extract/archive_stream.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "package/empty_archive.hpp"

ArchiveReader file_reader(const platform::FileHandle& file) {
  return [&file](std::uint64_t offset, void* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
      std::size_t count = 0;
      if (platform::read_file_at(file, offset + done, static_cast<char*>(buffer) + done,
                                 size - done, count) != 0 ||
          count == 0) {
        return false;
      }
      done += count;
    }
    return true;
  };
}

ArchiveStream::ArchiveStream(ArchiveRegion region)
    : m_region(std::move(region)), m_counts_progress(static_cast<bool>(m_region.progress)) {
  for (Window& window : m_windows) {
    window.bytes.reset(new (std::nothrow) char[k_window_size]);
  }
}

std::size_t ArchiveStream::read_region(std::uint64_t offset, void* buffer, std::size_t size) {
  if (offset >= m_region.length) {
    return 0;
  }
  std::size_t wanted =
      static_cast<std::size_t>(std::min<std::uint64_t>(size, m_region.length - offset));
  if (!m_region.read_file(m_region.base + offset, buffer, wanted)) {
    m_failed = true;
    return 0;
  }
  return wanted;
}

std::size_t ArchiveStream::read_at(std::uint64_t offset, void* buffer, std::size_t size) {
  if (size >= k_window_size / 4 || m_windows[0].bytes == nullptr || m_windows[1].bytes == nullptr) {
    return read_region(offset, buffer, size);
  }
  int used = m_windows[m_last_used].covers(offset, size)       ? m_last_used
             : m_windows[1 - m_last_used].covers(offset, size) ? 1 - m_last_used
                                                               : -1;
  if (used < 0) {
    used = 1 - m_last_used;
    m_cursor = m_cursor_end = nullptr;
    Window& window = m_windows[used];
    window.offset = offset;
    window.length = read_region(offset, window.bytes.get(), k_window_size);
  }
  m_last_used = used;
  const Window& window = m_windows[used];
  // The region may end before `offset + size`.
  if (offset >= window.offset + window.length) {
    return 0;
  }
  std::size_t available = static_cast<std::size_t>(
      std::min<std::uint64_t>(size, window.offset + window.length - offset));
  std::memcpy(buffer, window.bytes.get() + (offset - window.offset), available);
  return available;
}

void ArchiveStream::aim_cursor(std::uint64_t position) {
  const Window& last = m_windows[m_last_used];
  if (last.length != 0 && position >= last.offset && position - last.offset < last.length) {
    m_cursor = last.bytes.get() + (position - last.offset);
    m_cursor_end = last.bytes.get() + last.length;
  } else {
    m_cursor = m_cursor_end = nullptr;
  }
}

std::size_t ArchiveStream::read_for_minizip(void* buffer, std::size_t size) {
  std::size_t count = size;
  if (size <= static_cast<std::size_t>(m_cursor_end - m_cursor)) {
    if (size != 0) {
      std::memcpy(buffer, m_cursor, size);
      m_cursor += size;
    }
  } else {
    count = read_at(m_position, buffer, size);
    aim_cursor(m_position + count);
  }
  m_position += count;
  if (m_counts_progress) {
    m_region.progress(count);
  }
  return count;
}

ArchiveReader ArchiveStream::reader() {
  return [this](std::uint64_t offset, void* buffer, std::size_t size) {
    std::size_t count = read_at(offset, buffer, size);
    if (m_counts_progress) {
      m_region.progress(count);
    }
    return count == size;
  };
}

struct ArchiveStreamFunctions {
  static ArchiveStream& stream_of(voidpf stream) { return *static_cast<ArchiveStream*>(stream); }

  static voidpf ZCALLBACK open(voidpf opaque, const void*, int) { return opaque; }

  static uLong ZCALLBACK read(voidpf, voidpf stream, void* buffer, uLong size) {
    ArchiveStream& archive = stream_of(stream);
    // minizip reads a header's fields a byte at a time, millions of them for a large directory:
    // one at the cursor is taken here.
    if (size == 1 && archive.m_cursor != archive.m_cursor_end && !archive.m_counts_progress) {
      *static_cast<char*>(buffer) = *archive.m_cursor++;
      ++archive.m_position;
      return 1;
    }
    return static_cast<uLong>(archive.read_for_minizip(buffer, size));
  }

  static uLong ZCALLBACK write(voidpf, voidpf, const void*, uLong) { return 0; }

  static ZPOS64_T ZCALLBACK tell(voidpf, voidpf stream) { return stream_of(stream).m_position; }

  static long ZCALLBACK seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    ArchiveStream& archive = stream_of(stream);
    // minizip passes backward moves as the two's complement of the distance; unsigned arithmetic
    // wraps them into place.
    switch (origin) {
      case ZLIB_FILEFUNC_SEEK_SET:
        archive.m_position = offset;
        break;
      case ZLIB_FILEFUNC_SEEK_CUR:
        archive.m_position += offset;
        break;
      case ZLIB_FILEFUNC_SEEK_END:
        archive.m_position = archive.size() + offset;
        break;
      default:
        return -1;
    }
    archive.aim_cursor(archive.m_position);
    return 0;
  }

  static int ZCALLBACK close(voidpf, voidpf) { return 0; }

  static int ZCALLBACK error(voidpf, voidpf stream) { return stream_of(stream).m_failed ? 1 : 0; }
};

zlib_filefunc64_def ArchiveStream::file_functions() {
  // In the order ioapi.h declares them: open, read, write, tell, seek, close, error, opaque.
  return zlib_filefunc64_def{ArchiveStreamFunctions::open,  ArchiveStreamFunctions::read,
                             ArchiveStreamFunctions::write, ArchiveStreamFunctions::tell,
                             ArchiveStreamFunctions::seek,  ArchiveStreamFunctions::close,
                             ArchiveStreamFunctions::error, this};
}

bool open_archive(ArchiveStream& stream, UnzipHandle& archive) {
  zlib_filefunc64_def functions = stream.file_functions();
  archive.reset(unzOpen2_64("", &functions));
  if (archive.get() != nullptr) {
    return true;
  }
  return is_empty_archive(stream.reader(), stream.size());
}
