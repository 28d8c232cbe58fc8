// SPDX-License-Identifier: Zlib
#pragma once

// Reading the process's environment, the same way on every platform.

#include <string>

// Reads the environment variable `name` into `value`; returns false when it is not set.
bool read_environment_variable(const char* name, std::string& value);
