#!/usr/bin/env bash
# Times devicesim's registry import and export on the two shapes that once
# took seconds: a 1.5 MB binary value written over continued lines (as an
# export writes long values) and a key 1,200 levels deep.
#
# usage: bench/devicesim/reg_timing.sh [BIN_DIR]   (default build/host/bin)
set -euo pipefail
bin=${1:-build/host/bin}
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

seconds() {  # runs the command, prints its wall time in seconds
  local start end
  start=$(date +%s.%N)
  "$@" > "$work/out" || { echo "failed: $*" >&2; exit 1; }
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.2f", e - s }'
}

dev="$work/device"
"$sim" --device "$dev" init > /dev/null
printf 'import 1.5 MB binary, one line:        %s s\n' "$(seconds "$sim" --device "$dev" reg import "$work/oneline.reg")"
printf 'import 1.5 MB binary, continued lines: %s s\n' "$(seconds "$sim" --device "$dev" reg import "$work/continued.reg")"
printf 'export 1.5 MB binary:                  %s s\n' "$(seconds "$sim" --device "$dev" reg export 'HKLM\Bench')"
printf 'import key 1,200 levels deep:          %s s\n' "$(seconds "$sim" --device "$dev" reg import "$work/deep.reg")"
printf 'export key 1,200 levels deep:          %s s\n' "$(seconds "$sim" --device "$dev" reg export 'HKLM\Deep')"
