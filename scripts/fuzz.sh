#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/, clang's libFuzzer with the address and
# undefined-behaviour sanitizers) in build-fuzz and runs each one for the
# given number of seconds (default 60), starting from the seed corpus in
# fuzz/corpus/<target>/. Inputs found to add coverage go to
# build-fuzz/corpus/<target>/, which later runs start from too; a crash
# leaves its input as build-fuzz/<target>-crash-* and fails the script.
#
#   scripts/fuzz.sh [-j jobs] [seconds] [target...]
#
# -j runs that many targets at once (default 1: one after the other); more
# than the machine has cores only slows each one down.
#
# Prints, per target, libFuzzer's final statistics: executions, speed and
# peak memory, and the coverage reached (cov: edges, ft: features).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=1
if [ "${1:-}" = -j ]; then
  jobs=${2:?-j needs a number}
  shift 2
fi
seconds=${1:-60}
shift || true
all_targets=(record_line_fuzzer log_reader_fuzzer compare_fuzzer compare_differential_fuzzer
             pattern_fuzzer)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ is needed (clang and libclang-rt-dev)" >&2
  exit 2
fi
cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]}" >/dev/null

# Lines of the longest inputs each target is worth trying: a line read
# delivers at most 998 characters, and the comparison's smallest block is
# 4 KiB, so its inputs must pass that to straddle block edges.
max_len() {
  case $1 in
    record_line_fuzzer) echo 2048 ;;
    pattern_fuzzer) echo 512 ;;
    *) echo 20000 ;;
  esac
}

# Runs one target and leaves its one-line result in build-fuzz/<target>.result.
run_target() {
  local target=$1
  local corpus=build-fuzz/corpus/$target
  local seeds=fuzz/corpus/${target%_fuzzer}
  # Both comparison targets take the same input: one set of seeds.
  [ "$target" = compare_differential_fuzzer ] && seeds=fuzz/corpus/compare
  mkdir -p "$corpus"
  local log=build-fuzz/$target.log
  local code=0
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "build-fuzz/$target" "$corpus" "$seeds" \
    -max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="build-fuzz/$target-" >"$log" 2>&1 || code=$?
  # The last status line carries the coverage; the final statistics follow it.
  local last runs speed cov ft
  last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  if [ $code -ne 0 ]; then
    {
      echo "$target FAILED (exit $code); see $log"
      grep -E 'ERROR|SUMMARY|Test unit written|==[0-9]+==' "$log" | head -n 20 || true
    } >&2
    echo "$target: FAILED after ${runs:-?} executions; $log" >"build-fuzz/$target.result"
    return 1
  fi
  echo "$target: ${runs:-?} executions (${speed:-?}/s), cov: ${cov:-?}, ft: ${ft:-?}," \
    "corpus: $(find "$corpus" -type f | wc -l) inputs, no crash" >"build-fuzz/$target.result"
}

status=0
running=0
for target in "${targets[@]}"; do
  rm -f "build-fuzz/$target.result"
  echo "== $target: ${seconds}s"
  run_target "$target" &
  running=$((running + 1))
  if [ $running -ge "$jobs" ]; then
    wait -n || status=1
    running=$((running - 1))
  fi
done
while [ $running -gt 0 ]; do
  wait -n || status=1
  running=$((running - 1))
done
echo "== summary"
for target in "${targets[@]}"; do
  cat "build-fuzz/$target.result" 2>/dev/null || { echo "$target: no result"; status=1; }
done
exit $status
