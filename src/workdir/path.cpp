// SPDX-License-Identifier: Zlib
#include "workdir/path.hpp"

void to_backslashes(std::string& path) {
  for (char& c : path) {
    if (c == '/') {
      c = '\\';
    }
  }
}

void to_platform_separators(std::string& path, TargetPlatform target) {
  if (target == TargetPlatform::Windows) {
    to_backslashes(path);
  }
}

char path_separator(TargetPlatform target) {
  return target == TargetPlatform::Windows ? '\\' : '/';
}

std::string join_path(const std::string& directory, const std::string& name,
                      TargetPlatform target) {
  std::string path = directory + "/" + name;
  to_platform_separators(path, target);
  return path;
}
