// SPDX-License-Identifier: Zlib
#include "platform/console_events.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

// Codes as Windows passes them to a control handler: Ctrl-C 0, Ctrl-Break 1, close 2, log-off 5,
// shutdown 6; anything else is another event.
TEST(ConsoleEvents, CodesAreWindowsControlEvents) {
  for (unsigned long code : {3ul, 4ul, 7ul, 0xfffffffful}) {
    EXPECT_EQ(console_event_from_code(code), ConsoleEvent::Other) << code;
  }
}

// At the stub's own work every request ends the run, which cleans up; after a close, log-off or
// shutdown the handler holds the process for that, since Windows ends it once the handler
// returns. During the command the command decides and the stub keeps waiting for it: it takes no
// note, and it still holds on through a close so that its ending can run once the command ended.
TEST(ConsoleEvents, RequestsEndTheRunOutsideTheCommandOnly) {
  struct Case {
    unsigned long code;
    ConsoleEvent event;
    RunPhase phase;
    bool note;
    bool hold;
    bool handled;
  } cases[] = {
      {0, ConsoleEvent::Interrupt, RunPhase::OwnWork, true, false, true},
      {1, ConsoleEvent::Break, RunPhase::OwnWork, true, false, true},
      {2, ConsoleEvent::Close, RunPhase::OwnWork, true, true, true},
      {5, ConsoleEvent::Logoff, RunPhase::OwnWork, true, true, true},
      {6, ConsoleEvent::Shutdown, RunPhase::OwnWork, true, true, true},
      {3, ConsoleEvent::Other, RunPhase::OwnWork, false, false, false},
      {0, ConsoleEvent::Interrupt, RunPhase::Command, false, false, true},
      {1, ConsoleEvent::Break, RunPhase::Command, false, false, true},
      {2, ConsoleEvent::Close, RunPhase::Command, false, true, true},
      {5, ConsoleEvent::Logoff, RunPhase::Command, false, true, true},
      {6, ConsoleEvent::Shutdown, RunPhase::Command, false, true, true},
      {3, ConsoleEvent::Other, RunPhase::Command, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("event code " + std::to_string(c.code) +
                 (c.phase == RunPhase::OwnWork ? " during own work" : " during the command"));
    EXPECT_EQ(console_event_from_code(c.code), c.event);
    ConsoleEventResponse response = respond_to_console_event(c.event, c.phase);
    EXPECT_EQ(response.note_request, c.note);
    EXPECT_EQ(response.hold_milliseconds, c.hold ? k_console_event_hold_ms : 0);
    EXPECT_EQ(response.handled, c.handled);
  }
  // Windows waits 5 s after a close event before it ends the process itself.
  EXPECT_GT(k_console_event_hold_ms, 5000);
}

}  // namespace
