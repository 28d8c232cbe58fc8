// SPDX-License-Identifier: Zlib
#pragma once

// Gathers the entries of an archive from a folder on disk.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "generator/archive_item.hpp"

// What the scan does with a symbolic link whose target lies outside the folder.
enum class OutsideLinks { Refuse, Follow };

struct FolderScanOptions {
  OutsideLinks outside_links = OutsideLinks::Refuse;
  // A file left out wherever it appears in the folder, under any name (the package being
  // written, so that a package made inside its own folder does not pack the previous one); empty
  // for none.
  std::string skipped_file;
  // SOURCE_DATE_EPOCH: when set, the archive is made reproducible. Every entry's time is this
  // many seconds since 1970, written as UTC, so that the archive depends neither on the files'
  // times nor on the time zone; and modes are normalised (see `scan_folder`). Otherwise each entry
  // carries its modification time as local time and its permission bits as they are.
  std::optional<std::int64_t> source_date_epoch;
};

// Lists everything below `folder` as archive items, sorted by name in byte order (a directory's
// entry before its contents): a "name/" entry for every directory, empty ones included, and one
// entry per regular file reading from disk. A symbolic link is stored as a copy of its target
// under the link's own name (a folder's contents below it); a link leading out of `folder` is
// refused unless `options` follow such links, and so is a dangling link or a link to a folder that
// holds it. With `source_date_epoch` set, modes are normalised: 0755 for folders and for files
// with an execute bit, 0644 for other files. Returns true, or false with a message in `error` when the folder cannot be read or
// holds something that cannot be stored: a special file, or a name that holds '\' or ':' or is 256
// bytes or longer.
[[nodiscard]] bool scan_folder(const std::string& folder, const FolderScanOptions& options,
                               std::vector<ArchiveItem>& items, std::string& error);
