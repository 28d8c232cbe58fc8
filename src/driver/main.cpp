// SPDX-License-Identifier: Zlib
#include "driver/run_sequence.hpp"
#include "driver/stub_marker.hpp"

int main(int argc, char** argv) {
  keep_stub_marker();
  return run_stub(argc, argv);
}
