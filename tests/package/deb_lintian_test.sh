#!/usr/bin/env bash
# SPDX-License-Identifier: Zlib
# The Debian package passes lintian: no error and no warning (informational tags and the
# overrides the package carries are allowed).
#
#   deb_lintian_test.sh NATIVE_BUILD_DIR WINDOWS_STUBS_DIR
#
# Exit status: 0 passed, 1 failed, 77 skipped (no lintian, or no Windows stubs built yet).
set -euo pipefail

here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../script_support.sh"
source "$here/deb_support.sh"
expect_arguments "$#" 2 "NATIVE_BUILD_DIR WINDOWS_STUBS_DIR"
require_tools lintian:lintian
require_windows_stubs "$2"
make_scratch sfx_deb_lintian
build_deb "$1" "$scratch/out"

status=0
lintian --fail-on error,warning "$deb" >"$scratch/lintian.log" 2>&1 || status=$?
if ((status != 0)) || grep -q '^[EW]: ' "$scratch/lintian.log"; then
  fail "lintian ended with $status:"
  cat "$scratch/lintian.log"
fi
finish
