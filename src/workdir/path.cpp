#include "workdir/path.hpp"

#include "platform/platform.hpp"

void to_backslashes(std::string& path) {
  for (char& c : path) {
    if (c == '/') {
      c = '\\';
    }
  }
}

void to_native_separators(std::string& path) {
  if (platform::platform_kind() == platform::PlatformKind::Windows) {
    to_backslashes(path);
  }
}

char native_separator() {
  return platform::platform_kind() == platform::PlatformKind::Windows ? '\\' : '/';
}

std::string join_path(const std::string& directory, const std::string& name) {
  std::string path = directory + "/" + name;
  to_native_separators(path);
  return path;
}
