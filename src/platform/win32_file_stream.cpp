// SPDX-License-Identifier: Zlib
// A stdio stream over an open HANDLE, on Windows: msvcrt's descriptor over a duplicate of it.

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>

#include "platform/platform.hpp"

namespace platform {

std::FILE* open_file_stream(const FileHandle& file) {
  HANDLE duplicate = nullptr;
  HANDLE process = GetCurrentProcess();
  if (!DuplicateHandle(process, reinterpret_cast<HANDLE>(file.native()), process, &duplicate, 0,
                       FALSE, DUPLICATE_SAME_ACCESS)) {
    errno = EBADF;
    return nullptr;
  }
  int descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(duplicate), _O_RDWR | _O_BINARY);
  if (descriptor == -1) {
    int error = errno;
    CloseHandle(duplicate);
    errno = error;
    return nullptr;
  }
  // "r+b" neither creates nor empties: the file is as the handle's owner left it.
  std::FILE* stream = _fdopen(descriptor, "r+b");
  if (stream == nullptr) {
    int error = errno;
    _close(descriptor);
    errno = error;
  }
  return stream;
}

}  // namespace platform
