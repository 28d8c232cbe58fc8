#include "command/command_launch.hpp"

#include "platform/platform.hpp"

// Placeholder until the launch lands.
int launch_command(const PayloadResult&, const std::string&, const std::string&,
                   const SfxOptions&) {
  return 0;
}

int set_environment_variable(const char* name, const std::string& value) {
  return platform::set_environment_variable(name, value) == 0 ? 0 : 1;
}

int run_shell_command(const std::string& command) { return platform::run_shell(command); }
