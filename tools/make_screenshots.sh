#!/usr/bin/env bash
# Makes the README's screenshots: replays the sample capture on a private X server with
# every view shown, then saves the main window and the twelve views as PNG under docs/.
# Needs Xvfb and xdotool (scripts/setup.sh installs them). Usage: tools/make_screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
if [ ! -x "$build/src/lumeno" ] || [ ! -x "$build/tools/screenshot/lumeno-screenshot" ]; then
  bash scripts/setup.sh
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DLUMENO_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$(nproc)" --target lumeno lumeno-screenshot
fi
shot="$build/tools/screenshot/lumeno-screenshot"
source tests/display/XServer.sh
work=$(mktemp -d)
start_x_server "$work" 1920x1400x24 || { echo "Xvfb cannot start: $(cat "$work/xvfb.log")" >&2; exit 1; }
# The images' folder the window shows: the same on every machine.
images=/tmp/lumeno-images
mkdir -p "$images"
"$build/src/lumeno" --speed 4 --snapshot-dir "$images" >"$work/log" 2>&1 &
started_pids+=($!)
main=$(window_named "$("$build/src/lumeno" --version | tr -d '\n')")
[ -n "$main" ] || { cat "$work/log" >&2; exit 1; }
# The six switches that are off at start-up (twips of their check boxes).
for place in "3120 2880" "6240 2880" "120 2520" "120 3960" "120 3600" "120 4320"; do
  click_in "$main" $(twips_to_px $place)
  sleep 0.4  # not a double click
done
# The custom view draws only what its boxes name: the sample's monitored host.
custom=$(window_named "IP to IP Custom")
xdotool mousemove --window "$custom" 280 40 click 1 type 192.168.1.101
# The sample as the adapter, by its path relative to the repository where the program
# runs, then Start; a quarter of its minute at four times the pace.
xdotool windowraise "$main" mousemove --window "$main" 380 18 click 1 key ctrl+a type "samples/sample.pcap"
xdotool key Escape  # closes the list's completion, should it have opened
sleep 0.4
click_in "$main" 40 76
sleep 16
mkdir -p docs
save() {  # save FILE CAPTION
  local id
  id=$(window_named "$2" 5)
  [ -n "$id" ] || { echo "no window \"$2\"" >&2; return 1; }
  raise_window "$id"
  "$shot" save "docs/$1.png" "$id"
  echo "docs/$1.png  $2"
}
save main "$(xdotool getwindowname "$main")"
save parallel_port "Port to Port"
save parallel_ip "IP to IP"
save parallel_ip_port "External IP to Internal Port"
save parallel_custom "IP to IP Custom"
save parallel_piip "Port to IP to IP to Port"
save parallel_ippi "IP to Port to Port to IP"
save time_sequence "Lumeno  Protocols over Time"
save running_port "Time Sequence Plot"
save bit_rainfall "bit Rainfall"
save waterfall "Lumeno Packet Length"
save headers "Lumeno Packet Headers"
save body "Lumeno Packet Body"
rm -rf "$work" "$images"
