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

// Runs `program` with `arguments` through the platform's shell, standard input from the null
// device, output into files in `scratch_dir`, and returns its status and output.
ProcessResult run_process(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& scratch_dir);
