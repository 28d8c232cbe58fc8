// SPDX-License-Identifier: Zlib
#pragma once

// Whether anybody can see the console the stub was started in, and so answer its key prompt. The
// platform layers gather the facts with thin system calls; the decision is kept here, apart from
// the system, so that it is tested on every build.

#include <string>

// What the Windows platform layer learns about its console, besides the cursor.
struct ConsoleFacts {
  // GetConsoleWindow() gave a window. Started with CREATE_NO_WINDOW, a console has none.
  bool has_window = false;
  // The process's window station is interactive (WSF_VISIBLE): not a service's.
  bool station_visible = false;
  // The process was started with its window hidden (STARTF_USESHOWWINDOW with SW_HIDE).
  bool started_hidden = false;
  // The console's cursor stands at the top-left corner.
  bool cursor_at_top_left = false;
};

// Whether the console is a fresh one somebody sees: its cursor at the top left, a window, an
// interactive window station and not started hidden. Whether the window itself is shown does not
// count: under Windows Terminal the console's window is a hidden stand-in for the terminal's.
bool console_is_fresh_and_seen(const ConsoleFacts& facts);

// Whether a terminal of the type `term` (the TERM variable; `term_set` false when it is unset) is
// asked for its cursor position. An unset TERM or "dumb" says nothing answers the question, whose
// bytes would only land in a captured log; the terminal then counts as one in use.
bool terminal_takes_cursor_query(bool term_set, const std::string& term);
