#!/usr/bin/env bash
# Runs Lumeno on a real X server (Xvfb, the xcb platform), replays the sample capture and
# checks from outside the program what a user would see: the main window and the default
# views mapped with their captions, a switch that maps its view, drawn plots, every window
# on a full HD screen at start-up and tiled without overlap by "Arrange Windows", and on a
# screen scaled by two, plots enlarged without smoothing and snapshots of the logical size.
set -uo pipefail
lumeno=$1 shot=$2 sample=$3 work=$4
here=$(dirname "$0")
source "$here/XServer.sh"
# Under the sanitizers, the system's X keyboard library needs one exception.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}suppressions=$(cd "$here" && pwd)/asan.supp"

for tool in Xvfb xdotool xwininfo; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/setup.sh installs it)"; exit 77; }
done
rm -rf "$work" && mkdir -p "$work/snapshots" "$work/snapshots2"
start_x_server "$work" 1920x1080x24 || { echo "SKIP: Xvfb cannot start here: $(cat "$work/xvfb.log")"; exit 77; }
echo "X server on $DISPLAY"

failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}

caption=$("$lumeno" --version | tr -d '\n')
"$lumeno" --speed max --snapshot-dir "$work/snapshots" "$sample" >"$work/lumeno.log" 2>&1 &
started_pids+=($!)

main=$(window_named "$caption")
check "main window \"$caption\" is mapped" test -n "$main"
[ -n "$main" ] || { cat "$work/lumeno.log"; exit 1; }
for view in "Port to Port" "Lumeno Packet Headers" "Lumeno Packet Length" \
            "External IP to Internal Port" "Time Sequence Plot" "bit Rainfall"; do
  check "default view \"$view\" is mapped" test -n "$(window_named "$view" 10)"
  check "xwininfo lists \"$view\"" grep -qF "\"$view\"" <(xwininfo -root -tree)
done
check "\"IP to IP\" is not shown before its switch is clicked" test -z "$(window_named "IP to IP" 1)"
click_in "$main" $(twips_to_px 120 2520)
check "a click on \"External IP to Internal IP\" maps \"IP to IP\"" test -n "$(window_named "IP to IP" 10)"

# Every window lies on the screen; with tiled set, no two of them overlap either.
shown_views=("Port to Port" "Lumeno Packet Headers" "Lumeno Packet Length" "External IP to Internal Port"
             "Time Sequence Plot" "bit Rainfall" "IP to IP")
windows_fit() {  # windows_fit SCREEN_W SCREEN_H tiled|any
  local title id rects=() x y w h
  for title in "$caption" "${shown_views[@]}"; do
    id=$(window_named "$title" 5)
    [ -n "$id" ] || { echo "  no window \"$title\""; return 1; }
    read -r x y w h < <(xwininfo -id "$id" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
      /Width:/{w=$2} /Height:/{h=$2} END{print x, y, w, h}')
    if [ "$x" -lt 0 ] || [ "$y" -lt 0 ] || [ $((x + w)) -gt "$1" ] || [ $((y + h)) -gt "$2" ]; then
      echo "  \"$title\" at ${x},${y} ${w}x${h} is not all on the ${1}x${2} screen"; return 1
    fi
    rects+=("$x $y $w $h $title")
  done
  [ "$3" = tiled ] || return 0
  local i j
  for ((i = 0; i < ${#rects[@]}; i++)); do
    for ((j = 0; j < i; j++)); do
      read -r x y w h _ <<<"${rects[i]}"
      read -r x2 y2 w2 h2 _ <<<"${rects[j]}"
      if [ "$x" -lt $((x2 + w2)) ] && [ "$x2" -lt $((x + w)) ] && [ "$y" -lt $((y2 + h2)) ] && [ "$y2" -lt $((y + h)) ]; then
        echo "  overlap: ${rects[i]} / ${rects[j]}"; return 1
      fi
    done
  done
}
check "at start-up every window lies on the 1920x1080 screen" windows_fit 1920 1080 any

# The sample's packets are drawn: pixels of the traffic classes' colours inside the plot.
port=$(window_named "Port to Port")
raise_window "$port"
drawn=0
for _ in $(seq 100); do
  drawn=$("$shot" drawn "$port" 0 20 400 380 2>/dev/null || echo 0)
  [ "$drawn" -gt 500 ] && break
  sleep 0.2
done
check "the port-to-port plot shows drawn pixels ($drawn in class colours)" test "$drawn" -gt 500
"$shot" save "$work/screen.png"
# Arranging resizes the views, which empties their plots: after the drawing was seen.
click_in "$main" 90 363  # "Arrange Windows"
sleep 1
check "after \"Arrange Windows\" the shown windows lie on the screen without overlap" windows_fit 1920 1080 tiled
kill "${started_pids[@]}" 2>/dev/null; wait "${started_pids[@]}" 2>/dev/null; started_pids=()

# A screen scaled by two: the same logical sizes, enlarged pixel by pixel.
QT_SCALE_FACTOR=2 "$lumeno" --speed max --snapshot-dir "$work/snapshots2" "$sample" \
  >"$work/lumeno2.log" 2>&1 &
started_pids+=($!)
main=$(window_named "$caption")
port=$(window_named "Port to Port")
check "scaled: the windows are mapped" test -n "$main" -a -n "$port"
shown_views=("Port to Port" "Lumeno Packet Headers" "Lumeno Packet Length" "External IP to Internal Port"
             "Time Sequence Plot" "bit Rainfall")
check "scaled: at start-up every window lies on the screen" windows_fit 1920 1080 any
if [ -n "$port" ]; then
  raise_window "$port"
  read -r dw dh < <(xwininfo -id "$port" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w, h}')
  check "scaled: Port to Port is twice its logical size in device pixels (${dw}x${dh})" \
    test $((dw % 2)) = 0 -a $((dh % 2)) = 0 -a "$dh" -ge 880
  for _ in $(seq 100); do
    drawn=$("$shot" drawn "$port" 0 40 "$dw" $((dh - 120)) 2>/dev/null || echo 0)
    [ "$drawn" -gt 2000 ] && break
    sleep 0.2
  done
  check "scaled: the plot is drawn ($drawn pixels)" test "$drawn" -gt 2000
  unsmooth=$("$shot" blocks "$port" 0 40 "$dw" $((dh - 120)) 2)
  check "scaled: every image pixel is a 2x2 block of one colour ($unsmooth blocks are not)" test "$unsmooth" = 0
  click_in "$main" 332 96 2  # "Save Visualization Images to Application Directory"
  for _ in $(seq 50); do
    [ "$(ls "$work/snapshots2" | wc -l)" -ge 10 ] && break
    sleep 0.2
  done
  bmp=$(ls "$work/snapshots2"/*_parallel_port.bmp 2>/dev/null | head -1)
  dims=$([ -n "$bmp" ] && od -An -t d4 -j 18 -N 8 "$bmp" | awk '{print $1 "x" ($2 < 0 ? -$2 : $2)}')
  check "scaled: ten snapshots saved" test "$(ls "$work/snapshots2" | wc -l)" -ge 10
  logical="$((dw / 2))x$((dh / 2 - 60))"
  check "scaled: the port snapshot keeps its logical size $logical (${dims:-none})" test "$dims" = "$logical"
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures checks failed; the program said:"
  cat "$work/lumeno.log" "$work/lumeno2.log"
  exit 1
fi
echo "all checks passed"
