// SPDX-License-Identifier: Zlib
// Who and where the process is, on Windows: the platform, the user, the executable, the
// environment, the current directory.

#include <windows.h>
#include <process.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "platform/win32_internal.hpp"
#include "platform/win32_paths.hpp"

namespace platform {

PlatformKind platform_kind() { return PlatformKind::Windows; }

int restrict_library_search() {
  // Looked up, not imported: a Windows 7 without KB2533623 lacks it and must still start the
  // package.
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  FARPROC found = kernel != nullptr ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
  if (found == nullptr) {
    return ENOSYS;
  }
  using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);
  auto set_default_dll_directories =
      reinterpret_cast<SetDefaultDllDirectoriesCall>(reinterpret_cast<void (*)()>(found));
  return set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32) ? 0 : last_errno();
}

std::string current_directory() {
  // Asked for its size first: the directory may be of any length.
  DWORD size = GetCurrentDirectoryA(0, nullptr);
  if (size == 0) {
    return std::string();
  }
  std::vector<char> buffer(static_cast<std::size_t>(size) + 1, '\0');
  DWORD length = GetCurrentDirectoryA(size, buffer.data());
  if (length == 0 || length >= size) {
    return std::string();
  }
  return std::string(buffer.data(), length);
}

std::string executable_path() {
  // A name that does not fit comes back cut, as long as the buffer (with
  // ERROR_INSUFFICIENT_BUFFER): the buffer grows until the name is shorter.
  std::wstring wide(MAX_PATH, L'\0');
  DWORD length = 0;
  while ((length = GetModuleFileNameW(nullptr, &wide[0], static_cast<DWORD>(wide.size()))) >=
         wide.size()) {
    if (wide.size() > 0x10000) {
      return std::string();
    }
    wide.resize(wide.size() * 2);
  }
  // At most three UTF-8 bytes for each UTF-16 unit; 0 (unknown) gives an empty name.
  std::string name(length * 3, '\0');
  int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(length), &name[0],
                                 static_cast<int>(name.size()), nullptr, nullptr);
  name.resize(static_cast<std::size_t>(size));
  return name;
}

std::FILE* open_own_executable() {
  // Opened through the "\\?\" form of the name, which no length limit applies to.
  std::wstring wide;
  int error = extended_length_path(executable_path(), wide);
  if (error != 0) {
    errno = error;
    return nullptr;
  }
  return _wfopen(wide.c_str(), L"rb");
}

int set_current_directory(const std::string& path) {
  return SetCurrentDirectoryA(path.c_str()) ? 0 : last_errno();
}

int full_path(const std::string& path, int capacity, std::string& out) {
  std::vector<char> buffer(static_cast<std::size_t>(capacity), '\0');
  DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(capacity), buffer.data(), nullptr);
  if (length == 0) {
    return last_errno();
  }
  if (length >= static_cast<DWORD>(capacity)) {
    return ENAMETOOLONG;
  }
  out.assign(buffer.data(), length);
  return 0;
}

int user_name(std::string& out) {
  char buffer[256] = {0};
  DWORD size = sizeof buffer;
  if (!GetUserNameA(buffer, &size)) {
    return last_errno();
  }
  out = buffer;
  return 0;
}

int set_environment_variable(const char* name, const std::string& value) {
  if (!SetEnvironmentVariableA(name, value.c_str())) {
    return last_errno();
  }
  // The runtime keeps its own copy of the environment for getenv; keep it in step.
  (void)_putenv_s(name, value.c_str());
  return 0;
}

int unset_environment_variable(const char* name) {
  if (!SetEnvironmentVariableA(name, nullptr)) {
    return last_errno();
  }
  (void)_putenv_s(name, "");
  return 0;
}

std::vector<std::string> environment_entries() {
  // The runtime's copy, kept in step by set_environment_variable; UTF-8 like every ANSI text here.
  std::vector<std::string> entries;
  for (char** entry = _environ; entry != nullptr && *entry != nullptr; ++entry) {
    entries.emplace_back(*entry);
  }
  return entries;
}

}  // namespace platform
