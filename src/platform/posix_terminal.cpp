// SPDX-License-Identifier: Zlib
// The terminal of the POSIX platform layer: the cursor question and its late answer, the key
// prompt, standard output and error.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

#include "common/environment.hpp"
#include "platform/console_visibility.hpp"
#include "platform/cursor_report.hpp"
#include "platform/platform.hpp"
#include "platform/posix_internal.hpp"

namespace platform {

namespace {

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

}  // namespace

ConsoleCursor query_console_cursor() {
  ConsoleCursor cursor;
  if (!isatty(STDOUT_FILENO)) {
    return cursor;
  }
  FileHandle terminal(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  int tty = descriptor_of(terminal);
  if (tty < 0) {
    return cursor;
  }
  // Without an answer the terminal counts as one in use: no pause.
  ConsoleCursor in_use;
  in_use.is_console = true;
  in_use.row = -1;
  in_use.column = -1;
  if (!owns_terminal(tty)) {
    return in_use;
  }
  // A terminal without a type, or a dumb one, is not asked: nothing there answers, and the
  // question would land in a log captured through a pseudo-terminal.
  std::string term;
  bool term_set = read_environment_variable("TERM", term);
  if (!terminal_takes_cursor_query(term_set, term)) {
    return in_use;
  }
  // Declared first, so that the signals are let through only once the settings are back.
  HeldSignals held;
  RawTerminal raw(tty);
  if (!raw.active()) {
    return cursor;
  }
  // Keys typed ahead are the command's. The answer would queue up behind them, and they cannot be
  // read past without being taken, so the terminal is not asked; somebody is at work in it.
  if (pending_input(tty) > 0) {
    return in_use;
  }
  // Ask for the cursor position report: the terminal answers ESC [ row ; column R.
  static const char k_request[] = "\033[6n";
  if (write(tty, k_request, sizeof k_request - 1) !=
      static_cast<ssize_t>(sizeof k_request - 1)) {
    return cursor;
  }
  CursorReportParser report;
  CursorReportParser::Progress progress =
      read_cursor_report(tty, report, monotonic_ms() + k_cursor_answer_ms);
  if (progress != CursorReportParser::Progress::Complete) {
    if (progress == CursorReportParser::Progress::Mismatch) {
      // A key pressed before the answer came; the answer is still on its way.
      give_back(tty, report.taken());
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
  FileHandle terminal(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  int tty = descriptor_of(terminal);
  if (tty < 0 || !owns_terminal(tty)) {
    return;
  }
  HeldSignals held;
  RawTerminal raw(tty);
  if (!raw.active()) {
    return;
  }
  CursorReportParser& report = cursor.late_report;
  long long deadline = monotonic_ms() + (report.started() ? k_cursor_answer_ms : 0);
  char byte = 0;
  while (read_byte_before(tty, deadline, byte)) {
    CursorReportParser::Progress progress = report.feed(byte);
    if (progress == CursorReportParser::Progress::Mismatch) {
      give_back(tty, report.taken());
    }
    if (progress != CursorReportParser::Progress::Partial) {
      return;
    }
    deadline = monotonic_ms() + k_cursor_answer_ms;
  }
}

void wait_for_key() {
  FileHandle terminal(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  int tty = descriptor_of(terminal);
  // A run sent to the background after it started would be stopped for reading the terminal.
  if (tty < 0 || !owns_terminal(tty)) {
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
    RawTerminal raw(tty);
    pollfd p{tty, POLLIN, 0};
    int noted = 0;
    while (!termination_requested(noted)) {
      if (ppoll(&p, 1, nullptr, &saved) > 0) {
        // A key, or a terminal that hung up (the read then returns at once).
        char byte = 0;
        (void)read(tty, &byte, 1);
        break;
      }
      if (errno != EINTR) {
        break;
      }
    }
  }
  sigprocmask(SIG_SETMASK, &saved, nullptr);
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

}  // namespace platform
