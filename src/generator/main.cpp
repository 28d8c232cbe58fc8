// SPDX-License-Identifier: Zlib
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "generator/generator_cli.hpp"

// The generator's libraries (the standard library's containers, the JSON writer) may throw; what
// escapes them ends the run as a failure with a message, never as an abort.
int main(int argc, char** argv) {
  try {
    return run_generator(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
  } catch (const std::exception& exception) {
    std::cerr << "vek_fwsfx_gen: " << exception.what() << "\n";
    return k_generator_failed;
  }
}
