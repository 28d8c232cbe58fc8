#!/usr/bin/env bash
# SPDX-License-Identifier: Zlib
# The two Windows stubs and the Windows generator: each stub carries the application manifest it
# should (the plain stub asks to run as its invoker, the elevated one for administrator rights);
# vek_fwsfx_gen.exe builds a package with either from a folder, --info --verify reads it back (its
# stub marker naming the same level as the manifest), and
# the package runs under Wine with its command's status. Wine grants the elevated stub what it asks for, so
# what the manifest says is read back from the executable itself.
#
#   windows_stubs_test.sh STUB_EXE ADMIN_STUB_EXE GENERATOR_EXE PAYLOAD_TOOL_EXE
#
# Exit status: 0 passed, 1 failed.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../script_support.sh"
expect_arguments "$#" 4 "STUB_EXE ADMIN_STUB_EXE GENERATOR_EXE PAYLOAD_TOOL_EXE"
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
wine_run="$repo/scripts/wine-run"
make_scratch sfx_windows_stubs
work=$scratch

# The execution level the embedded manifest asks for.
execution_level() {
  grep -ao 'requestedExecutionLevel level="[A-Za-z]*"' "$1" | sed 's/.*level="\(.*\)"/\1/' |
    sort -u | tr '\n' ' '
}

mkdir -p "$work/payload"
cp "$4" "$work/payload/tool.exe"
for case in "$1:asInvoker:plain" "$2:requireAdministrator:elevated"; do
  stub=${case%%:*}
  marked=${case##*:}
  expected=${case#*:}
  expected=${expected%:*}
  level=$(execution_level "$stub")
  [[ $level == "$expected " ]] || fail "$(basename "$stub") asks for [$level], expected [$expected]"

  package="$work/pkg_$expected.exe"
  (cd "$work" && "$wine_run" "$3" --stub "$stub" --dir payload \
     --command 'tool.exe --exit-status 4 %argv%' -o "pkg_$expected.exe") >"$work/gen.log" 2>&1 ||
    fail "the generator did not build a package with $(basename "$stub"): $(cat "$work/gen.log")"
  (cd "$work" && "$wine_run" "$3" --info "pkg_$expected.exe" --verify) >"$work/info.log" 2>&1 ||
    fail "pkg_$expected.exe does not verify under Wine: $(cat "$work/info.log")"
  grep -q '^verified:' "$work/info.log" || fail "no verification line: $(cat "$work/info.log")"
  # The stub's marker agrees with its manifest.
  grep -q "^stub platform: *windows" "$work/info.log" && grep -q "^stub level: *$marked" "$work/info.log" ||
    fail "--info does not call the stub of pkg_$expected.exe a windows $marked one: $(cat "$work/info.log")"
  status=0
  (cd "$work" && "$wine_run" "pkg_$expected.exe" --sfx-no-pause) >"$work/run.log" 2>&1 </dev/null ||
    status=$?
  ((status == 4)) || fail "the package of $(basename "$stub") ended with $status, not 4: $(cat "$work/run.log")"
done
finish
