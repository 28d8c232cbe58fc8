// SPDX-License-Identifier: Zlib
#pragma once

// What start_thread hands the new thread on every system: the work and its argument, kept on the
// heap until the thread has taken them.

namespace platform {

struct ThreadStart {
  void (*work)(void* argument);
  void* argument;
  // The processor the creating thread ran on, where the system tells (POSIX), else -1.
  int creator_processor = -1;
};

// The new thread's first step: takes the work out of `opaque` (a ThreadStart made with new),
// frees it, and does the work.
inline void run_thread_start(void* opaque) {
  ThreadStart begin = *static_cast<ThreadStart*>(opaque);
  delete static_cast<ThreadStart*>(opaque);
  begin.work(begin.argument);
}

}  // namespace platform
