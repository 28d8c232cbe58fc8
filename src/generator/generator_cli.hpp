// SPDX-License-Identifier: Zlib
#pragma once

// The command line of vek_fwsfx_gen.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "generator/progress_line.hpp"

inline constexpr int k_generator_ok = 0;
inline constexpr int k_generator_failed = 1;
inline constexpr int k_generator_usage_error = 2;

// What the generator takes from outside its command line.
struct GeneratorEnvironment {
  // The generator's own executable, a full path: `--target` looks for the stubs relative to it.
  std::string program_path;
  // The value of SOURCE_DATE_EPOCH, when it is set.
  std::optional<std::string> source_date_epoch;
  // Whether standard error is a terminal: only there does long work show a progress line.
  bool error_is_terminal = false;
  // How many bytes of work make it long.
  std::uint64_t progress_threshold = ProgressOutput{}.threshold;
};

// The running process's environment: its own executable, its SOURCE_DATE_EPOCH and whether its
// standard error is a terminal.
GeneratorEnvironment process_environment();

// Runs vek_fwsfx_gen with `arguments` (the program name left out) in `environment`: builds a
// package, or prints, lists or verifies one, or prints help or version. Options may come in any
// order. Writes results to `out` and messages to `err`. Returns 0 on success, 1 when the work
// failed or was refused (a package that is not sound included), 2 on a usage error.
int run_generator(const std::vector<std::string>& arguments,
                  const GeneratorEnvironment& environment, std::ostream& out, std::ostream& err);

// The same in the running process's environment.
int run_generator(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
