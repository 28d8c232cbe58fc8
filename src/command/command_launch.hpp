#pragma once

// Running the payload's command, the extra-tool commands and setting "TEMP" for them.

#include <string>

#include "common/sfx_options.hpp"
#include "payload/payload_reader.hpp"

// Expands the payload's command template, puts the command prefix in front of it and runs it
// through the platform's shell in the current directory (the extraction directory). Prepares
// `extra_tool_commands` and `extra_tool_display_commands` as a side effect. Returns the shell's
// result unchanged.
int launch_command(const PayloadResult& payload, const std::string& args,
                   const std::string& extraction_dir, const SfxOptions& options);

// Sets the environment variable `name` for this process and the commands it starts. Returns 0,
// or 1 when the platform refused it.
[[nodiscard]] int set_environment_variable(const char* name, const std::string& value);

// Runs `command` through the platform's shell and returns its result unchanged.
int run_shell_command(const std::string& command);
