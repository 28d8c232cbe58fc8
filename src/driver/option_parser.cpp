// SPDX-License-Identifier: Zlib
#include "driver/option_parser.hpp"

#include <cstring>

#include "console/messages.hpp"

namespace {

void pass_on(int position, const char* argument, std::string& pass_through_args) {
  // The blank depends on the position, not on what was appended before.
  if (position > 1) {
    pass_through_args += ' ';
  }
  pass_through_args += argument;
}

bool is(const char* argument, const char* option) { return std::strcmp(argument, option) == 0; }

}  // namespace

std::string program_name_from_path(const std::string& path) {
  std::string name = path;
  std::string::size_type slash = name.rfind('/');
  if (slash != std::string::npos) {
    name.erase(0, slash + 1);
  }
  std::string::size_type backslash = name.rfind('\\');
  if (backslash != std::string::npos) {
    name.erase(0, backslash + 1);
  }
  std::string::size_type dot = name.rfind('.');
  if (dot == 0) {
    name.erase(0, 1);
  } else if (dot != std::string::npos) {
    name.erase(dot);
  }
  return name;
}

int parse_options(int argc, const char* const* argv, std::string& pass_through_args,
                  SfxOptions& options) {
  options.program_name = program_name_from_path(argc > 0 && argv[0] != nullptr ? argv[0] : "");

  int i = 1;
  while (i < argc) {
    const char* argument = argv[i];
    if (is(argument, "--no_extract_list")) {
      options.no_extract_list = true;
      pass_on(i, argument, pass_through_args);
    } else if (is(argument, "--sfx-no-pause")) {
      options.no_pause = true;
    } else if (is(argument, "--sfx-extract-dir")) {
      if (i + 1 == argc) {
        print_error("Destination directory not specified with --sfx-extract-dir option\n");
        return -1;
      }
      options.extract_dir = argv[i + 1];
      options.extract_dir_given = true;
      i += 2;
      continue;
    } else if (is(argument, "--sfx-extract-only")) {
      options.extract_only = true;
    } else if (is(argument, "-v") || is(argument, "--version")) {
      options.show_version = true;
      pass_on(i, argument, pass_through_args);
    } else if (is(argument, "-h") || is(argument, "--help")) {
      options.show_help = true;
      pass_on(i, argument, pass_through_args);
    } else if (is(argument, "-d") || is(argument, "--dev")) {
      if (i + 1 == argc) {
        print_error("Devices is not Specified\n");
        return -1;
      }
      // The value is not skipped: the next turn examines it like any other argument.
      options.device_arg = std::string("-d ") + argv[i + 1];
      pass_on(i, argument, pass_through_args);
    } else if (is(argument, "--no") || is(argument, "--query") ||
               is(argument, "--online-query-psid")) {
      options.skip_extra_tools = true;
      pass_on(i, argument, pass_through_args);
    } else {
      pass_on(i, argument, pass_through_args);
    }
    ++i;
  }

  if (!options.no_extract_list && options.extract_only && !options.extract_dir_given) {
    print_error("--sfx-extract-only option must be used in conjunction with --sfx-extract-dir option\n");
    return -1;
  }
  return 0;
}
