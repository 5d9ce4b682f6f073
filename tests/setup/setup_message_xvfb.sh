#!/usr/bin/env bash
# setup without an application manager entry shows its message box: on a
# virtual display a window titled "Quadrakey Setup" appears, Return dismisses
# it, and setup then ends with exit code 0.
# Usage: setup_message_xvfb.sh RUNNER WINEPREFIX SETUP.EXE
set -uo pipefail
runner=$1 prefix=$2 setup_linux=$3

for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed (apt-get install xvfb xdotool); the message box was not checked"
    exit 77
  fi
done

xvfb_pid=
setup_pid=
finish() {
  [[ -n $setup_pid ]] && kill "$setup_pid" 2>/dev/null
  # A fresh server for the tests after this one, without the display.
  "$runner" --prefix "$prefix" --stop-server
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  env -u DISPLAY "$runner" --prefix "$prefix" --start-server
}
trap finish EXIT

# Xvfb picks a free display number and writes it to fd 4.
display_file=$(mktemp)
Xvfb -displayfd 4 -screen 0 480x640x24 -nolisten tcp 4>"$display_file" 2>/dev/null &
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
"$runner" --prefix "$prefix" --timeout 60 reg delete \
  'HKLM\software\Microsoft\Windows\CurrentVersion\App Paths\CEAppMgr.exe' /f >/dev/null 2>&1

"$runner" --prefix "$prefix" --timeout 120 "$setup_linux" &
setup_pid=$!

window=
for _ in $(seq 600); do
  window=$(xdotool search --onlyvisible --name '^Quadrakey Setup$' 2>/dev/null | head -n1)
  [[ -n $window ]] && break
  if ! kill -0 "$setup_pid" 2>/dev/null; then break; fi
  sleep 0.1
done
if [[ -z $window ]]; then
  echo "FAIL: no window titled \"Quadrakey Setup\" appeared"
  exit 1
fi
echo "message box window $window appeared"

# Return until the box is gone (a key sent while it takes focus can be lost).
for _ in $(seq 20); do
  kill -0 "$setup_pid" 2>/dev/null || break
  xdotool key Return 2>/dev/null
  sleep 0.5
done
wait "$setup_pid"
code=$?
setup_pid=
if [[ $code -ne 0 ]]; then
  echo "FAIL: setup ended with exit code $code after the message box (expected 0)"
  exit 1
fi
echo "setup showed the message, was dismissed and ended with exit code 0"
