#!/usr/bin/env bash
# Seeds the decoder fuzzer from real captures and runs it for a bounded time.
set -euo pipefail
seeds_tool=$1 fuzzer=$2 captures=$3 work=$4 seconds=$5
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
"$seeds_tool" "$captures" "$work/corpus" 5000
exec "$fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/corpus"
