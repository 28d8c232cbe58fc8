#pragma once

// What the extraction decides about an archive entry before it writes anything for it: whether
// its name may be used, the path it is written under, and the permission bits it gets.
// Entry names come from the archive and are untrusted.

#include <cstddef>
#include <string>

// Size of the entry-name buffer handed to minizip; a stored name must be shorter than this.
inline constexpr std::size_t k_entry_name_capacity = 256;

enum class EntryNameVerdict {
  Accepted,
  // The stored name has k_entry_name_capacity bytes or more and would come back cut.
  TooLong,
  // The stored name holds a NUL byte: only the part before it would be used.
  HasNul,
  // Starts with '/' or '\'.
  Absolute,
  // Starts with a letter and ':' ("C:x", "C:\x").
  DriveLetter,
  // A component is ".." (or, because Windows drops trailing dots and blanks from names, any
  // component made of dots and blanks only with two dots or more, such as "..." or ".. ").
  ClimbsOut,
};

// Judges the entry name `name` as minizip returned it (NUL-terminated) against `stored_length`,
// the name's length recorded in the archive. Both '/' and '\' separate components.
EntryNameVerdict check_entry_name(const char* name, unsigned long stored_length);

// The reason for a verdict other than Accepted, for the refusal message; empty for Accepted.
const char* refusal_reason(EntryNameVerdict verdict);

// The path an accepted entry is written under, relative to the extraction directory: `name` with
// every '\' turned into '/' on Linux, and unchanged on Windows, where both separate anyway.
std::string entry_path(const char* name);

enum class EntryKind { File, Directory };

// The permission bits for an extracted entry. An entry made on a Unix host (high byte of
// `version_made_by` is 3) with a mode in the high 16 bits of `external_attributes` keeps its rwx
// bits for user, group and other (no set-id or sticky bits); other entries get 0644, directories
// 0755. A symbolic-link entry, which is written as a regular file holding the link text, gets
// 0644. Directories always keep rwx for their owner, so that the files below them can be written
// and the tree can be removed again.
unsigned entry_mode(unsigned long version_made_by, unsigned long external_attributes,
                    EntryKind kind);
