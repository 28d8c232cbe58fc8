// SPDX-License-Identifier: Zlib
#pragma once

// The run options record: what the command line asked for, the start directory and the stub's own
// file. One per run, owned by the run sequence; the process context gives it its starting values,
// the option parser fills it, the run sequence adjusts it, the other subsystems only read it.

#include <string>

struct SfxOptions {
  // "--sfx-extract-dir" was given with a value: the run works in `extract_dir`.
  bool extract_dir_given = false;
  // "--sfx-extract-only": only unpack, keep the unpacked files, run nothing.
  bool extract_only = false;
  // "-h" or "--help".
  bool show_help = false;
  // "-v" or "--version".
  bool show_version = false;
  // "--no", "--query" or "--online-query-psid": no extra-tool commands.
  bool skip_extra_tools = false;
  // "--sfx-no-pause": no key wait at the end.
  bool no_pause = false;
  // The value after the last "--sfx-extract-dir".
  std::string extract_dir;
  // The process's current directory at start; the run returns to it at the end.
  std::string current_dir;
  // The invocation name without directories and last extension; "-dir" is appended later.
  std::string program_name;
  // The full name of the stub's own file, for messages: the file itself is opened without it.
  std::string self_path;
  // "-d " followed by the value after the last "-d" or "--dev", or empty.
  std::string device_arg;
  // "--no_extract_list" on the command line or in the command template.
  bool no_extract_list = false;
};
