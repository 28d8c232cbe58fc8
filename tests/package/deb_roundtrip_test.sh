#!/usr/bin/env bash
# SPDX-License-Identifier: Zlib
# The Debian package holds everything a vendor needs: it is built with CPack from the native build
# (with the cross build's Windows stubs), unpacked into a scratch root with dpkg-deb, and a
# package is built and run with the unpacked generator and stub only. The package carries Debian's
# own files and the control fields dpkg-shlibdeps and the maintainer's setting give.
#
#   deb_roundtrip_test.sh NATIVE_BUILD_DIR WINDOWS_STUBS_DIR
#
# Exit status: 0 passed, 1 failed, 77 skipped (no Windows stubs built yet).
set -euo pipefail

here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../script_support.sh"
source "$here/deb_support.sh"
expect_arguments "$#" 2 "NATIVE_BUILD_DIR WINDOWS_STUBS_DIR"
require_windows_stubs "$2"
make_scratch sfx_deb
work=$scratch
build_deb "$1" "$work/out"
dpkg-deb -x "$deb" "$work/root"

stubs=usr/lib/sfxkit/stubs
for file in usr/bin/vek_fwsfx_gen \
            $stubs/linux-x86_64/sfx_stub \
            $stubs/windows-x86_64/sfx_stub.exe $stubs/windows-x86_64/sfx_stub_admin.exe \
            usr/share/man/man1/vek_fwsfx_gen.1.gz usr/share/man/man7/sfxkit-package.7.gz \
            usr/share/doc/sfxkit/README.md usr/share/doc/sfxkit/LICENSE \
            usr/share/doc/sfxkit/THIRD-PARTY-NOTICES usr/share/doc/sfxkit/copyright \
            usr/share/doc/sfxkit/changelog.gz usr/share/lintian/overrides/sfxkit \
            usr/lib/cmake/sfxkit/sfxkitConfig.cmake; do
  [[ -f $work/root/$file ]] || fail "the package lacks /$file"
done
[[ ! -e $work/root/usr/share/sfxkit ]] || fail "the package still has /usr/share/sfxkit"
# The control fields: the maintainer given, Depends from dpkg-shlibdeps (the generator uses
# Debian's zlib and GCC's shared runtime).
[[ $(dpkg-deb -f "$deb" Maintainer) == "$test_maintainer" ]] ||
  fail "not the maintainer given: $(dpkg-deb -f "$deb" Maintainer)"
depends=$(dpkg-deb -f "$deb" Depends)
names=" $(sed -E 's/ \([^)]*\)//g; s/,//g' <<<"$depends") "
for dependency in libc6 libgcc-s1 libstdc++6 zlib1g; do
  [[ $names == *" $dependency "* ]] || fail "Depends lacks $dependency: $depends"
done
[[ $(zcat "$work/root/usr/share/doc/sfxkit/changelog.gz") == *" -- $test_maintainer  "* ]] ||
  fail "the changelog does not name the maintainer"

mkdir -p "$work/payload"
printf '#!/bin/sh\necho "tool ran with: $*"\nexit 5\n' >"$work/payload/tool.sh"
chmod 755 "$work/payload/tool.sh"
# --target finds the stub where the package put it.
"$work/root/usr/bin/vek_fwsfx_gen" --target linux \
  --dir "$work/payload" --command 'tool.sh %argv%' -o "$work/pkg" >"$work/gen.log" 2>&1 ||
  fail "the unpacked generator could not build a package: $(cat "$work/gen.log")"
status=0
output=$(TEMP="$work" "$work/pkg" --sfx-no-pause first second 2>&1) || status=$?
((status == 5)) || fail "the package ended with $status, not 5: $output"
[[ $output == *"tool ran with: first second"* ]] || fail "the tool's output is missing: $output"
finish
