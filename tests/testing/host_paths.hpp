// SPDX-License-Identifier: Zlib
#pragma once

// The path helpers of workdir/path.hpp with the rules of the platform the tests run on.

#include <string>

#include "package/entry_rules.hpp"
#include "workdir/path.hpp"

inline void to_native_separators(std::string& path) {
  to_platform_separators(path, this_platform());
}

inline char native_separator() { return path_separator(this_platform()); }

inline std::string join_path(const std::string& directory, const std::string& name) {
  return join_path(directory, name, this_platform());
}
