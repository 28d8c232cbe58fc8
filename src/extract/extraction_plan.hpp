// SPDX-License-Identifier: Zlib
#pragma once

// What the extraction learns from the central directory before it writes anything, in one walk:
// whether the entries minizip walks fill the directory the end record describes, how many bytes
// they need, and whether two of them may land on one file. The stub's extraction and the
// generator's checks both plan through here, so that they judge an archive alike.

#include <unzip.h>

#include <cstdint>
#include <functional>
#include <string>
#include <set>

#include "common/target_platform.hpp"
#include "extract/archive_stream.hpp"
#include "package/zip_end_record.hpp"

// The key under which the destination of the entry name `name` (as the stub writes it) is
// compared with the others': components split at '/' and '\', "." and empty ones dropped,
// trailing dots and blanks stripped, ASCII letters in lower case, joined by '/'. Names that a
// file system treats as one get one key, on Windows, on Linux and on the FAT or SMB folders a
// Linux run may write to; the key may join names that are not one, never part ones that are.
// False when no such key can be told cheaply: a name with bytes beyond ASCII (Unicode case
// folding and normalisation) or a '~' before a digit (a possible Windows short name).
[[nodiscard]] bool collision_key(const std::string& name, std::string& key);

// Notes entries' keys and tells whether a new one collides with those before it: the keys meet,
// or a file stands where another entry needs a folder (file "a" with "a/x" or "a/", either order).
// Ordered sets, so that thousands of entries cost no more than a few lookups each (lighter in the
// stub than hash sets).
class CollisionCheck {
 public:
  // Adds the entry `name`, a directory entry when `directory`. True when it collides with an
  // entry added before, or when its name gets no key.
  [[nodiscard]] bool add(const std::string& name, bool directory);

 private:
  // Every entry's key, the files' keys, and the folders that entries need.
  std::set<std::string> m_names;
  std::set<std::string> m_files;
  std::set<std::string> m_folders;
};

struct ExtractionPlan {
  // minizip walked as many entries as the end record counts; the rest holds only then.
  bool walked = false;
  DirectoryWalk walk;
  // How the walked entries fill the directory that the end record describes.
  DirectoryFill fill = DirectoryFill::Mismatch;
  // The entries' uncompressed sizes added up, held at UINT64_MAX where the sum would wrap.
  std::uint64_t needed = 0;
  // Two entries may name one file: two threads would write it in either order, so the extraction
  // runs on one, in archive order, and the last entry wins.
  bool collides = false;
  // A Linux stub makes symbolic links of some entries: whether a later entry may be written
  // depends on what was written before it, so the extraction runs on one thread too.
  bool links = false;
};

// Told of each entry the walk meets: minizip's handle standing at it, its record and its stored
// name (up to its first NUL).
using PlanVisitor = std::function<void(unzFile, const unz_file_info64&, const char* stored_name)>;

// Walks the central directory of `archive`, which reads `stream`, as the extraction goes through
// it: as many entries as the end record counts for minizip, each name decoded as a stub on
// `target` writes it. Leaves the archive at its first entry. Prints nothing.
[[nodiscard]] ExtractionPlan plan_extraction(ArchiveStream& stream, unzFile archive,
                                             TargetPlatform target,
                                             const PlanVisitor& visit = nullptr);

// Whether `needed` bytes fit where the archive unpacks to, `target_dir`. Filling the disk half-way
// would leave a broken payload and a full disk; a clear refusal up front leaves neither. Prints
// "-E- Not enough space in DIR: N MB needed, M MB free" when they do not; a file system that
// cannot be asked counts as roomy enough.
[[nodiscard]] bool fits(std::uint64_t needed, const std::string& target_dir);
