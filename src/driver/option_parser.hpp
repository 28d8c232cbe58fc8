// SPDX-License-Identifier: Zlib
#pragma once

// The command line: the stub's own options, the payload tool's options that the stub notes, and
// the arguments passed on to the payload's command.

#include <string>

#include "driver/sfx_options.hpp"

// Parses `argv` into `options` (which holds its starting values) and appends the arguments that
// are passed on to `pass_through_args`, one blank before each one after position 1. Returns 0, or
// -1 after printing one of the three command-line error messages.
[[nodiscard]] int parse_options(int argc, const char* const* argv, std::string& pass_through_args,
                                SfxOptions& options);

// The program name for the invocation path `path`: the text after the last '/', of that the text
// after the last '\', of that the text before the last '.' (after it, when it is the first
// character). "D:\tools\pkg.beta.exe" gives "pkg.beta".
std::string program_name_from_path(const std::string& path);
