#!/usr/bin/env bash
# Quadrakey on the emulated device: a fresh device, the programs installed,
# one hardware button taken over by hand with four assignments, and the five
# kinds of press, each with what the device did and when.
#
# usage: demo/demo.sh BIN_DIR [DEVICE_FOLDER]
#   BIN_DIR        the build's bin folder (devicesim, TapdeckX, Turnscreen)
#   DEVICE_FOLDER  where the demo device lives (default: ./quadrakey-demo);
#                  a device already there is replaced
set -euo pipefail

if [[ $# -lt 1 || $# -gt 2 || "$1" == "-h" || "$1" == "--help" ]]; then
  sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
bin_dir=$1
device=${2:-./quadrakey-demo}
sim="$bin_dir/devicesim"
for program in devicesim TapdeckX Turnscreen; do
  if [[ ! -x "$bin_dir/$program" ]]; then
    echo "demo: $bin_dir/$program is missing; build the project first" >&2
    exit 1
  fi
done
mkdir -p -- "$device"

run() { "$sim" --device "$device" "$@"; }
step() { printf '\n== %s\n' "$*"; }

step "A fresh device in $device"
run init --force
# init has installed the programs built beside devicesim (TapdeckX, Turnscreen).

step "Taking Button 2 (entry 40C2, button index 1, letter B) over by hand"
reg_file="$device/quadrakey-demo.reg"
cat > "$reg_file" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Quadrakey]
"HoldInterval"=dword:0000012c
"DblClickInterval"=dword:00000190
"EnabledB"=dword:00000001
"VirtualKeyB"=dword:000000c2
"ButtonB"="\\Windows\\Start Menu\\Calendar.lnk"
"ButtonBh"="<Today>"
"ButtonB2"="<Input Panel>"
"ButtonB2h"="<Rotate Screen>"
"ButtonB-RotateScreen2h"="15"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shell\Keys\40C2]
@="\"\\Program Files\\Quadrakey\\TapdeckB.lnk\""
REG
run reg import "$reg_file"
run shortcut '\Program Files\Quadrakey\TapdeckB.lnk' '"\Program Files\Quadrakey\TapdeckX.exe" 1'
echo "hold interval 300 ms, double-press interval 400 ms"
echo "  single press            -> \\Windows\\Start Menu\\Calendar.lnk"
echo "  press and hold          -> <Today>"
echo "  double press            -> <Input Panel>"
echo "  double press and hold   -> <Rotate Screen> (mask 15: every orientation)"
echo "  triple press            -> the double press and hold slot"

# Key-down lengths and gaps in milliseconds, as 'devicesim series' takes them.
press() {
  local title=$1
  shift
  step "$title (series $*)"
  run series 40C2 "$@"
  printf -- '-- display: '
  run display
}

press "Single press" 60
press "Press and hold" 700
press "Double press" 60 120 60
press "Double press and hold" 60 120 700
press "Triple press" 60 120 60 120 60

step "The launcher's last closing report (launch.log)"
cat -- "$(run path '\Program Files\Quadrakey\launch.log')"
echo
