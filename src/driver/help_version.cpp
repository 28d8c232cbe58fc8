// SPDX-License-Identifier: Zlib
#include "driver/help_version.hpp"

#include <cstdio>
#include <cstring>

#include "build_stamp.hpp"
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
  char buffer[1024];
  std::memset(buffer, 0, sizeof buffer);
  int n = std::snprintf(buffer, sizeof buffer, "%s %s, ", k_tool_name, k_tool_version);
  if (n < 0 || n >= static_cast<int>(sizeof buffer)) {
    n = 0;
  }
  std::snprintf(buffer + n, sizeof buffer - n, "%s, built on %s, %s. Git SHA Hash: %s",
                k_stamp_package, k_stamp_build_date, k_stamp_build_time, k_stamp_revision);
  print_plain("%s\n", buffer);
}
