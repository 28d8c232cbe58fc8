// SPDX-License-Identifier: Zlib
#include "common/environment.hpp"

#include <cstdlib>

bool read_environment_variable(const char* name, std::string& value) {
  const char* found = std::getenv(name);
  if (found == nullptr) {
    return false;
  }
  value = found;
  return true;
}
