#!/usr/bin/env bash
# The Debian package holds everything a vendor needs: it is built with CPack from the native build
# (with the cross build's Windows stubs), unpacked into a scratch root with dpkg-deb, and a
# package is built and run with the unpacked generator and stub only.
#
#   deb_roundtrip_test.sh NATIVE_BUILD_DIR WINDOWS_STUBS_DIR
#
# Exit status: 0 passed, 1 failed, 77 skipped (no Windows stubs built yet).
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../script_support.sh"
expect_arguments "$#" 2 "NATIVE_BUILD_DIR WINDOWS_STUBS_DIR"
build=$1
windows=$2
for stub in sfx_stub.exe sfx_stub_admin.exe; do
  if [[ ! -f $windows/$stub ]]; then
    echo "SKIPPED: no $windows/$stub; build the windows preset first (scripts/test does)"
    exit 77
  fi
done
make_scratch sfx_deb
work=$scratch

(cd "$build" && cpack -G DEB -B "$work/out") >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log"
  echo "FAILED: cpack"
  exit 1
}
deb=$(find "$work/out" -maxdepth 1 -name 'sfxkit_*_amd64.deb' | head -n 1)
[[ -n $deb ]] || { echo "FAILED: no sfxkit_<version>_amd64.deb in $(ls "$work/out")"; exit 1; }
dpkg-deb -x "$deb" "$work/root"

for file in usr/bin/vek_fwsfx_gen \
            usr/share/sfxkit/stubs/linux-x86_64/sfx_stub \
            usr/share/sfxkit/stubs/windows-x86_64/sfx_stub.exe \
            usr/share/sfxkit/stubs/windows-x86_64/sfx_stub_admin.exe \
            usr/share/man/man1/vek_fwsfx_gen.1 usr/share/man/man7/sfxkit-package.7 \
            usr/share/doc/sfxkit/README.md usr/lib/cmake/sfxkit/sfxkitConfig.cmake; do
  [[ -f $work/root/$file ]] || fail "the package lacks /$file"
done

mkdir -p "$work/payload"
printf '#!/bin/sh\necho "tool ran with: $*"\nexit 5\n' >"$work/payload/tool.sh"
chmod 755 "$work/payload/tool.sh"
"$work/root/usr/bin/vek_fwsfx_gen" --stub "$work/root/usr/share/sfxkit/stubs/linux-x86_64/sfx_stub" \
  --dir "$work/payload" --command 'tool.sh %argv%' -o "$work/pkg" >"$work/gen.log" 2>&1 ||
  fail "the unpacked generator could not build a package: $(cat "$work/gen.log")"
status=0
output=$(TEMP="$work" "$work/pkg" --sfx-no-pause first second 2>&1) || status=$?
((status == 5)) || fail "the package ended with $status, not 5: $output"
[[ $output == *"tool ran with: first second"* ]] || fail "the tool's output is missing: $output"
finish
