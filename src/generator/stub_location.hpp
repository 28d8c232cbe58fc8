// SPDX-License-Identifier: Zlib
#pragma once

// Where the generator finds the stubs it ships with, so that `--target` names a platform rather
// than a file.

#include <string>
#include <vector>

#include "package/entry_rules.hpp"

// Which of the stubs for a platform: the plain one, or (Windows only) the one whose manifest asks
// for administrator rights, sfx_stub_admin.exe.
enum class StubKind { Plain, Administrator };

// The places where the generator whose executable is `program_path` looks for the stub for
// `target`, in order: the installed stub (<prefix>/lib/sfxkit/stubs/linux-x86_64/sfx_stub or
// windows-x86_64/sfx_stub.exe for <prefix>/bin/vek_fwsfx_gen), the same below
// <prefix>/share/sfxkit/stubs (where earlier installations put them), the stub beside the
// generator in a build folder, and the one in the other platform's build folder beside that one
// (build/windows for a generator in build/native, build/native for one in build/windows). Empty
// when `program_path` is.
std::vector<std::string> stub_candidates(const std::string& program_path, TargetPlatform target,
                                         StubKind kind = StubKind::Plain);

// The first of `stub_candidates` that is a regular file; empty when none is.
std::string find_stub(const std::string& program_path, TargetPlatform target,
                      StubKind kind = StubKind::Plain);
