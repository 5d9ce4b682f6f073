#!/usr/bin/env bash
# Runs a Windows program under Wine on a virtual display of its own, with a
# Wine server that knows the display, and gives back the program's exit
# code. Afterwards the warm server runs again without a display, as the
# other tests expect it.
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
  "$runner" --prefix "$prefix" --stop-server
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  env -u DISPLAY "$runner" --prefix "$prefix" --start-server
}
trap finish EXIT

if ! start_xvfb "$size"; then
  echo "FAIL: Xvfb did not start"
  exit 1
fi

# The warm server's desktop was made without a display.
"$runner" --prefix "$prefix" --stop-server
"$runner" --prefix "$prefix" --start-server
"$runner" --prefix "$prefix" "$@"
exit $?
