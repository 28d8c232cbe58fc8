// SPDX-License-Identifier: Zlib
#include "command/command_launch.hpp"

#include <cerrno>

#include "command/shell_words.hpp"
#include "platform/platform.hpp"

int launch_command(const std::string& command_template,
                   const std::vector<std::string>& extra_tool_commands,
                   const ExpansionValues& values, TargetPlatform target,
                   std::vector<ExtraToolCommand>& extra_tools) {
  ShellSyntax syntax = shell_syntax(target);
  ExpandedCommands expanded = expand_command(target, command_template, extra_tool_commands, values);
  extra_tools = std::move(expanded.extra_tools);
  return run_command(
      make_command_line(command_prefix(values.extraction_dir, syntax), expanded.command, syntax),
      syntax);
}

int run_shell_command(const std::string& command, TargetPlatform target) {
  return run_command(command, shell_syntax(target));
}

int run_command(const std::string& line, ShellSyntax syntax) {
  std::vector<std::string> words;
  std::string directory = platform::current_directory();
  if (syntax == ShellSyntax::Posix && !directory.empty() && literal_shell_words(line, words)) {
    int status = -1;
    int error = platform::run_program(
        words, with_environment_variable(platform::environment_entries(), "PWD", directory),
        status);
    if (error == 0) {
      return status;
    }
    if (error == ECANCELED) {
      // A request to end the run had come: nothing starts, the shell neither.
      return -1;
    }
  }
  return platform::run_shell(line);
}

std::vector<std::string> with_environment_variable(std::vector<std::string> environment,
                                                   const std::string& name,
                                                   const std::string& value) {
  std::string prefix = name + "=";
  for (std::string& entry : environment) {
    if (entry.compare(0, prefix.size(), prefix) == 0) {
      entry = prefix + value;
      return environment;
    }
  }
  environment.push_back(prefix + value);
  return environment;
}
