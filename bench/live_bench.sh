#!/usr/bin/env bash
# Times "dirlog-view --live" on a tree against what it stands in for: a scan
# ("dirlog /L") plus the view of two logs. Runs of the three are interleaved;
# prints the median wall time and peak resident memory of each, and the
# ratio of --live to the scan and the view together (the aim: at most 1).
#
# usage: bench/live_bench.sh TREE [BUILD_DIR]
#   TREE       the folder to walk (bench/scan_bench.py --million makes one
#              of 1,000,000 entries)
#   BUILD_DIR  holds dirlog and dirlog-view; defaults to build
# RUNS (default 5) sets how many timed runs of each there are.
set -euo pipefail

tree=$(realpath "$1")
build=$(realpath "${2:-build}")
runs=${RUNS:-5}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/scans" "$work/logs"

# Runs a command with standard output and error discarded; prints
# "milliseconds kilobytes".
measure() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f '%M' -o "$work/memory" "$@" > /dev/null 2>&1 || true
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000000 )) $(tail -n 1 "$work/memory")"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# The two logs the view compares (and --live compares with the newer one);
# the scans being timed go to a folder of their own, emptied after each.
DIRLOG_ROOT="$work/logs" "$build/dirlog" "/L$tree" > /dev/null
DIRLOG_ROOT="$work/logs" "$build/dirlog" "/L$tree" > /dev/null
scan=(env DIRLOG_ROOT="$work/scans" "$build/dirlog" "/L$tree")
view=("$build/dirlog-view" --color=never "$work/logs/dirlog1.txt" "$work/logs/dirlog2.txt")
live=(env DIRLOG_ROOT="$work/logs" "$build/dirlog-view" --color=never --live)

echo "scan: ${scan[*]}"
echo "view: ${view[*]}"
echo "live: ${live[*]}"
echo "load: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
: > "$work/scan.times"
: > "$work/view.times"
: > "$work/live.times"
for ((i = 0; i < runs; i++)); do
  measure "${scan[@]}" >> "$work/scan.times"
  rm -f "$work/scans"/*
  measure "${view[@]}" >> "$work/view.times"
  measure "${live[@]}" >> "$work/live.times"
done
ms() { cut -d' ' -f1 "$work/$1.times" | median; }
kb() { cut -d' ' -f2 "$work/$1.times" | median; }
printf '%9s %9s | %9s %9s | %9s %9s | %9s\n' "scan s" MiB "view s" MiB "live s" MiB \
  "live/(scan+view)"
awk -v ts="$(ms scan)" -v ms="$(kb scan)" -v tv="$(ms view)" -v mv="$(kb view)" \
    -v tl="$(ms live)" -v ml="$(kb live)" 'BEGIN {
  printf "%9.3f %9.1f | %9.3f %9.1f | %9.3f %9.1f | %9.2f\n",
    ts / 1000, ms / 1024, tv / 1000, mv / 1024, tl / 1000, ml / 1024, tl / (ts + tv) }'
