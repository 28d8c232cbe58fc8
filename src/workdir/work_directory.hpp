#pragma once

// The run's directory tree: the work directory (fresh under the temporary directory, or given on
// the command line), its creation, checking and removal.

#include <string>


// Whether the run works in a fresh directory of its own or in one given with "--sfx-extract-dir".
enum class WorkDirectoryMode { Temporary, Given };

// Where the run works. In Given mode it checks that `given_dir` is a directory and sets both
// outputs to it; in Temporary mode it creates a fresh work directory under the temporary
// directory (`create_temp_work_directory`). Returns 0, or -1 after printing why.
[[nodiscard]] int resolve_work_directory(WorkDirectoryMode mode, const std::string& given_dir,
                                         std::string& temp_files_dir, std::string& work_dir);

// Reads the temporary directory ("TEMP"; on Linux then "TMPDIR", then "/tmp") into
// `temp_files_dir` and creates "sfxter_" + user name + "_" + process id below it, open to the
// current user alone, as `work_dir`. Returns 0, or -1 after printing why.
[[nodiscard]] int create_temp_work_directory(std::string& temp_files_dir, std::string& work_dir);

// Creates the directory `path`; when a directory of that name exists already it is removed with
// everything below it first. Returns 0 or the errno value of the failed creation (EEXIST when a
// plain file of that name is in the way; it stays).
[[nodiscard]] int make_fresh_directory(const std::string& path);

// Removes the directory `path` with everything below it, never following a symbolic link (a link
// is removed itself). A plain file is left alone (ENOTDIR). Returns 0 or the first errno value
// met; no caller needs to look at it.
int remove_directory_tree(const std::string& path);
