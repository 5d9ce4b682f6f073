#!/usr/bin/env bash
# Quadrakey as a person on a Windows PC gets it, under Wine on a virtual
# display with real key events:
#  - the installer, run silently, puts the programs in the user's own
#    folder, a Start Menu entry, the listener's sign-in entry and an entry in
#    the list of installed programs; run again, it is a clean upgrade that
#    keeps the settings; an uninstall that is not asked to removes the
#    programs and keeps the settings;
#  - tapdeck, opened through the Start Menu entry, adds a key on its Add
#    Buttons page from a real F6, a typed name and Return, and assigns its
#    single press;
#  - signing in again (a new Wine session runs the sign-in entries) starts
#    the listener, whose icon shows in the notification area (Wine's own
#    tray window on a display without one), and a real F6 typed into
#    Notepad is read and dispatched: launch.log names it, and a notice
#    "Pad key: single press → <Do Nothing>" shows without taking the focus
#    from Notepad; Pause in the icon's menu gives F6 back, Resume takes it
#    again;
#  - uninstalling while the listener runs ends it first, and leaves nothing:
#    no programs, Start Menu entry, sign-in entry, settings or logs;
#  - nothing was written under HKEY_LOCAL_MACHINE.
# Usage: installer_xvfb.sh RUNNER PREFIX INSTALLER WINDOW_DRIVER
# Exit code 77 (skipped) when Xvfb or xdotool is missing, or when the build
# made no installer (makensis missing).
set -uo pipefail
. "$(dirname "$0")/xvfb.sh"
. "$(dirname "$0")/f6_button.sh"
runner=$1 prefix=$2 installer=$3 driver=$4

for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed (apt-get install xvfb xdotool)"
    exit 77
  fi
done
if [[ ! -f $installer ]]; then
  echo "SKIPPED: the build made no installer ($installer): makensis is missing (apt-get install nsis)"
  exit 77
fi

wine=${QK_WINE:-/usr/lib/wine/wine64}
xvfb_pid=
programs= start_menu= logs=
q() { WINEPREFIX=$prefix WINEDEBUG=-all timeout 60 "$wine" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
reg_value() { q reg query "$1" /v "$2" | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }
key_exists() { WINEPREFIX=$prefix WINEDEBUG=-all timeout 60 "$wine" reg query "$1" </dev/null >/dev/null 2>&1; }
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quadrakey'
sign_in_name='Quadrakey Key Listener'

# Nothing of an earlier run, here or in the tests after this one: no
# program, entry or setting, so that no later start of the prefix signs in.
clean_slate() {
  local reg
  reg=$(mktemp --suffix=.reg)
  printf 'REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER\\Software\\Quadrakey]\r\n\r\n[-HKEY_LOCAL_MACHINE\\Software\\Quadrakey]\r\n\r\n' >"$reg"
  printf '[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shell\\Keys]\r\n\r\n' >>"$reg"
  printf '[-HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quadrakey]\r\n\r\n' >>"$reg"
  printf '[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"%s"=-\r\n' "$sign_in_name" >>"$reg"
  WINEPREFIX=$prefix WINEDEBUG=-all timeout 60 "$wine" regedit /s "Z:${reg//\//\\}" </dev/null >/dev/null 2>&1
  rm -f "$reg"
  [[ -n $programs ]] && rm -rf "$programs"
  [[ -n $start_menu ]] && rm -f "$start_menu"
  [[ -n $logs ]] && rm -rf "$logs"
}

# Whatever still runs in the prefix ends with its server; the tests after
# this one get a fresh one, without the display.
finish() { end_display_run "$runner" "$prefix" clean_slate; }
fail() {
  echo "FAIL: $*"
  xvfb_gone
  for log in tapdeck.log listener.log launch.log; do
    [[ -f $logs/$log ]] && { echo "--- $log"; cat "$logs/$log"; }
  done
  exit 1
}

# Each of this prefix's listeners, by process id.
listener_pids() {
  for pid in $(pgrep -f 'Programs.Quadrakey.TapdeckH\.exe'); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix" && echo "$pid"
  done
}


drive() {
  "$runner" --prefix "$prefix" --timeout 60 "$driver" "$@" </dev/null >/dev/null 2>&1 ||
    fail "window_driver $* found nothing to act on"
}

if ! start_xvfb 800x600; then
  echo "FAIL: Xvfb did not start: $xvfb_error"
  exit 1
fi
trap finish EXIT
# The warm server's session was made without the display.
"$runner" --prefix "$prefix" --stop-server || fail "the Wine server made without the display did not stop"
"$runner" --prefix "$prefix" --start-server || fail "the Wine server did not start on display $DISPLAY"

local_data=$(wine_folder "$wine" "$prefix" LOCALAPPDATA) || fail "Wine does not say where the user's local data is"
roaming=$(wine_folder "$wine" "$prefix" APPDATA) || fail "Wine does not say where the user's roaming data is"
programs=$local_data/Programs/Quadrakey
start_menu="$roaming/Microsoft/Windows/Start Menu/Programs/Quadrakey.lnk"
logs=$local_data/Quadrakey
# An earlier run cut short may have left a sign-in entry, which this
# session ran.
clean_slate
"$runner" --prefix "$prefix" --stop-server || fail "the Wine server did not stop"
"$runner" --prefix "$prefix" --start-server || fail "the Wine server did not start on display $DISPLAY"
installed_as="\"$(q winepath -w "$programs")\\TapdeckH.exe\""

install() {
  "$runner" --prefix "$prefix" --timeout 120 "$installer" /S </dev/null >/dev/null 2>&1 ||
    fail "the silent install ended with exit code $?"
}
uninstall() {
  # The uninstaller goes on from a copy of itself, and the first ends at once.
  "$runner" --prefix "$prefix" --timeout 120 "$programs/Uninstall.exe" /S "$@" </dev/null >/dev/null 2>&1 ||
    fail "the silent uninstall ended with exit code $?"
  wait_for 60 eval '! key_exists "$uninstall_key" && [[ ! -e $programs ]]' ||
    fail "the uninstall did not finish: $(ls "$programs" 2>&1)"
}
expect_installed() {
  local program
  for program in tapdeck.exe TapdeckX.exe TapdeckH.exe Turnscreen.exe Uninstall.exe; do
    [[ -f $programs/$program ]] || fail "$1: $program is not in $programs"
  done
  [[ $(ls "$programs" | wc -l) -eq 5 ]] || fail "$1: $programs holds more than the programs: $(ls "$programs")"
  [[ -f $start_menu ]] || fail "$1: no Start Menu entry"
  [[ $(reg_value "$run_key" "$sign_in_name") == "$installed_as" ]] ||
    fail "$1: the sign-in entry is \"$(reg_value "$run_key" "$sign_in_name")\", not $installed_as"
  [[ $(reg_value "$uninstall_key" DisplayName) == Quadrakey ]] || fail "$1: not in the list of installed programs"
}

# ---- Installing, twice, and an uninstall that keeps the settings ------------------
install
expect_installed "installed"
echo "installed: the programs, the Start Menu entry, the sign-in entry, the list of installed programs"
q reg add 'HKCU\Software\Quadrakey' /v HoldInterval /t REG_DWORD /d 450 /f >/dev/null
install
expect_installed "installed again"
[[ $(reg_value 'HKCU\Software\Quadrakey' HoldInterval) == 0x1c2 ]] || fail "installing again lost the settings"
echo "installed again over it: the same, and the settings kept"
uninstall
[[ ! -f $start_menu && -z $(reg_value "$run_key" "$sign_in_name") ]] || fail "the uninstall left its entries"
[[ $(reg_value 'HKCU\Software\Quadrakey' HoldInterval) == 0x1c2 ]] || fail "the uninstall removed the settings unasked"
install
expect_installed "installed after an uninstall"
echo "uninstalled without being asked to remove the settings: they stay for the next installation"

# ---- Adding a key in tapdeck, from the Start Menu -----------------------------------
q start "$(q winepath -w "$start_menu")" >/dev/null &
wait_for 60 shown '^Quadrakey$' || fail "the Start Menu entry did not open tapdeck"
drive tab 1
drive click 1025
wait_for 30 shown '^Add Button Intercept$' || fail "Add did not open the Intercept dialog"
# X gives keys to the window with its focus; --sync can wait for good on a
# window that has it already.
timeout 10 xdotool windowfocus --sync "$(window_named '^Add Button Intercept$')" 2>/dev/null
xdotool key F6
sleep 0.5
xdotool type --delay 50 'Pad key'
sleep 0.3
xdotool key Return
wait_for 30 eval "! shown '^Add Button Intercept$'" || fail "Return did not accept the key"
[[ $(reg_value 'HKCU\Software\Quadrakey\Hotkeys' B0) == 'Pad key' &&
   $(reg_value 'HKCU\Software\Quadrakey\Hotkeys' H0) == 0x75 ]] || fail "the key was not added as \"Pad key\", F6"
drive tab 0
drive select 1012 'Pad key'
drive select 1013 '<Do Nothing>'
drive done
wait_for 30 eval "! shown '^Quadrakey$'" || fail "Done did not close tapdeck"
[[ $(reg_value 'HKCU\Software\Quadrakey' ButtonA) == '<Do Nothing>' ]] || fail "the single press was not stored"
echo "tapdeck: a real F6 added as \"Pad key\", its single press <Do Nothing>"

# ---- Signing in again, and a press ----------------------------------------------------
# Signing out ends every program; a new session runs the sign-in entries.
"$runner" --prefix "$prefix" --stop-server || fail "the session did not end"
rm -f "$logs/listener.log" "$logs/launch.log"
"$runner" --prefix "$prefix" --start-server || fail "the new session did not start"
wait_for 60 grep -q '  0: key 117 "Pad key" as button 0: listening' "$logs/listener.log" ||
  fail "the sign-in entry did not start a listener that listens to F6"
[[ $(listener_pids | wc -l) -eq 1 ]] || fail "$(listener_pids | wc -l) listeners run after signing in"
# Without a notification area of the display's own, Wine shows its icons in
# a tray window of its own.
wait_for 30 shown '^Wine System Tray$' || fail "the listener shows no icon"
! grep -q 'No notification area' "$logs/listener.log" || fail "the listener found no notification area"
q notepad >/dev/null &
wait_for 60 shown 'Notepad' || fail "Notepad did not open"
notepad=$(window_named 'Notepad')
timeout 10 xdotool windowfocus --sync "$notepad" 2>/dev/null
xdotool keydown F6 sleep 0.1 keyup F6
wait_for 30 grep -q '^Success' "$logs/launch.log" || fail "a real F6 in Notepad dispatched nothing"
[[ $(head -n2 "$logs/launch.log") == $'Launch button 0, press 1, hold 0\n  shortcut: <Do Nothing>' ]] ||
  fail "launch.log names another press"
notice='^Pad key: single press → <Do Nothing>$'
# Made with the text, shown for a few seconds: a loaded machine may look
# only once it has gone again, when the window keeps its text.
wait_for 30 eval '[[ -n $(xdotool search --name "$notice" 2>/dev/null) ]]' || fail "no notice of the press showed"
[[ $(xdotool getwindowfocus 2>/dev/null) == "$notepad" ]] || fail "the notice took the focus from Notepad"
# It goes by itself.
wait_for 30 eval "! shown '$notice'" || fail "the notice stayed"
echo "signed in: the listener listens and shows its icon, and a real F6 typed in Notepad is a single press of"
echo "  \"Pad key\", with a notice of it that leaves the focus where it was"

# ---- The icon's menu: Pause gives F6 back, Resume takes it again ---------------------
# A click on the icon in Wine's tray window opens the menu; its items, from
# the bottom: Quit, Pause (or Resume), Open Quadrakey.
choose_from_icon_menu() {
  local tray menu w
  tray=$(window_named '^Wine System Tray$')
  [[ -n $tray ]] || fail "no tray window to open the menu from"
  # Notepad opened over it.
  timeout 10 xdotool windowraise "$tray"
  sleep 0.3
  eval "$(timeout 10 xdotool getwindowgeometry --shell "$tray")"
  timeout 10 xdotool mousemove $((X + 12)) $((Y + 32)) click 3
  menu=
  for _ in $(seq 100); do
    for w in $(xdotool search --onlyvisible --name '^$' 2>/dev/null); do
      eval "$(timeout 10 xdotool getwindowgeometry --shell "$w")"
      [[ $WIDTH -lt 400 && $HEIGHT -gt 40 ]] && menu=$w
    done
    [[ -n $menu ]] && break
    sleep 0.1
  done
  [[ -n $menu ]] || fail "a click on the icon opened no menu"
  eval "$(timeout 10 xdotool getwindowgeometry --shell "$menu")"
  timeout 10 xdotool mousemove $((X + 30)) $((Y + HEIGHT - $1)) click 1
}
choose_from_icon_menu 29
wait_for 30 grep -q "Paused from the icon's menu" "$logs/listener.log" || fail "Pause in the icon's menu did nothing"
rm -f "$logs/launch.log"
timeout 10 xdotool windowfocus --sync "$notepad" 2>/dev/null
xdotool keydown F6 sleep 0.1 keyup F6
sleep 2
[[ ! -e $logs/launch.log ]] || fail "a press of F6 while paused started the launcher"
choose_from_icon_menu 29
wait_for 30 grep -q "Resumed from the icon's menu" "$logs/listener.log" || fail "Resume in the icon's menu did nothing"
timeout 10 xdotool windowfocus --sync "$notepad" 2>/dev/null
xdotool keydown F6 sleep 0.1 keyup F6
wait_for 30 grep -q '^Success' "$logs/launch.log" || fail "F6 dispatched nothing after Resume"
echo "the icon's menu: Pause gives F6 back (a press reaches Notepad alone), Resume takes it again"

# ---- An uninstall while tapdeck is open changes nothing -----------------------------
# "_?=" keeps the uninstaller in place, so that its exit code is its own.
q start "$(q winepath -w "$start_menu")" >/dev/null &
wait_for 60 shown '^Quadrakey$' || fail "the Start Menu entry did not open tapdeck again"
"$runner" --prefix "$prefix" --timeout 120 "$programs/Uninstall.exe" /S "_?=$(q winepath -w "$programs")" \
  </dev/null >/dev/null 2>&1
code=$?
[[ $code -eq 3 ]] || fail "an uninstall while tapdeck is open ended with exit code $code (3: nothing changed)"
expect_installed "after an uninstall refused while tapdeck is open"
[[ $(listener_pids | wc -l) -eq 1 ]] || fail "the refused uninstall ended the listener"
drive cancel Quadrakey
wait_for 30 eval "! shown '^Quadrakey$'" || fail "Cancel did not close tapdeck"
echo "an uninstall while tapdeck is open says so and changes nothing"

# ---- Uninstalling while the listener runs ---------------------------------------------
[[ $(listener_pids | wc -l) -eq 1 ]] || fail "the listener does not run before the uninstall"
uninstall /REMOVESETTINGS
[[ -z $(listener_pids) ]] || fail "the listener still runs after the uninstall"
[[ ! -e $programs ]] || fail "the programs' folder stays: $(ls "$programs")"
[[ ! -e $start_menu ]] || fail "the Start Menu entry stays"
[[ -z $(reg_value "$run_key" "$sign_in_name") ]] || fail "the sign-in entry stays"
! key_exists "$uninstall_key" || fail "the entry in the list of installed programs stays"
! key_exists 'HKCU\Software\Quadrakey' || fail "the settings stay, though the uninstall was asked to remove them"
[[ ! -e $logs ]] || fail "the logs stay: $(ls "$logs")"
! key_exists 'HKLM\Software\Quadrakey' || fail "a program wrote under HKEY_LOCAL_MACHINE\\Software\\Quadrakey"
! key_exists 'HKLM\SOFTWARE\Microsoft\Shell\Keys' || fail "a program wrote a button table"
echo "uninstalled while the listener ran: it ended first, and nothing stays; nothing was written under HKEY_LOCAL_MACHINE"
