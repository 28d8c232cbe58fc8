#pragma once

// Unpacks the payload's ZIP archive into the extraction directory.

#include <string>

inline constexpr int k_extract_ok = 0;
// The path is null, or neither it nor it with ".zip" appended opens as a ZIP archive.
inline constexpr int k_extract_not_an_archive = 1;
// The archive opened, but an entry could not be extracted completely (damaged data, a failed
// write, a refused entry name, ...); the extraction stopped there after printing why.
inline constexpr int k_extract_incomplete = 2;
// The archive's entries need clearly more room than the extraction directory's file system has
// left; nothing was extracted.
inline constexpr int k_extract_no_space = 3;
// A request to end the process (platform::termination_requested) came; the extraction stopped
// between two entries or two pieces of an entry's data, without a message.
inline constexpr int k_extract_interrupted = 4;

// Opens `archive_path` (or it with ".zip" appended), changes into `target_dir` and extracts every
// entry there, leaving the process in `target_dir`. Returns one of the codes above; before it
// writes anything it compares the entries' total size with the free space and prints
// "-E- Not enough space in DIR: N MB needed, M MB free" when they cannot fit. When
// `target_dir` cannot be entered it prints "Error changing into %s, aborting\n" and ends the
// process with status -1.
[[nodiscard]] int extract_archive(const char* archive_path, const std::string& target_dir);
