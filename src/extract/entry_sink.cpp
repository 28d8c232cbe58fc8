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
  // A link changes what a path names: the next file's folder is looked up again.
  m_folder.forget();
  return platform::make_symbolic_link_beneath(path, target);
}

int DiskSink::open_file(const std::string& path, unsigned mode, bool& created) {
  unsigned bits = m_bits == NewFileBits::AtCreation ? mode & 0777 : platform::k_owner_only_bits;
  int error = platform::open_output_file(path, created, m_file, &m_folder, bits);
  m_created_with_bits = error == 0 && created && m_bits == NewFileBits::AtCreation;
  m_creation_bits = bits;
  return error;
}

int DiskSink::write(const void* data, std::size_t size) {
  // Each piece goes to the system at once. A write that a signal interrupted goes on with the
  // rest, unless the signal asked the process to end (write_file then fails with EINTR).
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    std::size_t written = 0;
    int error = platform::write_file(m_file, next, size, written);
    if (error != 0) {
      return error;
    }
    if (written == 0) {
      return k_sink_failed_without_reason;
    }
    next += written;
    size -= written;
  }
  return 0;
}

// Nothing is held back: what write took is with the system.
int DiskSink::flush() { return 0; }

void DiskSink::set_file_time(std::uint32_t dos_date_time) {
  platform::set_open_file_time(m_file, dos_date_time, &m_time);
}

int DiskSink::set_file_mode(unsigned mode) {
  if (m_created_with_bits && (mode & 0777) == m_creation_bits) {
    return 0;
  }
  return platform::set_open_file_mode(m_file, mode);
}

int DiskSink::close_file() { return m_file.close(); }

int DiskSink::remove_file(const std::string& path) { return platform::remove_file(path); }
