#!/bin/bash
# The whole fault sweep of tapdeck on the host build, with its counts:
#  1. every call of every platform operation failed once, each run followed
#     by a clean one (the FaultSweep test with QK_FULL_SWEEP=1);
#  2. tapdeck killed (SIGKILL) at points spread through its start-up on a
#     stock device, whose start-up probes every button's key, each kill
#     followed by a clean run.
#  3. the key listener TapdeckH, on a device with a side key added, with
#     each registry call of its start and of one reading of the list again
#     failed once, and killed at each; a listener that stops must say so as
#     its log's last line.
# After each, the device must hold what one clean run leaves.
#
#   bench/tapdeck/fault_sweep.sh [KILLS]     (default 40)
#   QK_SWEEP_KILLS_ONLY=1 bench/tapdeck/fault_sweep.sh [KILLS]
#   QK_SWEEP_LISTENER_ONLY=1 bench/tapdeck/fault_sweep.sh
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
bin=${QK_BIN_DIR:-$root/build/host/bin}
kills=${1:-40}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dev=$work/device

faults_status=0
if [ -z "${QK_SWEEP_KILLS_ONLY:-}" ] && [ -z "${QK_SWEEP_LISTENER_ONLY:-}" ]; then
  echo "== every call of every operation failed once"
  QK_FULL_SWEEP=1 "$bin/tapdeck_page_tests" --gtest_filter='FaultSweep.*' >"$work/faults.out" 2>&1
  faults_status=$?
  grep -E '^fault sweep:' "$work/faults.out"
  if [ $faults_status -ne 0 ]; then
    grep -E 'Failure|@[0-9]+' "$work/faults.out" | head -40
    echo "FAILED: the fault walk (exit $faults_status)"
  fi
fi

sim() { "$bin/devicesim" --device "$dev" "$@"; }
fresh() {
  rm -rf "$dev"
  sim init >/dev/null && sim install "$bin" >/dev/null
}
# A clean run as a person: Button 2's single press "<Today>", Done, and OK
# on whatever message follows.
person() {
  sim run tapdeck >/dev/null || return 1
  sim ui select 1012 1 >/dev/null && sim ui select 1013 '<Today>' >/dev/null && sim ui done >/dev/null
  local answers=0
  while [ $answers -lt 5 ] && sim ui answer >/dev/null 2>&1; do answers=$((answers + 1)); done
  return 0
}
state() {
  sim reg export 'HKLM\SOFTWARE\Microsoft\Shell\Keys'
  sim reg export 'HKLM\Software\Quadrakey'
  for f in "$dev/fs/Program Files/Quadrakey/"*.lnk*; do
    [ -e "$f" ] && echo "$(basename "$f"): $(cat "$f")"
  done
}
now_ms() { date +%s%3N; }

damaged=0
if [ -z "${QK_SWEEP_LISTENER_ONLY:-}" ]; then
echo "== kill -9 through start-up, $kills points"
fresh
start=$(now_ms)
sim run tapdeck >/dev/null
startup_ms=$(( $(now_ms) - start ))
sim ui cancel >/dev/null
fresh
person
state >"$work/expected"
damaged=0
in_probe=0
for ((i = 0; i < kills; i++)); do
  fresh
  delay_ms=$(( i * (startup_ms + 20) / kills ))
  QUADRAKEY_DEVICE=$dev "$bin/tapdeck" >/dev/null 2>&1 &
  pid=$!
  sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
  kill -9 $pid 2>/dev/null
  wait $pid 2>/dev/null
  # Killed between the probe's writes: an entry names the dummy.
  if sim reg export 'HKLM\SOFTWARE\Microsoft\Shell\Keys' | grep -q QuadrakeyDummyExeName; then
    in_probe=$((in_probe + 1))
  fi
  person
  state >"$work/got"
  if ! cmp -s "$work/expected" "$work/got"; then
    damaged=$((damaged + 1))
    echo "kill at $delay_ms ms left damage:"
    diff "$work/expected" "$work/got" | head -20
  fi
done
echo "kill sweep: $kills kills from 0 to $((startup_ms + 20)) ms (start-up took $startup_ms ms), $in_probe of them between a probe's writes, $damaged damaged after a clean run"
fi

# ---- the key listener ----------------------------------------------------
log="$dev/fs/Program Files/Quadrakey/listener.log"
holder() { sim state | sed -n 's/.*hot key: 0xC7 (Side Key) held by pid \([0-9]*\).*/\1/p' | head -1; }
wait_for() {  # wait_for COMMAND...: up to 5 s
  local i
  for ((i = 0; i < 250; i++)); do "$@" && return 0; sleep 0.02; done
  return 1
}
held() { [ -n "$(holder)" ]; }
read_twice() { [ "$(grep -c '^Reading the list\|cannot be read\|listener ends' "$log" 2>/dev/null)" -ge 2 ] 2>/dev/null; }
read_or_gone() { read_twice || ! held; }
stop_listener() {
  local pid
  pid=$(holder)
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null
    wait_for sh -c "! kill -0 $pid 2>/dev/null"
  fi
  pkill -f "$dev/.*TapdeckH" 2>/dev/null
  true
}
# The device a person leaves: Button 2 set, the side key (199) added.
fresh
person
sim reg set 'HKLM\Software\Quadrakey\Hotkeys' B0 --sz Side >/dev/null
sim reg set 'HKLM\Software\Quadrakey\Hotkeys' H0 --dword 199 >/dev/null
stop_listener
rm -rf "$work/template"
cp -a "$dev" "$work/template"
from_template() { rm -rf "$dev"; cp -a "$work/template" "$dev"; }
listener_state() { sim reg export 'HKLM\Software\Quadrakey'; sim reg export 'HKLM\SOFTWARE\Microsoft\Shell\Keys'; }
# A clean start, and a second start that makes it read the list again.
clean_listener() {
  sim run TapdeckH >/dev/null && held && sim run TapdeckH >/dev/null && wait_for read_twice
}
from_template
clean_listener
listener_state >"$work/listener_expected"
cp "$log" "$work/listener_log"
stop_listener
trials=0
stopped=0
silent=0
listener_damaged=0
# K runs past the calls a start and a reading make (a fault past them never
# comes: the run is a clean one).
for fault in registry-open:5:40 registry-read:5:90 registry-enum:5:30 registry-write:5:10 \
             registry-read:kill:90 registry-enum:kill:30 registry-write:kill:10; do
  op=${fault%%:*}
  rest=${fault#*:}
  error=${rest%%:*}
  last_k=${rest#*:}
  for ((k = 1; k <= last_k; k++)); do
    from_template
    # devicesim is back once the listener waits for keys or has ended.
    QUADRAKEY_FAULTS="TapdeckH/$op@$k:$error" sim run TapdeckH >/dev/null 2>&1
    if held; then
      QUADRAKEY_FAULTS="TapdeckH/$op@$k:$error" sim run TapdeckH >/dev/null 2>&1
      wait_for read_or_gone
    fi
    trials=$((trials + 1))
    if [ -z "$(holder)" ]; then
      stopped=$((stopped + 1))
      last=$(tail -n 1 "$log" 2>/dev/null || echo "(no log)")
      case "$error:$last" in
        kill:*) ;;  # a killed program says nothing; the next start mends what it left
        *"listener ends"*|*"cannot be read"*) ;;
        *) silent=$((silent + 1)); echo "$op@$k:$error stopped the listener without a word; its log ends: $last" ;;
      esac
    fi
    stop_listener
    clean_listener
    listener_state >"$work/listener_got"
    stop_listener
    if ! cmp -s "$work/listener_expected" "$work/listener_got"; then
      listener_damaged=$((listener_damaged + 1))
      echo "$op@$k:$error left damage after a clean run:"
      diff "$work/listener_expected" "$work/listener_got" | head -10
    fi
  done
done
echo "listener sweep: $trials faults and kills at its start and a reading of the list, $stopped stopped it, $silent of those without a word, $listener_damaged damaged after a clean run"
[ $faults_status -eq 0 ] && [ $damaged -eq 0 ] && [ $silent -eq 0 ] && [ $listener_damaged -eq 0 ]
