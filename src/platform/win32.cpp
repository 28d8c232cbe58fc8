// The platform layer for Windows, through the ANSI forms of the kernel calls and msvcrt.

#include <windows.h>
#include <conio.h>
#include <direct.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/platform.hpp"

namespace platform {

namespace {

// The nearest errno value for a Win32 error code.
int errno_from_win32(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return EEXIST;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
    case ERROR_INSUFFICIENT_BUFFER:
      return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    default:
      return EINVAL;
  }
}

int last_errno() { return errno_from_win32(GetLastError()); }

// While a command runs, Ctrl-C and Ctrl-Break reach the command (it shares the console) and the
// stub keeps waiting, so that its ending still runs after the command has decided.
BOOL WINAPI ignore_console_interrupts(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

int remove_tree_entry(const std::string& path, DWORD attributes);

int remove_directory_entries(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return last_errno();
  }
  int first_error = 0;
  do {
    if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0) {
      continue;
    }
    int error = remove_tree_entry(path + "\\" + found.cFileName, found.dwFileAttributes);
    if (first_error == 0) {
      first_error = error;
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return first_error;
}

// Removes one entry; a directory with everything below it. A junction or directory link is
// removed itself, never what it points to.
int remove_tree_entry(const std::string& path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return DeleteFileA(path.c_str()) ? 0 : last_errno();
  }
  int first_error = 0;
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    first_error = remove_directory_entries(path);
  }
  if (!RemoveDirectoryA(path.c_str()) && first_error == 0) {
    first_error = last_errno();
  }
  return first_error;
}

}  // namespace

PlatformKind platform_kind() { return PlatformKind::Windows; }

ConsoleCursor query_console_cursor() {
  ConsoleCursor cursor;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
    return cursor;
  }
  cursor.is_console = true;
  cursor.row = info.dwCursorPosition.Y;
  cursor.column = info.dwCursorPosition.X;
  return cursor;
}

// A console answers at once; nothing is ever late.
void drop_late_cursor_report(ConsoleCursor& cursor) { cursor.report_late = false; }

void wait_for_key() { (void)_getch(); }

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

std::string executable_path(int capacity) {
  std::vector<char> buffer(static_cast<std::size_t>(capacity) + 1, '\0');
  HMODULE module = GetModuleHandleA(nullptr);
  if (module == nullptr) {
    return std::string();
  }
  (void)GetModuleFileNameA(module, buffer.data(), static_cast<DWORD>(capacity));
  return std::string(buffer.data());
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

int process_id() { return _getpid(); }

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

int make_directory(const std::string& path, DirectoryAccess) {
  return _mkdir(path.c_str()) == 0 ? 0 : errno;
}

int query_path(const std::string& path, PathKind& kind) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return last_errno();
  }
  kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::Other;
  return 0;
}

int remove_file(const std::string& path) { return _unlink(path.c_str()) == 0 ? 0 : errno; }

int remove_tree(const std::string& path) {
  if (path.empty()) {
    return ENOENT;
  }
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return last_errno();
  }
  return remove_tree_entry(path, attributes);
}

int seek_file(std::FILE* file, std::int64_t offset, int origin) {
  return _fseeki64(file, offset, origin) == 0 ? 0 : errno;
}

std::int64_t tell_file(std::FILE* file) { return _ftelli64(file); }

void set_file_time(const std::string& path, std::uint32_t dos_date_time) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return;
  }
  FILETIME creation, last_access, last_write, local;
  GetFileTime(file, &creation, &last_access, &last_write);
  DosDateTimeToFileTime(static_cast<WORD>(dos_date_time >> 16),
                        static_cast<WORD>(dos_date_time & 0xffff), &local);
  LocalFileTimeToFileTime(&local, &last_write);
  SetFileTime(file, &last_write, &last_access, &last_write);
  CloseHandle(file);
}

int file_system_info(const std::string& path, FileSystemInfo& info) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExA(path.c_str(), &available, nullptr, nullptr)) {
    return last_errno();
  }
  info.free_bytes = available.QuadPart;
  info.runs_programs = true;
  return 0;
}

int set_file_mode(const std::string&, unsigned) { return 0; }

int run_shell(const std::string& command) {
  std::fflush(nullptr);
  SetConsoleCtrlHandler(ignore_console_interrupts, TRUE);
  int status = std::system(command.c_str());
  SetConsoleCtrlHandler(ignore_console_interrupts, FALSE);
  return status;
}

}  // namespace platform
