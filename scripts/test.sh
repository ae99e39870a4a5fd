#!/usr/bin/env bash
# Builds and runs the whole test suite twice: a plain build, then a clang
# build with AddressSanitizer and UndefinedBehaviorSanitizer (LeakSanitizer on).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVDL_SANITIZE=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

# Every fuzz target for a bounded time (VDL_FUZZ_SECONDS, default 60 each).
scripts/fuzz.sh "${VDL_FUZZ_SECONDS:-60}"
