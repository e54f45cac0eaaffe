#!/usr/bin/env bash
# Times "dirlog /compare" on two generated snapshot logs beside "diff" of the
# same two logs, runs of the two interleaved, and prints the median wall time
# and the peak resident memory of each, with their ratios.
#
# usage: bench/compare_bench.sh [DIRLOG_BINARY] [ENTRIES...]
#   DIRLOG_BINARY  defaults to build/dirlog
#   ENTRIES        log sizes in entries; default 100000 1000000
# RUNS (default 5) sets how many timed runs of each there are per size.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
binary=$(realpath "${1:-build/dirlog}")
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000 1000000)
runs=${RUNS:-5}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs a command with standard output discarded; prints "seconds kilobytes".
measure() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f '%M' -o "$work/memory" "$@" > /dev/null || true
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000000 )) $(tail -n 1 "$work/memory")"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

printf '%-9s %9s | %10s %10s | %10s %10s | %10s %10s\n' \
  entries "logs MiB" "dirlog s" "dirlog MiB" "diff s" "diff MiB" "time ratio" "mem ratio"
for entries in "${sizes[@]}"; do
  python3 "$here/compare_gen.py" "$entries" "$work/dirlog1.txt" "$work/dirlog2.txt"
  before="$work/dirlog1.txt"
  after="$work/dirlog2.txt"
  # One untimed run of each, so both find the logs in the page cache.
  DIRLOG_ROOT="$work" "$binary" /compare > /dev/null
  diff "$before" "$after" > /dev/null || true
  : > "$work/dirlog.times"
  : > "$work/diff.times"
  for ((i = 0; i < runs; i++)); do
    measure env DIRLOG_ROOT="$work" "$binary" /compare >> "$work/dirlog.times"
    measure diff "$before" "$after" >> "$work/diff.times"
  done
  dirlogMs=$(cut -d' ' -f1 "$work/dirlog.times" | median)
  dirlogKb=$(cut -d' ' -f2 "$work/dirlog.times" | median)
  diffMs=$(cut -d' ' -f1 "$work/diff.times" | median)
  diffKb=$(cut -d' ' -f2 "$work/diff.times" | median)
  logBytes=$(( $(stat -c %s "$before") + $(stat -c %s "$after") ))
  awk -v n="$entries" -v b="$logBytes" -v tm="$dirlogMs" -v mm="$dirlogKb" \
      -v td="$diffMs" -v md="$diffKb" 'BEGIN {
    printf "%-9d %9.1f | %10.3f %10.1f | %10.3f %10.1f | %10.2f %10.2f\n",
      n, b / 1048576, tm / 1000, mm / 1024, td / 1000, md / 1024, tm / td, mm / md }'
  report="$work/report.txt"
  echo "          report: $(grep -c '^MODIFIED' "$report") modified," \
       "$(grep -c '^DELETED' "$report") deleted, $(grep -c '^CREATED' "$report") created"
done
