// SPDX-License-Identifier: Zlib
// Processes of the POSIX platform layer: termination requests, the command's process and its
// waiting, threads and their semaphores.

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <signal.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
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

namespace platform {

namespace {

// One of the two process-wide variables outside the run. A signal handler may store into a
// lock-free atomic, which the second extraction thread also reads without a race: the number of
// the signal that asked the stub to end is kept here until the run looks at its next step
// (termination_requested); 0 while none came.
std::atomic<int> g_termination_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler stores into it");

void note_termination(int signal_number) { g_termination_signal = signal_number; }

// Set once, before any thread or command starts, when watch_for_termination ignored SIGXFSZ, which
// was at its default when the process started: the programs the stub starts get the default back.
bool g_file_size_signal_ignored_here = false;

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

// Waits for the command `child` to end and returns its status (-1 when it cannot be read). A
// termination request (SIGTERM or SIGHUP, held back in `awaited` with SIGCHLD) goes on to the
// command's processes, and the wait then lasts until every one of them has ended.
int wait_for_command(pid_t child, const sigset_t& awaited) {
  int status = -1;
  bool terminating = false;
  for (;;) {
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
  return status;
}

// Starts the program `path` with `arguments` and `environment` in a new process `child`, as
// posix_spawn would with the signals `defaults` set to their default and the mask `mask`; returns
// 0, or the errno value of the start or of execve (the child has then ended and is reaped).
// glibc's posix_spawn gives each of the 64 signals its disposition again in the child, two calls
// apiece, while this process waits; only the signals this process handles need it. Until it runs
// the program the child shares this process's memory (vfork): it makes system calls only, and
// every signal stays held until its handler, if it has one, is gone, so no handler of ours ever
// runs in it.
int start_program(const char* path, char* const arguments[], char* const environment[],
                  const sigset_t& defaults, const sigset_t& mask, pid_t& child) {
  sigset_t all, held;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &held);
  volatile int exec_error = 0;
  pid_t started = vfork();
  if (started == 0) {
    constexpr int k_reset[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ};
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    for (int signal_number : k_reset) {
      struct sigaction current {};
      if (sigismember(&defaults, signal_number) == 1 ||
          (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler != SIG_IGN &&
           current.sa_handler != SIG_DFL)) {
        sigaction(signal_number, &default_action, nullptr);
      }
    }
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    execve(path, arguments, environment);
    exec_error = errno;
    _exit(127);
  }
  int error = started < 0 ? errno : exec_error;
  if (started > 0 && error != 0) {
    int ignored = 0;
    while (waitpid(started, &ignored, 0) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &held, nullptr);
  child = started;
  return error;
}

// Starts `path` with `arguments` and `environment` (null-terminated arrays, built beforehand) and
// waits for it, as run_program and run_shell describe. Nothing of ours runs in the new process
// before the program: start_program sets its signals. Returns 0 with `status` set, ECANCELED
// when a request to end this process had come (nothing starts), or the errno value of the start
// (the program could not be started).
int spawn_and_wait(const char* path, char* const arguments[], char* const environment[],
                   int& status) {
  status = -1;
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

  // The command starts with the signal mask and the dispositions the stub started with: the
  // signals the stub takes note of go back to their default, unless they were ignored from the
  // start (a background job, nohup), which the stub's saved dispositions show; handlers are reset
  // by the start itself. The stub ignores a closed pipe; the command gets the usual default. The
  // file-size signal goes back to the default the stub found, when it found one.
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  if (saved_int.sa_handler != SIG_IGN) {
    sigaddset(&defaults, SIGINT);
  }
  if (saved_quit.sa_handler != SIG_IGN) {
    sigaddset(&defaults, SIGQUIT);
  }
  if (g_file_size_signal_ignored_here) {
    sigaddset(&defaults, SIGXFSZ);
  }
  // A request that came just before is the stub's: the command does not start. From here on
  // SIGINT and SIGQUIT are ignored and the others are held for sigwaitinfo.
  pid_t child = -1;
  int error = g_termination_signal == 0
                  ? start_program(path, arguments, environment, defaults, saved_mask, child)
                  : ECANCELED;
  if (error == 0) {
    status = wait_for_command(child, awaited);
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
  return error;
}

// The pointers to `texts` that posix_spawn takes, ending with a null one.
std::vector<char*> pointer_array(const std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (const std::string& text : texts) {
    // posix_spawn only reads them; its signature predates const.
    pointers.push_back(const_cast<char*>(text.c_str()));
  }
  pointers.push_back(nullptr);
  return pointers;
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
  // A write past the file-size limit fails with EFBIG instead of ending the stub without a word
  // and leaving its work directory behind.
  struct sigaction file_size {};
  if (sigaction(SIGXFSZ, &ignore, &file_size) == 0 && file_size.sa_handler != SIG_IGN) {
    g_file_size_signal_ignored_here = true;
  }
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

namespace {

// A new thread often starts on its creator's processor and waits there, beside its creator, until
// the scheduler's balancing moves it (most traced runs on a two-processor virtual machine whose
// kernel packs work onto few processors): the archive's copy beside the plan's walk, the second
// extraction and removal threads each start work that wants a processor of its own. Such a thread
// moves itself to another processor the process may use, then lets the scheduler place it freely.
void leave_creators_processor(int creator) {
  if (creator < 0 || creator >= CPU_SETSIZE || sched_getcpu() != creator) {
    return;
  }
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) {
    return;
  }
  cpu_set_t others = allowed;
  CPU_CLR(creator, &others);
  if (CPU_COUNT(&others) > 0 && sched_setaffinity(0, sizeof others, &others) == 0) {
    (void)sched_setaffinity(0, sizeof allowed, &allowed);
  }
}

}  // namespace

int start_thread(void (*work)(void* argument), void* argument, std::uintptr_t& thread) {
  ThreadStart* start = new (std::nothrow) ThreadStart{work, argument, sched_getcpu()};
  if (start == nullptr) {
    return ENOMEM;
  }
  pthread_t id;
  int error = pthread_create(
      &id, nullptr,
      [](void* opaque) -> void* {
        leave_creators_processor(static_cast<ThreadStart*>(opaque)->creator_processor);
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

int create_semaphore(unsigned count, std::uintptr_t& semaphore) {
  sem_t* made = new (std::nothrow) sem_t;
  if (made == nullptr) {
    return ENOMEM;
  }
  if (sem_init(made, 0, count) != 0) {
    int error = errno;
    delete made;
    return error;
  }
  semaphore = reinterpret_cast<std::uintptr_t>(made);
  return 0;
}

void post_semaphore(std::uintptr_t semaphore) {
  sem_post(reinterpret_cast<sem_t*>(semaphore));
}

void wait_semaphore(std::uintptr_t semaphore) {
  // The termination signals' handler is installed without SA_RESTART.
  while (sem_wait(reinterpret_cast<sem_t*>(semaphore)) != 0 && errno == EINTR) {
  }
}

void close_semaphore(std::uintptr_t semaphore) {
  sem_t* made = reinterpret_cast<sem_t*>(semaphore);
  sem_destroy(made);
  delete made;
}

void release_freed_memory() {
#if defined(__GLIBC__)
  (void)malloc_trim(0);
#endif
}

int run_program(const std::vector<std::string>& arguments,
                const std::vector<std::string>& environment, int& status) {
  status = -1;
  if (arguments.empty()) {
    return EINVAL;
  }
  std::vector<char*> argument_pointers = pointer_array(arguments);
  std::vector<char*> environment_pointers = pointer_array(environment);
  return spawn_and_wait(argument_pointers[0], argument_pointers.data(),
                        environment_pointers.data(), status);
}

int run_shell(const std::string& command) {
  const std::vector<std::string> words = {"sh", "-c", command};
  std::vector<char*> arguments = pointer_array(words);
  int status = -1;
  int error = spawn_and_wait("/bin/sh", arguments.data(), environ, status);
  // A shell that cannot be started ends as a shell's child would that cannot start its program.
  return error == 0 || error == ECANCELED ? status : 127;
}

}  // namespace platform
