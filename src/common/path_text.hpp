// SPDX-License-Identifier: Zlib
#pragma once

// Path text that every layer reads the same way.

// Whether `c` separates path components. Archive entry names are split at both '/' and '\' on
// every platform; Windows paths take both too.
inline bool is_separator(char c) { return c == '/' || c == '\\'; }
