// SPDX-License-Identifier: Zlib
#pragma once

// Runs a program as its own process, the way a user would from a prompt, and collects what it
// wrote. Output goes through files, never pipes: under Wine a pipe may stay open after the program
// has ended.

#include <string>
#include <vector>

struct ProcessResult {
  int status = -1;
  // Standard output and standard error, with CRLF line ends turned into LF.
  std::string out;
  std::string err;
};

// Quotes `word` for the platform's shell (cmd on Windows, /bin/sh elsewhere).
std::string quote_for_shell(const std::string& word);

// Runs `command`, a line for the platform's shell, with standard input from the null device and
// its output into files in `scratch_dir`, and returns its status and output.
ProcessResult run_command_line(const std::string& command, const std::string& scratch_dir);

// Runs `program` with `arguments` through the platform's shell, standard input from the null
// device, output into files in `scratch_dir`, and returns its status and output.
ProcessResult run_process(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& scratch_dir);

// Runs `program` as run_process does, with `start_dir` as its current directory and its parent
// standing elsewhere. Windows does not let anybody remove a directory that is some process's
// current directory, so there cmd's "start /D" starts it the way Explorer does: in that folder,
// with the parent outside it.
ProcessResult run_process_in(const std::string& start_dir, const std::string& program,
                             const std::vector<std::string>& arguments,
                             const std::string& scratch_dir);
