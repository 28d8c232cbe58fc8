#pragma once

// Path helpers shared by every subsystem. Paths are joined with '/' and then given the platform's
// separators: on Windows every '/' becomes '\', on Linux paths stay as they are.

#include <string>

// Changes every '/' in `path` into '\'; nothing else changes.
void to_backslashes(std::string& path);

// `to_backslashes` on Windows; leaves `path` unchanged on Linux.
void to_native_separators(std::string& path);

// The platform's path separator: '\' on Windows, '/' on Linux.
char native_separator();

// `directory`, "/" and `name`, with the platform's separators.
std::string join_path(const std::string& directory, const std::string& name);
