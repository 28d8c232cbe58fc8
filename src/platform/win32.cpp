// The platform layer for Windows, through the ANSI forms of the kernel calls and msvcrt. The
// executable's manifest makes UTF-8 the process's code page, so the ANSI calls take UTF-8. Where a
// path may pass 260 characters (entries deep in the extracted tree: creating, querying, writing,
// timestamping, removing), the wide-character calls are used with the "\\?\" form of the path,
// which works whether or not the system's long-path policy is on.

#include <windows.h>
#include <aclapi.h>
#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

#include "platform/platform.hpp"
#include "platform/win32_paths.hpp"

#include "common/console_events.hpp"

namespace platform {

namespace {

// The one process-wide variable outside the run. Windows calls a console control handler on a
// thread of its own, at any moment; the handler only stores here the event that asked the stub to
// end (its code + 1, since Ctrl-C's code is 0), for the run to find at its next step
// (termination_requested); 0 while none came.
volatile LONG g_console_event = 0;

// Acts on `event` as respond_to_console_event answers for `phase`.
BOOL answer_console_event(DWORD event, RunPhase phase) {
  ConsoleEventResponse response = respond_to_console_event(console_event_from_code(event), phase);
  if (response.note_request) {
    InterlockedExchange(&g_console_event, static_cast<LONG>(event) + 1);
  }
  if (response.hold_milliseconds > 0) {
    // The run ends the process while this thread sleeps; returning would end it at once.
    Sleep(static_cast<DWORD>(response.hold_milliseconds));
  }
  return response.handled ? TRUE : FALSE;
}

// Installed for the whole run by watch_for_termination.
BOOL WINAPI note_console_event(DWORD event) { return answer_console_event(event, RunPhase::OwnWork); }

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
// stub keeps waiting, so that its ending still runs after the command has decided. Installed last,
// it is asked first and keeps the events from note_console_event.
BOOL WINAPI leave_console_events_to_command(DWORD event) {
  return answer_console_event(event, RunPhase::Command);
}

int remove_tree_entry(const std::wstring& path, DWORD attributes);

int remove_directory_entries(const std::wstring& path, const wchar_t* kept_name) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return last_errno();
  }
  int first_error = 0;
  do {
    if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0 ||
        (kept_name != nullptr && _wcsicmp(found.cFileName, kept_name) == 0)) {
      continue;
    }
    int error = remove_tree_entry(path + L"\\" + found.cFileName, found.dwFileAttributes);
    if (first_error == 0) {
      first_error = error;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return first_error;
}

// Removes one entry; a directory with everything below it. A junction or directory link is
// removed itself, never what it points to. `path` is in the "\\?\" form.
int remove_tree_entry(const std::wstring& path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return DeleteFileW(path.c_str()) ? 0 : last_errno();
  }
  int first_error = 0;
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    first_error = remove_directory_entries(path, nullptr);
  }
  if (!RemoveDirectoryW(path.c_str()) && first_error == 0) {
    first_error = last_errno();
  }
  return first_error;
}

bool starts_with(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

}  // namespace

std::wstring utf8_to_utf16(const std::string& text) {
  if (text.empty()) {
    return std::wstring();
  }
  int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) {
    return std::wstring();
  }
  std::wstring out(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], length);
  return out;
}

int extended_length_path(const std::string& path, std::wstring& out) {
  std::wstring wide = utf8_to_utf16(path);
  if (wide.empty()) {
    return ENOENT;
  }
  if (starts_with(wide, L"\\\\?\\")) {
    out = wide;
    return 0;
  }
  DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) {
    return last_errno();
  }
  std::wstring full(needed, L'\0');
  DWORD length = GetFullPathNameW(wide.c_str(), needed, &full[0], nullptr);
  if (length == 0) {
    return last_errno();
  }
  if (length >= needed) {
    return ENAMETOOLONG;
  }
  full.resize(length);
  if (starts_with(full, L"\\\\.\\")) {
    out = full;
  } else if (starts_with(full, L"\\\\")) {
    out = L"\\\\?\\UNC\\" + full.substr(2);
  } else {
    out = L"\\\\?\\" + full;
  }
  return 0;
}

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

void wait_for_key() {
  // _getch would wait on through a Ctrl-C (which never reaches it as a key): the key is taken only
  // once there is one, and a termination request ends the wait.
  while (!_kbhit()) {
    if (g_console_event != 0) {
      return;
    }
    Sleep(20);
  }
  (void)_getch();
}

void watch_for_termination() { SetConsoleCtrlHandler(note_console_event, TRUE); }

bool termination_requested(int& signal_number) {
  LONG noted = g_console_event;
  if (noted == 0) {
    return false;
  }
  signal_number = static_cast<int>(noted - 1);
  return true;
}

bool is_terminal(StandardStream stream) {
  DWORD mode = 0;
  return GetConsoleMode(
             GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE),
             &mode) != 0;
}

int write_standard_stream(StandardStream stream, const char* data, std::size_t size) {
  std::FILE* file = stream == StandardStream::Output ? stdout : stderr;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
    errno = 0;
    if (size > 0 && std::fwrite(data, 1, size, file) != size) {
      return errno != 0 ? errno : EIO;
    }
    return 0;
  }
  // A console takes UTF-16 whatever its output code page is, which stays the user's. What the
  // stream holds still goes first.
  std::fflush(file);
  // Line ends as the stream's text mode writes them, so the console sees what it always saw.
  std::wstring text;
  for (wchar_t c : utf8_to_utf16(std::string(data, size))) {
    if (c == L'\n') {
      text += L'\r';
    }
    text += c;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    // In pieces the console surely takes, never splitting a surrogate pair.
    std::size_t piece = text.size() - done;
    if (piece > 8192) {
      piece = 8192;
      if (text[done + piece - 1] >= 0xD800 && text[done + piece - 1] <= 0xDBFF) {
        --piece;
      }
    }
    DWORD written = 0;
    if (!WriteConsoleW(handle, text.data() + done, static_cast<DWORD>(piece), &written, nullptr) ||
        written == 0) {
      return last_errno();
    }
    done += written;
  }
  return 0;
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

std::string executable_path(int capacity) {
  std::vector<char> buffer(static_cast<std::size_t>(capacity) + 1, '\0');
  HMODULE module = GetModuleHandleA(nullptr);
  if (module == nullptr) {
    return std::string();
  }
  (void)GetModuleFileNameA(module, buffer.data(), static_cast<DWORD>(capacity));
  return std::string(buffer.data());
}

void sleep_milliseconds(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

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
  std::wstring wide;
  int error = extended_length_path(path, wide);
  if (error != 0) {
    return error;
  }
  return CreateDirectoryW(wide.c_str(), nullptr) ? 0 : last_errno();
}

std::FILE* open_output_file(const std::string& path) {
  std::wstring wide;
  int error = extended_length_path(path, wide);
  if (error != 0) {
    errno = error;
    return nullptr;
  }
  // The sharing and creation fopen's "wb" uses.
  HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = last_errno();
    return nullptr;
  }
  int descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (descriptor == -1) {
    error = errno;
    CloseHandle(handle);
    errno = error;
    return nullptr;
  }
  std::FILE* file = _fdopen(descriptor, "wb");
  if (file == nullptr) {
    error = errno;
    _close(descriptor);
    errno = error;
    return nullptr;
  }
  std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

int FileHandle::close() {
  if (!is_open()) {
    return 0;
  }
  HANDLE handle = reinterpret_cast<HANDLE>(m_native);
  m_native = k_closed;
  return CloseHandle(handle) ? 0 : last_errno();
}

int create_exclusive_file(const std::string& path, FileHandle& file) {
  std::wstring wide;
  int error = extended_length_path(path, wide);
  if (error != 0) {
    return error;
  }
  // CREATE_NEW fails on any existing name, and with FILE_FLAG_OPEN_REPARSE_POINT a link or
  // junction is never gone through. While the file is open nobody else may write, rename or delete
  // it (only reading is shared), and the handle is not inherited by the programs this process
  // starts.
  HANDLE handle =
      CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return last_errno();
  }
  file.reset(reinterpret_cast<std::intptr_t>(handle));
  return 0;
}

int open_file_for_reading(const std::string& path, FileHandle& file) {
  std::wstring wide;
  int error = extended_length_path(path, wide);
  if (error != 0) {
    return error;
  }
  HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return last_errno();
  }
  file.reset(reinterpret_cast<std::intptr_t>(handle));
  return 0;
}

int read_file_at(const FileHandle& file, std::uint64_t offset, void* buffer, std::size_t size,
                 std::size_t& read) {
  read = 0;
  // The offset goes with the call, so the handle's own position does not matter.
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xffffffffu);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD wanted = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  DWORD count = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(file.native()), buffer, wanted, &count, &at)) {
    DWORD code = GetLastError();
    return code == ERROR_HANDLE_EOF ? 0 : errno_from_win32(code);
  }
  read = count;
  return 0;
}

int start_thread(void (*work)(void* argument), void* argument, std::uintptr_t& thread) {
  struct Start {
    void (*work)(void*);
    void* argument;
  };
  Start* start = new (std::nothrow) Start{work, argument};
  if (start == nullptr) {
    return ENOMEM;
  }
  // _beginthreadex rather than CreateThread: the thread uses the C runtime.
  std::uintptr_t handle = _beginthreadex(
      nullptr, 0,
      [](void* opaque) -> unsigned {  // x86-64 has one calling convention
        Start begin = *static_cast<Start*>(opaque);
        delete static_cast<Start*>(opaque);
        begin.work(begin.argument);
        return 0;
      },
      start, 0, nullptr);
  if (handle == 0) {
    int error = errno;
    delete start;
    return error != 0 ? error : EAGAIN;
  }
  thread = handle;
  return 0;
}

void join_thread(std::uintptr_t thread) {
  HANDLE handle = reinterpret_cast<HANDLE>(thread);
  WaitForSingleObject(handle, INFINITE);
  CloseHandle(handle);
}

int copy_between_files(std::FILE*, std::uint64_t, const FileHandle&, std::size_t,
                       std::size_t& copied) {
  copied = 0;
  return ENOSYS;
}

int write_file(const FileHandle& file, const void* data, std::size_t size, std::size_t& written) {
  written = 0;
  DWORD wanted = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  DWORD count = 0;
  if (!WriteFile(reinterpret_cast<HANDLE>(file.native()), data, wanted, &count, nullptr)) {
    return last_errno();
  }
  written = count;
  return 0;
}

int file_size(const FileHandle& file, std::uint64_t& size) {
  LARGE_INTEGER length;
  if (!GetFileSizeEx(reinterpret_cast<HANDLE>(file.native()), &length)) {
    return last_errno();
  }
  size = static_cast<std::uint64_t>(length.QuadPart);
  return 0;
}

namespace {

// "\\?\" paths are taken literally: a trailing separator would double in the names below.
void drop_trailing_separators(std::wstring& wide) {
  while (wide.size() > 4 && wide.back() == L'\\' && wide[wide.size() - 2] != L':') {
    wide.pop_back();
  }
}

// The long-path form of `path` in `wide` (without trailing separators when `trimmed`) and its
// attributes. Returns 0 or an errno value.
int path_attributes(const std::string& path, bool trimmed, std::wstring& wide, DWORD& attributes) {
  int error = extended_length_path(path, wide);
  if (error != 0) {
    return error;
  }
  if (trimmed) {
    drop_trailing_separators(wide);
  }
  attributes = GetFileAttributesW(wide.c_str());
  return attributes == INVALID_FILE_ATTRIBUTES ? last_errno() : 0;
}

}  // namespace

int query_path(const std::string& path, PathKind& kind) {
  std::wstring wide;
  DWORD attributes = 0;
  int error = path_attributes(path, false, wide, attributes);
  if (error != 0) {
    return error;
  }
  kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::Other;
  return 0;
}

int remove_file(const std::string& path) { return _unlink(path.c_str()) == 0 ? 0 : errno; }

int remove_tree(const std::string& path) {
  if (path.empty()) {
    return ENOENT;
  }
  std::wstring wide;
  DWORD attributes = 0;
  int error = path_attributes(path, true, wide, attributes);
  if (error != 0) {
    return error;
  }
  return remove_tree_entry(wide, attributes);
}

int remove_tree_contents(const std::string& path, const std::string& kept_name) {
  std::wstring wide;
  int error = extended_length_path(path, wide);
  if (error != 0) {
    return error;
  }
  drop_trailing_separators(wide);
  return remove_directory_entries(wide, utf8_to_utf16(kept_name).c_str());
}

int remove_directory(const std::string& path) {
  std::wstring wide;
  int error = extended_length_path(path, wide);
  if (error != 0) {
    return error;
  }
  return RemoveDirectoryW(wide.c_str()) ? 0 : last_errno();
}

int query_own_directory(const std::string& path, bool& own) {
  std::wstring wide;
  DWORD attributes = 0;
  int error = path_attributes(path, false, wide, attributes);
  if (error != 0) {
    return error;
  }
  own = false;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return 0;
  }
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD result = GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                       &owner, nullptr, nullptr, nullptr, &descriptor);
  if (result != ERROR_SUCCESS) {
    return errno_from_win32(result);
  }
  // A member of the administrators' group gives new objects to that group, not to itself.
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    for (TOKEN_INFORMATION_CLASS kind : {TokenUser, TokenOwner}) {
      DWORD size = 0;
      GetTokenInformation(token, kind, nullptr, 0, &size);
      std::vector<unsigned char> buffer(size);
      if (size == 0 || !GetTokenInformation(token, kind, buffer.data(), size, &size)) {
        continue;
      }
      PSID sid = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                                   : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
      if (owner != nullptr && EqualSid(owner, sid)) {
        own = true;
      }
    }
    CloseHandle(token);
  }
  LocalFree(descriptor);
  return 0;
}

LockFileOpening lock_file_opening() {
  LockFileOpening opening;
  opening.access = GENERIC_READ | GENERIC_WRITE;
  // Nobody else may open the file while the lock is held, not even to read it; deleting it is
  // allowed so that the ending can remove it before it lets go.
  opening.share = FILE_SHARE_DELETE;
  opening.disposition = OPEN_ALWAYS;
  // A reparse point of the name is opened itself, never followed.
  opening.flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  opening.inheritable = false;
  return opening;
}

int lock_file(const std::string& path, std::intptr_t& handle) {
  std::wstring wide;
  int error = extended_length_path(path, wide);
  if (error != 0) {
    return error;
  }
  LockFileOpening opening = lock_file_opening();
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof security;
  security.bInheritHandle = opening.inheritable ? TRUE : FALSE;
  HANDLE file = CreateFileW(wide.c_str(), opening.access, opening.share, &security,
                            opening.disposition, opening.flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    return code == ERROR_SHARING_VIOLATION ? EWOULDBLOCK : errno_from_win32(code);
  }
  // A reparse point opened as itself is no lock file.
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
    CloseHandle(file);
    return EINVAL;
  }
  handle = reinterpret_cast<std::intptr_t>(file);
  return 0;
}

void unlock_file(std::intptr_t handle) { CloseHandle(reinterpret_cast<HANDLE>(handle)); }

unsigned file_creation_mask() { return 0; }

int seek_file(std::FILE* file, std::int64_t offset, int origin) {
  return _fseeki64(file, offset, origin) == 0 ? 0 : errno;
}

std::int64_t tell_file(std::FILE* file) { return _ftelli64(file); }

namespace {

// Gives the file open as `file` the creation and modification time `dos_date_time`; the access time
// stays. An invalid DOS date (month 0, day 32, ...) converts to nothing: the file keeps its own
// time rather than whatever the uninitialised value would say.
void set_handle_time(HANDLE file, std::uint32_t dos_date_time) {
  FILETIME local, last_write;
  if (DosDateTimeToFileTime(static_cast<WORD>(dos_date_time >> 16),
                            static_cast<WORD>(dos_date_time & 0xffff), &local) &&
      LocalFileTimeToFileTime(&local, &last_write)) {
    SetFileTime(file, &last_write, nullptr, &last_write);
  }
}

}  // namespace

void set_file_time(const std::string& path, std::uint32_t dos_date_time) {
  std::wstring wide;
  if (extended_length_path(path, wide) != 0) {
    return;
  }
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return;
  }
  set_handle_time(file, dos_date_time);
  CloseHandle(file);
}

void set_open_file_time(std::FILE* file, std::uint32_t dos_date_time) {
  set_handle_time(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), dos_date_time);
}

int set_open_file_mode(std::FILE*, unsigned) { return 0; }

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
  SetConsoleCtrlHandler(leave_console_events_to_command, TRUE);
  // A request that came just before is the stub's: the command does not start.
  int status = g_console_event == 0 ? std::system(command.c_str()) : -1;
  SetConsoleCtrlHandler(leave_console_events_to_command, FALSE);
  return status;
}

}  // namespace platform
