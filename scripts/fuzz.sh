#!/usr/bin/env bash
# Runs every libFuzzer target for SECONDS each (default 60), starting from its
# seed corpus in fuzz/corpus/ (copied: the repository's corpus is not changed).
# A crash stops the run and leaves its input in build-fuzz/crashes/.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVDL_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$(nproc)"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=($(cd fuzz/corpus && ls))
fi
mkdir -p build-fuzz/crashes
summary=build-fuzz/fuzz-summary.txt
: >"$summary"
for target in "${targets[@]}"; do
  corpus=$(mktemp -d)
  cp -r "fuzz/corpus/$target/." "$corpus/"
  log="build-fuzz/$target.log"
  if ! ASAN_OPTIONS=detect_leaks=1 "build-fuzz/fuzz/fuzz_$target" "$corpus" -max_total_time="$seconds" \
       -max_len=70000 -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="build-fuzz/crashes/$target-" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz_$target found a crash: build-fuzz/crashes/"
    echo "0 passed, 1 failed"
    exit 1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  units=$(find "$corpus" -type f | wc -l)
  rm -rf "$corpus"
  printf '%-14s %4ss %12s executions, corpus grown to %s inputs\n' "$target" "$seconds" "$runs" "$units" | tee -a "$summary"
done
echo "${#targets[@]} passed, 0 failed"
