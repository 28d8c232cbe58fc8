// SPDX-License-Identifier: Zlib
#include "testing/artifacts.hpp"

#include "platform/platform.hpp"

namespace {

// The build writes Unix paths; under Wine "/x/y" names Z:\x\y, which the full path spells out.
std::string full(const char* path) {
  std::string result;
  if (path[0] == '\0' || platform::full_path(path, 4096, result) != 0) {
    return path;
  }
  return result;
}

}  // namespace

std::string stub_artifact() { return full(SFX_STUB_PATH); }
std::string admin_stub_artifact() { return full(SFX_ADMIN_STUB_PATH); }
std::string generator_artifact() { return full(SFX_GENERATOR_PATH); }
std::string payload_tool_artifact() { return full(SFX_PAYLOAD_TOOL_PATH); }
std::string examples_dir() { return full(SFX_EXAMPLES_DIR); }
