#!/usr/bin/env bash
# The press-accuracy benchmark in one command: human-like press series of
# three populations and five gestures, played through the real programs on
# each path (host: the emulated device through 'devicesim series'; wine: real
# key events through XTest into Xvfb, the key listener TapdeckH and TapdeckX
# under Wine), idle and beside a CPU load of twice the cores, scored against
# the press rule and against what was meant. Prints the table and keeps the
# raw results beside it.
#
# usage: bench/accuracy/run.sh [-n N] [--paths host,wine] [--conditions idle,load]
#                              [--seed S] [--out DIR]
#   -n N          series per population and gesture (default 20: 300 a run)
#   --out DIR     where results-*.tsv and table-*.txt go (default build/accuracy)
# Make the table again from kept results:
#   build/host/bin/press_accuracy table build/accuracy/results-*.tsv
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

n=20 paths=host,wine conditions=idle,load seed=1 out=$root/build/accuracy
usage() {
  sed -n '/^# usage:/,/^# Make/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
  exit 2
}
while [[ $# -gt 0 ]]; do
  case $1 in
    -n) n=${2:-}; shift 2 ;;
    --paths) paths=${2:-}; shift 2 ;;
    --conditions) conditions=${2:-}; shift 2 ;;
    --seed) seed=${2:-}; shift 2 ;;
    --out) out=${2:-}; shift 2 ;;
    *) usage ;;
  esac
done
[[ $n =~ ^[0-9]+$ && $seed =~ ^[0-9]+$ ]] || usage
for p in ${paths//,/ }; do [[ $p == host || $p == wine ]] || usage; done
for c in ${conditions//,/ }; do [[ $c == idle || $c == load ]] || usage; done
[[ $out == /* ]] || out=$root/$out

mkdir -p "$out" || exit 1
stamp=$(date +%Y%m%d-%H%M%S)
results=$out/results-$stamp.tsv
table=$out/table-$stamp.txt
bin=$root/build/host/bin
wbin=$root/build/win32/bin

# ---- Build what the paths need ------------------------------------------------
[[ -f build/host/build.ninja ]] || cmake --preset host >/dev/null || exit 1
cmake --build --preset host -j2 --target press_accuracy devicesim TapdeckX TapdeckH Turnscreen || exit 1
if [[ ,$paths, == *,wine,* ]]; then
  for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || { echo "the wine path needs $tool (scripts/setup-machine.sh)" >&2; exit 1; }
  done
  [[ -f build/win32/build.ninja ]] || cmake --preset win32 >/dev/null || exit 1
  cmake --build --preset win32 -j2 --target TapdeckX TapdeckH key_watch || exit 1
fi

# ---- The wine path's stage: Xvfb, a prefix of its own, the listener -------------
wine=${QK_WINE:-/usr/lib/wine/wine64}
runner=$root/tests/wine/run-under-wine.sh
prefix=$root/build/win32/accuracy-prefix
app=$prefix/device_files/Quadrakey
watch=$out/watch-$stamp.log
xvfb_pid= desktop_pid= listener_pid=
stage_up=0

teardown() {
  [[ -n $listener_pid ]] && kill "$listener_pid" 2>/dev/null
  [[ -n $desktop_pid ]] && kill "$desktop_pid" 2>/dev/null
  # Whatever still runs in this prefix (launchers, the desktop) ends with its server.
  ((stage_up)) && "$runner" --prefix "$prefix" --stop-server
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  xvfb_pid= desktop_pid= listener_pid= stage_up=0
}
trap teardown EXIT
trap 'exit 130' INT TERM

stage() {
  . "$root/tests/wine/xvfb.sh"
  start_xvfb 480x640 || { echo "Xvfb did not start" >&2; return 1; }
  stage_up=1
  "$runner" --prefix "$prefix" --stop-server
  "$runner" --prefix "$prefix" --start-server
  mkdir -p "$app"
  cp "$wbin/TapdeckX.exe" "$wbin/TapdeckH.exe" "$wbin/key_watch.exe" "$app/" || return 1
  # Every slot sends a key of its own.
  . "$root/tests/wine/f6_button.sh"
  f6_button_settings "$wine" "$prefix" '<Page Up>' '<Page Down>' '<Scroll Up>' '<Scroll Down>' ||
    { echo "cannot write the settings" >&2; return 1; }
  local logs
  logs=$(quadrakey_logs "$wine" "$prefix") || { echo "Wine does not say where the logs go" >&2; return 1; }
  rm -f "$logs"/*.log

  # The watcher first, in a Wine desktop the size of the screen (X gives it
  # the keys); the listener after it, in the same desktop, so that its hook
  # sees each key before the watcher's does. The watcher ends by itself.
  local lifetime=$((n * 15 * 2 * 20 + 600))
  : >"$watch"
  WINEPREFIX=$prefix WINEDEBUG=-all "$wine" explorer /desktop=quadrakey,480x640 'Q:\Quadrakey\key_watch.exe' \
    "Z:${watch//\//\\}" "$lifetime" </dev/null >/dev/null 2>&1 &
  desktop_pid=$!
  for _ in $(seq 200); do grep -q '^ready' "$watch" && break; sleep 0.1; done
  grep -q '^ready' "$watch" || { echo "the key watcher did not start" >&2; return 1; }
  WINEPREFIX=$prefix WINEDEBUG=-all "$wine" explorer /desktop=quadrakey,480x640 'Q:\Quadrakey\TapdeckH.exe' \
    </dev/null >/dev/null 2>&1 &
  listener_pid=$!
  for _ in $(seq 200); do grep -q 'listening' "$logs/listener.log" 2>/dev/null && break; sleep 0.1; done
  grep -q '  0: key 117 "F6 key" as button 0: listening' "$logs/listener.log" 2>/dev/null ||
    { echo "the listener does not listen to F6:" >&2; cat "$logs/listener.log" >&2; return 1; }
  ! grep -q 'cannot be dated' "$logs/listener.log" || { echo "the listener cannot date presses" >&2; return 1; }
  local desktop=
  for _ in $(seq 100); do
    desktop=$(xdotool search --onlyvisible --name 'Wine desktop' 2>/dev/null | head -n1)
    [[ -n $desktop ]] && break
    sleep 0.1
  done
  [[ -n $desktop ]] || { echo "the Wine desktop never showed" >&2; return 1; }
  xdotool windowfocus --sync "$desktop" 2>/dev/null
  xdotool mousemove 240 320 2>/dev/null
  # One press to see that the keys arrive (and to settle Wine's clock for X
  # event times); its dispatch is over before the first series.
  xdotool keydown F6 sleep 0.05 keyup F6
  sleep 1.5
  grep -q ' 117 d h$' "$watch" || { echo "a real F6 did not reach Wine" >&2; return 1; }
}

# ---- The runs -------------------------------------------------------------------
echo "results: $results"
for path in ${paths//,/ }; do
  if [[ $path == wine ]]; then
    stage || exit 1
  fi
  for condition in ${conditions//,/ }; do
    echo "== $path $condition, $((n * 15)) series; load average $(cut -d' ' -f1-3 /proc/loadavg)"
    args=(run --path "$path" --condition "$condition" -n "$n" --seed "$seed" --out "$results")
    if [[ $path == host ]]; then
      args+=(--bin "$bin")
    else
      args+=(--watch "$watch" --prefix "$prefix")
    fi
    "$bin/press_accuracy" "${args[@]}"
    status=$?
    ((status == 130)) && exit 130
    ((status == 0)) || echo "press_accuracy $path $condition ended with $status" >&2
  done
  [[ $path == wine ]] && teardown
done

"$bin/press_accuracy" table "$results" | tee "$table"
echo "results: $results; table: $table"
