#include "command/command_launch.hpp"

#include "command/command_expansion.hpp"
#include "platform/platform.hpp"

int launch_command(const PayloadResult& payload, const std::string& args,
                   const std::string& extraction_dir, const SfxOptions& options) {
  ShellSyntax syntax = platform_shell_syntax();
  std::string expanded;
  expand_command(payload.command_template, args, expanded, options, extraction_dir);
  return platform::run_shell(
      make_command_line(command_prefix(extraction_dir, syntax), expanded, syntax));
}

int set_environment_variable(const char* name, const std::string& value) {
  return platform::set_environment_variable(name, value) == 0 ? 0 : 1;
}

int run_shell_command(const std::string& command) { return platform::run_shell(command); }
