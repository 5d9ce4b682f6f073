#!/usr/bin/env bash
# Runs a Windows program under Wine on a virtual display of its own, with a
# Wine server that knows the display, and gives back the program's exit
# code. Afterwards the warm server runs again without a display, as the
# other tests expect it.
# Usage: run-with-display.sh WIDTHxHEIGHT RUNNER PREFIX PROGRAM [ARGS...]
# Exit code 77 (skipped) when Xvfb is missing.
set -uo pipefail
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

# Xvfb picks a free display number and writes it to fd 4.
display_file=$(mktemp)
Xvfb -displayfd 4 -screen 0 "${size}x24" -nolisten tcp 4>"$display_file" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do
  [[ -s $display_file ]] && break
  sleep 0.1
done
number=$(head -n1 "$display_file")
rm -f "$display_file"
if [[ -z $number ]]; then
  echo "FAIL: Xvfb did not start"
  exit 1
fi
export DISPLAY=:$number

# The warm server's desktop was made without a display.
"$runner" --prefix "$prefix" --stop-server
"$runner" --prefix "$prefix" --start-server
"$runner" --prefix "$prefix" "$@"
exit $?
