// SPDX-License-Identifier: Zlib
#pragma once

// A folder of the fuzzer's own under the system's temporary folder, made once per process and
// removed with everything in it when the process ends normally. The targets write and extract
// only inside it, and check after each input that nothing else appeared there.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <system_error>
#include <vector>

#include "platform/platform.hpp"

namespace fuzzing {

namespace fs = std::filesystem;

// Ends the process after printing what went wrong.
[[noreturn]] inline void fail(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "fuzz: %s %s\n", what, detail.c_str());
  std::abort();
}

// Gives the owner rwx on every folder below `path` (entries may carry modes such as 000), so
// that the folder can be listed and emptied.
inline void make_removable(const fs::path& path) {
  std::error_code error;
  fs::file_status status = fs::symlink_status(path, error);
  if (error || !fs::is_directory(status)) {
    return;
  }
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
  for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
    make_removable(it->path());
  }
}

// Removes everything inside `path`, keeping `path` itself. Ends the process when something
// stays: the next input would start from a different state.
inline void empty_folder(const fs::path& path) {
  make_removable(path);
  std::error_code error;
  for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
    std::error_code removal;
    fs::remove_all(it->path(), removal);
    if (removal) {
      std::fprintf(stderr, "fuzz: cannot remove %s: %s\n", it->path().c_str(),
                   removal.message().c_str());
      std::abort();
    }
  }
}

// The names directly inside `path`, sorted, joined by '/'.
inline std::string folder_listing(const fs::path& path) {
  std::string listing;
  std::error_code error;
  std::vector<std::string> names;
  for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    listing += name + "/";
  }
  return listing;
}

// Writes the fuzzer's input to `path`, replacing what was there. Ends the process when it cannot.
inline void write_input(const fs::path& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) {
    std::fprintf(stderr, "fuzz: cannot write %s\n", path.c_str());
    std::abort();
  }
}

class PrivateFolder {
 public:
  PrivateFolder() {
    std::string pattern = (fs::temp_directory_path() / "sfx-fuzz-XXXXXX").string();
    if (mkdtemp(&pattern[0]) == nullptr) {
      std::perror("fuzz: mkdtemp");
      std::abort();
    }
    m_path = pattern;
  }
  ~PrivateFolder() {
    std::error_code error;
    fs::current_path(fs::temp_directory_path(error), error);
    make_removable(m_path);
    fs::remove_all(m_path, error);
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  const fs::path& path() const { return m_path; }

 private:
  fs::path m_path;
};

// The extraction targets' private folder: each input as archive.zip, beside the folders the
// target extracts into.
class ExtractionFolders {
 public:
  // Makes the extraction folders `folders`, given in name order.
  explicit ExtractionFolders(std::initializer_list<const char*> folders) {
    for (const char* name : folders) {
      fs::create_directory(folder(name));
      m_expected_listing += std::string(name) + "/";
    }
  }

  fs::path folder(const char* name) const { return m_root.path() / name; }
  void write_archive(const std::uint8_t* data, std::size_t size) const {
    write_input(folder("archive.zip"), data, size);
  }
  // Opens archive.zip as the stub opens its archive.
  void open_archive(platform::FileHandle& file) const {
    if (platform::open_file_for_reading(folder("archive.zip").string(), file) != 0) {
      fail("cannot open archive.zip");
    }
  }
  // Ends the process when anything besides archive.zip and the extraction folders appeared (an
  // entry that climbed out would show up there).
  void check_nothing_outside() const {
    if (folder_listing(m_root.path()) != m_expected_listing) {
      fail("something was created outside the extraction folders");
    }
  }

 private:
  PrivateFolder m_root;
  std::string m_expected_listing = "archive.zip/";
};

}  // namespace fuzzing
