#!/usr/bin/env bash
# Quadrakey on the emulated device: a fresh device, the programs installed,
# one hardware button configured in tapdeck as a person would (its four
# presses, the orientations of "<Rotate Screen>", the hold time), and the
# five kinds of press, each with what the device did and when.
#
# usage: demo/demo.sh BIN_DIR [DEVICE_FOLDER]
#   BIN_DIR        the build's bin folder (devicesim, tapdeck, TapdeckX, Turnscreen)
#   DEVICE_FOLDER  where the demo device lives (default: ./quadrakey-demo);
#                  a device already there is replaced
set -euo pipefail

if [[ $# -lt 1 || $# -gt 2 || "$1" == "-h" || "$1" == "--help" ]]; then
  sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
bin_dir=$1
device=${2:-./quadrakey-demo}
sim="$bin_dir/devicesim"
for program in devicesim tapdeck TapdeckX Turnscreen; do
  if [[ ! -x "$bin_dir/$program" ]]; then
    echo "demo: $bin_dir/$program is missing; build the project first" >&2
    exit 1
  fi
done
mkdir -p -- "$device"

run() { "$sim" --device "$device" "$@"; }
# What a person does on tapdeck's screen; the screen is printed only where
# the demo asks for it.
act() { run ui "$@" --quiet; }
step() { printf '\n== %s\n' "$*"; }

step "A fresh device in $device"
run init --force
# init has installed the programs built beside devicesim.
run buttons

step "Starting tapdeck as the shell does"
run run tapdeck

step "Settings page: Button 2 (index 1, entry 40C2) gets its four presses"
act select 1012 'Button 2 (originally Contacts)'
act select 1013 'Calendar'
act select 1014 '<Today>'
act select 1015 '<Input Panel>'
# Choosing "<Rotate Screen>" opens the orientation dialog over the page; it
# starts with 0 degrees checked. Adding 90 degrees turns between portrait and
# landscape.
act select 1021 '<Rotate Screen>'
act click 1036
run ui show
act done
step "The Settings page as the person leaves it"
run ui show

step "Options page: a hold takes 300 ms (the double press keeps 400 ms)"
act tab Options
run ui slide 1033 300

step "Done: tapdeck takes the buttons over and rewrites the button table"
# On first use every hardware button is taken over, the Record button too,
# so tapdeck tells the person that the Record function has moved.
act done
run ui show
run ui answer
run buttons
run reg export 'HKLM\Software\Quadrakey'
echo "hold interval 300 ms, double-press interval 400 ms"
echo "  single press            -> \\Windows\\Start Menu\\Calendar.lnk"
echo "  press and hold          -> <Today>"
echo "  double press            -> <Input Panel>"
echo "  double press and hold   -> <Rotate Screen> (mask 3: 0 and 90 degrees)"
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
