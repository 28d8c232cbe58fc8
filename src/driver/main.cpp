#include "driver/run_sequence.hpp"

int main(int argc, char** argv) { return run_stub(argc, argv); }
