// SPDX-License-Identifier: Zlib
#pragma once

// The only door to the operating system. Each function does one operating-system operation and
// reports failure as a return value: 0, or an errno value (Win32 codes are mapped to the nearest
// one) that the caller may hand to strerror. Nothing here prints or decides policy.
// The posix_*.cpp files implement it, one per concern (process, files, terminal, identity), and so
// do the win32_*.cpp files; the build compiles exactly one of the two sets.
// Text is UTF-8 on Windows too: the programs' manifest makes UTF-8 their code page. There,
// make_directory, open_output_file, create_exclusive_file, open_file_for_reading, query_path,
// set_file_time and remove_tree also take paths past 260 characters, whatever the system's
// long-path policy.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/cursor_report.hpp"

namespace platform {

// Which family of system this build runs on; decides path separators and the shell's quoting rules
// in the portable code above this layer.
enum class PlatformKind { Windows, Posix };

// The family of the system this build is for.
PlatformKind platform_kind();

// Lets the process load libraries from the system folder only, so that a library planted beside
// the package, in the current folder or on PATH is never loaded in place of a system one
// (Windows: SetDefaultDllDirectories with LOAD_LIBRARY_SEARCH_SYSTEM32). Called first in the
// run. Returns 0, or ENOSYS where the system lacks the call (Windows 7 without KB2533623) or
// there is nothing to restrict (Linux).
[[nodiscard]] int restrict_library_search();

// Where the console's cursor stands, zero-based. `is_console` is false when standard output is
// not a console or terminal (redirected to a file or a pipe); `row` and `column` are then
// meaningless. A terminal that this process does not own (a background job), that has keys
// typed ahead, or that did not answer in time counts as a console whose cursor is elsewhere:
// `is_console` true, `row` and `column` -1.
struct ConsoleCursor {
  bool is_console = false;
  int row = 0;
  int column = 0;
  // The terminal's answer was still on its way when the wait ended; `late_report` holds what of
  // it came. It must be dropped before the terminal is handed on (`drop_late_cursor_report`).
  bool report_late = false;
  CursorReportParser late_report;
};

// Asks the console that standard output writes to for its cursor position. On a terminal this
// asks the terminal itself and waits at most 100 ms for its answer; a terminal whose TERM is unset
// or "dumb" is not asked and counts as one in use. A Windows console at the top left that nobody
// can see (no window, a service's window station, started hidden) counts as one in use too.
ConsoleCursor query_console_cursor();

// Drops the late answer that `cursor` still waits for, as far as it has come by now, so that the
// command does not read it as typed input; keys typed after it stay. Does nothing unless
// `cursor.report_late`, which it clears.
void drop_late_cursor_report(ConsoleCursor& cursor);

// Waits for one key press on the console, without echo; returns at once when there is no console,
// and as soon as a termination request comes (`termination_requested`). The console's settings are
// restored however it returns.
void wait_for_key();

// From now on, requests to end this process are taken note of instead of ending it at once, so
// that the run can stop at its next step and still clean up: on Linux SIGINT, SIGTERM, SIGHUP and
// SIGQUIT (each unless it was ignored when the process started, as for a background job of a
// shell without job control); on Windows Ctrl-C, Ctrl-Break, the console window closed, log-off
// and shutdown. A closed pipe no longer ends the process (SIGPIPE is ignored): writes to it fail
// instead. A write past the file-size limit (`ulimit -f`) no longer ends the process either
// (SIGXFSZ is ignored, unless it was already): it fails with EFBIG. Called once, first thing in
// the run. While a command runs (`run_shell`, `run_program`),
// requests go to the command as `run_shell` describes, and are not taken note of.
void watch_for_termination();

// Whether a request to end this process came since `watch_for_termination`. When it did, sets
// `signal_number` to the signal's number on Linux, the console event's code on Windows.
bool termination_requested(int& signal_number);

enum class StandardStream { Output, Error };

// Writes the `size` bytes at `data`, UTF-8 text, to standard output or standard error. Where the
// stream is a Windows console the text goes in as UTF-16, so that it reads right whatever code
// page the console has (which stays as it is); anywhere else the bytes go out as they are, through
// the stream's stdio buffer. Returns 0 or an errno value.
[[nodiscard]] int write_standard_stream(StandardStream stream, const char* data, std::size_t size);

// Whether standard output or standard error is a terminal (a Windows console).
bool is_terminal(StandardStream stream);

// The process's current directory, however long; empty when it cannot be read.
std::string current_directory();

// The full name of the running executable, however long (never cut); empty when unknown.
std::string executable_path();

// Opens the running executable's own file for reading, as a stdio stream in binary mode: on Linux
// through /proc/self/exe, the very file the system started, whatever has its name by now and
// however long that name is; on Windows the file executable_path names, taken past 260 characters
// too. Returns the stream, or null with errno set.
std::FILE* open_own_executable();

// Changes the process's current directory to `path`. Returns 0 or an errno value.
[[nodiscard]] int set_current_directory(const std::string& path);

// Writes into `out` the full path of `path`, resolved against the current directory, with "."
// and ".." taken out and the platform's separators. Returns 0, or ENAMETOOLONG when the result
// needs `capacity` bytes or more (terminating NUL included), or another errno value.
[[nodiscard]] int full_path(const std::string& path, int capacity, std::string& out);

// Waits `milliseconds`.
void sleep_milliseconds(int milliseconds);

// This process's id.
int process_id();

// Writes the current user's login name into `out`. Returns 0 or an errno value.
[[nodiscard]] int user_name(std::string& out);

// Sets the environment variable `name` for this process and the programs it starts. Returns 0 or
// an errno value.
[[nodiscard]] int set_environment_variable(const char* name, const std::string& value);

// Removes the environment variable `name` from this process's environment. Returns 0 or an errno
// value.
[[nodiscard]] int unset_environment_variable(const char* name);

// This process's environment, one "NAME=value" entry per variable, in its own order.
std::vector<std::string> environment_entries();

// Who may enter a directory that `make_directory` creates: `Shared` lets everybody read and enter
// it, `Private` the current user alone. Nobody but its owner may ever write into it, whatever the
// umask (Linux: mode 0755 or 0700, set as it is made, which the umask can only narrow).
enum class DirectoryAccess { Shared, Private };

// Creates one directory (the parent must exist). Returns 0 or an errno value (EEXIST when the
// name exists already).
[[nodiscard]] int make_directory(const std::string& path, DirectoryAccess access);

enum class PathKind { Directory, Other };

class FileHandle;
struct OutputFolder;

// Readable and writable by the owner alone: the bits a new output file gets unless its creator
// knows that nobody else can reach it.
inline constexpr unsigned k_owner_only_bits = 0600;

// Opens the file `path` into `file` for writing, creating it or emptying an existing one, like
// fopen's "wb", but with no stream: the caller writes in large pieces with write_file, each of
// which goes to the system at once. On Windows this works for paths past 260 characters too. On
// Linux the folders on the way are entered one at a time from the current directory (or the
// root), never through a symbolic link (ELOOP then), and a symbolic link in the file's own place
// is removed, never followed, and the file created anew. A file created gets the permission bits
// `bits`, less the umask (Linux). `created` tells whether the file was made by this call rather
// than found. Returns 0 or an errno value. With `folder`, the folder that holds the file is kept
// open there, and the next file in the same folder is opened by its name alone in it (Linux;
// Windows goes by the whole path).
[[nodiscard]] int open_output_file(const std::string& path, bool& created, FileHandle& file,
                                   OutputFolder* folder = nullptr,
                                   unsigned bits = k_owner_only_bits);

// Whether a file created below the folder `path` gets exactly the permission bits it is created
// with, less the umask: no default ACL there hands other bits down. False where the file system
// cannot tell, and on Windows.
[[nodiscard]] bool creates_with_given_bits(const std::string& path);

// The folder operations of an extraction, on `path` relative to the current directory. On Linux
// the folders on the way are entered as open_output_file enters them: a symbolic link among them,
// or (for the last two) in the place of `path` itself, fails with ELOOP. Windows goes by name.
//
// Creates the folder `path`, whose parent must exist, with the permission bits `mode` (the umask
// still applies; none on Windows). Returns 0 or an errno value (EEXIST when the name exists).
[[nodiscard]] int make_directory_beneath(const std::string& path, unsigned mode);
// Gives the existing folder `path` the permission bits `mode` through a handle of the folder
// itself (Windows only checks that it is a folder). Returns 0, ENOTDIR when `path` is no folder,
// or another errno value.
[[nodiscard]] int set_directory_mode_beneath(const std::string& path, unsigned mode);
// Creates the symbolic link `path` holding `target`, in place of a file or link of that name
// (never of a folder). Returns 0 or an errno value; ENOSYS on Windows.
[[nodiscard]] int make_symbolic_link_beneath(const std::string& path, const std::string& target);

// Runs `work(argument)` on a second thread of this process; `thread` then names it for
// join_thread. Returns 0, or an errno value when no thread could be started (nothing runs then).
// The work is meant to run beside the caller's: on Linux a thread that starts on the caller's
// processor first steps to another one the process may use.
[[nodiscard]] int start_thread(void (*work)(void* argument), void* argument, std::uintptr_t& thread);

// Waits for the thread that start_thread started to end, and lets it go.
void join_thread(std::uintptr_t thread);

// A counting semaphore between the threads of this process, starting at `count`; `semaphore`
// then names it for the calls below. Returns 0 or an errno value (nothing was made then).
[[nodiscard]] int create_semaphore(unsigned count, std::uintptr_t& semaphore);
// Adds one to the count, waking one thread that waits.
void post_semaphore(std::uintptr_t semaphore);
// Waits until the count is above 0, then takes one from it. A signal does not end the wait.
void wait_semaphore(std::uintptr_t semaphore);
// Lets the semaphore go; no thread may wait for it any more.
void close_semaphore(std::uintptr_t semaphore);

// Hands the pages of memory that this process freed back to the system, where its allocator
// keeps them otherwise (glibc's keeps every page of its heap below the last one in use).
void release_freed_memory();

// An open file of the operating system's: a descriptor on Linux, a HANDLE on Windows, kept as an
// integer so that this header needs no system header. The one owner of such files in this
// program: it closes the file when it goes; the file functions below take it.
class FileHandle {
 public:
  FileHandle() = default;
  // Takes over the open file `native` (-1 for none).
  explicit FileHandle(std::intptr_t native) : m_native(native) {}
  ~FileHandle() { (void)close(); }
  FileHandle(FileHandle&& other) noexcept : m_native(other.m_native) { other.m_native = k_closed; }
  FileHandle& operator=(FileHandle&& other) noexcept {
    std::intptr_t native = other.m_native;
    other.m_native = m_native;
    m_native = native;
    return *this;
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  bool is_open() const { return m_native != k_closed; }
  std::intptr_t native() const { return m_native; }
  // Takes over the open file `native`, closing the one held before.
  void reset(std::intptr_t native) {
    (void)close();
    m_native = native;
  }
  // Closes the file. Returns 0 (also when none is open) or an errno value.
  [[nodiscard]] int close() {
    if (!is_open()) {
      return 0;
    }
    std::intptr_t native = m_native;
    m_native = k_closed;
    return close_native(native);
  }

 private:
  // Closes the open file `native` (each system's files define it). Returns 0 or an errno value;
  // the file is gone either way.
  [[nodiscard]] static int close_native(std::intptr_t native);

  // -1 is no descriptor, and no HANDLE either (INVALID_HANDLE_VALUE).
  static constexpr std::intptr_t k_closed = -1;
  std::intptr_t m_native = k_closed;
};

// The folder of the last file that open_output_file opened, for the next one: files of one folder
// usually come together, and from the second one on the folder is kept open and each file opened
// by its name alone in it. Forget it whenever a folder on the way may have been replaced.
struct OutputFolder {
  bool known = false;  // `handle` is open for `path` (or stays closed for the current directory)
  std::string path;    // the folder's path as the files' paths spell it; empty for the current one
  FileHandle handle;
  void forget() {
    known = false;
    (void)handle.close();
  }
};

// The last DOS time set_open_file_time converted, and the seconds it came to: the files of an
// archive mostly share a few times. One per thread.
struct FileTimeMemo {
  bool known = false;
  std::uint32_t dos_date_time = 0;
  std::int64_t seconds = -1;  // -1 for a date that no time stands for
};

// Creates the file `path`, which must not exist yet, for reading and writing, readable and
// writable by the current user only, and opens it into `file`. Whatever has that name already (a
// file, a folder, a symbolic link, on Windows a reparse point) makes it fail with EEXIST; a link
// is never followed. The file stays closed to programs this process starts. Returns 0 or an errno
// value.
[[nodiscard]] int create_exclusive_file(const std::string& path, FileHandle& file);

// Opens the existing file `path` for reading into `file`. Returns 0 or an errno value.
[[nodiscard]] int open_file_for_reading(const std::string& path, FileHandle& file);

// Reads up to `size` bytes at `offset` of `file` into `buffer`, whatever the file's position,
// which it does not use. Sets `read` to the number of bytes read (fewer near the file's end, 0
// at or past it). Returns 0 or an errno value. Like write_file and copy_between_files, it goes on
// after a signal interrupted it, unless a request to end the process came (termination_requested):
// it then returns EINTR.
[[nodiscard]] int read_file_at(const FileHandle& file, std::uint64_t offset, void* buffer,
                               std::size_t size, std::size_t& read);

// Copies up to `size` bytes of the file `from`, starting at `offset` (whatever the file's own
// position), to the position of `to`, which moves past them, without passing them through this
// process: copy_file_range on Linux, or sendfile between two file systems. Sets `copied` to the
// number copied: 0 at the end of `from`, and on some file systems before it, where the caller
// reads and writes the rest itself.
// Returns 0 or an errno value; ENOSYS, EXDEV, EINVAL or EOPNOTSUPP when the system cannot copy
// between these two files so (on Windows always), which asks the caller to read and write.
[[nodiscard]] int copy_between_files(const FileHandle& from, std::uint64_t offset,
                                     const FileHandle& to, std::size_t size, std::size_t& copied);

// Opens into `file` a second handle to the very file that `stream` has open (a duplicate: the
// file is not looked up by name again). Returns 0 or an errno value.
[[nodiscard]] int stream_file_handle(std::FILE* stream, FileHandle& file);

// Sets aside room for the first `size` bytes of `file` on its file system without changing its
// length (Linux fallocate, keeping the size), so that writing them later cannot run out of space.
// Returns 0 (also for a `size` of 0), EOPNOTSUPP where the file system or the system cannot
// reserve (on Windows always), or another errno value (ENOSPC when the room is not there).
[[nodiscard]] int reserve_file_space(const FileHandle& file, std::uint64_t size);

// Whether `file` lies on a file system that is reached over a network (NFS, SMB, 9P, AFS, Ceph,
// Lustre, ...) or may be (FUSE, which sshfs and many network file systems use): reading the same
// bytes twice at once there costs a second transfer. False where the system cannot tell, and on
// Windows, where the copy always comes first.
[[nodiscard]] bool is_on_network_file_system(const FileHandle& file);

// Whether reserve_file_space can ever succeed on this system: where it cannot, the code that
// builds on a reservation is left out of the program.
#if defined(_WIN32)
inline constexpr bool k_reserves_file_space = false;
#else
inline constexpr bool k_reserves_file_space = true;
#endif

// Writes up to `size` bytes from `data` at the position of `file`, which moves past them. Sets
// `written` to the number written, which may be fewer. Returns 0 or an errno value (ENOSPC for a
// full disk).
[[nodiscard]] int write_file(const FileHandle& file, const void* data, std::size_t size,
                             std::size_t& written);

// The size of the open `file` in bytes. Returns 0 and sets `size`, or an errno value.
[[nodiscard]] int file_size(const FileHandle& file, std::uint64_t& size);

// Asks the file system what `path` names. Returns 0 and sets `kind`, or an errno value (ENOENT
// when nothing of that name exists).
[[nodiscard]] int query_path(const std::string& path, PathKind& kind);

// What the file system holding a path allows this process.
struct FileSystemInfo {
  // The space it may still fill, in bytes.
  std::uint64_t free_bytes = 0;
  // Whether programs on it may be started (false on Linux for a "noexec" mount).
  bool runs_programs = true;
};

// Asks about the file system holding `path`. Returns 0 and fills `info`, or an errno value.
[[nodiscard]] int file_system_info(const std::string& path, FileSystemInfo& info);

// Deletes one file. Returns 0 or an errno value.
[[nodiscard]] int remove_file(const std::string& path);

// Deletes `path` with everything below it. Never follows a symbolic link (or junction): a link is
// removed, not what it points to. A directory that denies its owner reading, writing or entering
// (mode 000, 100, 300, ...) is opened up for the owner first. Goes on past entries it cannot
// remove and returns the first errno value it met, or 0. On Linux it holds a bounded number of
// descriptors however deep the tree, and removes a large tree on two threads (on the calling
// thread alone when no second one can start).
[[nodiscard]] int remove_tree(const std::string& path);

// Makes the directory `path`, which must be the current user's own, open to that user alone (Linux:
// mode 0700), and then deletes everything inside it but its entry `kept_name`, like remove_tree
// does below `path`; `path` itself stays. On Linux both go through one descriptor opened without
// following a link: a link at `path` fails (ENOTDIR), another user's directory too (EPERM), and
// nothing below is looked up through the name again. Returns the first errno value met, or 0.
[[nodiscard]] int empty_private_directory(const std::string& path, const std::string& kept_name);

// Deletes the empty directory `path`. Returns 0 or an errno value (ENOTEMPTY when it holds
// anything).
[[nodiscard]] int remove_directory(const std::string& path);

// Asks whether `path` itself, a symbolic link (or junction) not followed, is a directory that
// belongs to the current user (Linux: its owner is the effective user; Windows: its owner is the
// process's user or the owner it gives new objects). Returns 0 and sets `own`, or an errno value
// (ENOENT when nothing of that name exists).
[[nodiscard]] int query_own_directory(const std::string& path, bool& own);

// Opens the file `path`, creating it for the current user alone when it is missing and never
// through a symbolic link, and locks it for this open alone without waiting: Linux flock, Windows
// an open that shares nothing but deletion. The lock lasts until `unlock_file`, or until the
// process ends however it ends; programs this process starts do not inherit it. Returns 0 and
// sets `handle`, EWOULDBLOCK when somebody holds the lock already, or another errno value.
[[nodiscard]] int lock_file(const std::string& path, std::intptr_t& handle);

// Releases the lock `handle` that lock_file took and closes its file.
void unlock_file(std::intptr_t handle);

// The process's file-creation mask (the umask on Linux; 0 where the platform has none).
unsigned file_creation_mask();

// 64-bit positioning of a stdio stream; `origin` is SEEK_SET, SEEK_CUR or SEEK_END. Returns 0 or
// an errno value.
[[nodiscard]] int seek_file(std::FILE* file, std::int64_t offset, int origin);

// The 64-bit position of a stdio stream, or -1.
std::int64_t tell_file(std::FILE* file);

// Gives the file `path` the modification time `dos_date_time` (DOS date in the high 16 bits, DOS
// time in the low 16 bits, read as local time). Failures leave the file's times as they were.
void set_file_time(const std::string& path, std::uint32_t dos_date_time);

// Gives `path` the permission bits `mode` (rwx for user, group, other). Does nothing where the
// platform has no such bits. Returns 0 or an errno value.
[[nodiscard]] int set_file_mode(const std::string& path, unsigned mode);

// The same two for the file open in `file`, whose written data has been flushed: nothing is looked
// up by name again. With `memo`, a file whose time is the last one converted there gets the same
// seconds without converting again (Linux, where each conversion asks the time zone up to eight
// times; Windows converts anyway).
void set_open_file_time(const FileHandle& file, std::uint32_t dos_date_time,
                        FileTimeMemo* memo = nullptr);
[[nodiscard]] int set_open_file_mode(const FileHandle& file, unsigned mode);
[[nodiscard]] int set_open_file_mode(std::FILE* file, unsigned mode);

// Runs `command` through the platform's command interpreter (`system` on Windows, /bin/sh -c on
// Linux), inheriting the console, the environment and the current directory, and waits for it.
// While it runs, an interrupt from the console goes to the command alone, and a request to
// terminate this process is passed on to the command instead. The command starts with the signal
// mask and the signal dispositions this process started with, and the default action for a closed
// pipe. Returns the command's exit status (128 + the signal number when a signal ended it on
// Linux; 127 when the interpreter could not be started there), or -1 when a request to end this
// process had come already (`termination_requested`): the command is then not started.
int run_shell(const std::string& command);

// Starts the program `arguments[0]` (a path, not looked up on PATH) with `arguments` and the
// environment `environment` ("NAME=value" entries), and waits for it as `run_shell` waits for its
// command, which it starts alike. Returns 0 and sets `status` as `run_shell` returns it once the
// program ran; ECANCELED when a request to end this process had come already; or the errno value
// that starting it gave (ENOENT, EACCES, ENOEXEC, ...): nothing ran then. On Windows, where
// commands start through the interpreter only, always ENOSYS.
[[nodiscard]] int run_program(const std::vector<std::string>& arguments,
                              const std::vector<std::string>& environment, int& status);

}  // namespace platform

namespace platform {

// Fills `size` bytes at `buffer` from the system's random source (Linux getrandom, Windows
// RtlGenRandom): for names another user must not guess. Returns 0 or an errno value.
[[nodiscard]] int random_bytes(void* buffer, std::size_t size);

// A stdio stream for reading and writing, in binary mode, over a duplicate of the open `file`
// (closing either leaves the other open; they share the file's position). Returns the stream, or
// null with errno set.
std::FILE* open_file_stream(const FileHandle& file);

}  // namespace platform

namespace platform {

// Whether the file that `handle` (from lock_file) holds is still the one named `path`: false once
// the name is gone or names another file. On Linux a run may open a lock file just before its
// holder removes it and take the lock once the holder lets go; that lock is on a file nobody else
// can find, and locks nothing. On Windows nobody can open a locked file, so it is always true.
// Returns 0 and sets `named`, or an errno value.
[[nodiscard]] int query_lock_file_named(std::intptr_t handle, const std::string& path,
                                        bool& named);

}  // namespace platform
