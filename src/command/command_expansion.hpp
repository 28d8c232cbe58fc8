// SPDX-License-Identifier: Zlib
#pragma once

// Turning the payload's command template into the command line that the shell runs: the four
// placeholders, the command prefix and the quoting that keeps the line runnable when directory
// names hold blanks or characters the shell would interpret.

#include <string>
#include <vector>

#include "common/target_platform.hpp"

// Which command interpreter reads the lines: cmd.exe behind `system` on Windows, /bin/sh on Linux.
// The quoting rules differ; the rules are a parameter so that both sets are tested everywhere.
enum class ShellSyntax { Cmd, Posix };

// The syntax of the shell that runs the commands on `target`.
ShellSyntax shell_syntax(TargetPlatform target);

// `value` as one double-quoted /bin/sh word, with '$', '`', '"' and '\' escaped by a backslash, so
// the shell takes every character literally.
std::string quote_for_posix_shell(const std::string& value);

// The command prefix: `extraction_dir` with a separator appended; on Cmd every '/' turned into
// '\', on Posix left as it is.
std::string command_prefix(const std::string& extraction_dir, ShellSyntax syntax);

// The line that runs `text` from the directory that `prefix` names. The program path, `prefix`
// followed by the first word of `text` (up to its first blank or tab; a first word that opens
// with a double quote runs to the closing one, and its quotes are dropped), is quoted for the
// shell; the rest of `text` follows unchanged. On Cmd the whole line gets one more pair of double
// quotes, which `cmd /c` strips, so that the inner ones survive.
std::string make_command_line(const std::string& prefix, const std::string& text,
                              ShellSyntax syntax);

// The values that the placeholders stand for in one run.
struct ExpansionValues {
  // "%argv%": the arguments passed on, as typed.
  std::string pass_through_args;
  // "%current-dir%": the directory the stub was started in.
  std::string current_dir;
  // "%device%": "-d " and the device name, or empty.
  std::string device_arg;
  // The directory the payload was unpacked into: the base of "%ca-bundle.crt%" and of the
  // command prefix.
  std::string extraction_dir;
};

// One extra-tool command after expansion: the line the shell runs and the text shown before it.
struct ExtraToolCommand {
  std::string runnable;
  std::string display;
};

struct ExpandedCommands {
  // The expanded command template, without the command prefix.
  std::string command;
  // One entry per extra-tool command, in the package's order.
  std::vector<ExtraToolCommand> extra_tools;
};

// Expands `command_template`: every "%argv%" becomes `values.pass_through_args` unchanged, then
// every "%current-dir%" the "--current-dir" option for `values.current_dir`, then every
// "%ca-bundle.crt%" the quoted path of ca-bundle.crt in `values.extraction_dir`; each pass sees
// what the passes before it inserted, and goes on searching behind the text it has just
// inserted, so a value holding its own placeholder cannot make it loop. Then turns each of
// `extra_tool_commands` into its display text (every "%device%" replaced by `values.device_arg`)
// and its runnable command line (`make_command_line` over the display text).
// Cmd keeps the Windows forms byte for byte: --current-dir "D:\fw\ " and "E:\x\ca-bundle.crt".
// Posix quotes both directories with `quote_for_posix_shell`: --current-dir "/home/fw/" and
// "/tmp/x/ca-bundle.crt".
ExpandedCommands expand_command_with(ShellSyntax syntax, const std::string& command_template,
                                     const std::vector<std::string>& extra_tool_commands,
                                     const ExpansionValues& values);

// `expand_command_with` for the shell of `target`. Called once per run, after the archive has
// been unpacked.
ExpandedCommands expand_command(TargetPlatform target, const std::string& command_template,
                                const std::vector<std::string>& extra_tool_commands,
                                const ExpansionValues& values);
