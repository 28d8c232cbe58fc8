// SPDX-License-Identifier: Zlib
#include "platform/console_events.hpp"

ConsoleEvent console_event_from_code(unsigned long code) {
  switch (code) {
    case 0:
      return ConsoleEvent::Interrupt;
    case 1:
      return ConsoleEvent::Break;
    case 2:
      return ConsoleEvent::Close;
    case 5:
      return ConsoleEvent::Logoff;
    case 6:
      return ConsoleEvent::Shutdown;
    default:
      return ConsoleEvent::Other;
  }
}

ConsoleEventResponse respond_to_console_event(ConsoleEvent event, RunPhase phase) {
  ConsoleEventResponse response;
  switch (event) {
    case ConsoleEvent::Interrupt:
    case ConsoleEvent::Break:
      response.note_request = phase == RunPhase::OwnWork;
      response.handled = true;
      break;
    case ConsoleEvent::Close:
    case ConsoleEvent::Logoff:
    case ConsoleEvent::Shutdown:
      response.note_request = phase == RunPhase::OwnWork;
      response.hold_milliseconds = k_console_event_hold_ms;
      response.handled = true;
      break;
    case ConsoleEvent::Other:
      break;
  }
  return response;
}
