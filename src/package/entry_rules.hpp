// SPDX-License-Identifier: Zlib
#pragma once

// The rules a package's archive entries must pass before the stub writes anything for them: the
// entry name, the encryption flag and the compression method. Both the stub's extraction and the
// generator judge entries here, so that a package the generator accepts is a package the stub
// extracts. Entry names come from the archive and are untrusted.

#include <cstddef>
#include <string>

#include "common/target_platform.hpp"

// Entry names of this many bytes or more are refused (they would not fit the stub's name buffer
// and would come back cut).
inline constexpr std::size_t k_entry_name_limit = 256;

// The platform this build's stub runs on; the stub's driver takes it once and passes it on.
TargetPlatform this_platform();

// The platform of the stub (or package) whose first bytes are `head`: a Windows executable
// starts with "MZ"; anything else is taken for a Linux stub.
TargetPlatform platform_of_executable(const std::string& head);

enum class EntryNameVerdict {
  Accepted,
  // The stored name has k_entry_name_limit bytes or more and would come back cut.
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
  // Windows only: a component names a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9, in any case,
  // with or without an extension), which Windows opens instead of a file.
  DeviceName,
  // Windows only: the name holds a character no Windows file name can hold ('<', '>', '"', '|',
  // '?', '*', 0x01-0x1F), or ':' (which would open an alternate data stream): every run would fail
  // to create the file, or write it somewhere else.
  ForbiddenCharacter,
  // Windows only: a component other than "." ends in a dot or a blank, which Windows drops: the
  // entry would be written under another name, merged with the one without them.
  TrailingDotOrBlank,
};

// Which of an entry's names is judged: the one the archive stores, or the one the stub writes
// (extract/entry_name_encoding.hpp), which may come from a Unicode path field instead. An entry
// passes when both pass.
enum class EntryNameUse { Stored, Written };

// Judges the entry name `name` as minizip returned it (NUL-terminated) against `stored_length`,
// the name's length recorded in the archive, for a stub on `target`: Windows refuses device
// names, which are ordinary names on Linux, and in the name it writes also characters it cannot
// hold and components ending in a dot or blank. A stored name that a Unicode path field stands in
// for may hold such characters (zip writes '?' for those its code page lacks). Both '/' and '\'
// separate components.
EntryNameVerdict check_entry_name(const char* name, unsigned long stored_length,
                                  TargetPlatform target,
                                  EntryNameUse use = EntryNameUse::Written);

// The reason for a verdict other than Accepted, for the refusal message; empty for Accepted.
const char* refusal_reason(EntryNameVerdict verdict);

enum class EntryDataVerdict {
  Accepted,
  // Without a password the stub would write the encrypted bytes as they are.
  Encrypted,
  // Neither stored nor deflated: the stub would write the data still compressed.
  UnsupportedMethod,
};

// Judges a file entry's general-purpose `flag` and compression `method`.
EntryDataVerdict check_entry_data(unsigned long flag, unsigned long method);

// The refusal of an entry packed with `method`, which the stub cannot unpack: "compression method
// 9 (Deflate64) is not supported; pack with Deflate or store", with the method's name when it is
// a common one and the number alone otherwise.
std::string unsupported_method_reason(unsigned long method);
