// The platform layer for Linux and other POSIX systems.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <sys/types.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <vector>

#include "platform/platform.hpp"

#include "common/cursor_report.hpp"
#include "common/dos_time.hpp"
#include "common/shell_words.hpp"

namespace platform {

namespace {

// The one process-wide variable outside the run. A signal handler can safely do no more than
// store into a volatile sig_atomic_t, so the number of the signal that asked the stub to end is
// kept here until the run looks at its next step (termination_requested); 0 while none came.
volatile std::sig_atomic_t g_termination_signal = 0;

void note_termination(int signal_number) { g_termination_signal = signal_number; }

// The signals that ask the stub to end and are taken note of instead.
constexpr int k_termination_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Puts a terminal into non-canonical mode without echo for the lifetime of the object.
class RawTerminal {
 public:
  explicit RawTerminal(int fd) : m_fd(fd) {
    if (tcgetattr(fd, &m_saved) == 0) {
      termios raw = m_saved;
      raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
      raw.c_cc[VMIN] = 1;
      raw.c_cc[VTIME] = 0;
      m_active = tcsetattr(fd, TCSANOW, &raw) == 0;
    }
  }
  ~RawTerminal() {
    if (m_active) {
      tcsetattr(m_fd, TCSANOW, &m_saved);
    }
  }
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;
  bool active() const { return m_active; }

 private:
  int m_fd;
  termios m_saved{};
  bool m_active = false;
};

class Fd {
 public:
  explicit Fd(int fd) : m_fd(fd) {}
  ~Fd() {
    if (m_fd >= 0) {
      close(m_fd);
    }
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return m_fd; }

 private:
  int m_fd;
};

long long monotonic_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Reads one byte from `fd`, waiting at most until `deadline_ms` (monotonic clock, ms); a deadline
// that has passed still takes a byte that is already there.
bool read_byte_before(int fd, long long deadline_ms, char& byte) {
  for (;;) {
    long long left = deadline_ms - monotonic_ms();
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0) {
      return false;
    }
    return read(fd, &byte, 1) == 1;
  }
}

// Whether this process's group is the terminal's foreground group. Anyone else who changes the
// terminal's settings, writes to it or reads from it is stopped by the job-control shell
// (SIGTTOU, SIGTTIN), so a run in the background must leave the terminal alone.
bool owns_terminal(int fd) { return tcgetpgrp(fd) == getpgrp(); }

// The number of bytes waiting in the terminal's input; in non-canonical mode every byte counts,
// also those of a line not yet ended.
int pending_input(int fd) {
  int count = 0;
  return ioctl(fd, FIONREAD, &count) == 0 ? count : 0;
}

// Holds back the signals a user sends from the keyboard, and termination requests, for the
// lifetime of the object: while the terminal is switched for a moment, they are acted on after its
// settings are back.
class HeldSignals {
 public:
  HeldSignals() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal_number : {SIGINT, SIGQUIT, SIGTSTP, SIGTERM, SIGHUP}) {
      sigaddset(&held, signal_number);
    }
    sigprocmask(SIG_BLOCK, &held, &m_saved);
  }
  ~HeldSignals() { sigprocmask(SIG_SETMASK, &m_saved, nullptr); }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t m_saved{};
};

// Reads the cursor-position report byte by byte into `parser` until it is complete, a byte shows
// that what came is no report, or `deadline_ms` passes (Partial).
CursorReportParser::Progress read_cursor_report(int fd, CursorReportParser& parser,
                                                long long deadline_ms) {
  char byte = 0;
  while (read_byte_before(fd, deadline_ms, byte)) {
    CursorReportParser::Progress progress = parser.feed(byte);
    if (progress != CursorReportParser::Progress::Partial) {
      return progress;
    }
  }
  return CursorReportParser::Progress::Partial;
}

// Puts bytes that were read but are not the report back into the terminal's input. Many kernels
// refuse TIOCSTI (Linux 6.2 and later may have it switched off); the bytes are then lost. Only a
// key pressed in the moment between the question and the terminal's answer gets here.
void give_back(int fd, const std::string& bytes) {
  for (char byte : bytes) {
    if (ioctl(fd, TIOCSTI, &byte) != 0) {
      return;
    }
  }
}

// How long the stub waits for the terminal's answer to the cursor question, and for the rest of an
// answer that has begun.
constexpr long long k_cursor_answer_ms = 100;

// The processes below `root`, found through /proc (empty where there is none), with the parent
// of each.
struct ProcessEntry {
  pid_t pid;
  pid_t parent;
};

std::vector<ProcessEntry> descendants_of(pid_t root) {
  std::vector<ProcessEntry> all;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) {
    return {};
  }
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') {
      continue;
    }
    std::string stat_path = std::string("/proc/") + entry->d_name + "/stat";
    Fd fd(open(stat_path.c_str(), O_RDONLY | O_CLOEXEC));
    char buffer[512];
    ssize_t size = fd.get() >= 0 ? read(fd.get(), buffer, sizeof buffer - 1) : -1;
    if (size <= 0) {
      continue;
    }
    buffer[size] = '\0';
    // "pid (name) state ppid ...": the name may hold blanks and parentheses, so read from the
    // last closing one.
    const char* name_end = std::strrchr(buffer, ')');
    char state = 0;
    long parent = 0;
    if (name_end != nullptr && std::sscanf(name_end + 1, " %c %ld", &state, &parent) == 2) {
      all.push_back({static_cast<pid_t>(pid), static_cast<pid_t>(parent)});
    }
  }
  closedir(proc);

  std::vector<ProcessEntry> found;
  std::vector<pid_t> parents{root};
  for (std::size_t next = 0; next < parents.size(); ++next) {
    for (const ProcessEntry& process : all) {
      if (process.parent == parents[next]) {
        found.push_back(process);
        parents.push_back(process.pid);
      }
    }
  }
  return found;
}

// Hands a request to terminate the stub on to the command that runs for it. The shell that
// `run_shell` started (`shell`, or 0 once it has ended) would die at once and leave its children
// running, so the request goes to every process below the stub.
void pass_on_termination(int signal_number, pid_t shell) {
  std::vector<ProcessEntry> below = descendants_of(getpid());
  if (below.empty() && shell > 0) {
    // No /proc to look into: the shell is all that can be reached.
    kill(shell, signal_number);
  }
  for (const ProcessEntry& process : below) {
    kill(process.pid, signal_number);
  }
}

int decode_wait_status(int wait_status) {
  if (WIFEXITED(wait_status)) {
    return WEXITSTATUS(wait_status);
  }
  if (WIFSIGNALED(wait_status)) {
    return 128 + WTERMSIG(wait_status);
  }
  return -1;
}

int remove_below(int parent_fd, const char* name);

// Removes every entry of the open directory `dir_fd` but `kept_name` (none when null). Returns the
// first errno value met, or 0.
int remove_entries(int dir_fd, const char* kept_name) {
  int dup_fd = dup(dir_fd);
  if (dup_fd < 0) {
    return errno;
  }
  DIR* dir = fdopendir(dup_fd);
  if (dir == nullptr) {
    int error = errno;
    close(dup_fd);
    return error;
  }
  // Names and types are gathered first: the directory changes while its entries go. An entry
  // that the directory says is no directory is unlinked at once, without a stat.
  std::vector<std::pair<std::string, unsigned char>> entries;
  while (dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0 &&
        (kept_name == nullptr || std::strcmp(entry->d_name, kept_name) != 0)) {
      entries.emplace_back(entry->d_name, entry->d_type);
    }
  }
  closedir(dir);
  int first_error = 0;
  for (const auto& [name, type] : entries) {
    int error = type != DT_DIR && type != DT_UNKNOWN && unlinkat(dir_fd, name.c_str(), 0) == 0
                    ? 0
                    : remove_below(dir_fd, name.c_str());
    if (first_error == 0) {
      first_error = error;
    }
  }
  return first_error;
}

// Removes `name` in `parent_fd` with everything below it; a symbolic link is removed itself.
int remove_below(int parent_fd, const char* name) {
  struct stat info {};
  if (fstatat(parent_fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno;
  }
  if (!S_ISDIR(info.st_mode)) {
    return unlinkat(parent_fd, name, 0) == 0 ? 0 : errno;
  }
  // A directory that denies us reading, writing or entering would keep its entries, and one
  // that denies reading cannot even be opened: its owner gets rwx first. glibc changes the mode
  // without following a link (through /proc); where that is not possible, a directory that can
  // be opened still gets rwx through its descriptor.
  bool opened_up = (info.st_mode & S_IRWXU) == S_IRWXU ||
                   fchmodat(parent_fd, name, (info.st_mode & 07777) | S_IRWXU,
                            AT_SYMLINK_NOFOLLOW) == 0;
  int fd = openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  int first_error = 0;
  if (fd < 0) {
    first_error = errno;
  } else {
    if (!opened_up) {
      fchmod(fd, (info.st_mode & 07777) | S_IRWXU);
    }
    first_error = remove_entries(fd, nullptr);
    close(fd);
  }
  if (unlinkat(parent_fd, name, AT_REMOVEDIR) != 0 && first_error == 0) {
    first_error = errno;
  }
  return first_error;
}

}  // namespace

PlatformKind platform_kind() { return PlatformKind::Posix; }

// The dynamic loader's search is the system's business (and the stub links only glibc).
int restrict_library_search() { return ENOSYS; }

ConsoleCursor query_console_cursor() {
  ConsoleCursor cursor;
  if (!isatty(STDOUT_FILENO)) {
    return cursor;
  }
  Fd tty(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (tty.get() < 0) {
    return cursor;
  }
  // Without an answer the terminal counts as one in use: no pause.
  ConsoleCursor in_use;
  in_use.is_console = true;
  in_use.row = -1;
  in_use.column = -1;
  if (!owns_terminal(tty.get())) {
    return in_use;
  }
  // Declared first, so that the signals are let through only once the settings are back.
  HeldSignals held;
  RawTerminal raw(tty.get());
  if (!raw.active()) {
    return cursor;
  }
  // Keys typed ahead are the command's. The answer would queue up behind them, and they cannot be
  // read past without being taken, so the terminal is not asked; somebody is at work in it.
  if (pending_input(tty.get()) > 0) {
    return in_use;
  }
  // Ask for the cursor position report: the terminal answers ESC [ row ; column R.
  static const char k_request[] = "\033[6n";
  if (write(tty.get(), k_request, sizeof k_request - 1) !=
      static_cast<ssize_t>(sizeof k_request - 1)) {
    return cursor;
  }
  CursorReportParser report;
  CursorReportParser::Progress progress =
      read_cursor_report(tty.get(), report, monotonic_ms() + k_cursor_answer_ms);
  if (progress != CursorReportParser::Progress::Complete) {
    if (progress == CursorReportParser::Progress::Mismatch) {
      // A key pressed before the answer came; the answer is still on its way.
      give_back(tty.get(), report.taken());
      report = CursorReportParser();
    }
    in_use.report_late = true;
    in_use.late_report = report;
    return in_use;
  }
  cursor.is_console = true;
  cursor.row = report.row() - 1;
  cursor.column = report.column() - 1;
  return cursor;
}

// A terminal may answer the cursor question after the stub stopped waiting, e.g. over a slow
// remote connection. Its answer would then reach the command as if typed, so the cursor query
// says that the answer is late, with whatever part of it came already, and the run drops it
// before the terminal is handed on.
// There is no way to look at a terminal's input without taking it, so the stub takes bytes only
// while they can be the report: it checks without waiting whether anything came, reads byte by
// byte, waits a moment for the rest only once a report has begun, and stops at the first byte
// that cannot belong to it (given back where the kernel allows). Keys typed after the report stay
// where they are. An answer that comes even later than this reaches the command.
void drop_late_cursor_report(ConsoleCursor& cursor) {
  if (!cursor.report_late) {
    return;
  }
  cursor.report_late = false;
  Fd tty(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (tty.get() < 0 || !owns_terminal(tty.get())) {
    return;
  }
  HeldSignals held;
  RawTerminal raw(tty.get());
  if (!raw.active()) {
    return;
  }
  CursorReportParser& report = cursor.late_report;
  long long deadline = monotonic_ms() + (report.started() ? k_cursor_answer_ms : 0);
  char byte = 0;
  while (read_byte_before(tty.get(), deadline, byte)) {
    CursorReportParser::Progress progress = report.feed(byte);
    if (progress == CursorReportParser::Progress::Mismatch) {
      give_back(tty.get(), report.taken());
    }
    if (progress != CursorReportParser::Progress::Partial) {
      return;
    }
    deadline = monotonic_ms() + k_cursor_answer_ms;
  }
}

void wait_for_key() {
  Fd tty(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  // A run sent to the background after it started would be stopped for reading the terminal.
  if (tty.get() < 0 || !owns_terminal(tty.get())) {
    return;
  }
  // The termination signals are let in only while ppoll waits, so a request cannot slip in
  // between the look at the flag and the wait, which would then go on until a key came.
  sigset_t held, saved;
  sigemptyset(&held);
  for (int signal_number : k_termination_signals) {
    sigaddset(&held, signal_number);
  }
  sigprocmask(SIG_BLOCK, &held, &saved);
  {
    RawTerminal raw(tty.get());
    pollfd p{tty.get(), POLLIN, 0};
    while (g_termination_signal == 0) {
      if (ppoll(&p, 1, nullptr, &saved) > 0) {
        // A key, or a terminal that hung up (the read then returns at once).
        char byte = 0;
        (void)read(tty.get(), &byte, 1);
        break;
      }
      if (errno != EINTR) {
        break;
      }
    }
  }
  sigprocmask(SIG_SETMASK, &saved, nullptr);
}

void watch_for_termination() {
  struct sigaction note {};
  note.sa_handler = note_termination;
  sigemptyset(&note.sa_mask);
  // Without SA_RESTART: a wait that a request interrupts returns, so the run can act on it.
  note.sa_flags = 0;
  for (int signal_number : k_termination_signals) {
    struct sigaction current {};
    // A signal ignored from the start (a background job of a shell without job control) stays
    // ignored, as it would for any other program.
    if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
      continue;
    }
    sigaction(signal_number, &note, nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

bool termination_requested(int& signal_number) {
  int noted = g_termination_signal;
  if (noted == 0) {
    return false;
  }
  signal_number = noted;
  return true;
}

bool is_terminal(StandardStream stream) {
  return isatty(stream == StandardStream::Output ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

int write_standard_stream(StandardStream stream, const char* data, std::size_t size) {
  std::FILE* file = stream == StandardStream::Output ? stdout : stderr;
  errno = 0;
  if (size > 0 && std::fwrite(data, 1, size, file) != size) {
    return errno != 0 ? errno : EIO;
  }
  return 0;
}

std::string current_directory() {
  // glibc sizes the buffer itself, however deep the directory is.
  std::unique_ptr<char, decltype(&std::free)> path(getcwd(nullptr, 0), &std::free);
  return path == nullptr ? std::string() : std::string(path.get());
}

std::string executable_path(int capacity) {
  std::vector<char> buffer(static_cast<std::size_t>(capacity) + 1, '\0');
  ssize_t length = readlink("/proc/self/exe", buffer.data(), static_cast<std::size_t>(capacity - 1));
  if (length <= 0) {
    return std::string();
  }
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

void sleep_milliseconds(int milliseconds) {
  struct timespec delay = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

int set_current_directory(const std::string& path) { return chdir(path.c_str()) == 0 ? 0 : errno; }

int full_path(const std::string& path, int capacity, std::string& out) {
  std::string joined = path;
  if (path.empty() || path[0] != '/') {
    std::string cwd = current_directory();
    if (cwd.empty()) {
      return errno != 0 ? errno : ENOENT;
    }
    joined = cwd + "/" + path;
  }
  // Take "." and ".." out by name, like the Windows call does; links are not resolved.
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  while (start <= joined.size()) {
    std::string::size_type end = joined.find('/', start);
    if (end == std::string::npos) {
      end = joined.size();
    }
    std::string part = joined.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) {
        parts.pop_back();
      }
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string result;
  for (const std::string& part : parts) {
    result += "/" + part;
  }
  if (result.empty()) {
    result = "/";
  }
  if (result.size() + 1 > static_cast<std::size_t>(capacity)) {
    return ENAMETOOLONG;
  }
  out = result;
  return 0;
}

int process_id() { return static_cast<int>(getpid()); }

int user_name(std::string& out) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  int error = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found);
  if (error == 0 && found != nullptr && found->pw_name != nullptr && found->pw_name[0] != '\0') {
    out = found->pw_name;
    return 0;
  }
  const char* user = std::getenv("USER");
  if (user != nullptr && user[0] != '\0') {
    out = user;
    return 0;
  }
  return error != 0 ? error : ENOENT;
}

int set_environment_variable(const char* name, const std::string& value) {
  return setenv(name, value.c_str(), 1) == 0 ? 0 : errno;
}

int unset_environment_variable(const char* name) { return unsetenv(name) == 0 ? 0 : errno; }

int make_directory(const std::string& path, DirectoryAccess access) {
  mode_t mode = access == DirectoryAccess::Private ? 0700 : 0777;
  return mkdir(path.c_str(), mode) == 0 ? 0 : errno;
}

std::FILE* open_output_file(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file != nullptr) {
    std::setvbuf(file, nullptr, _IONBF, 0);
  }
  return file;
}

int FileHandle::close() {
  if (!is_open()) {
    return 0;
  }
  int descriptor = static_cast<int>(m_native);
  m_native = k_closed;
  // Linux releases the descriptor even when close reports an error; it is never retried.
  return ::close(descriptor) == 0 ? 0 : errno;
}

int create_exclusive_file(const std::string& path, FileHandle& file) {
  int descriptor =
      open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (descriptor < 0) {
    return errno;
  }
  file.reset(descriptor);
  return 0;
}

int open_file_for_reading(const std::string& path, FileHandle& file) {
  int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    return errno;
  }
  file.reset(descriptor);
  return 0;
}

int read_file_at(const FileHandle& file, std::uint64_t offset, void* buffer, std::size_t size,
                 std::size_t& read) {
  read = 0;
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) {
    return EINVAL;
  }
  ssize_t count = 0;
  do {
    count = pread(static_cast<int>(file.native()), buffer, size, static_cast<off_t>(offset));
  } while (count < 0 && errno == EINTR);
  if (count < 0) {
    return errno;
  }
  read = static_cast<std::size_t>(count);
  return 0;
}

int write_file(const FileHandle& file, const void* data, std::size_t size, std::size_t& written) {
  written = 0;
  ssize_t count = 0;
  do {
    count = write(static_cast<int>(file.native()), data, size);
  } while (count < 0 && errno == EINTR);
  if (count < 0) {
    return errno;
  }
  written = static_cast<std::size_t>(count);
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
  pthread_t id;
  int error = pthread_create(
      &id, nullptr,
      [](void* opaque) -> void* {
        Start begin = *static_cast<Start*>(opaque);
        delete static_cast<Start*>(opaque);
        begin.work(begin.argument);
        return nullptr;
      },
      start);
  if (error != 0) {
    delete start;
    return error;
  }
  thread = static_cast<std::uintptr_t>(id);
  return 0;
}

void join_thread(std::uintptr_t thread) { pthread_join(static_cast<pthread_t>(thread), nullptr); }

int copy_between_files(std::FILE* from, std::uint64_t offset, const FileHandle& to,
                       std::size_t size, std::size_t& copied) {
  copied = 0;
#if defined(__linux__)
  loff_t from_offset = static_cast<loff_t>(offset);
  ssize_t count = 0;
  do {
    count = copy_file_range(fileno(from), &from_offset, static_cast<int>(to.native()), nullptr,
                            size, 0);
  } while (count < 0 && errno == EINTR);
  if (count < 0) {
    return errno;
  }
  copied = static_cast<std::size_t>(count);
  return 0;
#else
  (void)from;
  (void)offset;
  (void)to;
  (void)size;
  return ENOSYS;
#endif
}

int file_size(const FileHandle& file, std::uint64_t& size) {
  struct stat info {};
  if (fstat(static_cast<int>(file.native()), &info) != 0) {
    return errno;
  }
  size = static_cast<std::uint64_t>(info.st_size);
  return 0;
}

int query_path(const std::string& path, PathKind& kind) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    return errno;
  }
  kind = S_ISDIR(info.st_mode) ? PathKind::Directory : PathKind::Other;
  return 0;
}

int remove_file(const std::string& path) { return unlink(path.c_str()) == 0 ? 0 : errno; }

int remove_tree(const std::string& path) {
  if (path.empty()) {
    return ENOENT;
  }
  return remove_below(AT_FDCWD, path.c_str());
}

int remove_tree_contents(const std::string& path, const std::string& kept_name) {
  Fd dir(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (dir.get() < 0) {
    return errno;
  }
  return remove_entries(dir.get(), kept_name.c_str());
}

int remove_directory(const std::string& path) { return rmdir(path.c_str()) == 0 ? 0 : errno; }

int query_own_directory(const std::string& path, bool& own) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    return errno;
  }
  own = S_ISDIR(info.st_mode) && info.st_uid == geteuid();
  return 0;
}

int lock_file(const std::string& path, std::intptr_t& handle) {
  // Close-on-exec: the stub holds the lock itself until its ending has removed the directory, so
  // the command needs no copy, and a copy left in a process that outlives the run would only be
  // a descriptor leaked into it.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC,
                0600);
  if (fd < 0) {
    return errno;
  }
  struct stat info {};
  int error = 0;
  if (fstat(fd, &info) != 0) {
    error = errno;
  } else if (!S_ISREG(info.st_mode)) {
    error = EINVAL;
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = errno == EAGAIN ? EWOULDBLOCK : errno;
  }
  if (error != 0) {
    close(fd);
    return error;
  }
  handle = fd;
  return 0;
}

void unlock_file(std::intptr_t handle) {
  // Closing the last descriptor of the open file releases its flock.
  close(static_cast<int>(handle));
}

unsigned file_creation_mask() {
  // The mask can only be read by setting it; it is put back at once.
  mode_t mask = umask(077);
  umask(mask);
  return static_cast<unsigned>(mask);
}

int seek_file(std::FILE* file, std::int64_t offset, int origin) {
  return fseeko(file, static_cast<off_t>(offset), origin) == 0 ? 0 : errno;
}

std::int64_t tell_file(std::FILE* file) { return static_cast<std::int64_t>(ftello(file)); }

namespace {

// The access time left alone, the modification time `dos_date_time`; false for an invalid date.
bool modification_times(std::uint32_t dos_date_time, timespec (&times)[2]) {
  std::int64_t seconds = dos_date_time_to_local_seconds(dos_date_time);
  if (seconds == -1) {
    return false;
  }
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = 0;
  return true;
}

}  // namespace

void set_file_time(const std::string& path, std::uint32_t dos_date_time) {
  timespec times[2];
  if (modification_times(dos_date_time, times)) {
    utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
}

void set_open_file_time(std::FILE* file, std::uint32_t dos_date_time) {
  timespec times[2];
  if (modification_times(dos_date_time, times)) {
    futimens(fileno(file), times);
  }
}

int set_open_file_mode(std::FILE* file, unsigned mode) {
  return fchmod(fileno(file), static_cast<mode_t>(mode & 0777)) == 0 ? 0 : errno;
}

int file_system_info(const std::string& path, FileSystemInfo& info) {
  struct statvfs status;
  if (statvfs(path.c_str(), &status) != 0) {
    return errno;
  }
  info.free_bytes =
      static_cast<std::uint64_t>(status.f_bavail) * static_cast<std::uint64_t>(status.f_frsize);
  info.runs_programs = (status.f_flag & ST_NOEXEC) == 0;
  return 0;
}

int set_file_mode(const std::string& path, unsigned mode) {
  return chmod(path.c_str(), static_cast<mode_t>(mode & 0777)) == 0 ? 0 : errno;
}

int run_shell(const std::string& command) {
  std::fflush(nullptr);
  // An interrupt from the terminal reaches the command's processes as well; they decide, and the
  // stub waits for them.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  struct sigaction saved_int {}, saved_quit {}, saved_child {};
  sigaction(SIGINT, &ignore, &saved_int);
  sigaction(SIGQUIT, &ignore, &saved_quit);
  // An inherited SIGCHLD set to be ignored would reap the child before its status is read.
  sigaction(SIGCHLD, &default_action, &saved_child);
  // Termination requests and the child's end are taken one at a time with sigwaitinfo, so none
  // can slip in between a check and the wait.
  sigset_t awaited, saved_mask;
  sigemptyset(&awaited);
  sigaddset(&awaited, SIGTERM);
  sigaddset(&awaited, SIGHUP);
  sigaddset(&awaited, SIGCHLD);
  sigprocmask(SIG_BLOCK, &awaited, &saved_mask);
#if defined(__linux__)
  // Processes of the command whose parent ends first come to the stub, so that after a
  // termination request it can wait for them too.
  int was_subreaper = 0;
  prctl(PR_GET_CHILD_SUBREAPER, &was_subreaper);
  prctl(PR_SET_CHILD_SUBREAPER, 1);
#endif

  // A line the shell would take literally runs without it: the program is started directly, with
  // PWD set as the shell sets it. When it cannot be (not found, not executable, a script without
  // "#!"), the shell runs the line after all and reports or runs it as it always does.
  std::vector<std::string> words;
  std::vector<char*> program_arguments;
  std::string working_directory = current_directory();
  if (literal_shell_words(command, words) && !working_directory.empty()) {
    for (std::string& word : words) {
      program_arguments.push_back(&word[0]);
    }
    program_arguments.push_back(nullptr);
  }

  // A request that came just before is the stub's: the command does not start. From here on
  // SIGINT and SIGQUIT are ignored and the others are held for sigwaitinfo.
  pid_t child = g_termination_signal == 0 ? fork() : -1;
  if (child == 0) {
    sigaction(SIGINT, &saved_int, nullptr);
    sigaction(SIGQUIT, &saved_quit, nullptr);
    sigaction(SIGCHLD, &saved_child, nullptr);
    // The stub ignores a closed pipe; the command gets the usual default.
    sigaction(SIGPIPE, &default_action, nullptr);
    sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
    if (!program_arguments.empty()) {
      setenv("PWD", working_directory.c_str(), 1);
      execv(program_arguments[0], program_arguments.data());
    }
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = -1;
  bool terminating = false;
  while (child > 0) {
    int wait_status = 0;
    pid_t waited = waitpid(child, &wait_status, WNOHANG);
    if (waited == child) {
      status = decode_wait_status(wait_status);
      break;
    }
    if (waited < 0 && errno != EINTR) {
      break;
    }
    int signal_number = sigwaitinfo(&awaited, nullptr);
    if (signal_number == SIGTERM || signal_number == SIGHUP) {
      terminating = true;
      pass_on_termination(signal_number, child);
    }
  }
  // After a termination request the stub's ending must not start while processes of the command
  // still run in the extraction directory; those that lost their shell came to the stub.
  while (terminating) {
    int wait_status = 0;
    pid_t waited = waitpid(-1, &wait_status, WNOHANG);
    if (waited > 0) {
      continue;
    }
    if (waited < 0 && errno != EINTR) {
      break;
    }
    int signal_number = sigwaitinfo(&awaited, nullptr);
    if (signal_number == SIGTERM || signal_number == SIGHUP) {
      pass_on_termination(signal_number, 0);
    }
  }
  // A request that came after the command had ended has nobody left to go to.
  timespec no_wait{};
  while (sigtimedwait(&awaited, nullptr, &no_wait) > 0) {
  }
#if defined(__linux__)
  prctl(PR_SET_CHILD_SUBREAPER, was_subreaper);
#endif
  sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
  sigaction(SIGINT, &saved_int, nullptr);
  sigaction(SIGQUIT, &saved_quit, nullptr);
  sigaction(SIGCHLD, &saved_child, nullptr);
  return status;
}

}  // namespace platform
