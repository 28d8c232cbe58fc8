// SPDX-License-Identifier: Zlib
#include "driver/help_version.hpp"

#include <cstddef>
#include <string>

#include "build_stamp.hpp"
#include "common/text_format.hpp"
#include "console/messages.hpp"


namespace {

constexpr const char* k_tool_name = "SelfExtractor";
constexpr const char* k_tool_version = "1.0";

}  // namespace

void print_help(const SfxOptions& options) {
  print_plain("\nSELF EXTRACTOR OPTIONS\n");
  print_plain("        --sfx-extract-dir <dir>       : Use <dir> for temporary files during execution\n");
  if (!options.no_extract_list) {
    print_plain("        --sfx-extract-only            : Do not execute, only extract files to a location\n");
    print_plain("                                        specified through the --sfx-extract-dir option\n");
  }
  print_plain("        --sfx-no-pause                : Do not wait for user keypress after completion\n");
  print_plain("                                        when run in a new command window\n");
  print_plain("\n");
}

void print_version() {
  // The line is at most 1,023 bytes long, the rest of an overlong stamp left out.
  constexpr std::size_t k_longest_line = 1023;
  std::string line = formatted("%s %s, %s, built on %s, %s. Git SHA Hash: %s", k_tool_name,
                               k_tool_version, k_stamp_package, k_stamp_build_date,
                               k_stamp_build_time, k_stamp_revision);
  if (line.size() > k_longest_line) {
    line.resize(k_longest_line);
  }
  print_plain("%s\n", line.c_str());
}
