#!/usr/bin/env bash
# Runs a Windows program under Wine on a virtual display of its own, with a
# Wine server that knows the display, and gives back the program's exit
# code. Afterwards the warm server runs again without a display, as the
# other tests expect it. Every step that fails says so (the runner says how
# the program itself failed).
# Usage: run-with-display.sh WIDTHxHEIGHT RUNNER PREFIX PROGRAM [ARGS...]
# Exit code 77 (skipped) when Xvfb is missing.
set -uo pipefail
. "$(dirname "$0")/xvfb.sh"
size=$1 runner=$2 prefix=$3
shift 3

if ! command -v Xvfb >/dev/null; then
  echo "SKIPPED: Xvfb is not installed (apt-get install xvfb); the windows were not shown"
  exit 77
fi

xvfb_pid=
finish() {
  local code=$? restarted=0
  "$runner" --prefix "$prefix" --stop-server
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  env -u DISPLAY "$runner" --prefix "$prefix" --start-server || restarted=$?
  if ((restarted != 0)); then
    echo "FAIL: the Wine server did not start again without the display (the tests after this one need it)"
    ((code == 0)) && exit 1
  fi
  exit "$code"
}
trap finish EXIT

if ! start_xvfb "$size"; then
  echo "FAIL: Xvfb did not start: $xvfb_error"
  exit 1
fi

# The warm server's desktop was made without a display.
if ! "$runner" --prefix "$prefix" --stop-server; then
  echo "FAIL: the Wine server made without the display did not stop"
  exit 1
fi
if ! "$runner" --prefix "$prefix" --start-server; then
  echo "FAIL: the Wine server did not start on display $DISPLAY"
  exit 1
fi
"$runner" --prefix "$prefix" "$@"
code=$?
if ((code != 0)); then
  xvfb_gone
  echo "FAIL: ${1##*/} on a ${size} display ended with exit code $code"
fi
exit "$code"
