#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test:
#  - the decoder fuzzer (clang, libFuzzer) for a bounded time, seeded from real captures;
#  - all test suites in one g++ build with AddressSanitizer and UndefinedBehaviorSanitizer,
#    warnings treated as errors. Any sanitizer finding fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLUMENO_TESTS=OFF -DLUMENO_FUZZ=ON -DLUMENO_WERROR=ON >/dev/null
cmake --build build/fuzz -j"$jobs" --target fuzz_decoder fuzz_seeds
ctest --test-dir build/fuzz --output-on-failure

cmake -S . -B build/test -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Debug \
  -DLUMENO_SANITIZE=ON -DLUMENO_WERROR=ON -DLUMENO_TESTS=ON -DLUMENO_BENCH=ON >/dev/null
cmake --build build/test -j"$jobs"
ctest --test-dir build/test --output-on-failure -j"$jobs"
