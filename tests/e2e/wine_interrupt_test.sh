#!/usr/bin/env bash
# SPDX-License-Identifier: Zlib
# Ctrl-C while the Windows stub copies its archive out or extracts it, under Wine: the stub stops,
# removes what it wrote and ends with 252; the command never runs. Wine hands a SIGINT sent to a
# Windows program's process to the program as the console's Ctrl-C event (CTRL_C_EVENT), so the
# test drives it from the host, not from inside a Wine-run test program.
#
#   wine_interrupt_test.sh STUB_EXE GENERATOR_EXE
#
# Exit status: 0 passed, 1 failed.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../script_support.sh"
expect_arguments "$#" 2 "STUB_EXE GENERATOR_EXE"
stub=$1
generator=$2
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
wine_run="$repo/scripts/wine-run"

make_scratch sfx_wine_interrupt

# A 200 MB entry keeps each phase going long enough to be caught. The command would leave a mark.
mkdir "$scratch/payload" "$scratch/given"
head -c 200000000 /dev/zero >"$scratch/payload/big.bin"
printf '@echo ran> "%%TEMP%%\\..\\ran.txt"\r\n' >"$scratch/payload/tool.cmd"
"$wine_run" "$generator" --stub "$stub" --dir "$scratch/payload" --command "tool.cmd" --level 0 \
  -o "$scratch/pkg.exe" </dev/null >"$scratch/generator.txt" 2>&1 || {
  cat "$scratch/generator.txt"
  fail "the package could not be built"
  exit 1
}

# phase, then what shows below the given directory that the phase is under way
for case in "copy:archive.zip" "extraction:pkg-dir/big.bin"; do
  phase=${case%%:*}
  sign=$scratch/given/${case#*:}
  # Started as from a shell with job control: SIGINT not ignored. wine-run ends in exec, so $! is
  # the Windows program's process.
  env --default-signal=INT "$wine_run" "$scratch/pkg.exe" --sfx-extract-dir "$scratch/given" \
    </dev/null >"$scratch/out.txt" 2>&1 &
  pid=$!
  until [[ -e $sign ]] || ! kill -0 "$pid" 2>/dev/null; do
    sleep 0.01
  done
  kill -INT "$pid" 2>/dev/null || true
  status=0
  wait "$pid" || status=$?
  ((status == 252)) || fail "$phase: status $status, expected 252: $(cat "$scratch/out.txt")"
  [[ ! -e $scratch/ran.txt ]] || fail "$phase: the command ran"
  left=$(ls -A "$scratch/given")
  [[ -z $left ]] || fail "$phase: left behind: $left"
  rm -rf "$scratch/given" "$scratch/ran.txt"
  mkdir "$scratch/given"
done

finish
