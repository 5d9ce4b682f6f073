#!/usr/bin/env bash
# Runs a Windows program under Wine for CTest: quiet, in the build folder's
# own prefix, made once. Usage:
#   run-under-wine.sh [--prefix DIR] [--timeout SECONDS] PROGRAM.exe [ARGS...]
#   run-under-wine.sh [--prefix DIR] --start-server | --stop-server
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
prefix=${QK_WINEPREFIX:-}
limit=${QK_WINE_TIMEOUT:-600}
while [[ $# -gt 0 ]]; do
  case $1 in
    --prefix) prefix=$2; shift 2 ;;
    --timeout) limit=$2; shift 2 ;;
    *) break ;;
  esac
done
if [[ -z $prefix ]]; then
  echo "run-under-wine.sh: no Wine prefix (--prefix DIR or QK_WINEPREFIX)" >&2
  exit 2
fi

wine=${QK_WINE:-/usr/lib/wine/wine64}
server=${QK_WINESERVER:-/usr/lib/wine/wineserver64}
[[ -x $server ]] || server=$(command -v wineserver || echo /usr/lib/wine/wineserver)
export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

ensure_prefix() {
  [[ -d $WINEPREFIX/drive_c ]] && return 0
  mkdir -p "$WINEPREFIX"
  # Serialise: parallel tests must not build the same prefix twice.
  (
    flock 9
    if [[ ! -d $WINEPREFIX/drive_c ]]; then
      timeout 300 "$wine" wineboot -i >/dev/null 2>&1 || true
      # Without a window manager every window would otherwise cost a 2 s wait.
      timeout 60 "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
        >/dev/null 2>&1 || true
      timeout 60 "$server" -w || true
    fi
  ) 9>"$WINEPREFIX.lock"
  [[ -d $WINEPREFIX/drive_c ]] || { echo "run-under-wine.sh: cannot make $WINEPREFIX" >&2; exit 2; }
}

# The dialogs' fonts: Wine's own (MS Shell Dlg, Tahoma, MS Sans Serif) take
# effect only once copied into the prefix, and "Arial" is Liberation Sans,
# which has Arial's metrics. Without them every face falls back to DejaVu
# Sans and the dialog units come out wider. Done once per prefix; a running
# server must be restarted to see new fonts, so this runs before it starts.
ensure_fonts() {
  local marker=$WINEPREFIX/.quadrakey-fonts
  [[ -f $marker ]] && return 0
  local fonts=$WINEPREFIX/drive_c/windows/Fonts
  mkdir -p "$fonts"
  if [[ -d /usr/share/wine/fonts ]]; then
    cp -n /usr/share/wine/fonts/* "$fonts/" 2>/dev/null || true
  fi
  # Liberation Sans is a system font (fonts-liberation): Wine finds it.
  if [[ -f /usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf ]]; then
    timeout 60 "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial \
      /d 'Liberation Sans' /f </dev/null >/dev/null 2>&1 || return 0
  fi
  timeout 30 "$server" -k 2>/dev/null || true
  touch "$marker"
}

# Drive Q: is the test device's file system: its root is what a device path
# such as "\Velbrook.log" names while a test runs with Q:\ as its current
# folder. The test support empties it before every test.
ensure_device_drive() {
  mkdir -p "$WINEPREFIX/device_files"
  [[ -L $WINEPREFIX/dosdevices/q: ]] || ln -sfn ../device_files "$WINEPREFIX/dosdevices/q:"
}

case ${1:-} in
  --start-server)
    ensure_prefix
    ensure_fonts
    ensure_device_drive
    # Fails when one already runs, which is just as good. The server lives
    # on in the background: it must not hold CTest's output pipe open.
    timeout 10 "$server" -p </dev/null >/dev/null 2>&1 || true
    # The first program on a server starts Wine's own services, which keep
    # the output of whoever started them: let that be nobody's, or CTest
    # would wait on a test's output until its time-out.
    timeout 120 "$wine" wineboot </dev/null >/dev/null 2>&1 || true
    exit 0 ;;
  --stop-server)
    timeout 30 "$server" -k || true
    exit 0 ;;
  "")
    echo "usage: run-under-wine.sh [--prefix DIR] PROGRAM.exe [ARGS...]" >&2
    exit 2 ;;
esac

ensure_prefix
ensure_fonts
ensure_device_drive
exec timeout --kill-after=10 "$limit" "$wine" "$@"
