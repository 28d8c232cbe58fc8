// SPDX-License-Identifier: Zlib
#pragma once

// What the stub does when a Windows console sends it a control event: Ctrl-C, Ctrl-Break, its
// window closed, the user logging off, the system shutting down. The Windows platform layer's
// handlers act on it; the decision is kept here, apart from the system, so that it is tested on
// every build (no test can send a console the close, log-off or shutdown events).

// The control events a console sends, by the codes Windows gives them.
enum class ConsoleEvent { Interrupt, Break, Close, Logoff, Shutdown, Other };

// The event that the control code `code` (CTRL_C_EVENT = 0, CTRL_BREAK_EVENT = 1,
// CTRL_CLOSE_EVENT = 2, CTRL_LOGOFF_EVENT = 5, CTRL_SHUTDOWN_EVENT = 6) stands for; Other for any
// other code.
ConsoleEvent console_event_from_code(unsigned long code);

// Where the run stands when an event comes: at its own work (copy, extraction, ending, key
// prompt), or waiting for the payload's command, which shares the console and gets the event too.
enum class RunPhase { OwnWork, Command };

// How the handler answers an event.
struct ConsoleEventResponse {
  // The run takes it as a request to end: it stops at its next step, cleans up and fails.
  bool note_request = false;
  // How long the handler holds on before it returns. After the close, log-off and shutdown events
  // Windows ends the process as soon as the handler returns, so the handler holds it for the run
  // to clean up and end by itself, which ends the handler too.
  int hold_milliseconds = 0;
  // The handler's result: true when the event is dealt with here, false to let the system's
  // default (ending the process at once) have it.
  bool handled = false;
};

// The longest a handler holds the process: longer than Windows itself waits after a close event
// (5 s), so that it is the system, not the handler, that sets the limit.
inline constexpr int k_console_event_hold_ms = 10000;

// The answer to `event` in `phase`. During the command the event is the command's business: the
// stub neither takes note of it nor ends, and waits for the command as always.
ConsoleEventResponse respond_to_console_event(ConsoleEvent event, RunPhase phase);
