// SPDX-License-Identifier: Zlib
#pragma once

// Path helpers shared by every subsystem. Paths are joined with '/' and then given the platform's
// separators: for Windows every '/' becomes '\', for Linux paths stay as they are.

#include <string>

#include "common/target_platform.hpp"

// Changes every '/' in `path` into '\'; nothing else changes.
void to_backslashes(std::string& path);

// `to_backslashes` for Windows; leaves `path` unchanged for Linux.
void to_platform_separators(std::string& path, TargetPlatform target);

// The platform's path separator: '\' for Windows, '/' for Linux.
char path_separator(TargetPlatform target);

// `directory`, "/" and `name`, with the platform's separators.
std::string join_path(const std::string& directory, const std::string& name, TargetPlatform target);
