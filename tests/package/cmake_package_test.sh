#!/usr/bin/env bash
# SPDX-License-Identifier: Zlib
# A vendor's CMake project (examples/cmake_project) makes its packages with find_package(sfxkit)
# and sfxkit_add_package against the installed files only: the native build is installed into a
# scratch prefix, a copy of the example is configured against it and built (with Make, and with
# Ninja when it is installed), and the packages it made run and verify. Then the payload changes
# between builds: a file removed is gone from both packages, a file changed (same size, same
# second) and the helper program the project builds are packed again, and a build with nothing
# changed packs nothing. Mistakes in the calling project fail at configure time with a message
# that names them.
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
generator_tool="$work/prefix/bin/vek_fwsfx_gen"

# Runs the Linux package in folder $1 and sets `output` to what it printed (TEMP keeps its
# extraction in the scratch folder).
run_linux_package() {
  local status=0
  output=$(TEMP="$work" "$1/fw_update" --sfx-no-pause one two 2>&1) || status=$?
  ((status == 0)) || fail "$1/fw_update ended with $status: $output"
}

# Whether package $1 holds an entry named $2.
holds_entry() {
  local listing
  listing=$("$generator_tool" --list "$1" 2>&1) || { fail "--list $1 failed: $listing"; return 1; }
  grep -q -- "$2" <<<"$listing"
}

modification_times() {
  stat -c '%n %.9Y' "$1/fw_update" "$1/fw_update.exe"
}

check_project() {
  local generator=$1 tag=$2
  local source="$work/source-$tag" example="$work/example-$tag" before package
  cp -R "$repo/examples/cmake_project" "$source"
  run_logged "$work/configure-$tag.log" cmake -G "$generator" -S "$source" -B "$example" \
    -DCMAKE_PREFIX_PATH="$work/prefix"
  run_logged "$work/build-$tag.log" cmake --build "$example"

  run_linux_package "$example"
  [[ $output == *"updater: --ssl-certificate "*"ca-bundle.crt"*"one two"* ]] ||
    fail "$tag: fw_update's tool did not get its arguments: $output"
  [[ $output == *"fw_probe: device ready"* ]] ||
    fail "$tag: fw_update does not carry the program the project built: $output"
  grep -q "Verifying fw_update" "$work/build-$tag.log" || fail "$tag: VERIFY did not check fw_update"
  [[ $(head -c 2 "$example/fw_update.exe") == MZ ]] || fail "$tag: fw_update.exe is no Windows package"
  grep -aq 'requestedExecutionLevel level="requireAdministrator"' "$example/fw_update.exe" ||
    fail "$tag: fw_update.exe does not carry the elevated stub"
  "$generator_tool" --info "$example/fw_update.exe" --verify >"$work/info-$tag.log" 2>&1 ||
    fail "$tag: fw_update.exe does not verify: $(cat "$work/info-$tag.log")"

  before=$(modification_times "$example")
  run_logged "$work/rebuild-$tag.log" cmake --build "$example"
  [[ $(modification_times "$example") == "$before" ]] ||
    fail "$tag: a build with nothing changed packed again: $before -> $(modification_times "$example")"

  echo "release notes" >"$source/payload/notes.txt"
  run_logged "$work/build-added-$tag.log" cmake --build "$example"
  holds_entry "$example/fw_update" 'notes\.txt' || fail "$tag: an added file is not in fw_update"
  holds_entry "$example/fw_update.exe" 'notes\.txt' ||
    fail "$tag: an added file is not in fw_update.exe"

  rm "$source/payload/notes.txt"
  run_logged "$work/build-removed-$tag.log" cmake --build "$example"
  for package in fw_update fw_update.exe; do
    if holds_entry "$example/$package" 'notes\.txt'; then
      fail "$tag: a removed file is still in $package"
    fi
    holds_entry "$example/$package" 'updater\.sh' || fail "$tag: $package lost its other files"
  done

  # Same size, and a time in the same second as before (older than the package), as restoring a
  # file from an archive leaves it: only the listing tells.
  local time
  time=$(stat -c %.9Y "$source/payload/updater.sh")
  sed -i 's/echo "updater: /echo "UPDATER: /' "$source/payload/updater.sh"
  if [[ ${time#*.} == 5* ]]; then
    touch -d "@${time%.*}.25" "$source/payload/updater.sh"
  else
    touch -d "@${time%.*}.5" "$source/payload/updater.sh"
  fi
  sed -i 's/device ready/device found/' "$source/fw_probe.c"
  run_logged "$work/build-changed-$tag.log" cmake --build "$example"
  run_linux_package "$example"
  [[ $output == *"UPDATER: --ssl-certificate"* ]] || fail "$tag: a changed file was not packed again: $output"
  [[ $output == *"fw_probe: device found"* ]] ||
    fail "$tag: the rebuilt program was not packed again: $output"
}

check_project "Unix Makefiles" make
if command -v ninja >/dev/null 2>&1; then
  check_project Ninja ninja
else
  echo "note: ninja is not installed; the Ninja build of the example is left out"
fi

# Mistakes in the calling project, each a project of its own: the prefix it finds sfxkit in, the
# call, and what configuring must say. linux-only is an installation without the Windows stubs.
cp -R "$work/prefix" "$work/linux-only"
rm -r "$work/linux-only/lib/sfxkit/stubs/windows-x86_64"
while IFS='|' read -r name prefix body expected; do
  mkdir -p "$work/wrong-$name"
  printf 'cmake_minimum_required(VERSION 3.16)\nproject(wrong NONE)\n%b\n' "$body" \
    >"$work/wrong-$name/CMakeLists.txt"
  if cmake -S "$work/wrong-$name" -B "$work/wrong-$name/build" -DCMAKE_PREFIX_PATH="$work/$prefix" \
    >"$work/wrong-$name.log" 2>&1; then
    fail "$name: configuring passed"
  elif ! tr -s ' \n' ' ' <"$work/wrong-$name.log" | grep -qF "$expected"; then
    fail "$name: configuring did not say \"$expected\": $(cat "$work/wrong-$name.log")"
  fi
done <<EOF
missing_dir|prefix|find_package(sfxkit REQUIRED)\nsfxkit_add_package(pkg DIR payload COMMAND "tool" OUTPUT pkg)|sfxkit_add_package(pkg): DIR $work/wrong-missing_dir/payload does not exist
missing_stub|linux-only|find_package(sfxkit REQUIRED)\nsfxkit_add_package(pkg DIR . COMMAND "tool.cmd" OUTPUT pkg.exe PLATFORM windows)|sfxkit_add_package(pkg): the windows stub $work/linux-only/lib/sfxkit/stubs/windows-x86_64/sfx_stub.exe is not installed
no_payload|prefix|find_package(sfxkit REQUIRED)\nsfxkit_add_package(pkg COMMAND "tool" OUTPUT pkg)|sfxkit_add_package(pkg): DIR or FILES is missing
misspelt|prefix|find_package(sfxkit REQUIRED)\nsfxkit_add_package(pkg DIR . COMMAND "tool" OUTPUT pkg VERIFIED)|sfxkit_add_package(pkg): unknown arguments: VERIFIED
next_major|prefix|find_package(sfxkit 2.0 REQUIRED)|compatible with requested version "2.0"
EOF
finish
