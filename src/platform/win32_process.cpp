// SPDX-License-Identifier: Zlib
// Processes of the Windows platform layer: console control events, the command's process,
// threads and their semaphores.

#include <windows.h>
#include <process.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.hpp"

#include "platform/console_events.hpp"
#include "platform/thread_start.hpp"
#include "platform/win32_internal.hpp"

namespace platform {

namespace {

// The one process-wide variable outside the run. Windows calls a console control handler on a
// thread of its own, at any moment; the handler only stores here the event that asked the stub to
// end (its code + 1, since Ctrl-C's code is 0), for the run to find at its next step
// (termination_requested); 0 while none came.
std::atomic<LONG> g_console_event{0};

// Acts on `event` as respond_to_console_event answers for `phase`.
BOOL answer_console_event(DWORD event, RunPhase phase) {
  ConsoleEventResponse response = respond_to_console_event(console_event_from_code(event), phase);
  if (response.note_request) {
    g_console_event.store(static_cast<LONG>(event) + 1);
  }
  if (response.hold_milliseconds > 0) {
    // The run ends the process while this thread sleeps; returning would end it at once.
    Sleep(static_cast<DWORD>(response.hold_milliseconds));
  }
  return response.handled ? TRUE : FALSE;
}

// Installed for the whole run by watch_for_termination.
BOOL WINAPI note_console_event(DWORD event) { return answer_console_event(event, RunPhase::OwnWork); }

// While a command runs, Ctrl-C and Ctrl-Break reach the command (it shares the console) and the
// stub keeps waiting, so that its ending still runs after the command has decided. Installed last,
// it is asked first and keeps the events from note_console_event.
BOOL WINAPI leave_console_events_to_command(DWORD event) {
  return answer_console_event(event, RunPhase::Command);
}

}  // namespace

void watch_for_termination() { SetConsoleCtrlHandler(note_console_event, TRUE); }

bool termination_requested(int& signal_number) {
  LONG noted = g_console_event;
  if (noted == 0) {
    return false;
  }
  signal_number = static_cast<int>(noted - 1);
  return true;
}

void sleep_milliseconds(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

int process_id() { return _getpid(); }

int start_thread(void (*work)(void* argument), void* argument, std::uintptr_t& thread) {
  ThreadStart* start = new (std::nothrow) ThreadStart{work, argument};
  if (start == nullptr) {
    return ENOMEM;
  }
  // _beginthreadex rather than CreateThread: the thread uses the C runtime.
  std::uintptr_t handle = _beginthreadex(
      nullptr, 0,
      [](void* opaque) -> unsigned {  // x86-64 has one calling convention
        run_thread_start(opaque);
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

int create_semaphore(unsigned count, std::uintptr_t& semaphore) {
  HANDLE handle = CreateSemaphoreA(nullptr, static_cast<LONG>(count), MAXLONG, nullptr);
  if (handle == nullptr) {
    return last_errno();
  }
  semaphore = reinterpret_cast<std::uintptr_t>(handle);
  return 0;
}

void post_semaphore(std::uintptr_t semaphore) {
  ReleaseSemaphore(reinterpret_cast<HANDLE>(semaphore), 1, nullptr);
}

void wait_semaphore(std::uintptr_t semaphore) {
  WaitForSingleObject(reinterpret_cast<HANDLE>(semaphore), INFINITE);
}

void close_semaphore(std::uintptr_t semaphore) { CloseHandle(reinterpret_cast<HANDLE>(semaphore)); }

// Windows' heap decommits large freed ranges itself.
void release_freed_memory() {}

int run_shell(const std::string& command) {
  std::fflush(nullptr);
  SetConsoleCtrlHandler(leave_console_events_to_command, TRUE);
  // A request that came just before is the stub's: the command does not start.
  int status = g_console_event == 0 ? std::system(command.c_str()) : -1;
  SetConsoleCtrlHandler(leave_console_events_to_command, FALSE);
  return status;
}

// Every command goes through the interpreter (run_shell), as `system` starts it.
int run_program(const std::vector<std::string>&, const std::vector<std::string>&, int& status) {
  status = -1;
  return ENOSYS;
}

}  // namespace platform
