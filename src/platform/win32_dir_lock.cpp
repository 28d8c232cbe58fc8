// SPDX-License-Identifier: Zlib
// Whether a lock file still has its name (Windows).

#include "platform/platform.hpp"

namespace platform {

int query_lock_file_named(std::intptr_t /*handle*/, const std::string& /*path*/, bool& named) {
  // No other run opens the file while its lock is held (the open shares nothing but deletion), so
  // none can hold a file whose name the holder removed: an open after the removal makes a new one.
  named = true;
  return 0;
}

}  // namespace platform
