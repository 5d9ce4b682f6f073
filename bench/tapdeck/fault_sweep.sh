#!/bin/bash
# The whole fault sweep of tapdeck on the host build, with its counts:
#  1. every call of every platform operation failed once, each run followed
#     by a clean one (the FaultSweep test with QK_FULL_SWEEP=1);
#  2. tapdeck killed (SIGKILL) at points spread through its start-up on a
#     stock device, whose start-up probes every button's key, each kill
#     followed by a clean run.
# After each, the device must hold what one clean run leaves.
#
#   bench/tapdeck/fault_sweep.sh [KILLS]     (default 40)
#   QK_SWEEP_KILLS_ONLY=1 bench/tapdeck/fault_sweep.sh [KILLS]
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
bin=${QK_BIN_DIR:-$root/build/host/bin}
kills=${1:-40}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dev=$work/device

faults_status=0
if [ -z "${QK_SWEEP_KILLS_ONLY:-}" ]; then
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
[ $faults_status -eq 0 ] && [ $damaged -eq 0 ]
