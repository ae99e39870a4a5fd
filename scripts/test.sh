#!/usr/bin/env bash
# The whole test suite: a plain optimised build, then a clang build with AddressSanitizer
# and UndefinedBehaviorSanitizer (LeakSanitizer on) that also builds the fuzz
# targets, and every fuzz target over its seeds plus a short burst. The long
# fuzzing run is `make fuzz` (scripts/fuzz.sh long).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
start=$SECONDS

# The plain suite tests the library as users build it: optimised (Release,
# -O3), with debug information only so that the ABI check can read the types.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS=-g -DCMAKE_CXX_FLAGS=-g
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVDL_SANITIZE=ON -DVDL_FUZZ=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

scripts/fuzz.sh quick
echo "make test took $((SECONDS - start)) s"
