# Shared by the real-display test and the screenshot script: an X server of our own, and
# waiting for windows on it. Source it; it needs Xvfb and xdotool.

# Starts Xvfb on a free display and exports DISPLAY; the server is stopped on exit.
start_x_server() {
  local work=$1 size=${2:-1920x1200x24}
  rm -f "$work/display"
  Xvfb -displayfd 3 -screen 0 "$size" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  x_server_pid=$!
  trap 'stop_programs' EXIT
  for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$x_server_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  [ -s "$work/display" ] || return 1
  export DISPLAY=":$(tr -d '\n' <"$work/display")"
  export QT_QPA_PLATFORM=xcb
  mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
  export XDG_RUNTIME_DIR="$work/runtime"
}

started_pids=()
stop_programs() {
  for pid in "${started_pids[@]}"; do kill "$pid" 2>/dev/null; done
  [ -n "${x_server_pid:-}" ] && kill "$x_server_pid" 2>/dev/null
  wait 2>/dev/null
}

# The id of the mapped window whose title is exactly $1, waiting up to $2 seconds.
window_named() {
  timeout "${2:-20}" xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -1
}

# Brings window $1 to the top, so that a grab of it shows only itself.
raise_window() { xdotool windowraise "$1" && sleep 0.3; }

# Clicks at logical position x y (pixels) of window $1, on a screen scaled by $4.
click_in() {
  local scale=${4:-1}
  xdotool windowraise "$1"  # views open over the main window
  xdotool mousemove --window "$1" $(($2 * scale)) $(($3 * scale)) click 1
}

# A twips position (15 twips a pixel) inside a control of the main window: a little right
# of and below its top-left corner, where a check box has its box.
twips_to_px() { echo $(($1 / 15 + 8)) $(($2 / 15 + 12)); }
