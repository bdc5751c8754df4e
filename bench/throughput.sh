#!/usr/bin/env bash
# Throughput, live capture under load, memory and responsiveness of the whole program.
# Prints figures; it is not a test. Usage:
#   bash bench/throughput.sh [files|live|memory|responsive|contention|all]   (default: all)
# REPEATS (default 3) sets how many runs each figure is the median of. The generated
# capture files (about 2.7 GB) are kept in build/bench/load for the next run; LOAD names
# another folder that holds them (mixed.pcap, small.pcap, worst.pcap), BUILD another
# release tree.
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:-all}
repeats=${REPEATS:-3}
build=${BUILD:-build/bench}
load=${LOAD:-$build/load}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

bash scripts/setup.sh tcpdump tshark  # what the figures are compared with

cmake -S . -B $build -DCMAKE_BUILD_TYPE=Release -DLUMENO_TESTS=OFF >/dev/null
cmake --build $build -j"$(nproc)" --target lumeno lumeno-make-capture lumeno-load >/dev/null
lumeno=$build/src/lumeno
mkdir -p "$load" "$load/snapshots"

make_file() {  # kind packets name
  [ -s "$load/$3" ] || $build/tools/load/lumeno-make-capture --kind "$1" --packets "$2" "$load/$3"
}

median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

now() { date +%s.%N; }

# Packets per second of a command over a file of n packets, start-up included.
rate_of() {  # n command...
  local n=$1 start end
  shift
  start=$(now)
  "$@" >/dev/null 2>&1
  end=$(now)
  awk -v n="$n" -v a="$start" -v b="$end" 'BEGIN {printf "%.0f\n", n / (b - a)}'
}

# The monitored host of a generated capture: mixed6 carries its traffic over IPv6.
monitor_of() {  # name
  if [ "$1" = mixed6 ]; then echo 2001:db8:1::65; else echo 192.168.1.101; fi
}

lumeno_rate() {  # file [options]
  local file=$1 name
  shift
  name=$(basename "$file" .pcap)
  "$lumeno" --headless --monitor "$(monitor_of "$name")" --snapshot-dir "$load/snapshots" "$@" \
    "$file" | awk '/^  rate/ {print $2}'
}

files() {
  make_file mixed 2000000 mixed.pcap
  make_file small 2000000 small.pcap
  make_file worst 2000000 worst.pcap
  make_file mixed6 2000000 mixed6.pcap
  echo
  echo "End to end, 2,000,000 packets per file, median of $repeats runs (packets/s)"
  printf '%-28s %12s %12s %12s %12s %10s %10s\n' file "lumeno" "1 thread" tcpdump tshark \
    "/tcpdump" "x tshark"
  for name in mixed small worst mixed6; do
    local f=$load/$name.pcap l=() one=() td=() ts=() ip=ip
    [ "$name" = mixed6 ] && ip=ipv6
    for _ in $(seq "$repeats"); do
      l+=("$(lumeno_rate "$f")")
      one+=("$(lumeno_rate "$f" --threads 1)")
      td+=("$(rate_of 2000000 tcpdump -r "$f" -w /dev/null)")
      ts+=("$(rate_of 2000000 tshark -r "$f" -T fields -e $ip.src -e $ip.dst -e tcp.srcport \
        -e udp.srcport)")
    done
    local ml m1 mtd mts
    ml=$(printf '%s\n' "${l[@]}" | median)
    m1=$(printf '%s\n' "${one[@]}" | median)
    mtd=$(printf '%s\n' "${td[@]}" | median)
    mts=$(printf '%s\n' "${ts[@]}" | median)
    printf '%-28s %12s %12s %12s %12s %10.2f %10.1f\n' "$name ($(du -h "$f" | cut -f1))" \
      "$ml" "$m1" "$mtd" "$mts" "$(awk -v a="$ml" -v b="$mtd" 'BEGIN {print a / b}')" \
      "$(awk -v a="$ml" -v b="$mts" 'BEGIN {print a / b}')"
  done
}

live() {
  if [ "$(id -u)" != 0 ]; then
    echo "live: needs root, to capture on the loopback interface" >&2
    return 0
  fi
  echo
  echo "Live on lo, every view drawing; offered for 5 s by lumeno-load to 127.0.0.1"
  printf '%10s %12s %12s %12s %12s %12s\n' "rate/s" offered "on lo" received accepted \
    "kernel drop"
  local best=0
  for rate in 50000 100000 200000 400000 800000; do
    local out sent
    out=$(mktemp)
    "$lumeno" --headless --capture-on lo --seconds 7 --monitor 127.0.0.1 \
      --filter "udp port 40000 or tcp port 40001" --snapshot-dir "$load/snapshots" >"$out" &
    local pid=$!
    sleep 1
    sent=$($build/tools/load/lumeno-load --rate "$rate" --seconds 5 --port 40000)
    wait "$pid"
    local offered carried seen accepted dropped
    offered=$(sed -n 's/^offered \([0-9]*\) .*/\1/p' <<<"$sent")
    carried=$(sed -n 's/.*loopback carried \([0-9]*\).*/\1/p' <<<"$sent")
    seen=$(awk '/packets read/ {print $3}' "$out")
    accepted=$(awk '/^  accepted/ {print $2}' "$out")
    dropped=$(awk '/lost by the kernel/ {print $5}' "$out")
    rm -f "$out"
    printf '%10s %12s %12s %12s %12s %12s\n' "$rate" "$offered" "$carried" "$seen" "$accepted" \
      "$dropped"
    # The sender may fall short of the rate asked for: count what it really offered.
    local achieved=$((offered / 5))
    if [ "$dropped" = 0 ] && [ "$achieved" -gt "$best" ]; then best=$achieved; fi
  done
  echo "highest rate really offered with no kernel drop: $best/s"
}

memory() {
  make_file mixed 100000 mixed100k.pcap
  make_file mixed 2000000 mixed.pcap
  echo
  echo "Peak resident size (MB)"
  local small big
  small=$("$lumeno" --headless --snapshot-dir "$load/snapshots" "$load/mixed100k.pcap" |
    awk '/peak memory/ {print $3}')
  big=$("$lumeno" --headless --snapshot-dir "$load/snapshots" --loop 5 "$load/mixed.pcap" |
    awk '/peak memory/ {print $3}')
  printf 'after 100,000 packets: %s   after 10,000,000: %s   ratio %.3f\n' "$small" "$big" \
    "$(awk -v a="$big" -v b="$small" 'BEGIN {print a / b}')"
}

responsive() {
  make_file mixed 2000000 mixed.pcap
  echo
  echo "Event loop during a max-speed replay of mixed.pcap with the default windows shown"
  local gaps=() stops=()
  for _ in $(seq "$repeats"); do
    local out
    out=$("$lumeno" --headless --probe --probe-stop 0.5 --snapshot-dir "$load/snapshots" \
      "$load/mixed.pcap")
    gaps+=("$(awk '/worst event-loop gap/ {print $4}' <<<"$out")")
    # Asked early enough that even a fast replay of the file is still running.
    stops+=("$(awk '/stop took effect/ {print $5}' <<<"$out")")
    out=$("$lumeno" --headless --probe --snapshot-dir "$load/snapshots" "$load/mixed.pcap")
    gaps+=("$(awk '/worst event-loop gap/ {print $4}' <<<"$out")")
  done
  echo "worst gap per run (ms): ${gaps[*]}"
  echo "Stop asked after 0.5 s took effect after (ms): ${stops[*]}"
}

# A loop of this script's own that keeps one core busy, as another program on an
# analyst's desktop does; bounded in time, and stopped by the script (or its exit).
busy=
busy_start() {
  (
    end=$((SECONDS + 900))
    while ((SECONDS < end)); do :; done
  ) &
  busy=$!
  trap busy_stop EXIT
  sleep 0.5
}
busy_stop() {
  if [ -n "$busy" ]; then
    kill "$busy" 2>/dev/null || true
    wait "$busy" 2>/dev/null || true
    busy=
  fi
}

contention() {
  make_file mixed 2000000 mixed.pcap
  make_file small 2000000 small.pcap
  make_file worst 2000000 worst.pcap
  echo
  echo "Drawing threads, quiet and with one core kept busy; median of $repeats interleaved"
  echo "runs (packets/s); 2/1 and auto/1 are the rates over one thread's"
  printf '%-8s %-6s %12s %12s %12s %7s %7s %10s\n' file machine "1 thread" "2 threads" \
    "auto" "2/1" "auto/1" "auto/tcpd"
  local machine
  for machine in quiet busy; do
    [ "$machine" = busy ] && busy_start
    for name in mixed small worst; do
      local f=$load/$name.pcap one=() two=() auto=() td=() n=0
      [ "$machine" = quiet ] && n=$(packets_in "$f")
      for _ in $(seq "$repeats"); do
        one+=("$(lumeno_rate "$f" --threads 1)")
        two+=("$(lumeno_rate "$f" --threads 2)")
        auto+=("$(lumeno_rate "$f")")
        if [ "$machine" = quiet ]; then
          td+=("$(rate_of "$n" tcpdump -r "$f" -w /dev/null)")
        fi
      done
      local m1 m2 ma mtd=
      m1=$(printf '%s\n' "${one[@]}" | median)
      m2=$(printf '%s\n' "${two[@]}" | median)
      ma=$(printf '%s\n' "${auto[@]}" | median)
      [ "$machine" = quiet ] && mtd=$(printf '%s\n' "${td[@]}" | median)
      printf '%-8s %-6s %12s %12s %12s %7.2f %7.2f %10s\n' "$name" "$machine" "$m1" "$m2" "$ma" \
        "$(awk -v a="$m2" -v b="$m1" 'BEGIN {print a / b}')" \
        "$(awk -v a="$ma" -v b="$m1" 'BEGIN {print a / b}')" \
        "$([ -n "$mtd" ] && awk -v a="$ma" -v b="$mtd" 'BEGIN {printf "%.3f", a / b}')"
    done
  done
  busy_stop
}

# How many packets a capture holds, as Lumeno read them.
packets_in() {
  "$lumeno" --headless --threads 1 --monitor 192.168.1.101 --snapshot-dir "$load/snapshots" \
    "$1" | awk '/packets read/ {print $3}'
}

case $what in
  files) files ;;
  live) live ;;
  memory) memory ;;
  responsive) responsive ;;
  contention) contention ;;
  all) files; live; memory; responsive; contention ;;
  *) echo "usage: $0 [files|live|memory|responsive|contention|all]" >&2; exit 2 ;;
esac
