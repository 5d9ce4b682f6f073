# Sourced by the scripts that show Wine's windows on a virtual display.
# start_xvfb WIDTHxHEIGHT: starts Xvfb on a free display number (Xvfb writes
# it to fd 4 once it takes clients), sets xvfb_pid and exports DISPLAY;
# false when it did not start, with the reason in xvfb_error.
# xvfb_gone: says so when the display has ended since (false while it runs).
# end_display_run RUNNER PREFIX CLEANUP: a test's exit under the display:
# ends what runs in the prefix, runs CLEANUP without the display, ends Xvfb
# and leaves the prefix a warm server without it for the tests after.
# hide_wine_tray: for pictures, unmaps the floating "Wine System Tray"
# window in which Wine shows the listener's icon where the display has no
# notification area; a PC shows the icon in its taskbar instead.
# wait_for SECONDS COMMAND...: true once the command is, looking ten times a
# second. window_named TITLE_REGEX: the first shown window so titled.
# shown TITLE_REGEX: whether one is.
start_xvfb() {
  local display_file log number
  display_file=$(mktemp)
  log=$(mktemp)
  xvfb_error=
  Xvfb -displayfd 4 -screen 0 "${1}x24" -nolisten tcp 4>"$display_file" 2>"$log" &
  xvfb_pid=$!
  # A loaded machine can take a while; a server that failed ends at once.
  for _ in $(seq 600); do
    [[ -s $display_file ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  number=$(head -n1 "$display_file")
  rm -f "$display_file"
  if [[ -z $number ]]; then
    if kill -0 "$xvfb_pid" 2>/dev/null; then
      xvfb_error="it named no display within 60 s"
      kill "$xvfb_pid" 2>/dev/null
    else
      wait "$xvfb_pid"
      xvfb_error="it ended with exit code $?"
    fi
    [[ -s $log ]] && xvfb_error+=$'; it printed:\n'$(tail -n 20 "$log")
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
  export DISPLAY=:$number
}

xvfb_gone() {
  [[ -n ${xvfb_pid:-} ]] || return 1
  kill -0 "$xvfb_pid" 2>/dev/null && return 1
  echo "Xvfb (display $DISPLAY, pid $xvfb_pid) has ended: the programs lost their display"
}

wait_for() {
  local limit=$1
  shift
  for _ in $(seq $((limit * 10))); do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}

window_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1; }
shown() { [[ -n $(window_named "$1") ]]; }

end_display_run() {
  local runner=$1 prefix=$2 cleanup=$3
  kill $(jobs -p) 2>/dev/null
  "$runner" --prefix "$prefix" --stop-server
  unset DISPLAY
  "$cleanup"
  "$runner" --prefix "$prefix" --stop-server
  [[ -n ${xvfb_pid:-} ]] && kill "$xvfb_pid" 2>/dev/null
  "$runner" --prefix "$prefix" --start-server
}

hide_wine_tray() {
  local tray
  for tray in $(xdotool search --onlyvisible --name '^Wine System Tray$' 2>/dev/null); do
    xdotool windowunmap "$tray" 2>/dev/null
  done
}
