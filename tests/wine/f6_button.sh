# Sourced by the scripts that press a real F6 into Wine.
# f6_button_settings WINE PREFIX SINGLE HOLD DOUBLE DOUBLE_HOLD: writes
# Quadrakey's settings afresh into the prefix's registry, the user's own as
# on a PC (no button table, and nothing left under HKEY_LOCAL_MACHINE to be
# taken over): F6 (0x75) is the one user-defined button, button 0, letter A,
# with these four assignments; the intervals a new installation has
# (400 ms). The programs find each other in their own folder. False when
# regedit fails.
f6_button_settings() {
  local wine=$1 prefix=$2 reg status
  reg=$(mktemp --suffix=.reg)
  {
    printf 'REGEDIT4\r\n\r\n'
    printf '[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shell\\Keys]\r\n\r\n'
    printf '[-HKEY_LOCAL_MACHINE\\Software\\Quadrakey]\r\n\r\n'
    printf '[-HKEY_CURRENT_USER\\Software\\Quadrakey]\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Quadrakey]\r\n'
    printf '"HoldInterval"=dword:00000190\r\n"DblClickInterval"=dword:00000190\r\n'
    printf '"ButtonA"="%s"\r\n"ButtonAh"="%s"\r\n"ButtonA2"="%s"\r\n"ButtonA2h"="%s"\r\n' "$3" "$4" "$5" "$6"
    printf '\r\n[HKEY_CURRENT_USER\\Software\\Quadrakey\\Hotkeys]\r\n"B0"="F6 key"\r\n"H0"=dword:00000075\r\n'
  } >"$reg"
  WINEPREFIX=$prefix WINEDEBUG=-all timeout 60 "$wine" regedit /s "Z:${reg//\//\\}" </dev/null >/dev/null 2>&1
  status=$?
  rm -f "$reg"
  return $status
}

# wine_folder WINE PREFIX VARIABLE: prints the Linux path of a folder the
# prefix's environment names (LOCALAPPDATA, APPDATA), which need not exist
# yet. False when Wine cannot say.
wine_folder() {
  local wine=$1 prefix=$2 folder
  folder=$(WINEPREFIX=$prefix WINEDEBUG=-all timeout 60 "$wine" cmd /c "echo %$3%" </dev/null 2>/dev/null | tr -d '\r')
  [[ $folder == ?:\\* ]] || return 1
  folder=$(WINEPREFIX=$prefix WINEDEBUG=-all timeout 60 "$wine" winepath -u "$folder" </dev/null 2>/dev/null |
             tr -d '\r')
  [[ -n $folder ]] || return 1
  echo "${folder%/}"
}

# quadrakey_logs WINE PREFIX: prints the Linux path of the folder the
# programs write their logs to (the user's local application data).
quadrakey_logs() {
  local local_data
  local_data=$(wine_folder "$1" "$2" LOCALAPPDATA) || return 1
  echo "$local_data/Quadrakey"
}
