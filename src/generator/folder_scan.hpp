#pragma once

// Gathers the entries of an archive from a folder on disk.

#include <string>
#include <vector>

#include "generator/archive_item.hpp"

// Lists everything below `folder` as archive items, sorted by name in byte order (a directory's
// entry before its contents): a "name/" entry for every directory, empty ones
// included, and one entry per regular file reading from disk, each with its modification time and
// permission bits. Returns true, or false with a message in `error` when the folder cannot be read
// or holds something that cannot be stored: a symbolic link or special file, or a name that holds
// '\' or ':' or is 256 bytes or longer.
[[nodiscard]] bool scan_folder(const std::string& folder, std::vector<ArchiveItem>& items,
                               std::string& error);
