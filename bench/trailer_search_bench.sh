#!/usr/bin/env bash
# SPDX-License-Identifier: Zlib
# Trailer search speed: a 1.5 GiB stub file without any payload must be rejected ("Failed to
# find version pattern", status 252) in well under a second. The file is the stub with zeros
# appended (sparse, so it costs no disk space); the first run also reads it into the page cache.
#   bench/trailer_search_bench.sh [BUILD_DIR]     (default build/native; needs sfx_stub)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$repo/build/native}
stub=$build/sfx_stub
if [[ ! -x $stub ]]; then
  echo "trailer_search_bench: $stub not found; build first (or pass the build folder)" >&2
  exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$stub" "$work/big_stub"
truncate -s 1536M "$work/big_stub"
mkdir "$work/given"

run() { "$work/big_stub" --sfx-extract-dir "$work/given" --sfx-no-pause >/dev/null 2>"$work/err" || true; }
run
grep -q "Failed to find version pattern" "$work/err" || { echo "unexpected: $(cat "$work/err")" >&2; exit 1; }

if command -v hyperfine >/dev/null; then
  hyperfine --warmup 1 --runs 5 -N -i \
    "$work/big_stub --sfx-extract-dir $work/given --sfx-no-pause"
else
  for i in 1 2 3; do
    TIMEFORMAT="run $i: %R s"
    time run
  done
fi
