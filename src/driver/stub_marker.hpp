// SPDX-License-Identifier: Zlib
#pragma once

// This stub's marker (package/stub_marker.hpp): what the generator reads to tell what the stub
// is. Defined in driver/stub_marker.cpp, which each stub executable compiles with its own
// platform and execution level.

#include "package/stub_marker.hpp"

extern const StubMarkerBytes k_stub_marker;

// Refers to the marker from code. The stub is linked with --gc-sections, which drops every
// section that nothing refers to; the marker is read by the generator alone.
inline void keep_stub_marker() {
  const void* volatile kept = &k_stub_marker;
  (void)kept;
}
