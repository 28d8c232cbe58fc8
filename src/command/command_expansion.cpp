// SPDX-License-Identifier: Zlib
#include "command/command_expansion.hpp"

#include "common/blank.hpp"
#include "workdir/path.hpp"

namespace {

const char k_argv_placeholder[] = "%argv%";
const char k_current_dir_placeholder[] = "%current-dir%";
const char k_ca_bundle_placeholder[] = "%ca-bundle.crt%";
const char k_device_placeholder[] = "%device%";

// Replaces every occurrence of `placeholder` in `text` by `value`. The search goes on behind the
// inserted value, so a value that holds the placeholder itself is left as it is and the loop ends.
void replace_all(std::string& text, const std::string& placeholder, const std::string& value) {
  std::string::size_type position = text.find(placeholder);
  while (position != std::string::npos) {
    text.replace(position, placeholder.size(), value);
    position = text.find(placeholder, position + value.size());
  }
}

std::string current_dir_option(const std::string& current_dir, ShellSyntax syntax) {
  if (syntax == ShellSyntax::Cmd) {
    // The blank before the closing quote keeps the trailing backslash from escaping the quote
    // for programs that parse their command line with the C runtime's rules.
    return "--current-dir \"" + current_dir + "\\ \" ";
  }
  return "--current-dir " + quote_for_posix_shell(current_dir + "/") + " ";
}

std::string ca_bundle_path(const std::string& extraction_dir, ShellSyntax syntax) {
  if (syntax == ShellSyntax::Cmd) {
    return "\"" + extraction_dir + "\\ca-bundle.crt\"";
  }
  return quote_for_posix_shell(extraction_dir + "/ca-bundle.crt");
}

}  // namespace

ShellSyntax shell_syntax(TargetPlatform target) {
  return target == TargetPlatform::Windows ? ShellSyntax::Cmd : ShellSyntax::Posix;
}

std::string quote_for_posix_shell(const std::string& value) {
  std::string quoted = "\"";
  for (char c : value) {
    if (c == '$' || c == '`' || c == '"' || c == '\\') {
      quoted += '\\';
    }
    quoted += c;
  }
  return quoted + "\"";
}

std::string command_prefix(const std::string& extraction_dir, ShellSyntax syntax) {
  std::string prefix = extraction_dir + "/";
  if (syntax == ShellSyntax::Cmd) {
    to_backslashes(prefix);
  }
  return prefix;
}

std::string make_command_line(const std::string& prefix, const std::string& text,
                              ShellSyntax syntax) {
  std::string program;
  std::string::size_type rest_start = 0;
  std::string::size_type closing = std::string::npos;
  if (!text.empty() && text[0] == '"') {
    closing = text.find('"', 1);
  }
  if (closing != std::string::npos) {
    program = text.substr(1, closing - 1);
    rest_start = closing + 1;
  } else {
    while (rest_start < text.size() && !is_blank(text[rest_start])) {
      ++rest_start;
    }
    program = text.substr(0, rest_start);
  }
  std::string rest = text.substr(rest_start);
  if (syntax == ShellSyntax::Cmd) {
    return "\"\"" + prefix + program + "\"" + rest + "\"";
  }
  return quote_for_posix_shell(prefix + program) + rest;
}

ExpandedCommands expand_command_with(ShellSyntax syntax, const std::string& command_template,
                                     const std::vector<std::string>& extra_tool_commands,
                                     const ExpansionValues& values) {
  std::string prefix = command_prefix(values.extraction_dir, syntax);
  ExpandedCommands expanded;
  expanded.command = command_template;
  replace_all(expanded.command, k_argv_placeholder, values.pass_through_args);
  replace_all(expanded.command, k_current_dir_placeholder,
              current_dir_option(values.current_dir, syntax));
  replace_all(expanded.command, k_ca_bundle_placeholder,
              ca_bundle_path(values.extraction_dir, syntax));
  for (const std::string& command : extra_tool_commands) {
    std::string text = command;
    replace_all(text, k_device_placeholder, values.device_arg);
    expanded.extra_tools.push_back({make_command_line(prefix, text, syntax), text});
  }
  return expanded;
}

ExpandedCommands expand_command(TargetPlatform target, const std::string& command_template,
                                const std::vector<std::string>& extra_tool_commands,
                                const ExpansionValues& values) {
  return expand_command_with(shell_syntax(target), command_template, extra_tool_commands, values);
}
