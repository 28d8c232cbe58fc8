// SPDX-License-Identifier: Zlib
#pragma once

// The names a package's entries are written under, judged as the package's stub judges them.

#include <string>
#include <vector>

#include "common/target_platform.hpp"
#include "generator/archive_item.hpp"

// Whether the stub for `target` accepts the names of `items` (the stored name and the one it
// writes, with the stub's own entry rules), and tells their files apart: names Windows takes for
// one file (differing only in ASCII case) are refused for a Windows stub, one name twice is noted
// in `warnings` (the last one wins). The first name refused is named in `error`. The names the
// files are written under go to `written_files` when given.
[[nodiscard]] bool check_item_names(const std::vector<ArchiveItem>& items, TargetPlatform target,
                                    std::string& error, std::vector<std::string>& warnings,
                                    std::vector<std::string>* written_files = nullptr);

// Looks at the names the stub for `target` writes the archive's files under, `written`, in
// archive order, as check_item_names does. Returns false with the reason in `error` when it
// refuses them.
[[nodiscard]] bool check_file_names_apart(const std::vector<std::string>& written,
                                          TargetPlatform target, std::string& error,
                                          std::vector<std::string>& warnings);

// Notes in `warnings` a program the stub for `target` would look for in vain: the stub runs the
// first word of `command` (the command template or an extra tool's command, `what` naming which)
// from the extraction directory, so a first word that is none of the package's files `written`
// (for Windows also with ".exe" added) deserves a word; an absolute path or one holding a
// placeholder is left alone. For a Windows stub a first word naming a ".sh" file is noted too.
void note_missing_program(const std::string& command, const char* what,
                          const std::vector<std::string>& written, TargetPlatform target,
                          std::vector<std::string>& warnings);
