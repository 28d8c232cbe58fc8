#pragma once

// The process-wide extra-tool command lists. Entry i of one belongs to entry i of the other.

#include <string>
#include <vector>

// Filled by the payload reader with the raw extra-tool command; rewritten by the expansion into
// runnable commands.
extern std::vector<std::string> extra_tool_commands;

// Filled by the expansion: the text shown for each extra-tool command before it runs.
extern std::vector<std::string> extra_tool_display_commands;
