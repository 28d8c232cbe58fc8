#!/usr/bin/env bash
# SPDX-License-Identifier: Zlib
# What the Windows stub loads: its import table, read with mingw's objdump, names only system
# libraries that Windows loads from the system folder, and the stub restricts the search for
# libraries it or the system loads later to the system folder (SetDefaultDllDirectories, looked
# up by name at run time so that the stub still starts where the call is missing).
#
#   windows_imports_test.sh STUB_EXE OBJDUMP
#
# Allowed imports:
#   KERNEL32.dll  processes, files, consoles, the loader (every Win32 program)
#   msvcrt.dll    the C runtime that mingw-w64 links against, shipped with Windows
#   ADVAPI32.dll  the user name (GetUserNameA) for the work directory
# All three are KnownDLLs: Windows maps them from the system folder, never from beside the
# program.
# Exit status: 0 passed, 1 failed.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../script_support.sh"
expect_arguments "$#" 2 "STUB_EXE OBJDUMP"
stub=$1
objdump=$2
allowed=(kernel32.dll msvcrt.dll advapi32.dll)

failed=0
mapfile -t imports < <("$objdump" -p "$stub" | sed -n 's/^[[:space:]]*DLL Name: *//p')
if ((${#imports[@]} == 0)); then
  echo "no import table read from $stub" >&2
  exit 1
fi
for dll in "${imports[@]}"; do
  lower=${dll,,}
  if [[ " ${allowed[*]} " != *" $lower "* ]]; then
    echo "the stub imports $dll, which is not among the allowed system libraries" >&2
    failed=1
  fi
done
echo "imports: ${imports[*]}"

# The name GetProcAddress looks up is in the image as text.
if ! grep -q -a 'SetDefaultDllDirectories' "$stub"; then
  echo "the stub never looks up SetDefaultDllDirectories" >&2
  failed=1
fi
exit "$failed"
