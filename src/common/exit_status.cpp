// SPDX-License-Identifier: Zlib
#include "common/exit_status.hpp"

#include <cstdio>
#include <cstdlib>

void exit_now(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::exit(status);
}
