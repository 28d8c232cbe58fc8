// SPDX-License-Identifier: Zlib
#pragma once

// The one owner of a stdio stream: it closes the stream on every way out, unless the stream was
// closed by hand to see whether its last buffered bytes reached the file.

#include <cstdio>
#include <string>
#include <utility>

class StdioFile {
 public:
  StdioFile() = default;
  explicit StdioFile(std::FILE* file) : m_file(file) {}
  // Opens `path` with the fopen `mode`; check the result with `operator bool` and errno.
  static StdioFile open(const std::string& path, const char* mode) {
    return StdioFile(std::fopen(path.c_str(), mode));
  }
  ~StdioFile() {
    if (m_file != nullptr) {
      (void)std::fclose(m_file);
    }
  }
  StdioFile(StdioFile&& other) noexcept : m_file(std::exchange(other.m_file, nullptr)) {}
  StdioFile& operator=(StdioFile&& other) noexcept {
    std::swap(m_file, other.m_file);
    return *this;
  }
  StdioFile(const StdioFile&) = delete;
  StdioFile& operator=(const StdioFile&) = delete;

  std::FILE* get() const { return m_file; }
  explicit operator bool() const { return m_file != nullptr; }

  // Closes the stream. Returns fclose's result: 0, or EOF when the last buffered bytes could not
  // be written (errno tells why). Closing a stream that is not open returns 0.
  int close() {
    std::FILE* file = std::exchange(m_file, nullptr);
    return file == nullptr ? 0 : std::fclose(file);
  }

 private:
  std::FILE* m_file = nullptr;
};
