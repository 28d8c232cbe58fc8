// SPDX-License-Identifier: Zlib
#pragma once

// The run's directory tree: the work directory (fresh under the temporary directory, or given on
// the command line), its creation, checking and removal.

#include <cstdint>
#include <string>

#include "common/target_platform.hpp"

// The lock file in a temporary work directory, beside the archive and the extraction directory.
inline constexpr char k_work_directory_lock_name[] = ".sfx-lock";

// How many names a run tries for its temporary work directory: "sfxter_<user>_<pid>", then the
// same with "_1", "_2", ... up to one less than this. Anybody can foresee them all; after them
// come names with random characters (`create_temp_work_directory`).
inline constexpr int k_work_directory_names = 1000;

// The lock file beside the extraction directory in a given directory: its name and this.
inline constexpr char k_extraction_directory_lock_suffix[] = ".lock";

// The lock a run holds on its temporary work directory, from its creation until the ending has
// removed it, so that no other run takes the directory for a leftover: a locked file inside it.
// Released when the object goes (or the process ends, however it ends). Empty in Given mode.
class WorkDirectoryLock {
 public:
  WorkDirectoryLock() = default;
  ~WorkDirectoryLock() { release(); }
  WorkDirectoryLock(WorkDirectoryLock&& other) noexcept;
  WorkDirectoryLock& operator=(WorkDirectoryLock&& other) noexcept;
  WorkDirectoryLock(const WorkDirectoryLock&) = delete;
  WorkDirectoryLock& operator=(const WorkDirectoryLock&) = delete;

  // Opens (creating it when missing) and locks the file `path`. Returns 0, EWOULDBLOCK when
  // another run holds it, or another errno value; the object then stays empty.
  [[nodiscard]] int take(const std::string& path);
  bool held() const { return m_handle != k_none; }
  void release();

 private:
  static constexpr std::intptr_t k_none = -1;
  std::intptr_t m_handle = k_none;
};

// Whether the run works in a fresh directory of its own or in one given with "--sfx-extract-dir".
enum class WorkDirectoryMode { Temporary, Given };

// Every function below follows the rules of `target`, the platform the stub runs on: its path
// separators, where its temporary directory comes from, and, for Windows, retries while a virus
// scanner holds a file that is to be removed.

// Where the run works. In Given mode it checks that `given_dir` is a directory and sets both
// outputs to it; in Temporary mode it creates a fresh work directory under the temporary
// directory (`create_temp_work_directory`), locked by `lock`. Returns 0, or -1 after printing why.
[[nodiscard]] int resolve_work_directory(WorkDirectoryMode mode, const std::string& given_dir,
                                         TargetPlatform target, std::string& temp_files_dir,
                                         std::string& work_dir, WorkDirectoryLock& lock);

// Reads the temporary directory ("TEMP"; for Linux then "TMPDIR", then "/tmp") into
// `temp_files_dir` and creates "sfxter_" + user name + "_" + process id below it, open to the
// current user alone, as `work_dir`, holding `lock` on it. Two runs with the same process id (in
// different pid namespaces) or names planted by others must not meet: a name that exists already
// is taken only when it is the user's own real directory (not a link) and nobody holds its lock,
// i.e. the leftover of a run that was killed; it is then emptied. Otherwise the next name is
// tried: "_1", "_2", ... and, when all of those are taken (planted by somebody who knows the
// process id), "_" and 16 random hex digits from the system's random source, which nobody can
// plant in advance. Returns 0, or -1 after printing why.
[[nodiscard]] int create_temp_work_directory(TargetPlatform target, std::string& temp_files_dir,
                                             std::string& work_dir, WorkDirectoryLock& lock);

// Locks the extraction directory `extraction_dir` in a directory given with "--sfx-extract-dir"
// for the run's life, before anything replaces it, so that two runs of packages with one name never
// share it: `lock` on the file `extraction_dir` + ".lock" beside it (never inside it, where the
// replacing and an extract-only run's files would meet it), created without following a link.
// What counts is the held lock: a file a killed run left behind is taken over. Returns 0, or -1
// after printing why: another run holds the lock, or the name holds something this user cannot
// open and lock (a link, a folder, somebody else's file), which stays as it is.
[[nodiscard]] int lock_extraction_directory(const std::string& extraction_dir,
                                            WorkDirectoryLock& lock);

// The ending's last step in a given directory: removes the lock file of `extraction_dir` while
// `lock` still holds it, then releases it. Does nothing when `lock` is not held.
void unlock_extraction_directory(const std::string& extraction_dir, WorkDirectoryLock& lock);

// Creates the directory `path`; when a directory of that name exists already it is removed with
// everything below it first. Returns 0 or the errno value of the failed creation (EEXIST when a
// plain file of that name is in the way; it stays).
[[nodiscard]] int make_fresh_directory(const std::string& path, TargetPlatform target);

// Removes the directory `path` with everything below it, never following a symbolic link (a link
// is removed itself). A plain file is left alone (ENOTDIR). Returns 0 or the first errno value
// met; no caller needs to look at it.
int remove_directory_tree(const std::string& path, TargetPlatform target);

// Removes the temporary work directory `work_dir` that `lock` locks, with everything below it,
// and releases the lock. The lock file goes last, once nothing else is left, so that no run can
// take the directory while it is still being emptied. Without a lock it is remove_directory_tree.
// Returns 0 or the first errno value met; no caller needs to look at it.
int remove_work_directory(const std::string& work_dir, TargetPlatform target,
                          WorkDirectoryLock& lock);
