// SPDX-License-Identifier: Zlib
#pragma once

// Running the payload's command and the extra-tool commands, and how a command line starts.

#include <string>
#include <vector>

#include "command/command_expansion.hpp"

// Expands the payload's `command_template` and `extra_tool_commands` with `values` for the shell of
// `target` (the platform the stub runs on), puts the command prefix in front of the command and
// runs it (`run_command`) in the current directory (the extraction directory). Returns the
// command's result unchanged; `extra_tools` receives the extra-tool commands ready to show and to
// run.
int launch_command(const std::string& command_template,
                   const std::vector<std::string>& extra_tool_commands,
                   const ExpansionValues& values, TargetPlatform target,
                   std::vector<ExtraToolCommand>& extra_tools);

// Runs `command` (`run_command` for the shell of `target`) and returns its result unchanged.
int run_shell_command(const std::string& command, TargetPlatform target);

// Runs the command line `line`, written for a shell of `syntax`, in the current directory and
// waits for it. A Posix line that /bin/sh would take literally (`literal_shell_words`) starts its
// program directly, with PWD naming the current directory as the shell would set it; when the
// program cannot be started so (not found, not executable, a script without "#!"), and for any
// other line, the shell runs the line and starts or reports it as always. Returns the status that
// platform::run_shell describes.
int run_command(const std::string& line, ShellSyntax syntax);

// `environment` ("NAME=value" entries) with `name` set to `value`: its first entry replaced, or
// one added at the end when it has none.
std::vector<std::string> with_environment_variable(std::vector<std::string> environment,
                                                   const std::string& name,
                                                   const std::string& value);
