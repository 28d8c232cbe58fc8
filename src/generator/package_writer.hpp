// SPDX-License-Identifier: Zlib
#pragma once

// Builds a package: a copy of the stub, a ZIP archive, and the payload trailer.

#include <optional>
#include <string>
#include <vector>

#include "generator/archive_item.hpp"
#include "generator/folder_scan.hpp"
#include "generator/progress_line.hpp"

// Where the package's archive comes from.
enum class ArchiveSource {
  // A folder on disk, written as a new ZIP archive.
  Folder,
  // An existing ZIP file, appended unchanged.
  ZipFile,
  // The given items, written as a new ZIP archive with their names as given.
  Items,
};

struct PackageRequest {
  std::string stub_path;
  ArchiveSource source = ArchiveSource::Folder;
  // The folder (Folder) or the ZIP file (ZipFile).
  std::string source_path;
  std::vector<ArchiveItem> items;
  std::string command_template;
  std::optional<std::string> extra_tool_command;
  // Deflate level 1-9, or 0 to store.
  int level = 6;
  std::string output_path;
  // For a folder: what becomes of symbolic links leading out of it (see `scan_folder`).
  OutsideLinks outside_links = OutsideLinks::Refuse;
  // For a folder: SOURCE_DATE_EPOCH, which makes the archive reproducible (see `scan_folder`).
  std::optional<std::int64_t> source_date_epoch;
  // Where a progress line goes while the package is written.
  ProgressOutput progress;
};

// Whether a package may take the place of what `output_path` names: nothing, or a regular file
// (a symbolic link is followed). A device, FIFO, socket or folder there is never replaced (run as
// root, `-o /dev/null` would replace the system's device with the package): false, with a message
// in `error`. A name that cannot be looked up passes; writing then tells what is wrong.
[[nodiscard]] bool check_output_target(const std::string& output_path, std::string& error);

// Writes the package that `request` describes to `output_path`. The package is written beside it
// into a new file of the user's own under an unpredictable name, made executable and renamed when
// complete; on failure nothing stays behind. Refuses (returns false with a message in `error`) a
// command template or extra-tool command of more than 256 bytes or with a NUL, an empty or blank
// template or extra-tool command, a level outside 0-9, a stub, folder or ZIP file that cannot be
// read, a file that is not a stub (see `check_stub`), an `output_path` that is the stub or the ZIP file (under any name: the same file on disk)
// or not a regular file (see `check_output_target`), an input that is not a ZIP archive, a folder
// entry that cannot be stored (see `scan_folder`), an entry the package's stub would refuse
// (package/entry_rules.hpp, for its stored and its written name), for a Windows stub two files
// whose names differ only in ASCII case, an archive or package of 2 GiB or more, and a package
// that the stub would not read back as written. What deserves a word without stopping the build
// (one name twice: the last one wins; a command whose program is not in the package, see
// `note_missing_program`) goes into `warnings` when given.
[[nodiscard]] bool write_package(const PackageRequest& request, std::string& error,
                                 std::vector<std::string>* warnings = nullptr);
