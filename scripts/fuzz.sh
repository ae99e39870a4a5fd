#!/usr/bin/env bash
# Runs every libFuzzer target over its seed corpus in fuzz/corpus/<name>/ (a
# copy: the repository's corpus is not changed), then fuzzes it further.
#   scripts/fuzz.sh quick [TARGET...]          seeds plus a 5 s burst each, from the
#                                              sanitizer build of scripts/test.sh
#   scripts/fuzz.sh long [SECONDS] [TARGET...]  SECONDS each (default 180) from an
#                                              optimised fuzzing build (build-fuzz)
# A target fuzz_<name> may have fuzz/<name>.options: one more libFuzzer flag a
# line (a -max_len, a -dict=fuzz/<name>.dict), given after the defaults so it wins.
# A crash stops the run and leaves its input in <build>/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-long}
shift || true

case "$mode" in
  quick)
    seconds=5
    build=build-asan
    ;;
  long)
    seconds=180
    if [[ "${1:-}" =~ ^[0-9]+$ ]]; then seconds=$1; shift; fi
    build=build-fuzz
    CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DVDL_FUZZ=ON -DVDL_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" -j "$(nproc)"
    ;;
  *)
    echo "usage: $0 quick|long [SECONDS] [TARGET...]" >&2
    exit 2
    ;;
esac

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=($(cd fuzz/corpus && ls))
fi
mkdir -p "$build/crashes"
summary=$build/fuzz-summary.txt
: >"$summary"
for target in "${targets[@]}"; do
  options=()
  if [ -f "fuzz/$target.options" ]; then
    mapfile -t options < <(grep -v '^\s*\(#.*\)\?$' "fuzz/$target.options")
  fi
  corpus=$(mktemp -d)
  cp -r "fuzz/corpus/$target/." "$corpus/"
  log="$build/fuzz-$target.log"
  if ! ASAN_OPTIONS=detect_leaks=1 "$build/fuzz/fuzz_$target" "$corpus" -max_total_time="$seconds" \
       -max_len=70000 -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 "${options[@]}" \
       -artifact_prefix="$build/crashes/$target-" >"$log" 2>&1; then
    tail -n 40 "$log"
    rm -rf "$corpus"
    echo "fuzz_$target found a crash: $build/crashes/"
    echo "0 passed, 1 failed"
    exit 1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  units=$(find "$corpus" -type f | wc -l)
  rm -rf "$corpus"
  printf '%-14s %4ss %12s executions, corpus grown to %s inputs\n' "$target" "$seconds" "$runs" "$units" | tee -a "$summary"
done
echo "${#targets[@]} passed, 0 failed"
