// SPDX-License-Identifier: Zlib
#pragma once

// What the POSIX platform files share.

#include <signal.h>

#include "platform/platform.hpp"

namespace platform {

// The signals that ask the stub to end; watch_for_termination has them taken note of instead.
inline constexpr int k_termination_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The descriptor that `file` holds; -1 when none.
inline int descriptor_of(const FileHandle& file) { return static_cast<int>(file.native()); }

}  // namespace platform
