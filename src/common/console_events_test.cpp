#include "common/console_events.hpp"

#include <gtest/gtest.h>

namespace {

const char* name_of(ConsoleEvent event) {
  switch (event) {
    case ConsoleEvent::Interrupt:
      return "Ctrl-C";
    case ConsoleEvent::Break:
      return "Ctrl-Break";
    case ConsoleEvent::Close:
      return "close";
    case ConsoleEvent::Logoff:
      return "log-off";
    case ConsoleEvent::Shutdown:
      return "shutdown";
    case ConsoleEvent::Other:
      return "other";
  }
  return "?";
}

TEST(ConsoleEvents, CodesAreWindowsControlEvents) {
  EXPECT_EQ(console_event_from_code(0), ConsoleEvent::Interrupt);
  EXPECT_EQ(console_event_from_code(1), ConsoleEvent::Break);
  EXPECT_EQ(console_event_from_code(2), ConsoleEvent::Close);
  EXPECT_EQ(console_event_from_code(5), ConsoleEvent::Logoff);
  EXPECT_EQ(console_event_from_code(6), ConsoleEvent::Shutdown);
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
    ConsoleEvent event;
    RunPhase phase;
    bool note;
    bool hold;
    bool handled;
  } cases[] = {
      {ConsoleEvent::Interrupt, RunPhase::OwnWork, true, false, true},
      {ConsoleEvent::Break, RunPhase::OwnWork, true, false, true},
      {ConsoleEvent::Close, RunPhase::OwnWork, true, true, true},
      {ConsoleEvent::Logoff, RunPhase::OwnWork, true, true, true},
      {ConsoleEvent::Shutdown, RunPhase::OwnWork, true, true, true},
      {ConsoleEvent::Other, RunPhase::OwnWork, false, false, false},
      {ConsoleEvent::Interrupt, RunPhase::Command, false, false, true},
      {ConsoleEvent::Break, RunPhase::Command, false, false, true},
      {ConsoleEvent::Close, RunPhase::Command, false, true, true},
      {ConsoleEvent::Logoff, RunPhase::Command, false, true, true},
      {ConsoleEvent::Shutdown, RunPhase::Command, false, true, true},
      {ConsoleEvent::Other, RunPhase::Command, false, false, false},
  };
  for (const Case& c : cases) {
    ConsoleEventResponse response = respond_to_console_event(c.event, c.phase);
    const char* phase = c.phase == RunPhase::OwnWork ? "own work" : "command";
    EXPECT_EQ(response.note_request, c.note) << name_of(c.event) << " during " << phase;
    EXPECT_EQ(response.hold_milliseconds, c.hold ? k_console_event_hold_ms : 0)
        << name_of(c.event) << " during " << phase;
    EXPECT_EQ(response.handled, c.handled) << name_of(c.event) << " during " << phase;
  }
  // Windows waits 5 s after a close event before it ends the process itself.
  EXPECT_GT(k_console_event_hold_ms, 5000);
}

}  // namespace
