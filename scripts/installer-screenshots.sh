#!/usr/bin/env bash
# Takes the installer's pictures for the README again, from the current
# win32 build, under Wine on an 800x600 virtual display: the installer's
# first and last page, and the uninstaller's first two pages and its end.
# Writes docs/installer-*.png. Needs Xvfb, xdotool, ImageMagick and NSIS
# (scripts/setup-machine.sh installs them). Installs into, and uninstalls
# from, the build's own Wine prefix, whose Quadrakey it leaves removed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=$root/build/win32
prefix=$build/wineprefix
runner=$root/tests/wine/run-under-wine.sh
wine=${QK_WINE:-/usr/lib/wine/wine64}
out=$root/docs

cmake --preset win32 >/dev/null
cmake --build --preset win32 --target installer window_driver >/dev/null
installer=$(ls "$build"/installer/Quadrakey-*-setup.exe)

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

q() { WINEPREFIX=$prefix WINEDEBUG=-all timeout 60 "$wine" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
programs=$(wine_folder "$wine" "$prefix" LOCALAPPDATA)/Programs/Quadrakey
# A Quadrakey installed before goes first, with its settings.
if [[ -f $programs/Uninstall.exe ]]; then
  "$runner" --prefix "$prefix" "$programs/Uninstall.exe" /S /REMOVESETTINGS "_?=$(q winepath -w "$programs")" \
    </dev/null >/dev/null 2>&1 || true
  rm -rf "$programs"
fi

await() {
  local window=
  for _ in $(seq 300); do
    window=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1 || true)
    [[ -n $window ]] && break
    sleep 0.1
  done
  [[ -n $window ]] || { echo "no window named $1" >&2; exit 1; }
  timeout 10 xdotool windowfocus --sync "$window" 2>/dev/null || true
  # Let it draw.
  sleep 1
}
shot() {
  hide_wine_tray
  import -window root "$out/installer-$1.png"
  echo "  $out/installer-$1.png"
}

WINEPREFIX=$prefix WINEDEBUG=-all "$wine" "$installer" </dev/null >/dev/null 2>&1 &
await '^Quadrakey Setup$'
shot welcome
xdotool key Return    # Install: the files, then the last page
for _ in $(seq 300); do [[ -f $programs/Uninstall.exe ]] && break; sleep 0.1; done
sleep 2
shot finish
xdotool key Return    # Finish, which opens Quadrakey
await '^Quadrakey$'
"$runner" --prefix "$prefix" "$build/bin/window_driver.exe" cancel Quadrakey </dev/null >/dev/null 2>&1

WINEPREFIX=$prefix WINEDEBUG=-all "$wine" "$programs/Uninstall.exe" </dev/null >/dev/null 2>&1 &
await '^Quadrakey Uninstall'
shot uninstall-confirm
xdotool key Return    # Next: what to remove
sleep 1
shot uninstall-choice
xdotool key Return    # Uninstall
for _ in $(seq 300); do [[ -e $programs ]] || break; sleep 0.1; done
sleep 2
shot uninstall-done
xdotool key Return    # Close
