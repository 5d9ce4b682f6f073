#!/usr/bin/env bash
# Takes the key listener's pictures for the README again, from the current
# win32 build, under Wine on an 800x600 virtual display with a taskbar: the
# icon's menu, and the notice of a real press of F6 (assigned to Notepad). Writes docs/listener-menu.png and docs/listener-notice.png.
# Needs Xvfb, xdotool and ImageMagick (scripts/setup-machine.sh installs
# them). Writes Quadrakey's settings afresh into the build's own Wine prefix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=$root/build/win32
prefix=$build/wineprefix
runner=$root/tests/wine/run-under-wine.sh
wine=${QK_WINE:-/usr/lib/wine/wine64}
out=$root/docs

cmake --preset win32 >/dev/null
cmake --build --preset win32 --target TapdeckH TapdeckX >/dev/null

. tests/wine/xvfb.sh
. tests/wine/f6_button.sh
start_xvfb 800x600 || { echo "Xvfb did not start: $xvfb_error" >&2; exit 1; }
finish() {
  "$runner" --prefix "$prefix" --stop-server || true
  kill "$xvfb_pid" 2>/dev/null || true
}
trap finish EXIT
"$runner" --prefix "$prefix" --stop-server
"$runner" --prefix "$prefix" --start-server

f6_button_settings "$wine" "$prefix" 'C:\\windows\\notepad.exe' "" "" "" || { echo "regedit failed" >&2; exit 1; }
logs=$(wine_folder "$wine" "$prefix" LOCALAPPDATA)/Quadrakey
rm -f "$logs/listener.log" "$logs/launch.log"
# A desktop named "shell" has a taskbar, and the notification area in it.
desktop() {
  WINEPREFIX=$prefix WINEDEBUG=-all timeout 300 "$wine" explorer /desktop=shell,800x600 "$@" </dev/null >/dev/null 2>&1 &
}
await() {
  for _ in $(seq 300); do
    [[ -n $(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1) ]] && return 0
    sleep 0.1
  done
  echo "no window named $1" >&2
  exit 1
}
desktop "$(WINEPREFIX=$prefix "$wine" winepath -w "$build/bin/TapdeckH.exe" 2>/dev/null | tr -d '\r')"
for _ in $(seq 300); do grep -qs 'listening$' "$logs/listener.log" && break; sleep 0.1; done
sleep 2

# The icon sits at the taskbar's right end.
xdotool mousemove 790 590 click 3
sleep 0.5
# Onto the first item: its tip goes, and the item shows chosen.
xdotool mousemove 730 536
sleep 1
import -window root "$out/listener-menu.png"
echo "  $out/listener-menu.png"
xdotool key Escape
sleep 0.5

desktop notepad
await 'Notepad'
sleep 1
# X gives keys to the window with its focus: the desktop's.
timeout 10 xdotool windowfocus --sync "$(xdotool search --onlyvisible --name 'Wine desktop' | head -n1)" || true
xdotool mousemove 300 200
xdotool keydown F6 sleep 0.1 keyup F6
# Inside the virtual desktop the notice is no window of X's own: it shows
# once the press has opened a second Notepad.
notepads() { xdotool search --onlyvisible --name 'Notepad' 2>/dev/null | wc -l; }
for _ in $(seq 300); do [[ $(notepads) -ge 2 ]] && break; sleep 0.1; done
[[ $(notepads) -ge 2 ]] || { echo "the press opened no Notepad" >&2; exit 1; }
sleep 0.5
sleep 0.3
import -window root "$out/listener-notice.png"
echo "  $out/listener-notice.png"
