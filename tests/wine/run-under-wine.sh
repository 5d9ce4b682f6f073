#!/usr/bin/env bash
# Runs a Windows program under Wine for CTest: quiet, in the build folder's
# own prefix, made once. Usage:
#   run-under-wine.sh [--prefix DIR] [--timeout SECONDS] PROGRAM.exe [ARGS...]
#   run-under-wine.sh [--prefix DIR] --start-server | --stop-server
# Every failure says what happened: a program that fails is named with its
# exit code (and, when it printed nothing, says so), one that runs past its
# time limit also with what it last printed, and either way Wine's own error
# lines follow; a step of making or starting the prefix that fails shows
# what it printed. QK_WINE_TIMEOUT is the default time limit (600 s); keep it
# below CTest's TIMEOUT, or CTest kills the run before it can say anything.
set -euo pipefail

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
# Wine's error lines only (no fixme lines): a program's own output stays
# clean, and they are shown when it fails.
export WINEDEBUG=${QK_WINEDEBUG:-fixme-all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# How Wine's own lines begin: "0024:err:module:import_dll ...".
wine_line='^[0-9a-f]{4,8}:(err|fixme|warn|trace):'

say() { echo "run-under-wine.sh: $*" >&2; }

# Shows the last lines of a log, indented, with a heading; nothing for an
# empty one.
show_log() {
  local heading=$1 file=$2
  [[ -s $file ]] || return 0
  say "$heading"
  tail -n 40 "$file" | sed 's/^/  /' >&2
}

ensure_prefix() {
  [[ -d $WINEPREFIX/drive_c ]] && return 0
  mkdir -p "$WINEPREFIX"
  local log=$WINEPREFIX.boot.log
  # Serialise: parallel tests must not build the same prefix twice.
  (
    flock 9
    if [[ ! -d $WINEPREFIX/drive_c ]]; then
      : >"$log"
      timeout 300 "$wine" wineboot -i </dev/null >>"$log" 2>&1 || echo "wineboot -i: exit code $?" >>"$log"
      # Without a window manager every window would otherwise cost a 2 s wait.
      timeout 60 "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
        </dev/null >>"$log" 2>&1 || echo "reg add Managed: exit code $?" >>"$log"
      timeout 60 "$server" -w >>"$log" 2>&1 || true
    fi
  ) 9>"$WINEPREFIX.lock"
  if [[ ! -d $WINEPREFIX/drive_c ]]; then
    say "cannot make $WINEPREFIX"
    show_log "making it printed ($log):" "$log"
    exit 2
  fi
}

# The dialogs' fonts: Wine's own (MS Shell Dlg, Tahoma, MS Sans Serif) take
# effect only once copied into the prefix, and "Arial" is Liberation Sans,
# which has Arial's metrics. Without them every face falls back to DejaVu
# Sans and the dialog units come out wider. And a program that crashes
# prints its backtrace and ends, rather than waiting on Wine's crash dialog,
# which nobody answers on a virtual display. Done once per prefix; a running
# server must be restarted to see new fonts, so this runs before it starts.
ensure_settings() {
  local marker=$WINEPREFIX/.quadrakey-settings out
  [[ -f $marker ]] && return 0
  local fonts=$WINEPREFIX/drive_c/windows/Fonts
  mkdir -p "$fonts"
  if [[ -d /usr/share/wine/fonts ]]; then
    cp -n /usr/share/wine/fonts/* "$fonts/" 2>/dev/null || true
  fi
  # Liberation Sans is a system font (fonts-liberation): Wine finds it.
  if [[ -f /usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf ]]; then
    if ! out=$(timeout 60 "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial \
                 /d 'Liberation Sans' /f </dev/null 2>&1); then
      say "Arial is not Liberation Sans in this prefix yet (the dialogs come out wider): $out"
      return 0
    fi
  fi
  if ! out=$(timeout 60 "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
               </dev/null 2>&1); then
    say "a crash would wait on Wine's crash dialog in this prefix: $out"
    return 0
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

# Runs the program with the time limit; its exit code. Its output goes to
# files that are followed onto this script's own output: Wine's helper
# processes can keep what they inherit open after the program ends, and a
# pipe held that way would keep CTest waiting. Wine's own lines are held
# back and shown only when the program fails.
run_program() {
  local name=${1##*/} logs child followers status=0 began=$SECONDS elapsed
  logs=$(mktemp -d "${TMPDIR:-/tmp}/qk-wine.XXXXXX")
  # Made before the program starts: the followers below may open them
  # before the background child has, and a follower that finds no file
  # gives up, and the program's output with it.
  : >"$logs/out"
  : >"$logs/err"
  exec 3<&0
  timeout --kill-after=10 "$limit" "$wine" "$@" <&3 3<&- >>"$logs/out" 2>>"$logs/err" &
  child=$!
  exec 3<&-
  # Whoever stops this script stops the program.
  trap 'kill -TERM "$child" 2>/dev/null' TERM INT HUP
  tail -n +1 -s 0.1 --pid="$child" -f "$logs/out" &
  followers=$!
  { tail -n +1 -s 0.1 --pid="$child" -f "$logs/err" | grep --line-buffered -Ev "$wine_line" >&2; } &
  followers+=" $!"
  while :; do
    wait "$child" && status=0 || status=$?
    kill -0 "$child" 2>/dev/null || break
  done
  # shellcheck disable=SC2086
  wait $followers 2>/dev/null || true
  trap - TERM INT HUP
  elapsed=$((SECONDS - began))
  if ((status != 0)); then
    local what
    if ((status == 124 || (status == 137 && elapsed >= limit))); then
      what="did not end within its time limit of $limit s and was stopped"
    elif ((status > 128)); then
      what="was ended by signal $((status - 128)) after $elapsed s"
    else
      what="ended with exit code $status after $elapsed s"
    fi
    grep -Ev "$wine_line" "$logs/err" >"$logs/own-err" || true
    grep -E "$wine_line" "$logs/err" >"$logs/wine-err" || true
    if [[ ! -s $logs/out && ! -s $logs/own-err ]]; then
      say "$name $what, and printed nothing"
    else
      say "$name $what"
      if ((status == 124 || status == 137)); then
        show_log "what it last printed:" "$logs/out"
        show_log "what it last printed on standard error:" "$logs/own-err"
      fi
    fi
    show_log "Wine's own error lines:" "$logs/wine-err"
  fi
  rm -rf "$logs"
  return "$status"
}

case ${1:-} in
  --start-server)
    ensure_prefix
    ensure_settings
    ensure_device_drive
    log=$(mktemp)
    # Fails when one already runs, which is just as good. The server lives
    # on in the background: it must not hold CTest's output pipe open.
    timeout 10 "$server" -p </dev/null >"$log" 2>&1 || true
    # The first program on a server starts Wine's own services, which keep
    # the output of whoever started them: let that be nobody's, or CTest
    # would wait on a test's output until its time-out.
    status=0
    timeout 120 "$wine" wineboot </dev/null >>"$log" 2>&1 || status=$?
    if ((status != 0)); then
      if ((status == 124)); then
        say "the Wine server of $WINEPREFIX did not start: wineboot did not end within 120 s"
      else
        say "the Wine server of $WINEPREFIX did not start: wineboot ended with exit code $status"
      fi
      show_log "it printed:" "$log"
      rm -f "$log"
      exit 1
    fi
    rm -f "$log"
    exit 0 ;;
  --stop-server)
    status=0
    out=$(timeout 30 "$server" -k 2>&1) || status=$?
    # Nothing to stop is just as good; a server that stays is not.
    if ((status == 124)); then
      say "the Wine server of $WINEPREFIX did not stop within 30 s${out:+: $out}"
      exit 1
    fi
    exit 0 ;;
  "")
    echo "usage: run-under-wine.sh [--prefix DIR] PROGRAM.exe [ARGS...]" >&2
    exit 2 ;;
esac

ensure_prefix
ensure_settings
ensure_device_drive
status=0
run_program "$@" || status=$?
exit "$status"
