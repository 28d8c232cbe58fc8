// SPDX-License-Identifier: Zlib
// Files and folders of the Windows platform layer. Where a path may pass 260 characters, the
// wide-character calls take its "\\?\" form.

#include <windows.h>
#include <aclapi.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "platform/win32_internal.hpp"
#include "platform/win32_paths.hpp"

namespace platform {

namespace {

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

}  // namespace

int make_directory(const std::string& path, DirectoryAccess) {
  std::wstring wide;
  int error = extended_length_path(path, wide);
  if (error != 0) {
    return error;
  }
  return CreateDirectoryW(wide.c_str(), nullptr) ? 0 : last_errno();
}

int open_output_file(const std::string& path, bool& created, FileHandle& file,
                     OutputFolder* /*folder: Windows opens by the whole path*/,
                     unsigned /*bits: Windows has none*/) {
  created = false;
  std::wstring wide;
  int error = extended_length_path(path, wide);
  if (error != 0) {
    return error;
  }
  // The sharing and creation fopen's "wb" uses.
  HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return last_errno();
  }
  // CREATE_ALWAYS succeeds over an existing file and says so.
  created = GetLastError() != ERROR_ALREADY_EXISTS;
  file.reset(reinterpret_cast<std::intptr_t>(handle));
  return 0;
}

bool creates_with_given_bits(const std::string&) { return false; }

int make_directory_beneath(const std::string& path, unsigned) {
  return make_directory(path, DirectoryAccess::Shared);
}

int set_directory_mode_beneath(const std::string& path, unsigned) {
  PathKind kind = PathKind::Other;
  int error = query_path(path, kind);
  return error != 0 ? error : kind == PathKind::Directory ? 0 : ENOTDIR;
}

// Link entries are written as files holding their target on Windows.
int make_symbolic_link_beneath(const std::string&, const std::string&) { return ENOSYS; }

int FileHandle::close_native(std::intptr_t native) {
  return CloseHandle(reinterpret_cast<HANDLE>(native)) ? 0 : last_errno();
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

int copy_between_files(const FileHandle&, std::uint64_t, const FileHandle&, std::size_t,
                       std::size_t& copied) {
  copied = 0;
  return ENOSYS;
}

int stream_file_handle(std::FILE* stream, FileHandle& file) {
  HANDLE duplicate = nullptr;
  HANDLE process = GetCurrentProcess();
  if (!DuplicateHandle(process, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), process,
                       &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return last_errno();
  }
  file.reset(reinterpret_cast<std::intptr_t>(duplicate));
  return 0;
}

int reserve_file_space(const FileHandle&, std::uint64_t) { return EOPNOTSUPP; }

bool is_on_network_file_system(const FileHandle&) { return false; }

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

int empty_private_directory(const std::string& path, const std::string& kept_name) {
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

void set_open_file_time(const FileHandle& file, std::uint32_t dos_date_time, FileTimeMemo*) {
  set_handle_time(reinterpret_cast<HANDLE>(file.native()), dos_date_time);
}

int set_open_file_mode(const FileHandle&, unsigned) { return 0; }

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

}  // namespace platform
