// SPDX-License-Identifier: Zlib
#include "generator/stub_location.hpp"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::vector<std::string> stub_candidates(const std::string& program_path, TargetPlatform target,
                                         StubKind kind) {
  if (program_path.empty()) {
    return {};
  }
  bool windows = target == TargetPlatform::Windows;
  const char* stub = !windows                           ? "sfx_stub"
                     : kind == StubKind::Administrator ? "sfx_stub_admin.exe"
                                                       : "sfx_stub.exe";
  const char* platform = windows ? "windows-x86_64" : "linux-x86_64";
  fs::path bin = fs::path(program_path).parent_path();
  fs::path installed = bin / ".." / "lib" / "sfxkit" / "stubs" / platform / stub;
  // Where earlier installations put them: such an installation keeps working.
  fs::path installed_before = bin / ".." / "share" / "sfxkit" / "stubs" / platform / stub;
  fs::path other_build = bin / ".." / (windows ? "windows" : "native") / stub;
  return {installed.lexically_normal().string(), installed_before.lexically_normal().string(),
          (bin / stub).lexically_normal().string(), other_build.lexically_normal().string()};
}

std::string find_stub(const std::string& program_path, TargetPlatform target, StubKind kind) {
  for (const std::string& candidate : stub_candidates(program_path, target, kind)) {
    std::error_code failure;
    if (fs::is_regular_file(candidate, failure)) {
      return candidate;
    }
  }
  return std::string();
}
