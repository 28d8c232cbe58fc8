// SPDX-License-Identifier: Zlib
#pragma once

// The characters that separate words on a command line.

// Whether `c` is a blank: a space or a tab.
inline bool is_blank(char c) { return c == ' ' || c == '\t'; }
