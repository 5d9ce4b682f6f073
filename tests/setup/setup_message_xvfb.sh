#!/usr/bin/env bash
# setup without an application manager entry shows "Quadrakey Setup" and
# still ends with exit code 0.
# Usage: setup_message_xvfb.sh RUNNER WINEPREFIX SETUP.EXE
set -uo pipefail
runner=$1 prefix=$2 setup=$3
here=$(cd "$(dirname "$0")" && pwd)

"$runner" --prefix "$prefix" --timeout 60 reg delete \
  'HKLM\software\Microsoft\Windows\CurrentVersion\App Paths\CEAppMgr.exe' /f >/dev/null 2>&1
exec "$here/../wine/dismiss-message-box.sh" "$runner" "$prefix" "Quadrakey Setup" "$setup"
