#!/usr/bin/env bash
# Runs a Windows program on a virtual display, waits for its message box
# (a visible window with the exact title), dismisses it with Return and
# checks that the program then ends with exit code 0.
# Usage: dismiss-message-box.sh RUNNER WINEPREFIX TITLE PROGRAM [ARGS...]
# Exit code 77 (skipped) when Xvfb or xdotool is missing.
set -uo pipefail
. "$(dirname "$0")/xvfb.sh"
runner=$1 prefix=$2 title=$3
shift 3

for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed (apt-get install xvfb xdotool); the message box was not checked"
    exit 77
  fi
done

xvfb_pid=
program_pid=
finish() {
  [[ -n $program_pid ]] && kill "$program_pid" 2>/dev/null
  # A fresh server for the tests after this one, without the display.
  "$runner" --prefix "$prefix" --stop-server
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  env -u DISPLAY "$runner" --prefix "$prefix" --start-server
}
trap finish EXIT

if ! start_xvfb 480x640; then
  echo "FAIL: Xvfb did not start: $xvfb_error"
  exit 1
fi

# The warm server's desktop was made without a display.
"$runner" --prefix "$prefix" --stop-server

"$runner" --prefix "$prefix" --timeout 120 "$@" &
program_pid=$!

window=
for _ in $(seq 600); do
  window=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n1)
  [[ -n $window ]] && break
  kill -0 "$program_pid" 2>/dev/null || break
  sleep 0.1
done
if [[ -z $window ]]; then
  if kill -0 "$program_pid" 2>/dev/null; then
    echo "FAIL: no window titled \"$title\" appeared within 60 s"
  else
    wait "$program_pid"
    echo "FAIL: the program ended with exit code $? before a window titled \"$title\" appeared"
    program_pid=
  fi
  xvfb_gone
  exit 1
fi
echo "message box \"$title\" appeared (window $window)"

# Return until the box is gone (a key sent while it takes focus can be lost).
for _ in $(seq 20); do
  kill -0 "$program_pid" 2>/dev/null || break
  xdotool key Return 2>/dev/null
  sleep 0.5
done
wait "$program_pid"
code=$?
program_pid=
if [[ $code -ne 0 ]]; then
  echo "FAIL: the program ended with exit code $code after the message box (expected 0)"
  exit 1
fi
echo "dismissed; the program ended with exit code 0"
