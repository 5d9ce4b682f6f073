#!/usr/bin/env bash
# tapdeck on a PC, under Wine on a virtual display:
#  - its sheet is an ordinary window: sized to its pages (none of which
#    scrolls), in the middle of the work area, not covering it, with a
#    minimise button, a taskbar button of its own and its icon; the main
#    window behind it is never shown;
#  - the program list holds the shortcuts of both Start Menus, the user's
#    own and the one of all users, and a shortcut at the same place in both
#    once; the actions a PC leaves out are not offered, but a stored one
#    keeps its line and stays stored;
#  - a second start, with the sheet minimised, brings the sheet back and to
#    the front, and ends.
# Usage: tapdeck_window_xvfb.sh RUNNER PREFIX TAPDECK WINDOW_DRIVER
# Exit code 77 (skipped) when Xvfb or xdotool is missing.
set -uo pipefail
. "$(dirname "$0")/xvfb.sh"
. "$(dirname "$0")/f6_button.sh"
runner=$1 prefix=$2 tapdeck=$3 driver=$4

for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed (apt-get install xvfb xdotool)"
    exit 77
  fi
done

wine=${QK_WINE:-/usr/lib/wine/wine64}
xvfb_pid=
own_menu= all_menu=
q() { WINEPREFIX=$prefix WINEDEBUG=-all timeout 60 "$wine" "$@" </dev/null 2>/dev/null | tr -d '\r'; }

clean_slate() {
  local reg
  reg=$(mktemp --suffix=.reg)
  printf 'REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER\\Software\\Quadrakey]\r\n\r\n' >"$reg"
  WINEPREFIX=$prefix WINEDEBUG=-all timeout 60 "$wine" regedit /s "Z:${reg//\//\\}" </dev/null >/dev/null 2>&1
  rm -f "$reg"
  [[ -n $own_menu ]] && rm -rf "$own_menu/Quadrakey test" "$own_menu/Own Tool.lnk"
  [[ -n $all_menu ]] && rm -rf "$all_menu/Quadrakey test" "$all_menu/Common Tool.lnk"
}

finish() { end_display_run "$runner" "$prefix" clean_slate; }
fail() {
  echo "FAIL: $*"
  xvfb_gone
  exit 1
}

drive() {
  local out
  out=$("$runner" --prefix "$prefix" --timeout 60 "$driver" "$@" </dev/null 2>/dev/null) ||
    fail "window_driver $* found nothing to act on"
  [[ -z $out ]] || tr -d '\r' <<<"$out"
}
fact() { sed -n "s/^$1 //p" <<<"$facts"; }

if ! start_xvfb 1024x768; then
  echo "FAIL: Xvfb did not start: $xvfb_error"
  exit 1
fi
trap finish EXIT
"$runner" --prefix "$prefix" --stop-server || fail "the Wine server made without the display did not stop"
"$runner" --prefix "$prefix" --start-server || fail "the Wine server did not start on display $DISPLAY"

roaming=$(wine_folder "$wine" "$prefix" APPDATA) || fail "Wine does not say where the user's roaming data is"
all_data=$(wine_folder "$wine" "$prefix" ProgramData) || fail "Wine does not say where the data of all users is"
own_menu="$roaming/Microsoft/Windows/Start Menu/Programs"
all_menu="$all_data/Microsoft/Windows/Start Menu/Programs"
clean_slate
mkdir -p "$own_menu/Quadrakey test" "$all_menu/Quadrakey test" || fail "cannot make the Start Menus"
# Only the names count for the list.
printf 'x' >"$own_menu/Own Tool.lnk"
printf 'x' >"$all_menu/Common Tool.lnk"
printf 'x' >"$own_menu/Quadrakey test/In Both.lnk"
printf 'x' >"$all_menu/Quadrakey test/In Both.lnk"
# One added key, its single press "<Power Off>" from an earlier version.
reg=$(mktemp --suffix=.reg)
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Quadrakey]\r\n"ButtonA"="<Power Off>"\r\n\r\n' >"$reg"
printf '[HKEY_CURRENT_USER\\Software\\Quadrakey\\Hotkeys]\r\n"B0"="Pad key"\r\n"H0"=dword:00000075\r\n' >>"$reg"
WINEPREFIX=$prefix WINEDEBUG=-all timeout 60 "$wine" regedit /s "Z:${reg//\//\\}" </dev/null >/dev/null 2>&1
rm -f "$reg"
[[ $(q reg query 'HKCU\Software\Quadrakey' /v ButtonA) == *'<Power Off>'* ]] || fail "cannot store the settings"

"$runner" --prefix "$prefix" --timeout 120 "$tapdeck" </dev/null >/dev/null 2>&1 &
first=$!
wait_for 60 shown '^Quadrakey$' || fail "tapdeck showed no window"

# ---- An ordinary window ---------------------------------------------------------------
facts=$(drive facts)
echo "$facts"
(($(fact minimise_box) == 1)) || fail "the sheet has no minimise button"
(($(fact app_window) == 1)) || fail "the sheet has no taskbar button of its own"
# The icon as the person's desktop gets it (Wine hands it to X).
if command -v xprop >/dev/null; then
  xprop -id "$(xdotool search --onlyvisible --name '^Quadrakey$' | head -n1)" _NET_WM_ICON |
    grep -q '^_NET_WM_ICON(CARDINAL) = ' || fail "the sheet shows no icon"
fi
(($(fact main_visible) == 0)) || fail "the empty main window shows"
(($(fact scrolled_pages) == 0)) || fail "$(fact scrolled_pages) pages scroll on a screen larger than they are"
(($(fact width) < $(fact area_width) && $(fact height) < $(fact area_height))) ||
  fail "the sheet fills the screen ($(fact width)x$(fact height))"
# In the middle: equal room either side, give or take a pixel of rounding.
left_room=$(($(fact left) - $(fact area_left)))
right_room=$(($(fact area_width) - $(fact width) - left_room))
top_room=$(($(fact top) - $(fact area_top)))
bottom_room=$(($(fact area_height) - $(fact height) - top_room))
((left_room >= 0 && top_room >= 0 && left_room - right_room >= -1 && left_room - right_room <= 1 &&
  top_room - bottom_room >= -1 && top_room - bottom_room <= 1)) ||
  fail "the sheet is not in the middle of the work area (left $left_room, right $right_room, top $top_room, bottom $bottom_room)"
echo "tapdeck: an ordinary window of $(fact width)x$(fact height), in the middle, minimisable, with its own taskbar button"

# ---- Both Start Menus -----------------------------------------------------------------
lines=$(drive lines 1013)
grep -qx 'Own Tool' <<<"$lines" || fail "the user's own Start Menu is not listed: $lines"
grep -qx 'Common Tool' <<<"$lines" || fail "the Start Menu of all users is not listed: $lines"
(($(grep -cx 'In Both' <<<"$lines") == 1)) || fail "a shortcut in both Start Menus is not listed once: $lines"
grep -qx '<Power Off>' <<<"$lines" || fail "the stored <Power Off> lost its line: $lines"
hold_lines=$(drive lines 1014)
grep -qx 'Own Tool' <<<"$hold_lines" || fail "the press and hold lists no programs: $hold_lines"
! grep -qx -e '<Power Off>' -e '<Input Panel>' <<<"$hold_lines" || fail "a PC offers an action it leaves out: $hold_lines"
grep -qx '<Today>' <<<"$hold_lines" || fail "a PC does not offer <Today>: $hold_lines"
echo "the program list: both Start Menus, a shortcut in both once; <Power Off> only where stored"

# ---- A second start -------------------------------------------------------------------
drive minimise
wait_for 30 eval '[[ $(drive facts | sed -n "s/^iconic //p") == 1 ]]' || fail "the sheet did not minimise"
"$runner" --prefix "$prefix" --timeout 60 "$tapdeck" </dev/null >/dev/null 2>&1
code=$?
((code == 0)) || fail "the second start ended with exit code $code"
wait_for 30 eval '[[ $(drive facts | sed -n "s/^iconic //p") == 0 ]]' || fail "the second start left the sheet minimised"
wait_for 30 eval '[[ $(drive facts | sed -n "s/^foreground //p") == 1 ]]' || fail "the second start did not bring the sheet to the front"
kill -0 "$first" 2>/dev/null || fail "the first tapdeck ended"
echo "a second start brings the minimised sheet back, in front, and ends"

drive cancel Quadrakey
wait_for 30 eval "! shown '^Quadrakey\$'" || fail "Cancel did not close tapdeck"
wait "$first" || fail "tapdeck ended with exit code $?"
[[ $(q reg query 'HKCU\Software\Quadrakey' /v ButtonA) == *'<Power Off>'* ]] || fail "the stored <Power Off> was not kept"
echo "PASS"
