#!/usr/bin/env bash
# Times dirlog-view (text and JSON) against "dirlog /compare" on the same two
# generated snapshot logs, runs of the three interleaved, and prints the
# median wall time and peak resident memory of each, the views' time ratios
# to the comparison (the aim: at most 1.5) and their peak memory (the aim:
# under 150 MiB). Two sizes show how the time grows with the logs.
#
# usage: bench/view_bench.sh [BUILD_DIR] [ENTRIES...]
#   BUILD_DIR  holds dirlog and dirlog-view; defaults to build
#   ENTRIES    log sizes in entries; default 100000 1000000
# RUNS (default 5) sets how many timed runs of each there are per size.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-build}")
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000 1000000)
runs=${RUNS:-5}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs a command with standard output discarded; prints "milliseconds kilobytes".
measure() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f '%M' -o "$work/memory" "$@" > /dev/null || true
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000000 )) $(tail -n 1 "$work/memory")"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

compare=(env DIRLOG_ROOT="$work" "$build/dirlog" /compare)
text=("$build/dirlog-view" --color=never "$work/dirlog1.txt" "$work/dirlog2.txt")
json=("$build/dirlog-view" --json "$work/dirlog1.txt" "$work/dirlog2.txt")

echo "compare: ${compare[*]}"
echo "text:    ${text[*]}"
echo "json:    ${json[*]}"
printf '%-9s | %9s %9s | %9s %9s %6s | %9s %9s %6s | %9s\n' entries "compare s" "MiB" \
  "text s" "MiB" ratio "json s" "MiB" ratio "json ns/entry"
for entries in "${sizes[@]}"; do
  python3 "$here/compare_gen.py" "$entries" "$work/dirlog1.txt" "$work/dirlog2.txt"
  # One untimed run of each, so all find the logs in the page cache.
  "${compare[@]}" > /dev/null
  "${text[@]}" > /dev/null || true
  : > "$work/compare.times"
  : > "$work/text.times"
  : > "$work/json.times"
  for ((i = 0; i < runs; i++)); do
    measure "${compare[@]}" >> "$work/compare.times"
    measure "${text[@]}" >> "$work/text.times"
    measure "${json[@]}" >> "$work/json.times"
  done
  ms() { cut -d' ' -f1 "$work/$1.times" | median; }
  kb() { cut -d' ' -f2 "$work/$1.times" | median; }
  awk -v n="$entries" -v tc="$(ms compare)" -v mc="$(kb compare)" -v tt="$(ms text)" \
      -v mt="$(kb text)" -v tj="$(ms json)" -v mj="$(kb json)" 'BEGIN {
    printf "%-9d | %9.3f %9.1f | %9.3f %9.1f %6.2f | %9.3f %9.1f %6.2f | %9.0f\n",
      n, tc / 1000, mc / 1024, tt / 1000, mt / 1024, tt / tc, tj / 1000, mj / 1024, tj / tc,
      tj * 1e6 / n }'
done
