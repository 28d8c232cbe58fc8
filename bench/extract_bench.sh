#!/usr/bin/env bash
# Extraction speed: the stub's extract-only run of a 20 MB, 2,000-file package against
# `unzip -o -q` of the very same archive. Whole processes, cold output folder each time.
#   bench/extract_bench.sh [BUILD_DIR]     (default build/native; needs sfx_stub, vek_fwsfx_gen)
# Uses hyperfine when it is installed, else a loop timed with bash's `time`. Prints the ratio
# stub / unzip of the mean times, and the stub's peak memory when GNU time is there.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$repo/build/native}
stub=$build/sfx_stub
generator=$build/vek_fwsfx_gen
for program in "$stub" "$generator"; do
  if [[ ! -x $program ]]; then
    echo "extract_bench: $program not found; build first (or pass the build folder)" >&2
    exit 2
  fi
done
command -v unzip >/dev/null || { echo "extract_bench: unzip is not installed" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/sfx_extract_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# 2,000 files in 40 folders, 10,000 bytes each (20 MB): half text-like, half random bytes, so
# that both inflating and storing-sized work show.
python3 - "$work/payload" <<'EOF'
import os, random, sys
root = sys.argv[1]
rng = random.Random(7)
for d in range(40):
    folder = os.path.join(root, "d%02d" % d)
    os.makedirs(folder)
    for f in range(50):
        n = d * 50 + f
        if n % 2:
            data = bytes(rng.getrandbits(8) for _ in range(10000))
        else:
            line = ("record %d of device %d\n" % (n, d)).encode()
            data = (line * (10000 // len(line) + 1))[:10000]
        with open(os.path.join(folder, "f%04d.bin" % n), "wb") as out:
            out.write(data)
EOF
(cd "$work/payload" && zip -q -r "$work/archive.zip" .)
"$generator" --stub "$stub" --zip "$work/archive.zip" --command "true %argv%" -o "$work/package"
chmod +x "$work/package"
mkdir -p "$work/stub_out" "$work/unzip_out"

stub_clean="rm -rf $work/stub_out/package-dir"
stub_run="$work/package --sfx-extract-dir $work/stub_out --sfx-extract-only >/dev/null"
unzip_clean="rm -rf $work/unzip_out/x"
unzip_run="unzip -o -q $work/archive.zip -d $work/unzip_out/x"
echo "payload: $(du -sh "$work/payload" | cut -f1), $(find "$work/payload" -type f | wc -l) files;" \
  "archive $(du -h "$work/archive.zip" | cut -f1)"

if command -v hyperfine >/dev/null; then
  # The output folder is removed before each run, outside the timing.
  hyperfine --warmup 2 --runs 15 --export-json "$work/results.json" \
    --prepare "$stub_clean" --prepare "$unzip_clean" \
    -n "sfx_stub --sfx-extract-only" "$stub_run" -n "unzip -o -q" "$unzip_run"
  python3 - "$work/results.json" <<'EOF'
import json, sys
r = json.load(open(sys.argv[1]))["results"]
print("ratio stub/unzip (mean): %.2f" % (r[0]["mean"] / r[1]["mean"]))
EOF
else
  # Without hyperfine the removal of the previous output is timed too, for both alike.
  runs=10
  measure() {
    local start end
    eval "$1 && $2" # warm-up
    start=$(date +%s.%N)
    for ((i = 0; i < runs; ++i)); do eval "$1 && $2"; done
    end=$(date +%s.%N)
    python3 -c "print(($end - $start) / $runs)"
  }
  stub_mean=$(measure "$stub_clean" "$stub_run")
  unzip_mean=$(measure "$unzip_clean" "$unzip_run")
  printf 'sfx_stub --sfx-extract-only: %.3f s\nunzip -o -q:                 %.3f s\n' \
    "$stub_mean" "$unzip_mean"
  printf 'ratio stub/unzip (mean): %.2f\n' "$(python3 -c "print($stub_mean / $unzip_mean)")"
fi

if [[ -x /usr/bin/time ]]; then
  eval "$stub_clean"
  /usr/bin/time -f "sfx_stub peak memory: %M KB" \
    "$work/package" --sfx-extract-dir "$work/stub_out" --sfx-extract-only >/dev/null
fi
