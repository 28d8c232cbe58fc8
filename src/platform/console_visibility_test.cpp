// SPDX-License-Identifier: Zlib
#include "platform/console_visibility.hpp"

#include <gtest/gtest.h>

namespace {

// Only a fresh console somebody can see waits for a key; one started out of sight would wait for
// ever. The window's own visibility is never asked: Windows Terminal hides the console's window.
TEST(ConsoleVisibility, OnlyAFreshConsoleInSightPauses) {
  struct Case {
    const char* what;
    ConsoleFacts facts;
    bool pauses;
  } cases[] = {
      // has_window, station_visible, started_hidden, cursor_at_top_left
      {"classic console, double-clicked", {true, true, false, true}, true},
      {"Windows Terminal's hidden stand-in window", {true, true, false, true}, true},
      {"classic console already written to", {true, true, false, false}, false},
      {"CREATE_NO_WINDOW: no window", {false, true, false, true}, false},
      {"a service's window station", {true, false, false, true}, false},
      {"started with SW_HIDE", {true, true, true, true}, false},
      {"nothing in its favour", {false, false, true, false}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(console_is_fresh_and_seen(c.facts), c.pauses) << c.what;
  }
}

// Without a TERM, or with "dumb", nothing answers the cursor question and its bytes would land in
// a log captured through a pseudo-terminal.
TEST(ConsoleVisibility, DumbOrUnknownTerminalsAreNotAsked) {
  EXPECT_TRUE(terminal_takes_cursor_query(true, "xterm-256color"));
  EXPECT_TRUE(terminal_takes_cursor_query(true, "linux"));
  EXPECT_FALSE(terminal_takes_cursor_query(true, "dumb"));
  EXPECT_FALSE(terminal_takes_cursor_query(true, ""));
  EXPECT_FALSE(terminal_takes_cursor_query(false, ""));
}

}  // namespace
