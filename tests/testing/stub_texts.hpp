// SPDX-License-Identifier: Zlib
#pragma once

// The stub's fixed texts as a user sees them, for tests that compare its output byte for byte.

// The help section with every option.
inline constexpr char k_stub_help[] =
    "\nSELF EXTRACTOR OPTIONS\n"
    "        --sfx-extract-dir <dir>       : Use <dir> for temporary files during execution\n"
    "        --sfx-extract-only            : Do not execute, only extract files to a location\n"
    "                                        specified through the --sfx-extract-dir option\n"
    "        --sfx-no-pause                : Do not wait for user keypress after completion\n"
    "                                        when run in a new command window\n"
    "\n";

// The help section without the "--sfx-extract-only" lines ("--no_extract_list").
inline constexpr char k_stub_help_no_extract_list[] =
    "\nSELF EXTRACTOR OPTIONS\n"
    "        --sfx-extract-dir <dir>       : Use <dir> for temporary files during execution\n"
    "        --sfx-no-pause                : Do not wait for user keypress after completion\n"
    "                                        when run in a new command window\n"
    "\n";
