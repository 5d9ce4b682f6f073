#!/usr/bin/env bash
# setup without an application manager entry shows "Quadrakey Setup" and
# still ends with exit code 0: with the key missing, or (MODE key-only) with
# the key present but no default value in it.
# Usage: setup_message_xvfb.sh RUNNER WINEPREFIX SETUP.EXE [key-only]
set -uo pipefail
runner=$1 prefix=$2 setup=$3 mode=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
key='HKLM\software\Microsoft\Windows\CurrentVersion\App Paths\CEAppMgr.exe'

"$runner" --prefix "$prefix" --timeout 60 reg delete "$key" /f >/dev/null 2>&1
if [[ $mode == key-only ]]; then
  if ! "$runner" --prefix "$prefix" --timeout 60 reg add "$key" /v Path /d 'C:\nowhere' /f >/dev/null 2>&1; then
    echo "FAIL: cannot make the key without its default value"
    exit 1
  fi
fi
"$here/../wine/dismiss-message-box.sh" "$runner" "$prefix" "Quadrakey Setup" "$setup"
code=$?
"$runner" --prefix "$prefix" --timeout 60 reg delete "$key" /f >/dev/null 2>&1
exit $code
