#!/usr/bin/env bash
# SPDX-License-Identifier: Zlib
# The Windows stub's key prompt in a console window of its own, the way a double-clicked package
# runs: such a run ends with the prompt and waits for a key; with --sfx-no-pause, after a
# command-line error, or in a console that already shows output it ends by itself.
#
#   console_window_test.sh STUB_EXE GENERATOR_EXE PAYLOAD_TOOL_EXE WINE_PREFIX
#
# Wine's wineconsole opens a new console window for a program (on a virtual X display, Xvfb),
# xdotool types the key into it, and the console host's own trace of what it was asked to write
# (Wine's "console" debug channel, every other channel off) gives the window's text. The test
# drives Linux programs, so it runs on the host, not inside a Wine-run test program. It uses a
# Wine prefix of its own because it ends every Wine process of that prefix when it is done.
# Exit status: 0 passed, 1 failed, 77 skipped (Xvfb or xdotool missing).
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../script_support.sh"
expect_arguments "$#" 4 "STUB_EXE GENERATOR_EXE PAYLOAD_TOOL_EXE WINE_PREFIX"
stub=$1
generator=$2
payload_tool=$3
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
wine_run="$repo/scripts/wine-run"
wine=/usr/lib/wine/wine64
if [[ -x /usr/lib/wine/wineserver64 ]]; then
  wineserver=/usr/lib/wine/wineserver64
else
  wineserver=/usr/lib/wine/wineserver
fi

require_tools Xvfb:xvfb xdotool:xdotool

export WINEPREFIX=$4
export WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml="
prompt="Press any key to continue ... (To suppress pause re-run with --sfx-no-pause flag)"

xvfb_pid=
extra_cleanup() {
  # Every Windows program of the private prefix (consoles, their hosts, the desktop process)
  # ends with its server; then the display goes.
  "$wineserver" -k >/dev/null 2>&1 || true
  timeout 30 "$wineserver" -w >/dev/null 2>&1 || true
  if [[ -n $xvfb_pid ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
make_scratch sfx_console_window

# Polls `condition...` every 0.1 s, for at most `seconds`; true as soon as it holds.
wait_until() {
  local seconds=$1 i
  shift
  for ((i = 0; i < seconds * 10; i++)); do
    if "$@"; then
      return 0
    fi
    sleep 0.1
  done
  "$@"
}

# A display of its own: Xvfb picks a free number and tells it through fd 3.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$scratch/display" >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
display_ready() { [[ -s $scratch/display ]]; }
if ! wait_until 20 display_ready; then
  cat "$scratch/xvfb.log"
  fail "Xvfb did not start"
  exit 1
fi
export DISPLAY=":$(head -n 1 "$scratch/display")"

# The package: the payload tool ending with status 3. wine-run makes the prefix on first use and
# starts its server; the generator runs under Wine like the stub.
mkdir "$scratch/payload"
cp "$payload_tool" "$scratch/payload/"
tool_name=$(basename "$payload_tool")
cd "$scratch"
if ! "$wine_run" "$generator" --stub "$stub" --dir payload --command "$tool_name --exit-status 3" \
  -o demo_pkg.exe >generator.log 2>&1; then
  cat generator.log
  fail "the generator could not build the package"
  exit 1
fi
printf '@echo off\r\necho earlier output\r\ndemo_pkg.exe\r\nexit /b %%errorlevel%%\r\n' >in_use.bat

# Starts `wineconsole ARGS...` in the background for the case `name`: the console's trace goes to
# name.trace, wineconsole's status (the program's) to name.status once it has ended.
start_console() {
  local name=$1
  shift
  (
    status=0
    WINEDEBUG=-all,trace+console "$wine" wineconsole "$@" </dev/null >/dev/null 2>"$name.trace" ||
      status=$?
    echo "$status" >"$name.status.part"
    mv "$name.status.part" "$name.status"
  ) &
}

# The text that the console was asked to show, in the trace's escaped form ("\r\n" for a line
# end, "\\" for a backslash), all writes joined.
console_text() {
  sed -n 's/^[0-9a-f]*:trace:console:write_console L"\(.*\)"$/\1/p' "$1.trace" | tr -d '\n'
}

ended() { [[ -f $1.status ]]; }
shows_prompt_last() { [[ $(console_text "$1") == *"$prompt" ]]; }

# A fresh console, as a double click opens it: the prompt comes last and the package waits; one
# key ends it, unechoed, with the command's status.
start_console fresh demo_pkg.exe
prompt_or_end() { shows_prompt_last fresh || ended fresh; }
wait_until 30 prompt_or_end || true
sleep 2
if ended fresh; then
  fail "fresh console: the package ended without a key (status $(cat fresh.status)): [$(console_text fresh)]"
elif ! shows_prompt_last fresh; then
  fail "fresh console: the prompt is not the last text in the console: [$(console_text fresh)]"
else
  if ! timeout 20 xdotool search --sync --name 'demo_pkg\.exe' windowfocus --sync key x; then
    fail "fresh console: could not type into the console window"
  fi
  if ! wait_until 20 ended fresh; then
    fail "fresh console: the package did not end after a key"
  elif [[ $(cat fresh.status) != 3 ]]; then
    fail "fresh console: status $(cat fresh.status), expected 3"
  elif [[ $(console_text fresh) != *"exit status: 3\\r\\n$prompt\\r\\n" ]]; then
    fail "fresh console: expected the tool's output, the prompt and one line end: [$(console_text fresh)]"
  fi
fi

# Runs that must end by themselves, with their status and a line of text they must show.
check_no_wait() {
  local name=$1 status=$2 shown=$3
  if ! wait_until 30 ended "$name"; then
    fail "$name: the package did not end by itself: [$(console_text "$name")]"
    return
  fi
  if [[ $(cat "$name.status") != "$status" ]]; then
    fail "$name: status $(cat "$name.status"), expected $status"
  fi
  local text
  text=$(console_text "$name")
  if [[ $text != *"$shown"* ]]; then
    fail "$name: [$shown] not shown: [$text]"
  fi
  if [[ $text == *"Press any key"* ]]; then
    fail "$name: the prompt was shown: [$text]"
  fi
}

start_console no_pause demo_pkg.exe --sfx-no-pause
check_no_wait no_pause 3 "exit status: 3"

start_console usage_error demo_pkg.exe --sfx-extract-dir
check_no_wait usage_error 252 "-E- Destination directory not specified with --sfx-extract-dir option"

# A console that already shows output (a batch file that printed first) is in use.
start_console in_use cmd /c in_use.bat
check_no_wait in_use 3 "earlier output\\r\\nsfx_payload_tool: "

if ((failures > 0)); then
  exit 1
fi
echo "console window: all 4 cases passed"
