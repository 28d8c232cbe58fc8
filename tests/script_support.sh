# Shared by the test scripts; sourced after `set -euo pipefail`.
#
#   expect_arguments "$#" N USAGE     exit 2 with "usage: SCRIPT USAGE" unless there are N
#   require_tools PROGRAM:PACKAGE...  exit 77 (skipped) when a program is missing
#   make_scratch NAME                 $scratch: a new folder below the temporary folder; it is
#                                     removed at exit, or kept and named when a check failed
#   fail MESSAGE...                   print "FAILED: MESSAGE" and count a failure
#   finish                            print "passed", or exit 1 after a failure
# A script with more to undo at exit defines `extra_cleanup`, which runs first.

failures=0
scratch=

expect_arguments() {
  if (($1 != $2)); then
    echo "usage: $0 $3" >&2
    exit 2
  fi
}

require_tools() {
  local tool
  for tool in "$@"; do
    if ! command -v "${tool%%:*}" >/dev/null 2>&1; then
      echo "SKIPPED: ${tool%%:*} is not installed (Debian package ${tool#*:}; scripts/bootstrap installs it)"
      exit 77
    fi
  done
}

remove_scratch() {
  if declare -F extra_cleanup >/dev/null; then
    extra_cleanup
  fi
  [[ -n $scratch ]] || return 0
  if ((failures == 0)); then
    rm -rf "$scratch"
  else
    echo "kept $scratch"
  fi
}

make_scratch() {
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  trap remove_scratch EXIT
}

fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

finish() {
  if ((failures > 0)); then
    exit 1
  fi
  echo "passed"
}
