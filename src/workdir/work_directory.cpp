#include "workdir/work_directory.hpp"

#include <cerrno>
#include <cstring>

#include "common/environment.hpp"
#include "console/messages.hpp"
#include "platform/platform.hpp"
#include "workdir/path.hpp"

namespace {

// The temporary directory: "TEMP", and on Linux, where "TEMP" is rarely set, "TMPDIR" and then
// "/tmp". A variable set to nothing counts as unset: it names no directory.
bool read_temp_directory(std::string& value) {
  if (read_environment_variable("TEMP", value) && !value.empty()) {
    return true;
  }
  if (platform::platform_kind() == platform::PlatformKind::Windows) {
    return false;
  }
  if (read_environment_variable("TMPDIR", value) && !value.empty()) {
    return true;
  }
  value = "/tmp";
  return true;
}

constexpr int k_removal_retries = 10;
constexpr int k_removal_retry_ms = 200;

// On Linux a backslash is an ordinary character of a directory name.
bool is_path_separator(char c) { return c == '/' || c == native_separator(); }

// A given directory may end in a separator; the file system is asked about it without one. A root
// ("/", "C:\\") keeps its separator.
std::string without_trailing_separators(const std::string& path) {
  std::string::size_type end = path.size();
  while (end > 1 && is_path_separator(path[end - 1]) && !is_path_separator(path[end - 2]) &&
         path[end - 2] != ':') {
    --end;
  }
  return path.substr(0, end);
}

int make_directory_once(const std::string& path, platform::DirectoryAccess access) {
  int error = platform::make_directory(path, access);
  if (error != EEXIST) {
    return error;
  }
  (void)remove_directory_tree(path);
  return platform::make_directory(path, access);
}

}  // namespace

int resolve_work_directory(WorkDirectoryMode mode, const std::string& given_dir,
                           std::string& temp_files_dir, std::string& work_dir) {
  if (mode == WorkDirectoryMode::Temporary) {
    return create_temp_work_directory(temp_files_dir, work_dir) == 0 ? 0 : -1;
  }
  platform::PathKind kind = platform::PathKind::Other;
  int error = platform::query_path(without_trailing_separators(given_dir), kind);
  if (error != 0) {
    print_error("Failed to access directory %s: %s\n", given_dir.c_str(),
                std::strerror(error));
    return -1;
  }
  if (kind != platform::PathKind::Directory) {
    print_error("%s is not a directory\n", given_dir.c_str());
    return -1;
  }
  temp_files_dir = given_dir;
  work_dir = given_dir;
  return 0;
}

int create_temp_work_directory(std::string& temp_files_dir, std::string& work_dir) {
  std::string temp;
  if (!read_temp_directory(temp)) {
    print_error("Failed to get TEMP env var\n");
    return -1;
  }
  temp_files_dir = temp;
  std::string path = temp + "/sfxter_";
  std::string user;
  if (platform::user_name(user) != 0) {
    print_error("Failed to get username\n");
    return -1;
  }
  path += user;
  path += "_" + std::to_string(platform::process_id());
  to_native_separators(path);
  int error = make_directory_once(path, platform::DirectoryAccess::Private);
  if (error != 0) {
    print_error("Failed to create temporary directory %s: %s\n", path.c_str(),
                std::strerror(error));
    return -1;
  }
  work_dir = path;
  return 0;
}

int make_fresh_directory(const std::string& path) {
  return make_directory_once(path, platform::DirectoryAccess::Shared);
}

int remove_directory_tree(const std::string& path) {
  // Like the shell's tree removal, this takes directories only: a plain file of the name stays.
  platform::PathKind kind = platform::PathKind::Other;
  int error = platform::query_path(path, kind);
  if (error != 0) {
    return error;
  }
  if (kind != platform::PathKind::Directory) {
    return ENOTDIR;
  }
  error = platform::remove_tree(path);
  // On Windows a virus scanner may hold a just-extracted program open for a moment, and nothing
  // can be removed while it does: the removal is tried again for about two seconds.
  if (platform::platform_kind() == platform::PlatformKind::Windows) {
    for (int attempt = 0; error != 0 && attempt < k_removal_retries; ++attempt) {
      platform::sleep_milliseconds(k_removal_retry_ms);
      error = platform::remove_tree(path);
    }
  }
  return error;
}
