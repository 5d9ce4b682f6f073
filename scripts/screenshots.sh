#!/usr/bin/env bash
# Takes the pictures of tapdeck that the README shows, from the current
# win32 build, under Wine on virtual screens of 240x320 and 480x640: each of
# the five tabs, the assignment page with "<Record>" chosen (its notice
# shown), the rotation choice, the reboot notice, and at 480x640 the Add
# Button Intercept dialog once a real key (F6, from xdotool) was detected,
# Remove's question, and the Tune Button Timing dialog once a person
# pressed the Volume Up button (real keys again) five times each way. On
# the win32 build tapdeck is a PC's window: in the middle of the screen,
# and filling a screen smaller than its pages.
#
# Usage: scripts/screenshots.sh [OUTPUT_FOLDER]   (default: docs)
# Needs the win32 build's tools (scripts/setup-machine.sh installs them),
# Xvfb, xdotool and ImageMagick's import. Uses a Wine prefix of its own,
# build/win32/screenshots-prefix, made on the first run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. tests/wine/xvfb.sh
out=${1:-docs}
mkdir -p "$out"
out=$(cd "$out" && pwd)

for tool in Xvfb xdotool import; do
  if ! command -v "$tool" >/dev/null; then
    echo "screenshots.sh: $tool is missing (scripts/setup-machine.sh installs it)" >&2
    exit 1
  fi
done

started=$(date +%s)
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target tapdeck window_driver >/dev/null
bin=$root/build/win32/bin
runner=$root/tests/wine/run-under-wine.sh
prefix=$root/build/win32/screenshots-prefix
device=$prefix/device_files

wine_run() { "$runner" --prefix "$prefix" --timeout 60 "$@" </dev/null; }
driver() { wine_run "$bin/window_driver.exe" "$@"; }

# Waits until a shown window has exactly this title; its id, or nothing.
await_window() {
  local title=$1 window=
  for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | tail -n1 || true)
    [[ -n $window ]] && break
    sleep 0.1
  done
  echo "$window"
}

# Waits until no shown window has this title.
await_gone() {
  for _ in $(seq 100); do
    [[ -z $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null || true) ]] && return 0
    sleep 0.1
  done
  return 1
}

shot() {
  hide_wine_tray
  sleep 0.4  # let the last change paint
  import -window root "$out/tapdeck-$size-$1.png"
  echo "  $out/tapdeck-$size-$1.png"
}

# A device with four hardware buttons (the last holds the device's Record
# command), a Start Menu and stored assignments for button 1.
make_device() {
  rm -rf "$device"
  mkdir -p "$device/Program Files/Quadrakey" "$device/Windows/Start Menu/Programs/Games" "$device/My Documents"
  shortcut() { printf '%s#%s' "${#2}" "$2" >"$device/$1"; }
  shortcut "Windows/Start Menu/Calendar.lnk" '\Windows\calendar.exe'
  shortcut "Windows/Start Menu/Contacts.lnk" '\Windows\addrbook.exe'
  shortcut "Windows/Start Menu/Programs/Pocket Word.lnk" '\Windows\pword.exe'
  shortcut "Windows/Start Menu/Programs/Pocket Excel.lnk" '\Windows\pxl.exe'
  shortcut "Windows/Start Menu/Programs/Games/Solitaire.lnk" '\Windows\solitare.exe'
  printf 'Dear reader' >"$device/My Documents/letter.psw"
  local reg=$prefix/device.reg
  cat >"$reg" <<'EOF'
REGEDIT4

[-HKEY_LOCAL_MACHINE\Software\Quadrakey]
[-HKEY_CURRENT_USER\Software\Quadrakey]
[-HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shell\Keys]

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders]
"Programs"="Q:\\Windows\\Start Menu\\Programs"

[HKEY_CURRENT_USER\Software\Quadrakey]
"VirtualKeyA"=dword:000000c1
"VirtualKeyB"=dword:000000c2
"VirtualKeyC"=dword:000000c3
"VirtualKeyD"=dword:000000c5
"ButtonA"="Q:\\Windows\\Start Menu\\Calendar.lnk"
"ButtonAh"="<Today>"
"ButtonA2"="Q:\\Windows\\Start Menu\\Programs\\Pocket Word.lnk"
"ButtonA2h"="<Input Panel>"

[HKEY_CURRENT_USER\Software\Quadrakey\Hotkeys]
"B0"="Volume Up"
"H0"=dword:000000af
"B1"="Macro pad 1"
"H1"=dword:0000007c

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shell\Keys\40C1]
@="\"\\Windows\\Start Menu\\Calendar.lnk\""
"Name"="Button 1"
"ResetCmd"="\"\\Windows\\Start Menu\\Calendar.lnk\""

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shell\Keys\40C2]
@="\"\\Windows\\Start Menu\\Contacts.lnk\""
"Name"="Button 2"
"ResetCmd"="\"\\Windows\\Start Menu\\Contacts.lnk\""

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shell\Keys\40C3]
"Name"="Button 3"
"ResetCmd"="\"\\Windows\\Start Menu\\Programs\\Pocket Word.lnk\""

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shell\Keys\40C5]
@="\"\\Windows\\AppButtons\\Record.lnk\""
"Name"="Record"
"ResetCmd"="\"\\Windows\\AppButtons\\Record.lnk\""
EOF
  wine_run regedit /S "$(winepath_of "$reg")"
}

# The prefix's name for a Linux path (drive Z: is the Linux root).
winepath_of() { echo "Z:${1//\//\\}"; }

xvfb_pid=
program_pid=
finish() {
  [[ -n $program_pid ]] && kill "$program_pid" 2>/dev/null
  "$runner" --prefix "$prefix" --stop-server
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  xvfb_pid=
  # Done takes the pictured device's buttons over with shortcuts beside the
  # program, which on a PC is its own folder.
  rm -f "$bin"/Tapdeck?.lnk
}
trap finish EXIT

shoot() {
  size=$1
  echo "$size:"
  if ! start_xvfb "$size"; then
    echo "Xvfb did not start: $xvfb_error" >&2
    exit 1
  fi

  "$runner" --prefix "$prefix" --stop-server
  "$runner" --prefix "$prefix" --start-server
  make_device

  # Started from the device's drive, whose root the device paths name.
  (cd "$device" && exec "$runner" --prefix "$prefix" --timeout 120 "$bin/tapdeck.exe" </dev/null >/dev/null 2>&1) &
  program_pid=$!
  [[ -n $(await_window Quadrakey) ]] || { echo "tapdeck showed no window" >&2; exit 1; }
  sleep 1

  local tab=0
  for name in settings addbuttons options help about; do
    driver tab $tab
    shot "$name"
    tab=$((tab + 1))
  done
  if [[ $size == 480x640 ]]; then
    # Add on the Add Buttons page, then F6 pressed for the Intercept dialog,
    # which X gives to the window with its focus.
    driver tab 1
    driver click 1025
    local intercept
    intercept=$(await_window "Add Button Intercept")
    [[ -n $intercept ]] || { echo "no Intercept dialog" >&2; exit 1; }
    timeout 10 xdotool windowfocus --sync "$intercept" 2>/dev/null || true
    xdotool key F6
    sleep 0.3
    xdotool type --delay 30 'Side button'
    shot intercept
    driver cancel "Add Button Intercept"
    await_gone "Add Button Intercept"
    # Remove asks first; No keeps the button.
    driver select 1012 "Volume Up"
    driver click 1026
    sleep 1
    shot remove
    driver no Quadrakey
    sleep 0.5
  fi
  driver tab 0
  if [[ $size == 480x640 ]]; then
    # The user-defined Volume Up button (line 4) tuned: a person's presses
    # of each kind, a pause between tries; the dialog has the key to itself.
    driver select 1012 4
    driver click 1100
    local tuner
    tuner=$(await_window "Tune Button Timing")
    [[ -n $tuner ]] || { echo "no tuner dialog" >&2; exit 1; }
    timeout 10 xdotool windowfocus --sync "$tuner" 2>/dev/null || true
    local key=XF86AudioRaiseVolume attempt
    for attempt in "0.12" "0.09" "0.15" "0.11" "0.13"; do
      xdotool keydown $key sleep "$attempt" keyup $key sleep 1.2
    done
    for attempt in "0.8" "0.7" "0.9" "0.75" "0.85"; do
      xdotool keydown $key sleep "$attempt" keyup $key sleep 1.2
    done
    for attempt in "0.1" "0.12" "0.09" "0.11" "0.1"; do
      xdotool keydown $key sleep "$attempt" keyup $key sleep 0.14 keydown $key sleep 0.1 keyup $key sleep 1.2
    done
    for attempt in "0.1" "0.12" "0.09" "0.11" "0.1"; do
      xdotool keydown $key sleep "$attempt" keyup $key sleep 0.14 keydown $key sleep 0.8 keyup $key sleep 1.2
    done
    shot tuner
    driver cancel "Tune Button Timing"
    await_gone "Tune Button Timing"
    driver select 1012 0
  fi

  # The double press of button 1 set to "<Rotate Screen>".
  driver select 1015 "<Rotate Screen>"
  [[ -n $(await_window "Rotate Screen") ]] || { echo "no rotation choice" >&2; exit 1; }
  shot rotation
  driver cancel "Rotate Screen"
  await_gone "Rotate Screen"

  # The single press set to "<Record>" (line 0): the lower rows give way to
  # the notice.
  driver select 1013 0
  shot record

  # Done: the Record function moved to button 1.
  driver done
  sleep 1
  shot reboot
  driver answer Quadrakey
  wait "$program_pid" || true
  program_pid=
  finish
}

shoot 240x320
shoot 480x640
echo "took $(($(date +%s) - started)) s"
