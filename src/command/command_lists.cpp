#include "command/command_lists.hpp"

std::vector<std::string> extra_tool_commands;
std::vector<std::string> extra_tool_display_commands;
