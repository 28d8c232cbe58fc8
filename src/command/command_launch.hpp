#pragma once

// Running the payload's command and the extra-tool commands.

#include <string>
#include <vector>

#include "command/command_expansion.hpp"
#include "payload/payload_reader.hpp"

// Expands the payload's command template and extra-tool commands with `values` for the shell of
// `target` (the platform the stub runs on), puts the command prefix in front of the command and
// runs it through the platform's shell in the current directory (the extraction directory).
// Returns the shell's result unchanged; `extra_tools` receives the extra-tool commands ready to
// show and to run.
int launch_command(const PayloadResult& payload, const ExpansionValues& values,
                   TargetPlatform target, std::vector<ExtraToolCommand>& extra_tools);

// Runs `command` through the platform's shell and returns its result unchanged.
int run_shell_command(const std::string& command);
