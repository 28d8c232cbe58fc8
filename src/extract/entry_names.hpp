// SPDX-License-Identifier: Zlib
#pragma once

// Where and how the extraction writes an accepted entry (package/entry_rules.hpp decides whether
// it is accepted): the path it is written under and the permission bits it gets.

#include <string>

#include "common/target_platform.hpp"

// The path an accepted entry is written under by a stub on `target`, relative to the extraction
// directory: `name` with every '\' turned into '/' for Linux, and unchanged for Windows, where
// both separate anyway.
std::string entry_path(const char* name, TargetPlatform target);

// `name` as the extraction's messages show it: control characters (C0, DEL and C1) as "\x" and
// two hex digits (common/display_text.hpp), so that a name cannot move the cursor or recolour the
// terminal.
std::string printable_name(const char* name);

enum class EntryKind { File, Directory };

// Whether the entry was made on Unix as a symbolic link: its stored Unix mode (stored_unix_mode)
// has the link type. Its data is then the link's target.
bool is_symbolic_link(unsigned long version_made_by, unsigned long external_attributes);

// Link targets of this many bytes or more are refused (no system takes them).
inline constexpr unsigned long k_link_target_limit = 4096;

enum class LinkTargetVerdict {
  Accepted,
  Empty,
  TooLong,
  HasNul,
  Absolute,
  // A ".." component would lead above the extraction directory, from the link's own folder.
  ClimbsOut,
  // A ".." component follows a name: that name may itself be a link, whose target the ".." would
  // climb out of, so only leading ".." components are taken.
  ClimbsAfterName,
};

// Judges `target`, the target of the link entry written as `path` (accepted, '/' separated,
// relative to the extraction directory), by its text alone: the link may point only at a place
// inside the extraction directory. "." and empty components count for nothing.
LinkTargetVerdict check_link_target(const std::string& path, const std::string& target);

// The reason for a verdict other than Accepted, for the refusal message.
const char* link_refusal_reason(LinkTargetVerdict verdict);

// The Unix mode (type and permission bits) that an entry made on a Unix host (high byte of
// `version_made_by` is 3) keeps in the high 16 bits of `external_attributes`, 0 when it keeps
// none there; -1 for an entry made on another host.
long stored_unix_mode(unsigned long version_made_by, unsigned long external_attributes);

// The permission bits for an extracted entry. An entry with a stored Unix mode other than 0
// keeps its rwx bits for user, group and other (no set-id or sticky bits); other entries get
// 0644, directories 0755. A symbolic-link entry, where it is written as a regular file holding
// the link text (a Windows stub), gets 0644. The bits are then masked with `creation_mask` (the process's umask), and
// write permission for group and others is never given: nobody else may swap an extracted
// program. Directories always keep rwx for their owner, so that the files below them can be
// written and the tree can be removed again.
unsigned entry_mode(unsigned long version_made_by, unsigned long external_attributes,
                    EntryKind kind, unsigned creation_mask);
