// SPDX-License-Identifier: Zlib
#pragma once

// Stand-in stubs for the generator's tests: the smallest executables that pass its stub check.
//
//   write_file(path, stub_image(TargetPlatform::Linux, StubLevel::Plain, 3000));
//
// An ELF image is the ELF x86-64 header and one loadable segment that covers the whole file; a PE
// image is a PE32+ x86-64 executable with one section whose raw data runs to the end. The marker
// lies at a fixed place inside (128 for ELF, 0x200 for PE), then `filler` to `size` bytes.

#include <cstddef>
#include <string>

#include "package/stub_marker.hpp"

// The marker the stand-in stubs carry: `platform` and `level`, version "1.0", a made-up revision.
StubMarker test_stub_marker(TargetPlatform platform, StubLevel level = StubLevel::Plain);

// An executable for `platform` of `size` bytes (at least 1024) holding `marker_bytes` (anything,
// or nothing) and `filler`.
std::string stub_image(TargetPlatform platform, const std::string& marker_bytes, std::size_t size,
                       char filler = 'S');

// The same with the marker of `test_stub_marker(platform, level)`.
std::string stub_image(TargetPlatform platform, StubLevel level, std::size_t size,
                       char filler = 'S');
