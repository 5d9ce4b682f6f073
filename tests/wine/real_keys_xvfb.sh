#!/usr/bin/env bash
# Real key events under Wine: xdotool presses F6 on a virtual display, where
#  - a dialog's procedure learns the key (the platform's key event for
#    dialogs), and keys posted to its focused control reach it in order;
#  - tapdeck's Intercept dialog detects F6, offers its name, takes the name
#    typed in its place and Return as Accept;
#  - the key listener TapdeckH takes F6 and starts TapdeckX for each press,
#    which classifies a single press, a hold, a double press, a double press
#    and hold and a triple press of the real key at a person's pace: each
#    dispatches its own slot, once, as launch.log names it;
#  - a listener killed and started again with every launcher made 300 ms
#    late (a busy machine) still has every press read as played, because
#    the listener dates each press and the launcher reads it from that;
#  - later starts of the listener end and leave the first one listening;
#  - tapdeck's tuner, open in the listener's desktop, takes F6 from it: a
#    person's presses of each kind start no launcher, Return accepts the
#    proposal, which is stored as button 0's own intervals, and the
#    listener has F6 again afterwards.
# Usage: real_keys_xvfb.sh RUNNER PREFIX TAPDECKX TAPDECKH PROBE INTERCEPT_PROBE TUNER_PROBE
# Exit code 77 (skipped) when Xvfb or xdotool is missing.
set -uo pipefail
. "$(dirname "$0")/xvfb.sh"
. "$(dirname "$0")/f6_button.sh"
runner=$1 prefix=$2 tapdeckx=$3 tapdeckh=$4 probe=$5 intercept=$6 tuner=$7

for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed (apt-get install xvfb xdotool); no real key was pressed"
    exit 77
  fi
done

wine=${QK_WINE:-/usr/lib/wine/wine64}
device=$prefix/device_files   # drive Q:
app=$device/Quadrakey
logs=
xvfb_pid=
desktop_pid=
finish() {
  # The report watcher, and whatever else this script left running.
  kill $(jobs -p) 2>/dev/null
  [[ -n $desktop_pid ]] && kill "$desktop_pid" 2>/dev/null
  # A fresh server for the tests after this one, without the display; the
  # desktop, the listener and anything they started end with this one.
  "$runner" --prefix "$prefix" --stop-server
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$app"
  [[ -n ${reports:-} ]] && rm -f "$reports"
  env -u DISPLAY "$runner" --prefix "$prefix" --start-server
}
trap finish EXIT
fail() {
  echo "FAIL: $*"
  xvfb_gone
  for log in listener.log launch.log; do
    [[ -f $logs/$log ]] && { echo "--- $log"; cat "$logs/$log"; }
  done
  exit 1
}

if ! start_xvfb 480x640; then
  echo "FAIL: Xvfb did not start: $xvfb_error"
  exit 1
fi
# The warm server's desktop was made without a display.
"$runner" --prefix "$prefix" --stop-server || fail "the Wine server made without the display did not stop"
"$runner" --prefix "$prefix" --start-server || fail "the Wine server did not start on display $DISPLAY"

# ---- A dialog learns the keys ----------------------------------------------------
out=$("$runner" --prefix "$prefix" --timeout 60 "$probe" posted </dev/null 2>&1) ||
  fail "keys posted to a dialog's control: $out"
echo "posted keys: $out"

"$runner" --prefix "$prefix" --timeout 60 "$probe" real </dev/null >/dev/null 2>&1 &
probe_pid=$!
window=
for _ in $(seq 300); do
  window=$(xdotool search --onlyvisible --name '^Key Probe$' 2>/dev/null | head -n1)
  [[ -n $window ]] && break
  sleep 0.1
done
[[ -n $window ]] || fail "the probe's dialog never showed"
# X gives keys to the window that has its focus.
xdotool windowfocus --sync "$window" 2>/dev/null
xdotool key F6
wait "$probe_pid"
code=$?
[[ $code -eq 117 ]] || fail "the dialog learned key $code for a real F6 (expected 117)"
echo "a real F6 reached the dialog's procedure as key 117"

# ---- tapdeck's Intercept dialog ------------------------------------------------
out_file=$(mktemp)
"$runner" --prefix "$prefix" --timeout 60 "$intercept" </dev/null >"$out_file" 2>&1 &
intercept_pid=$!
window=
for _ in $(seq 300); do
  window=$(xdotool search --onlyvisible --name '^Add Button Intercept$' 2>/dev/null | head -n1)
  [[ -n $window ]] && break
  sleep 0.1
done
[[ -n $window ]] || fail "the Intercept dialog never showed"
# --sync can wait for good on a window that already has the focus.
timeout 10 xdotool windowfocus --sync "$window" 2>/dev/null || true
# The key to add; then the name field has the focus and its offered name
# selected, so the typing replaces it; Return is Accept.
xdotool key F6
sleep 0.5
xdotool type --delay 50 'Side 1'
sleep 0.3
xdotool key Return
wait "$intercept_pid"
code=$?
out=$(tr -d '\r' <"$out_file")
rm -f "$out_file"
[[ $code -eq 0 && $out == *"key 117 name Side 1"* ]] ||
  fail "the Intercept dialog with a real F6, a typed name and Return gave exit code $code: $out"
echo "a real F6 reached the Intercept dialog: $out"

# ---- The listener and the launcher -------------------------------------------
# F6 (0x75) is the one user-defined button; with no hardware buttons it is
# button 0, letter A. Every slot is assigned, so every press waits and is
# classified; launch.log names the slot that acted, and nothing else may
# act. The intervals are the defaults, 400 ms, and the presses come at a
# person's pace: a Wine process can take a few hundred milliseconds to start
# on a loaded machine, and the outcome must not depend on it.
mkdir -p "$app"
cp "$tapdeckx" "$app/TapdeckX.exe" && cp "$tapdeckh" "$app/TapdeckH.exe" ||
  fail "cannot place the programs"
logs=$(quadrakey_logs "$wine" "$prefix") || fail "Wine does not say where the user's local data is"
# An action that ends in launch.log's report (a shell launch does not), is no
# "<Do Nothing>" (which leaves its slot free) and means something on a PC.
f6_button_settings "$wine" "$prefix" '<Scroll Down>' '<Scroll Down>' '<Scroll Down>' '<Scroll Down>' ||
  fail "cannot write the settings"

# A Wine desktop the size of the screen: X gives it the keys without a focus
# of its own, and the listener and the launchers run in it.
start_listener() {
  rm -f "$logs/listener.log"
  WINEPREFIX=$prefix WINEDEBUG=-all "$wine" explorer /desktop=quadrakey,480x640 'Q:\Quadrakey\TapdeckH.exe' \
    </dev/null >/dev/null 2>&1 &
  desktop_pid=$!
  for _ in $(seq 200); do
    grep -q "listening" "$logs/listener.log" 2>/dev/null && break
    sleep 0.1
  done
  grep -q '  0: key 117 "F6 key" as button 0: listening' "$logs/listener.log" 2>/dev/null ||
    fail "the listener does not listen to F6"
  ! grep -q 'cannot be dated' "$logs/listener.log" || fail "the listener cannot date presses"
  # X gives keys to the window with its focus: the desktop's, whatever the
  # probe's dialog left behind.
  desktop=
  for _ in $(seq 100); do
    desktop=$(xdotool search --onlyvisible --name 'Wine desktop' 2>/dev/null | head -n1)
    [[ -n $desktop ]] && break
    sleep 0.1
  done
  [[ -n $desktop ]] || fail "the Wine desktop never showed"
  xdotool windowfocus --sync "$desktop" 2>/dev/null
  xdotool mousemove 240 320 2>/dev/null
}

listener_pids() {
  for pid in $(pgrep -f '^Q:.Quadrakey.TapdeckH.exe'); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix" && echo "$pid"
  done
}

# Each dispatch starts launch.log afresh: the first line of every report
# written while it runs goes to $reports, so that a second dispatch shows.
reports=$(mktemp)
watch_reports() {
  local present=0
  while :; do
    if [[ -s $logs/launch.log ]]; then
      if ((present == 0)); then
        present=1
        head -n1 "$logs/launch.log" >>"$reports"
      fi
    else
      present=0
    fi
    sleep 0.01
  done
}

# The steps' own pauses, in milliseconds.
planned_ms() {
  local total=0 word next=0
  for word in $1; do
    if ((next)); then
      total=$((total + $(awk -v s="$word" 'BEGIN { printf "%d", s * 1000 }')))
    fi
    next=0
    [[ $word == sleep ]] && next=1
  done
  echo "$total"
}

# A loaded machine can stall xdotool between its steps, so that the keys
# are not played as written; such a run is played again (twice at most)
# rather than judged against timings it never had.
kStallMs=150
press() {
  local tries=3 outcome
  while :; do
    press_once "$@"
    outcome=$?
    ((outcome == 2 && --tries > 0)) || break
    echo "$1: xdotool stalled ($stall), played again"
  done
  ((outcome == 0)) || fail "$failure"
  echo "$1: $report"
}

# press_once NAME "XDOTOOL STEPS" COUNT HOLD: the steps, then the one slot
# that acted. 1 when another acted, 2 when the steps were not played in time.
press_once() {
  local name=$1 steps=$2 count=$3 hold=$4 watcher started elapsed planned
  report= failure= stall=
  rm -f "$logs/launch.log"
  : >"$reports"
  watch_reports &
  watcher=$!
  planned=$(planned_ms "$steps")
  started=$(date +%s%N)
  # shellcheck disable=SC2086
  xdotool $steps
  elapsed=$((($(date +%s%N) - started) / 1000000))
  for _ in $(seq 200); do
    report=$(head -n1 "$reports")
    [[ -n $report ]] && break
    sleep 0.05
  done
  # Every launcher of the series has ended before the next one; a second
  # dispatch has written its report by then.
  sleep 1.2
  kill "$watcher" 2>/dev/null
  wait "$watcher" 2>/dev/null
  local wrong=
  [[ $report == "Launch button 0, press $count, hold $hold" ]] ||
    wrong="$name: expected \"Launch button 0, press $count, hold $hold\", got \"$report\""
  [[ -z $wrong && $(wc -l <"$reports") -ne 1 ]] && wrong="$name: more than one slot acted: $(tr '\n' '|' <"$reports")"
  [[ -z $wrong ]] && return 0
  failure=$wrong
  if ((elapsed > planned + kStallMs)); then
    stall="${elapsed} ms for ${planned} ms of steps"
    failure="$wrong (xdotool took $stall)"
    return 2
  fi
  return 1
}

every_kind_of_press() {
  local late=$1
  press "single press$late" "keydown F6 sleep 0.1 keyup F6" 1 0
  # Held past Xvfb's auto-repeat (660 ms): the repeated key downs start nothing.
  press "press and hold$late" "keydown F6 sleep 1.5 keyup F6" 1 1
  # Let go before a launcher 300 ms late would reach its hold test by its
  # own clock: only the key's times make these holds.
  press "short hold$late" "keydown F6 sleep 0.6 keyup F6" 1 1
  press "double press$late" "keydown F6 sleep 0.1 keyup F6 sleep 0.13 keydown F6 sleep 0.1 keyup F6" 2 0
  press "double press and hold$late" "keydown F6 sleep 0.1 keyup F6 sleep 0.13 keydown F6 sleep 0.55 keyup F6" 2 1
  press "triple press$late" \
    "keydown F6 sleep 0.1 keyup F6 sleep 0.13 keydown F6 sleep 0.1 keyup F6 sleep 0.13 keydown F6 sleep 0.1 keyup F6" 2 1
  # The second key down 20 ms after the first key up.
  press "quick double press$late" "keydown F6 sleep 0.06 keyup F6 sleep 0.02 keydown F6 sleep 0.06 keyup F6" 2 0
}

start_listener
every_kind_of_press ""

# Killed, the listener leaves nothing a later one could misread; started
# again with every launcher made late, it still has each press read as
# played.
for pid in $(listener_pids); do kill -9 "$pid"; done
kill "$desktop_pid" 2>/dev/null
wait "$desktop_pid" 2>/dev/null
export QUADRAKEY_FAULTS=TapdeckX/start-delay:300
start_listener
every_kind_of_press " (launchers 300 ms late)"
unset QUADRAKEY_FAULTS

# More starts while it runs, in its desktop (where the listener's hidden
# window can be found, as on a PC where both run in the user's desktop):
# each ends at once and has the running listener read the list again.
for _ in 1 2 3; do
  WINEPREFIX=$prefix WINEDEBUG=-all timeout 60 "$wine" explorer /desktop=quadrakey,480x640 'Q:\Quadrakey\TapdeckH.exe' \
    </dev/null >/dev/null 2>&1 &
done
for _ in $(seq 200); do
  [[ $(grep -c '^Reading the list' "$logs/listener.log") -ge 4 ]] && break
  sleep 0.1
done
[[ $(grep -c '^Reading the list' "$logs/listener.log") -eq 4 ]] ||
  fail "the running listener did not read the list once for each later start"
sleep 1
listeners=$(listener_pids | wc -l)
[[ $listeners -eq 1 ]] || fail "$listeners listeners run after three more starts"
press "single press after more starts" "keydown F6 sleep 0.05 keyup F6" 1 0

# ---- The tuner takes F6 from the listener ----------------------------------
# In the listener's desktop, where its hook and hot key have F6. Five
# attempts of each kind at a person's pace, a pause of more than a second
# between them; the dialog's hook is the newer one, so it sees F6 first.
cp "$tuner" "$app/TunerProbe.exe" || fail "cannot place the tuner probe"
rm -f "$app/launch.log" "$app/tuner-ready" "$app/tuner-result"
WINEPREFIX=$prefix WINEDEBUG=-all timeout 120 "$wine" explorer /desktop=quadrakey,480x640 'Q:\Quadrakey\TunerProbe.exe' \
  </dev/null >/dev/null 2>&1 &
for _ in $(seq 300); do
  [[ -f $app/tuner-ready ]] && break
  sleep 0.1
done
[[ -f $app/tuner-ready ]] || fail "the tuner's dialog never showed"
xdotool windowfocus --sync "$desktop" 2>/dev/null
attempt() {
  # shellcheck disable=SC2086
  xdotool $1
  sleep 1.3
}
for _ in 1 2 3 4 5; do attempt "keydown F6 sleep 0.1 keyup F6"; done
for _ in 1 2 3 4 5; do attempt "keydown F6 sleep 0.8 keyup F6"; done
for _ in 1 2 3 4 5; do attempt "keydown F6 sleep 0.1 keyup F6 sleep 0.15 keydown F6 sleep 0.1 keyup F6"; done
for _ in 1 2 3 4 5; do attempt "keydown F6 sleep 0.1 keyup F6 sleep 0.15 keydown F6 sleep 0.8 keyup F6"; done
[[ ! -e $app/launch.log ]] || fail "a press made for the tuner acted: $(head -n1 "$app/launch.log")"
xdotool key Return
for _ in $(seq 100); do
  [[ -f $app/tuner-result ]] && break
  sleep 0.1
done
[[ $(tr -d '\r' <"$app/tuner-result" 2>/dev/null) == accepted ]] ||
  fail "Return did not accept the tuner's proposal: $(cat "$app/tuner-result" 2>/dev/null || echo 'still open')"
interval() {
  WINEPREFIX=$prefix WINEDEBUG=-all timeout 30 "$wine" reg query 'HKCU\Software\Quadrakey' /v "$1" \
    </dev/null 2>/dev/null | tr -d '\r' | awk -v name="$1" '$1 == name {print $3}'
}
hold=$(interval HoldIntervalA) window=$(interval DblClickIntervalA)
[[ -n $hold && -n $window ]] || fail "the proposal was not stored as button 0's own intervals"
echo "the tuner took F6 from the listener and stored hold $((hold)) ms, double press $((window)) ms for button 0"
# The listener has F6 again, and reads it by the button's own intervals.
press "double press after tuning" "keydown F6 sleep 0.1 keyup F6 sleep 0.15 keydown F6 sleep 0.1 keyup F6" 2 0

state=$(WINEPREFIX=$prefix WINEDEBUG=-all timeout 30 "$wine" reg query 'HKCU\Software\Quadrakey' /v StateA \
  </dev/null 2>/dev/null | tr -d '\r' | awk '/StateA/ {print $3}')
[[ $state == 0x0 ]] || fail "the press counter is $state after the series (expected 0x0)"
echo "every slot dispatched; the press counter is back at 0"
WINEPREFIX=$prefix WINEDEBUG=-all timeout 30 "$wine" reg query 'HKLM\Software\Quadrakey' </dev/null >/dev/null 2>&1 &&
  fail "a program wrote under HKEY_LOCAL_MACHINE"
echo "nothing was written under HKEY_LOCAL_MACHINE"
