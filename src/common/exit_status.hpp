// SPDX-License-Identifier: Zlib
#pragma once

// The stub's own exit statuses. Any other status is the payload command's.
inline constexpr int k_exit_success = 0;
// The way back to the start directory failed at the end of the run.
inline constexpr int k_exit_return_failed = 1;
// A failure of the stub's own: bad command line, no work directory, no payload, a failed extraction.
inline constexpr int k_exit_stub_failure = 252;
// The extraction could not enter the extraction directory; the process ends at once.
inline constexpr int k_exit_abort = -1;

// The shell's status for a command it found but could not start (no permission to run it).
inline constexpr int k_status_cannot_run = 126;

// Ends the process at once with `status`, without the run's ending. The only such exit.
[[noreturn]] void exit_now(int status);
