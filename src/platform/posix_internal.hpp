// SPDX-License-Identifier: Zlib
#pragma once

// What the POSIX platform files share.

#include <signal.h>

#include <cstdint>

#include "platform/platform.hpp"

namespace platform {

// The signals that ask the stub to end; watch_for_termination has them taken note of instead.
inline constexpr int k_termination_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The descriptor that `file` holds; -1 when none.
inline int descriptor_of(const FileHandle& file) { return static_cast<int>(file.native()); }

// `dos_date_time` read as local time, in seconds since 1970: exactly what mktime gives for its
// fields with tm_isdst -1, without re-reading the time zone each time; -1 when mktime would fail.
std::int64_t local_seconds_of_dos_time(std::uint32_t dos_date_time);

}  // namespace platform
