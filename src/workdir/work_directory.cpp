// SPDX-License-Identifier: Zlib
#include "workdir/work_directory.hpp"

#include <cerrno>
#include <cstring>

#include "common/environment.hpp"
#include "console/messages.hpp"
#include "platform/platform.hpp"
#include "workdir/path.hpp"

namespace {

// The temporary directory: "TEMP", and for Linux, where "TEMP" is rarely set, "TMPDIR" and then
// "/tmp". A variable set to nothing counts as unset: it names no directory.
bool read_temp_directory(TargetPlatform target, std::string& value) {
  if (read_environment_variable("TEMP", value) && !value.empty()) {
    return true;
  }
  if (target == TargetPlatform::Windows) {
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
bool is_path_separator(char c, TargetPlatform target) {
  return c == '/' || c == path_separator(target);
}

// A given directory may end in a separator; the file system is asked about it without one. A root
// ("/", "C:\\") keeps its separator.
std::string without_trailing_separators(const std::string& path, TargetPlatform target) {
  std::string::size_type end = path.size();
  while (end > 1 && is_path_separator(path[end - 1], target) &&
         !is_path_separator(path[end - 2], target) && path[end - 2] != ':') {
    --end;
  }
  return path.substr(0, end);
}

// Runs `remove` once and, for Windows, where a virus scanner may hold a just-extracted program
// open for a moment and nothing can be removed while it does, again for about two seconds.
template <typename Removal>
int removed_with_retries(TargetPlatform target, Removal remove) {
  int error = remove();
  if (target == TargetPlatform::Windows) {
    for (int attempt = 0; error != 0 && attempt < k_removal_retries; ++attempt) {
      platform::sleep_milliseconds(k_removal_retry_ms);
      error = remove();
    }
  }
  return error;
}

// A name for the work directory that another run or another user holds; the next one is tried.
constexpr int k_name_taken = -1;

// How many times a lock is taken before the run gives up on a name whose file keeps changing.
constexpr int k_lock_attempts = 8;

// How many unpredictable names a run tries after the predictable ones.
constexpr int k_unpredictable_names = 4;

// Appends 16 random hex digits to `name`. Returns 0 or the random source's errno value.
int append_random_digits(std::string& name) {
  static const char k_hex[] = "0123456789abcdef";
  unsigned char random[8];
  int error = platform::random_bytes(random, sizeof random);
  if (error != 0) {
    return error;
  }
  for (unsigned char byte : random) {
    name += k_hex[byte >> 4];
    name += k_hex[byte & 0xf];
  }
  return 0;
}

// Makes `path` the run's work directory, locked by `lock`: a new directory, or a stale leftover of
// the user's own, which is emptied. Returns 0, k_name_taken, or the errno value of a failure that
// another name would meet as well (the temporary directory is missing, say).
int claim_work_directory(const std::string& path, TargetPlatform target, WorkDirectoryLock& lock) {
  int error = platform::make_directory(path, platform::DirectoryAccess::Private);
  if (error != 0 && error != EEXIST) {
    return error;
  }
  bool fresh = error == 0;
  if (!fresh) {
    // Somebody else's file, folder or link, planted or not, is never touched.
    bool own = false;
    if (platform::query_own_directory(path, own) != 0 || !own) {
      return k_name_taken;
    }
  }
  // The lock is taken before anything is put into the directory or taken out of it. A run that
  // finds a directory just made by another run may take it first; the maker then moves on.
  WorkDirectoryLock candidate;
  error = candidate.take(join_path(path, k_work_directory_lock_name, target));
  if (error != 0) {
    if (fresh && error != EWOULDBLOCK) {
      (void)platform::remove_directory(path);
      return error;
    }
    return k_name_taken;
  }
  // The leftover of a run that ended without its ending (killed, say) is made the user's alone
  // before it is emptied, both through one descriptor: in a temporary directory without the
  // sticky bit another user could swap the name meanwhile.
  if (!fresh && platform::empty_private_directory(path, k_work_directory_lock_name) != 0) {
    return k_name_taken;
  }
  lock = std::move(candidate);
  return 0;
}

int make_directory_once(const std::string& path, platform::DirectoryAccess access,
                        TargetPlatform target) {
  int error = platform::make_directory(path, access);
  if (error != EEXIST) {
    return error;
  }
  (void)remove_directory_tree(path, target);
  return platform::make_directory(path, access);
}

}  // namespace

WorkDirectoryLock::WorkDirectoryLock(WorkDirectoryLock&& other) noexcept
    : m_handle(other.m_handle) {
  other.m_handle = k_none;
}

WorkDirectoryLock& WorkDirectoryLock::operator=(WorkDirectoryLock&& other) noexcept {
  if (this != &other) {
    release();
    m_handle = other.m_handle;
    other.m_handle = k_none;
  }
  return *this;
}

int WorkDirectoryLock::take(const std::string& path) {
  release();
  // A lock won on a file whose holder removed it meanwhile locks nothing: the name is tried again.
  for (int attempt = 0; attempt < k_lock_attempts; ++attempt) {
    std::intptr_t handle = k_none;
    int error = platform::lock_file(path, handle);
    if (error != 0) {
      return error;
    }
    bool named = false;
    error = platform::query_lock_file_named(handle, path, named);
    if (error == 0 && named) {
      m_handle = handle;
      return 0;
    }
    platform::unlock_file(handle);
    if (error != 0) {
      return error;
    }
  }
  return EWOULDBLOCK;
}

void WorkDirectoryLock::release() {
  if (m_handle != k_none) {
    platform::unlock_file(m_handle);
    m_handle = k_none;
  }
}

int resolve_work_directory(WorkDirectoryMode mode, const std::string& given_dir,
                           TargetPlatform target, std::string& temp_files_dir,
                           std::string& work_dir, WorkDirectoryLock& lock) {
  if (mode == WorkDirectoryMode::Temporary) {
    return create_temp_work_directory(target, temp_files_dir, work_dir, lock) == 0 ? 0 : -1;
  }
  platform::PathKind kind = platform::PathKind::Other;
  int error = platform::query_path(without_trailing_separators(given_dir, target), kind);
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

int create_temp_work_directory(TargetPlatform target, std::string& temp_files_dir,
                               std::string& work_dir, WorkDirectoryLock& lock) {
  std::string temp;
  if (!read_temp_directory(target, temp)) {
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
  to_platform_separators(path, target);
  for (int number = 0; number < k_work_directory_names + k_unpredictable_names; ++number) {
    std::string candidate = number == 0 ? path : path + "_" + std::to_string(number);
    int error = 0;
    if (number >= k_work_directory_names) {
      // A name nobody knows before the run cannot have been planted.
      candidate = path + "_";
      error = append_random_digits(candidate);
    }
    if (error == 0) {
      error = claim_work_directory(candidate, target, lock);
    }
    if (error == 0) {
      work_dir = candidate;
      return 0;
    }
    if (error != k_name_taken) {
      print_error("Failed to create temporary directory %s: %s\n", candidate.c_str(),
                  std::strerror(error));
      return -1;
    }
  }
  print_error("Failed to create temporary directory %s: it, %s_1 to _%d and %d random names are "
              "taken by other runs or users\n",
              path.c_str(), path.c_str(), k_work_directory_names - 1, k_unpredictable_names);
  return -1;
}

int lock_extraction_directory(const std::string& extraction_dir, WorkDirectoryLock& lock) {
  std::string lock_path = extraction_dir + k_extraction_directory_lock_suffix;
  int error = lock.take(lock_path);
  if (error == EWOULDBLOCK) {
    print_error("Another run is using %s (it holds %s); nothing was changed there\n",
                extraction_dir.c_str(), lock_path.c_str());
  } else if (error != 0) {
    // A link, a folder or a FIFO at the name is refused as it is; EINVAL is "not a plain file".
    print_error("Failed to open the lock file %s for %s: %s\n", lock_path.c_str(),
                extraction_dir.c_str(),
                error == EINVAL ? "it is not a plain file" : std::strerror(error));
  }
  return error == 0 ? 0 : -1;
}

void unlock_extraction_directory(const std::string& extraction_dir, WorkDirectoryLock& lock) {
  if (lock.held()) {
    // Removed while still locked (Windows lets the file go when the lock does): a run that opened
    // it just before is told that it is in use, or finds that its name is gone.
    (void)platform::remove_file(extraction_dir + k_extraction_directory_lock_suffix);
    lock.release();
  }
}

int make_fresh_directory(const std::string& path, TargetPlatform target) {
  return make_directory_once(path, platform::DirectoryAccess::Shared, target);
}

int remove_directory_tree(const std::string& path, TargetPlatform target) {
  // Like the shell's tree removal, this takes directories only: a plain file of the name stays.
  platform::PathKind kind = platform::PathKind::Other;
  int error = platform::query_path(path, kind);
  if (error != 0) {
    return error;
  }
  if (kind != platform::PathKind::Directory) {
    return ENOTDIR;
  }
  return removed_with_retries(target, [&path] { return platform::remove_tree(path); });
}

int remove_work_directory(const std::string& work_dir, TargetPlatform target,
                          WorkDirectoryLock& lock) {
  if (!lock.held()) {
    return remove_directory_tree(work_dir, target);
  }
  int error = removed_with_retries(target, [&work_dir] {
    return platform::empty_private_directory(work_dir, k_work_directory_lock_name);
  });
  // Removed while still locked (Windows lets the file go when the lock does), so that a run
  // finding the directory now can only take it once it is empty; the last step then leaves it to
  // that run.
  int lock_error =
      platform::remove_file(join_path(work_dir, k_work_directory_lock_name, target));
  lock.release();
  int directory_error =
      removed_with_retries(target, [&work_dir] { return platform::remove_directory(work_dir); });
  for (int later : {lock_error, directory_error}) {
    if (error == 0) {
      error = later;
    }
  }
  return error;
}
