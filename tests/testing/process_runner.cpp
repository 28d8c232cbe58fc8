// SPDX-License-Identifier: Zlib
#include "testing/process_runner.hpp"

#include "platform/platform.hpp"
#include "testing/scoped_temp_dir.hpp"
#include "workdir/path.hpp"

namespace {

bool is_windows() { return platform::platform_kind() == platform::PlatformKind::Windows; }

std::string without_carriage_returns(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (std::string::size_type i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      continue;
    }
    result += text[i];
  }
  return result;
}

}  // namespace

std::string quote_for_shell(const std::string& word) {
  if (is_windows()) {
    return "\"" + word + "\"";
  }
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

namespace {

// Runs `command` (its output redirected into `out_file` and `err_file`) through the platform's
// shell and collects the output. Every run has files of its own: under Wine a process of an earlier
// run may still hold its files open for a moment after it has ended.
ProcessResult run_redirected(std::string command, const std::string& out_file,
                             const std::string& err_file) {
  command += " <" + std::string(is_windows() ? "NUL" : "/dev/null");
  command += " >" + quote_for_shell(out_file) + " 2>" + quote_for_shell(err_file);
  if (is_windows()) {
    // cmd /c drops the first and last quote of the line; one more pair keeps the inner ones.
    command = "\"" + command + "\"";
  }
  ProcessResult result;
  // Wine's cmd.exe now and then fails to find a program that is there (status 9009, "Can't
  // recognize ... as an internal or external command") while other Wine processes start and end
  // around it. Nothing has run then, so the line runs once more; a program that is really missing
  // fails the same way again.
  for (int attempt = 0; attempt < 2; ++attempt) {
    result.status = platform::run_shell(command);
    result.out = without_carriage_returns(read_file(out_file));
    result.err = without_carriage_returns(read_file(err_file));
    (void)platform::remove_file(out_file);
    (void)platform::remove_file(err_file);
    if (!is_windows() || result.status != 9009) {
      break;
    }
  }
  return result;
}

std::string command_line(std::string command, const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments) {
    command += " " + quote_for_shell(argument);
  }
  return command;
}

}  // namespace

ProcessResult run_command_line(const std::string& command, const std::string& scratch_dir) {
  static int counter = 0;
  ++counter;
  return run_redirected(command,
                        join_path(scratch_dir, "stdout_" + std::to_string(counter) + ".txt"),
                        join_path(scratch_dir, "stderr_" + std::to_string(counter) + ".txt"));
}

ProcessResult run_process(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& scratch_dir) {
  return run_command_line(command_line(quote_for_shell(program), arguments), scratch_dir);
}

ProcessResult run_process_in(const std::string& start_dir, const std::string& program,
                             const std::vector<std::string>& arguments,
                             const std::string& scratch_dir) {
  if (!is_windows()) {
    std::string previous = platform::current_directory();
    if (platform::set_current_directory(start_dir) != 0) {
      return ProcessResult{};
    }
    ProcessResult result = run_process(program, arguments, scratch_dir);
    (void)platform::set_current_directory(previous);
    return result;
  }
  return run_command_line(command_line("start \"\" /D " + quote_for_shell(start_dir) +
                                           " /B /WAIT " + quote_for_shell(program),
                                       arguments),
                          scratch_dir);
}
