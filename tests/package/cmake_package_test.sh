#!/usr/bin/env bash
# A vendor's CMake project (examples/cmake_project) makes its packages with find_package(sfxkit)
# and sfxkit_add_package against the installed files only: the native build is installed into a
# scratch prefix, the example is configured against it and built, and the packages it made run
# and verify.
#
#   cmake_package_test.sh NATIVE_BUILD_DIR WINDOWS_STUBS_DIR
#
# Exit status: 0 passed, 1 failed, 77 skipped (no Windows stubs built yet).
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../script_support.sh"
expect_arguments "$#" 2 "NATIVE_BUILD_DIR WINDOWS_STUBS_DIR"
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$1
if [[ ! -f $2/sfx_stub.exe || ! -f $2/sfx_stub_admin.exe ]]; then
  echo "SKIPPED: no Windows stubs in $2; build the windows preset first (scripts/test does)"
  exit 77
fi
make_scratch sfx_cmake_package
work=$scratch
run_logged() {
  local log=$1
  shift
  "$@" >"$log" 2>&1 || { cat "$log"; echo "FAILED: $*"; exit 1; }
}

run_logged "$work/install.log" cmake --install "$build" --prefix "$work/prefix"
run_logged "$work/configure.log" cmake -S "$repo/examples/cmake_project" -B "$work/example" \
  -DCMAKE_PREFIX_PATH="$work/prefix"
run_logged "$work/build.log" cmake --build "$work/example"

status=0
output=$(TEMP="$work" "$work/example/fw_update" --sfx-no-pause one two 2>&1) || status=$?
((status == 0)) || fail "fw_update ended with $status: $output"
[[ $output == *"updater: --ssl-certificate "*"ca-bundle.crt"*"one two"* ]] ||
  fail "fw_update's tool did not get its arguments: $output"
[[ $(head -c 2 "$work/example/fw_update.exe") == MZ ]] || fail "fw_update.exe is no Windows package"
grep -aq 'requestedExecutionLevel level="requireAdministrator"' "$work/example/fw_update.exe" ||
  fail "fw_update.exe does not carry the elevated stub"
"$work/prefix/bin/vek_fwsfx_gen" --info "$work/example/fw_update.exe" --verify >"$work/info.log" 2>&1 ||
  fail "fw_update.exe does not verify: $(cat "$work/info.log")"
finish
