// SPDX-License-Identifier: Zlib
#include "extract/entry_sink.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/path_text.hpp"
#include "console/messages.hpp"

namespace {

struct FreeMemory {
  void operator()(void* memory) const { std::free(memory); }
};

// errno as a failed stdio call left it, which may be none.
int stdio_failure() { return errno != 0 ? errno : k_sink_failed_without_reason; }

}  // namespace

int EntrySink::make_directory_path(const std::string& path, unsigned mode) {
  std::size_t length = path.size();
  if (length == 0) {
    return 0;
  }
  std::unique_ptr<char, FreeMemory> copy(static_cast<char*>(std::malloc(length + 1)));
  if (copy == nullptr) {
    print_plain("Error allocating memory\n");
    return k_entry_no_memory;
  }
  char* text = copy.get();
  std::memcpy(text, path.c_str(), length + 1);
  if (text[length - 1] == '/') {
    text[--length] = '\0';
  }
  if (make_directory(text, mode) == 0) {
    return 1;
  }
  // From the second character on, so that a leading separator never yields an empty name.
  char* p = text + 1;
  for (;;) {
    while (*p != '\0' && !is_separator(*p)) {
      ++p;
    }
    char separator = *p;
    *p = '\0';
    if (make_directory(text, mode) == ENOENT) {
      print_plain("couldn't create directory %s\n", text);
      return 0;
    }
    if (separator == '\0') {
      break;
    }
    *p++ = separator;
  }
  return 1;
}

int DiskSink::make_directory(const std::string& path, unsigned mode) {
  return platform::make_directory_beneath(path, mode);
}

int DiskSink::set_directory_mode(const std::string& path, unsigned mode) {
  return platform::set_directory_mode_beneath(path, mode);
}

int DiskSink::make_link(const std::string& path, const std::string& target) {
  return platform::make_symbolic_link_beneath(path, target);
}

int DiskSink::open_file(const std::string& path, bool& created) {
  errno = 0;
  m_file = StdioFile(platform::open_output_file(path, created));
  return m_file ? 0 : stdio_failure();
}

int DiskSink::write(const void* data, std::size_t size) {
  // The stream has no buffer: what fwrite counts went to the file. A write that a signal
  // interrupted goes on with the rest, unless the signal asked the process to end.
  const char* next = static_cast<const char*>(data);
  for (;;) {
    errno = 0;
    std::size_t written = std::fwrite(next, 1, size, m_file.get());
    if (written == size) {
      return 0;
    }
    int error = stdio_failure();
    int signal_number = 0;
    if (error != EINTR || platform::termination_requested(signal_number)) {
      return error;
    }
    std::clearerr(m_file.get());
    next += written;
    size -= written;
  }
}

int DiskSink::flush() {
  errno = 0;
  return std::fflush(m_file.get()) == 0 ? 0 : stdio_failure();
}

void DiskSink::set_file_time(std::uint32_t dos_date_time) {
  platform::set_open_file_time(m_file.get(), dos_date_time);
}

int DiskSink::set_file_mode(unsigned mode) {
  return platform::set_open_file_mode(m_file.get(), mode);
}

int DiskSink::close_file() {
  errno = 0;
  return m_file.close() == 0 ? 0 : stdio_failure();
}

int DiskSink::remove_file(const std::string& path) { return platform::remove_file(path); }
