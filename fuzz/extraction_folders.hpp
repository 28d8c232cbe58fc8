// SPDX-License-Identifier: Zlib
#pragma once

// What the extraction targets share: a private folder holding each input as archive.zip beside
// the folders the target extracts into, made once per process, and the checks after an input.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <system_error>

#include "platform/platform.hpp"
#include "private_folder.hpp"

namespace fuzzing {

// Ends the process after printing what went wrong.
[[noreturn]] inline void fail(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "fuzz: %s %s\n", what, detail.c_str());
  std::abort();
}

class ExtractionFolders {
 public:
  // Makes the private folder and the extraction folders `folders` (in name order) inside it.
  explicit ExtractionFolders(std::initializer_list<const char*> folders) {
    m_expected_listing = "archive.zip/";
    for (const char* name : folders) {
      fs::create_directory(m_root.path() / name);
      m_expected_listing += std::string(name) + "/";
    }
  }

  fs::path folder(const char* name) const { return m_root.path() / name; }

  // Writes the input as archive.zip.
  void write_archive(const std::uint8_t* data, std::size_t size) const {
    write_input(archive_path(), data, size);
  }
  // Opens archive.zip as the stub opens its archive.
  void open_archive(platform::FileHandle& file) const {
    if (platform::open_file_for_reading(archive_path().string(), file) != 0) {
      fail("cannot open archive.zip");
    }
  }
  // Ends the process when something besides archive.zip and the extraction folders appeared
  // (an entry that climbed out would show up there).
  void check_nothing_outside() const {
    if (folder_listing(m_root.path()) != m_expected_listing) {
      fail("something was created outside the extraction folders");
    }
  }

 private:
  fs::path archive_path() const { return m_root.path() / "archive.zip"; }

  PrivateFolder m_root;
  std::string m_expected_listing;
};

}  // namespace fuzzing
