// SPDX-License-Identifier: Zlib
#include "driver/process_context.hpp"

namespace {

constexpr int k_full_path_capacity = 1024;

}  // namespace

void init_process_context(SfxOptions& options) {
  options.device_arg.clear();
  options.no_pause = false;
  // The start directory is taken whatever its length: the run must find its way back to it.
  options.current_dir = platform::current_directory();
  options.self_path = options.current_dir;
  // The own file's name, however long: a cut name could name another file.
  std::string module_name = platform::executable_path();
  if (!module_name.empty()) {
    options.self_path = module_name;
  }
  // Every flag starts cleared, whatever the record held.
  options.extract_dir_given = options.extract_only = false;
  options.show_help = options.show_version = options.skip_extra_tools = false;
  options.no_extract_list = false;
}

ConsoleState console_state_from_cursor(const platform::ConsoleCursor& cursor) {
  if (!cursor.is_console) {
    return ConsoleState::NoConsole;
  }
  if (cursor.column == 0 && cursor.row == 0) {
    return ConsoleState::FreshConsole;
  }
  return ConsoleState::ConsoleInUse;
}

ConsoleState detect_console_state(platform::ConsoleCursor& cursor) {
  cursor = platform::query_console_cursor();
  return console_state_from_cursor(cursor);
}

int make_absolute_path(const std::string& path, std::string& full) {
  full.clear();
  if (path.empty()) {
    return 0;
  }
  // Every path is resolved, also one that already holds a directory part: a relative work
  // directory would point nowhere once the run has changed into the extraction directory.
  return platform::full_path(path, k_full_path_capacity, full);
}
