#include <iostream>
#include <string>
#include <vector>

#include "generator/generator_cli.hpp"

int main(int argc, char** argv) {
  return run_generator(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
