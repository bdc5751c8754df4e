#!/usr/bin/env bash
# Installs what is missing, builds Lumeno and runs it on the bundled sample capture.
# With a display it opens the windows and replays the sample at its recorded pace; without
# one it replays it headless and writes the snapshot images into out/snapshots.
# Extra arguments go to the program (for example: --speed max, --monitor 192.168.).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DLUMENO_TESTS=OFF >/dev/null
cmake --build build/release -j"$(nproc)"

sample=samples/sample.pcap
program=build/release/src/lumeno
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$program" --monitor 192.168.1.101 "$@" "$sample"
fi
mkdir -p out/snapshots
echo "No display: replaying $sample headless; the images go to out/snapshots/"
exec "$program" --headless --monitor 192.168.1.101 --snapshot-dir out/snapshots "$@" "$sample"
