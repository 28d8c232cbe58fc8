#pragma once

// Turning the payload's command template into the command line that the shell runs: the four
// placeholders, the command prefix and the quoting that keeps the line runnable when directory
// names hold blanks or characters the shell would interpret.

#include <string>
#include <vector>

#include "common/sfx_options.hpp"

// Which command interpreter reads the lines: cmd.exe behind `system` on Windows, /bin/sh on Linux.
// The quoting rules differ; the rules are a parameter so that both sets are tested everywhere.
enum class ShellSyntax { Cmd, Posix };

// The shell syntax of the platform this build runs on.
ShellSyntax platform_shell_syntax();

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

// Expands `command_template` into `expanded` (earlier content replaced): every "%argv%" becomes
// `args` unchanged, then every "%current-dir%" the "--current-dir" option for
// `options.current_dir`, then every "%ca-bundle.crt%" the quoted path of ca-bundle.crt in
// `extraction_dir`; each pass sees what the passes before it inserted, and goes on searching
// behind the text it has just inserted, so a value holding its own placeholder cannot make it
// loop. Then rewrites each entry of `tool_commands` into its runnable command line
// (`make_command_line` over the entry with every "%device%" replaced by `options.device_arg`) and
// appends that entry's unquoted text, without prefix, to `display_commands`.
// Cmd keeps the Windows forms byte for byte: --current-dir "D:\fw\ " and "E:\x\ca-bundle.crt".
// Posix quotes both directories with `quote_for_posix_shell`: --current-dir "/home/fw/" and
// "/tmp/x/ca-bundle.crt".
void expand_command_with(ShellSyntax syntax, const std::string& command_template,
                         const std::string& args, std::string& expanded, const SfxOptions& options,
                         const std::string& extraction_dir, std::vector<std::string>& tool_commands,
                         std::vector<std::string>& display_commands);

// `expand_command_with` for this platform's shell and the process-wide `extra_tool_commands` and
// `extra_tool_display_commands`. Called once per run, after the archive has been unpacked.
void expand_command(const std::string& command_template, const std::string& args,
                    std::string& expanded, const SfxOptions& options,
                    const std::string& extraction_dir);
