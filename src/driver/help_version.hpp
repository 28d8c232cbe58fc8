// SPDX-License-Identifier: Zlib
#pragma once

// The stub's help section and version line.

#include "driver/sfx_options.hpp"

// Prints the stub's options on standard output; leaves out the "--sfx-extract-only" lines when
// `no_extract_list` is set.
void print_help(const SfxOptions& options);

// Prints the version line on standard output: tool name and version, then the package string,
// build date and time and source revision fixed when the stub was built.
void print_version();
