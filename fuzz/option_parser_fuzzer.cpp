// SPDX-License-Identifier: Zlib
// Fuzzes the command-line parser: the input, split at its NUL bytes, is the argument vector
// (the first piece the invocation path). The parser must return 0 or -1 and, on 0, hand back a
// pass-through text that holds every argument it passed on.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/option_parser.hpp"
#include "driver/sfx_options.hpp"
#include "input_pieces.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> pieces = fuzzing::split_at_nul(data, size);
  std::vector<const char*> argv;
  for (const std::string& piece : pieces) {
    argv.push_back(piece.c_str());
  }
  argv.push_back(nullptr);

  SfxOptions options;
  options.program_name = program_name_from_path(pieces[0]);
  std::string pass_through;
  int status = parse_options(static_cast<int>(pieces.size()), argv.data(), pass_through, options);
  if (status != 0 && status != -1) {
    std::fprintf(stderr, "fuzz: parse_options returned %d\n", status);
    std::abort();
  }
  if (status == 0 && pass_through.size() > size + pieces.size()) {
    std::fprintf(stderr, "fuzz: the pass-through text is longer than the command line\n");
    std::abort();
  }
  return 0;
}
