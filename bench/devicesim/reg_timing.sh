#!/usr/bin/env bash
# Times devicesim's registry import and export on the shapes that once took
# seconds or grew faster than their files: a 1.5 MB binary value written over
# continued lines (as an export writes long values), a key 1,200 levels deep,
# and then two series that should each take time in proportion to the size
# of the file:
#   - depth: every level of a chain as a key of its own with a value, as an
#     export of a deep tree writes it (the file grows as the square of the
#     depth, so the time per MB should stay flat), and one key named only at
#     the bottom of the chain (the file grows with the depth);
#   - size: flat keys of 32 values each, 1, 2 and 4 MB of them.
# Each line gives the seconds and the seconds per MB of file.
#
# usage: bench/devicesim/reg_timing.sh [BIN_DIR] [DEPTHS]
#   DEPTHS: the chain depths, default "1000 2000 4000"
set -euo pipefail
bin=${1:-build/host/bin}
depths=${2:-1000 2000 4000}
sim="$bin/devicesim"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

header='Windows Registry Editor Version 5.00'

# 1.5 MB of bytes: 77-column continued lines, and the same value on one line.
awk -v h="$header" 'BEGIN {
  n = 1536 * 1024
  printf "%s\r\n\r\n[HKEY_LOCAL_MACHINE\\Bench\\Binary]\r\n\"Blob\"=hex:", h
  col = 14
  for (i = 0; i < n; i++) {
    printf "%02x", i % 251
    if (i + 1 == n) break
    printf ","
    col += 3
    if (col >= 77) { printf "\\\r\n  "; col = 2 }
  }
  printf "\r\n"
}' > "$work/continued.reg"
awk -v h="$header" 'BEGIN {
  n = 1536 * 1024
  printf "%s\r\n\r\n[HKEY_LOCAL_MACHINE\\Bench\\Binary]\r\n\"Blob\"=hex:", h
  for (i = 0; i < n; i++) printf "%s%02x", (i ? "," : ""), i % 251
  printf "\r\n"
}' > "$work/oneline.reg"
# One key 1,200 levels deep, a value at the bottom.
awk -v h="$header" 'BEGIN {
  path = "HKEY_LOCAL_MACHINE\\Deep"
  for (i = 1; i < 1200; i++) path = path "\\k"
  printf "%s\r\n\r\n[%s]\r\n\"Bottom\"=dword:00000001\r\n", h, path
}' > "$work/deep.reg"

run() {  # runs the command; its wall time in seconds, "failed" when it fails
  local start end
  start=$(date +%s.%N)
  if ! "$@" > "$work/out" 2> "$work/err"; then
    echo "failed: $* ($(head -c 200 "$work/err"))" >&2
    echo failed
    return
  fi
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.2f", e - s }'
}

per_mb() {  # seconds and file: "S s  (F MB, S/F s per MB)"
  local seconds=$1 file=$2 bytes
  bytes=$(stat -c %s "$file")
  if [ "$seconds" = failed ]; then echo failed; return; fi
  awk -v s="$seconds" -v b="$bytes" 'BEGIN { mb = b / 1048576; printf "%6.2f s  %6.2f MB  %6.3f s/MB", s, mb, s / mb }'
}

fresh() {  # a new device in $dev
  dev="$work/device"
  rm -rf "$dev"
  "$sim" --device "$dev" init > /dev/null
}

fresh
printf 'import 1.5 MB binary, one line:        %s s\n' "$(run "$sim" --device "$dev" reg import "$work/oneline.reg")"
printf 'import 1.5 MB binary, continued lines: %s s\n' "$(run "$sim" --device "$dev" reg import "$work/continued.reg")"
printf 'export 1.5 MB binary:                  %s s\n' "$(run "$sim" --device "$dev" reg export 'HKLM\Bench')"
printf 'import key 1,200 levels deep:          %s s\n' "$(run "$sim" --device "$dev" reg import "$work/deep.reg")"
printf 'export key 1,200 levels deep:          %s s\n' "$(run "$sim" --device "$dev" reg export 'HKLM\Deep')"

echo
echo 'depth: a key and a value on every level of a chain (as an export writes a deep tree)'
for depth in $depths; do
  awk -v h="$header" -v n="$depth" 'BEGIN {
    printf "%s\r\n\r\n", h
    path = "HKEY_LOCAL_MACHINE\\Chain"
    for (i = 0; i < n; i++) {
      path = path "\\k"
      printf "[%s]\r\n\"Level\"=dword:%08x\r\n\r\n", path, i
    }
  }' > "$work/chain.reg"
  fresh
  printf '  import %5d levels:  %s\n' "$depth" "$(per_mb "$(run "$sim" --device "$dev" reg import "$work/chain.reg")" "$work/chain.reg")"
  printf '  export %5d levels:  %s\n' "$depth" "$(per_mb "$(run "$sim" --device "$dev" reg export 'HKLM\Chain')" "$work/chain.reg")"
done
echo 'depth: one key named at the bottom of a chain (the file grows with the depth)'
for depth in $depths; do
  awk -v h="$header" -v n="$depth" 'BEGIN {
    path = "HKEY_LOCAL_MACHINE\\Bottom"
    for (i = 0; i < n; i++) path = path "\\k"
    printf "%s\r\n\r\n[%s]\r\n\"Bottom\"=dword:00000001\r\n", h, path
  }' > "$work/bottom.reg"
  fresh
  printf '  import %5d levels:  %s s\n' "$depth" "$(run "$sim" --device "$dev" reg import "$work/bottom.reg")"
done

echo 'size: flat keys of 32 string values'
for mb in 1 2 4; do
  awk -v h="$header" -v mb="$mb" 'BEGIN {
    printf "%s\r\n\r\n", h
    bytes = 0; key = 0
    while (bytes < mb * 1048576) {
      line = sprintf("[HKEY_LOCAL_MACHINE\\Flat\\Key%06d]\r\n", key++)
      printf "%s", line; bytes += length(line)
      for (v = 0; v < 32; v++) {
        line = sprintf("\"Value%02d\"=\"text of value %d of key %d, long enough to matter\"\r\n", v, v, key)
        printf "%s", line; bytes += length(line)
      }
    }
  }' > "$work/flat.reg"
  fresh
  printf '  import %d MB:  %s\n' "$mb" "$(per_mb "$(run "$sim" --device "$dev" reg import "$work/flat.reg")" "$work/flat.reg")"
done

# What a press meets during a long import: the longest of the writes that
# another program makes one after another while the deepest chain imports,
# against the same writes with no import running.
longest_write() {  # the longest of writes made until the file $work/stop exists, in ms
  local longest=0 start end ms
  while [ ! -e "$work/stop" ]; do
    start=$(date +%s%N)
    "$sim" --device "$dev" reg set 'HKLM\Software\Quadrakey' StateB --dword 1 > /dev/null
    end=$(date +%s%N)
    ms=$(( (end - start) / 1000000 ))
    [ "$ms" -gt "$longest" ] && longest=$ms
  done
  echo "$longest"
}
fresh
rm -f "$work/stop"
( sleep 3; touch "$work/stop" ) &
quiet=$(longest_write)
rm -f "$work/stop"
( "$sim" --device "$dev" reg import "$work/chain.reg" > /dev/null; touch "$work/stop" ) &
busy=$(longest_write)
wait
echo "a write by another program: longest $quiet ms with no import, $busy ms during the last chain's import"
