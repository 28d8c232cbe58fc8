#pragma once

// The command line of vek_fwsfx_gen.

#include <ostream>
#include <string>
#include <vector>

inline constexpr int k_generator_ok = 0;
inline constexpr int k_generator_failed = 1;
inline constexpr int k_generator_usage_error = 2;

// Runs vek_fwsfx_gen with `arguments` (the program name left out): builds a package, or prints or
// verifies one, or prints help or version. Writes results to `out` and messages to `err`. Returns
// 0 on success, 1 when the work failed or was refused, 2 on a usage error.
int run_generator(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
