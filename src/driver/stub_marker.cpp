// SPDX-License-Identifier: Zlib
// The marker of one stub executable: the build gives each its platform (SFX_STUB_PLATFORM) and
// execution level (SFX_STUB_LEVEL); the version and the source revision come from the build
// stamp, like the version line's.

#include "driver/stub_marker.hpp"

#include "build_stamp.hpp"

static_assert(fits_stub_marker_field(SFX_STUB_PLATFORM, k_stub_marker_platform_size) &&
              fits_stub_marker_field(SFX_STUB_LEVEL, k_stub_marker_level_size) &&
              fits_stub_marker_field(k_stamp_version, k_stub_marker_version_size) &&
              fits_stub_marker_field(k_stamp_revision, k_stub_marker_revision_size));

[[gnu::used]] const StubMarkerBytes k_stub_marker =
    make_stub_marker(SFX_STUB_PLATFORM, SFX_STUB_LEVEL, k_stamp_version, k_stamp_revision);
