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
#include <vector>

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

// Notes entries' keys and tells whether two of them collide: the keys meet, or a file stands
// where another entry needs a folder (file "a" with "a/x" or "a/", either order). Holds a 64-bit
// hash of each key and of each folder an entry needs, not the keys: 8 bytes an entry, where tens
// of thousands of entries are planned. Two keys of one hash count as one key, so a collision is
// never missed; two that only share a hash send the archive to one thread, which costs speed alone.
class CollisionCheck {
 public:
  // Adds the entry `name`, a directory entry when `directory`. True once a collision is certain:
  // its name gets no key, it is a file in place of the extraction directory, or two entries
  // added so far were found to collide. The rest shows in collides().
  [[nodiscard]] bool add(const std::string& name, bool directory);

  // True when two of the entries added so far collide, or one got no key. Later entries may
  // still be added.
  [[nodiscard]] bool collides();

 private:
  // Adds `value`, first dropping repeated marks when they would make the marks take more room.
  void note(std::uint64_t value);
  // note() for a folder's mark, unless that folder was noted lately.
  void note_folder(std::uint64_t value);
  // Sorts the marks, notes whether two collide and drops repeated ones.
  void compact();

  // A hash with its two lowest bits replaced by the kind of what it stands for.
  std::vector<std::uint64_t> m_marks;
  std::vector<std::uint64_t> m_recent_folders;
  // Reused between entries: the key of the entry being added, and the key of the last one, whose
  // folders are noted already (entries of one folder tend to come together).
  std::string m_key;
  std::string m_last;
  bool m_collides = false;
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
  // Where the shares of entries begin that two extraction threads claim, in archive order: the
  // header's place and the entry's number, for unzGoToFilePos64. A thread goes from one share to
  // its next without walking past the other thread's entries.
  std::vector<unz64_file_pos> shares;
};

// How many entries of a directory of `count` make one share of an extraction on two threads: one
// for small archives, up to 16 for large ones, more beyond 65,536 entries (4,096 shares at most).
[[nodiscard]] std::uint64_t share_size(std::uint64_t count);

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
// cannot be asked counts as roomy enough. `free_bytes`, unless k_ask_free_space, is the room the
// caller measured for it.
inline constexpr std::uint64_t k_ask_free_space = UINT64_MAX;
[[nodiscard]] bool fits(std::uint64_t needed, const std::string& target_dir,
                        std::uint64_t free_bytes = k_ask_free_space);
