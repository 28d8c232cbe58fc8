// SPDX-License-Identifier: Zlib
#pragma once

// Where the build put the programs that tests run, as full paths of the platform under test.

#include <string>

// The built stub (sfx_stub or sfx_stub.exe).
std::string stub_artifact();

// The built elevated stub, sfx_stub_admin.exe; empty in a build that has none (Linux).
std::string admin_stub_artifact();

// The built generator, vek_fwsfx_gen.
std::string generator_artifact();

// The sample payload tool built for the platform under test; empty when the build has none.
std::string payload_tool_artifact();

// The examples/ folder of the source tree.
std::string examples_dir();
