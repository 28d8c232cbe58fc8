// SPDX-License-Identifier: Zlib
// Who and where the process is, on POSIX systems: the platform, the user, the executable, the
// environment, the current directory.

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace platform {

PlatformKind platform_kind() { return PlatformKind::Posix; }

// The dynamic loader's search is the system's business (and the stub links only glibc).
int restrict_library_search() { return ENOSYS; }

std::string current_directory() {
  // glibc sizes the buffer itself, however deep the directory is.
  std::unique_ptr<char, decltype(&std::free)> path(getcwd(nullptr, 0), &std::free);
  return path == nullptr ? std::string() : std::string(path.get());
}

std::string executable_path() {
  // readlink says nothing of a cut: the buffer grows until the name leaves room to spare.
  std::vector<char> buffer(256);
  for (;;) {
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0) {
      return std::string();
    }
    if (static_cast<std::size_t>(length) < buffer.size()) {
      return std::string(buffer.data(), static_cast<std::size_t>(length));
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::FILE* open_own_executable() {
  // The link opens the file this process runs, not whatever its name names by now.
  return std::fopen("/proc/self/exe", "rbe");
}

int set_current_directory(const std::string& path) { return chdir(path.c_str()) == 0 ? 0 : errno; }

int full_path(const std::string& path, int capacity, std::string& out) {
  std::string joined = path;
  if (path.empty() || path[0] != '/') {
    std::string cwd = current_directory();
    if (cwd.empty()) {
      return errno != 0 ? errno : ENOENT;
    }
    joined = cwd + "/" + path;
  }
  // Take "." and ".." out by name, like the Windows call does; links are not resolved.
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  while (start <= joined.size()) {
    std::string::size_type end = joined.find('/', start);
    if (end == std::string::npos) {
      end = joined.size();
    }
    std::string part = joined.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) {
        parts.pop_back();
      }
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string result;
  for (const std::string& part : parts) {
    result += "/" + part;
  }
  if (result.empty()) {
    result = "/";
  }
  if (result.size() + 1 > static_cast<std::size_t>(capacity)) {
    return ENAMETOOLONG;
  }
  out = result;
  return 0;
}

int user_name(std::string& out) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  int error = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found);
  if (error == 0 && found != nullptr && found->pw_name != nullptr && found->pw_name[0] != '\0') {
    out = found->pw_name;
    return 0;
  }
  const char* user = std::getenv("USER");
  if (user != nullptr && user[0] != '\0') {
    out = user;
    return 0;
  }
  return error != 0 ? error : ENOENT;
}

int set_environment_variable(const char* name, const std::string& value) {
  return setenv(name, value.c_str(), 1) == 0 ? 0 : errno;
}

int unset_environment_variable(const char* name) { return unsetenv(name) == 0 ? 0 : errno; }

std::vector<std::string> environment_entries() {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    entries.emplace_back(*entry);
  }
  return entries;
}

}  // namespace platform
