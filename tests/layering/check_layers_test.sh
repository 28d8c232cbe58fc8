#!/usr/bin/env bash
# SPDX-License-Identifier: Zlib
# scripts/check-layers judges edges, not ranks: an include between folders passes only when its
# edge is listed, whichever way it points.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../script_support.sh"
check=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/check-layers
make_scratch layering

# One file in `folder` that includes a header of `target`; expects check-layers' `verdict`.
expect() {
  local folder=$1 target=$2 verdict=$3 tree
  tree=$(mktemp -d "$scratch/tree.XXXXXX")
  mkdir -p "$tree/$folder"
  printf '#include "%s/x.hpp"\n' "$target" >"$tree/$folder/a.cpp"
  if "$check" "$tree" >/dev/null; then actual=pass; else actual=fail; fi
  [[ $actual == "$verdict" ]] || fail "$folder -> $target: expected $verdict, got $actual"
}

expect payload package pass
expect extract extract pass
expect payload extract fail   # below payload in the old ranking, but payload never calls extract
expect common platform fail
expect newfolder common fail  # a folder the map does not know
finish
