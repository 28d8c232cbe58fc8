// SPDX-License-Identifier: Zlib
#pragma once

// A unique directory under the system's temporary directory for one test: created and entered on
// construction, left and removed on destruction. When the test failed it is kept and its path is
// printed, so that the files can be looked at.

#include <string>
#include <vector>

#include "testing/host_paths.hpp"

class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  // The directory's full path, with the platform's separators.
  const std::string& path() const { return m_path; }

  // `name` (relative, '/' separated) below the directory, with the platform's separators.
  std::string file(const std::string& name) const;

 private:
  std::string m_path;
  std::string m_previous_dir;
};

// Writes `content` into the file `path`, creating or truncating it. Returns true on success.
bool write_file(const std::string& path, const std::string& content);

// The whole content of the file `path`, or an empty string when it cannot be read.
std::string read_file(const std::string& path);

// Whether something of the name `path` exists.
bool path_exists(const std::string& path);

// Every file and directory below `path`, as relative names with '/' separators, sorted; directories
// end in '/'.
std::vector<std::string> tree_listing(const std::string& path);

// Sets an environment variable of this process (and of the programs it starts) for one scope and
// then restores the old value.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* m_name;
  std::string m_old;
  bool m_was_set = false;
};
