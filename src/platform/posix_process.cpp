// Processes of the POSIX platform layer: termination requests, the command's process and its
// waiting, threads.

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "platform/posix_internal.hpp"
#include "platform/thread_start.hpp"

#include "common/shell_words.hpp"

namespace platform {

namespace {

// The one process-wide variable outside the run. A signal handler can safely do no more than
// store into a volatile sig_atomic_t, so the number of the signal that asked the stub to end is
// kept here until the run looks at its next step (termination_requested); 0 while none came.
volatile std::sig_atomic_t g_termination_signal = 0;

void note_termination(int signal_number) { g_termination_signal = signal_number; }

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
    FileHandle stat_file(open(stat_path.c_str(), O_RDONLY | O_CLOEXEC));
    char buffer[512];
    ssize_t size = stat_file.is_open()
                       ? read(descriptor_of(stat_file), buffer, sizeof buffer - 1)
                       : -1;
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

}  // namespace

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

void sleep_milliseconds(int milliseconds) {
  struct timespec delay = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

int process_id() { return static_cast<int>(getpid()); }

int start_thread(void (*work)(void* argument), void* argument, std::uintptr_t& thread) {
  ThreadStart* start = new (std::nothrow) ThreadStart{work, argument};
  if (start == nullptr) {
    return ENOMEM;
  }
  pthread_t id;
  int error = pthread_create(
      &id, nullptr,
      [](void* opaque) -> void* {
        run_thread_start(opaque);
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
