#include "command/command_launch.hpp"

#include "platform/platform.hpp"

int launch_command(const PayloadResult& payload, const ExpansionValues& values,
                   TargetPlatform target, std::vector<ExtraToolCommand>& extra_tools) {
  ShellSyntax syntax = shell_syntax(target);
  ExpandedCommands expanded =
      expand_command(target, payload.command_template, payload.extra_tool_commands, values);
  extra_tools = std::move(expanded.extra_tools);
  return platform::run_shell(
      make_command_line(command_prefix(values.extraction_dir, syntax), expanded.command, syntax));
}

int run_shell_command(const std::string& command) { return platform::run_shell(command); }
