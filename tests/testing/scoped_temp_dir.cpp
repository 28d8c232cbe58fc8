// SPDX-License-Identifier: Zlib
#include "testing/scoped_temp_dir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/environment.hpp"
#include "platform/platform.hpp"
#include "workdir/path.hpp"

namespace {

std::string system_temp_directory() {
  std::string value;
  if (read_environment_variable("TEMP", value) ||
      read_environment_variable("TMPDIR", value)) {
    return value;
  }
  return platform::platform_kind() == platform::PlatformKind::Windows ? "C:\\" : "/tmp";
}

}  // namespace

ScopedTempDir::ScopedTempDir() {
  static int counter = 0;
  m_previous_dir = platform::current_directory();
  std::string base = system_temp_directory();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string candidate = join_path(base, "sfx_test_" + std::to_string(platform::process_id()) +
                                                "_" + std::to_string(++counter));
    if (platform::make_directory(candidate, platform::DirectoryAccess::Private) == 0) {
      std::string full;
      m_path = platform::full_path(candidate, 4096, full) == 0 ? full : candidate;
      break;
    }
  }
  if (m_path.empty() || platform::set_current_directory(m_path) != 0) {
    ADD_FAILURE() << "cannot create a temporary directory under " << base;
  }
}

ScopedTempDir::~ScopedTempDir() {
  (void)platform::set_current_directory(m_previous_dir);
  if (m_path.empty()) {
    return;
  }
  if (::testing::Test::HasFailure()) {
    std::fprintf(stderr, "test files kept in %s\n", m_path.c_str());
    return;
  }
  (void)platform::remove_tree(m_path);
}

std::string ScopedTempDir::file(const std::string& name) const { return join_path(m_path, name); }

bool write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  return static_cast<bool>(out);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool path_exists(const std::string& path) {
  platform::PathKind kind;
  return platform::query_path(path, kind) == 0;
}

std::vector<std::string> tree_listing(const std::string& path) {
  std::vector<std::string> names;
  std::error_code error;
  namespace fs = std::filesystem;
  fs::path root = fs::u8path(path);
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
       it.increment(error)) {
    std::string name = it->path().lexically_relative(root).generic_string();
    if (it->is_directory(error) && !it->is_symlink(error)) {
      name += '/';
    }
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

ScopedEnvironment::ScopedEnvironment(const char* name, const std::string& value) : m_name(name) {
  m_was_set = read_environment_variable(name, m_old);
  EXPECT_EQ(platform::set_environment_variable(name, value), 0) << name;
}

ScopedEnvironment::~ScopedEnvironment() {
  if (m_was_set) {
    (void)platform::set_environment_variable(m_name, m_old);
  } else {
    (void)platform::unset_environment_variable(m_name);
  }
}
