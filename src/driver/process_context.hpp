// SPDX-License-Identifier: Zlib
#pragma once

// What the stub learns about its own process and console before it does anything else.

#include <string>

#include "driver/sfx_options.hpp"
#include "platform/platform.hpp"

// Whether the console window was opened for this run alone.
enum class ConsoleState {
  // Standard output is not a console (redirected to a file or a pipe, or no console at all).
  NoConsole = 0,
  // A console in which something was written before the stub started.
  ConsoleInUse = 1,
  // A console whose cursor stands at the top-left corner: opened for this run and still empty.
  FreshConsole = 2,
};

// Gives `options` its starting values: every flag false, `device_arg` empty, `current_dir` the
// current directory, however long, and `self_path` the stub's own file
// (the current directory when that cannot be named). Leaves `extract_dir` and `program_name`.
void init_process_context(SfxOptions& options);

// Reads the console state from standard output's cursor, which it leaves in `cursor` (the run
// drops a late answer with it before the terminal is handed on). Call before writing anything.
ConsoleState detect_console_state(platform::ConsoleCursor& cursor);

// The console state that a cursor query answers.
ConsoleState console_state_from_cursor(const platform::ConsoleCursor& cursor);

// The full path of `path`, resolved against the current directory, in `full`. Returns 0 (an
// empty `path` gives an empty `full`), or an errno value: ENAMETOOLONG when the full path does not
// fit 1024 bytes.
[[nodiscard]] int make_absolute_path(const std::string& path, std::string& full);
