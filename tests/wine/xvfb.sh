# Sourced by the scripts that show Wine's windows on a virtual display.
# start_xvfb WIDTHxHEIGHT: starts Xvfb on a free display number (Xvfb writes
# it to fd 4), sets xvfb_pid and exports DISPLAY; false when it did not start.
start_xvfb() {
  local display_file number
  display_file=$(mktemp)
  Xvfb -displayfd 4 -screen 0 "${1}x24" -nolisten tcp 4>"$display_file" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 50); do
    [[ -s $display_file ]] && break
    sleep 0.1
  done
  number=$(head -n1 "$display_file")
  rm -f "$display_file"
  [[ -n $number ]] || return 1
  export DISPLAY=:$number
}
