// SPDX-License-Identifier: Zlib
// Fuzzes the template expansion: the input, split at its NUL bytes, gives the command template,
// the pass-through arguments, the start directory, the device argument, the extraction directory
// and then the extra-tool commands; each is expanded for both shells.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "command/command_expansion.hpp"
#include "input_pieces.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> pieces = fuzzing::split_at_nul(data, size);
  pieces.resize(std::max<std::size_t>(pieces.size(), 5));
  ExpansionValues values;
  values.pass_through_args = pieces[1];
  values.current_dir = pieces[2];
  values.device_arg = pieces[3];
  values.extraction_dir = pieces[4];
  std::vector<std::string> extra_tools(pieces.begin() + 5, pieces.end());

  for (ShellSyntax syntax : {ShellSyntax::Posix, ShellSyntax::Cmd}) {
    ExpandedCommands expanded = expand_command_with(syntax, pieces[0], extra_tools, values);
    if (expanded.extra_tools.size() != extra_tools.size()) {
      std::fprintf(stderr, "fuzz: extra tool commands lost or added\n");
      std::abort();
    }
    // A template without placeholders comes back as it is.
    if (pieces[0].find('%') == std::string::npos && expanded.command != pieces[0]) {
      std::fprintf(stderr, "fuzz: a template without placeholders changed\n");
      std::abort();
    }
    // The prefix is the extraction directory and one separator.
    std::string prefix = command_prefix(values.extraction_dir, syntax);
    if (prefix.size() != values.extraction_dir.size() + 1) {
      std::fprintf(stderr, "fuzz: the command prefix has the wrong length\n");
      std::abort();
    }
    (void)make_command_line(prefix, expanded.command, syntax);
  }
  return 0;
}
