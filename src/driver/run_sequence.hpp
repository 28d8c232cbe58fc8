// SPDX-License-Identifier: Zlib
#pragma once

// The stub's run: options, work directory, payload, extraction, command, extra tools, ending.

// Runs the stub with the command line `argc`/`argv` and returns the exit status: the payload
// command's (or the last extra tool's) status, 252 for a failure of the stub's own, 1 when the
// way back to the start directory failed at the end.
int run_stub(int argc, const char* const* argv);
