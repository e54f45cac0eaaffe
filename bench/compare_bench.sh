#!/usr/bin/env bash
# Times "dirlog /compare" on two generated snapshot logs beside "diff" of the
# same two logs, both writing their output to files, and with -b beside a
# second dirlog binary too (the code before a change). The runs of all of
# them are interleaved. Prints, per log size, the median wall time and the
# median peak resident memory of each, the time ratio of each dirlog to diff,
# whether the two dirlogs wrote the same report and standard output, and
# then how each dirlog's time grows from the first size to the others.
#
# usage: bench/compare_bench.sh [-b BASE_BINARY] [DIRLOG_BINARY] [ENTRIES...]
#   DIRLOG_BINARY  defaults to build/dirlog
#   ENTRIES        log sizes in entries; default 100000 1000000
# RUNS (default 5) sets how many timed runs of each there are per size.
# BENCH_DIR (default: a new folder under /tmp) holds the logs, some 190
# bytes per entry each (10,000,000 entries: 3.6 GB for the pair), and the
# outputs; what the script puts there is removed at the end.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
base=""
if [ "${1:-}" = -b ]; then
  base=$(realpath "${2:?-b needs a binary}")
  shift 2
fi
binary=$(realpath "${1:-build/dirlog}")
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000 1000000)
runs=${RUNS:-5}

work=$(mktemp -d "${BENCH_DIR:-/tmp}/compare_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
before="$work/dirlog1.txt"
after="$work/dirlog2.txt"

# The commands timed, by name: each writes its output to a file of its own,
# and dirlog its report to $work/report.txt besides.
command_of() {
  case $1 in
    dirlog) echo env DIRLOG_ROOT="$work" "$binary" /compare ;;
    base) echo env DIRLOG_ROOT="$work" "$base" /compare ;;
    diff) echo diff "$before" "$after" ;;
  esac
}

run() {
  # diff exits with 1 when the logs differ, which they do.
  $(command_of "$1") > "$work/$1.out" || [ "$1" = diff ]
}

# One run of a command; prints "milliseconds kilobytes".
measure() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f '%M' -o "$work/memory" $(command_of "$1") > "$work/$1.out" || true
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000000 )) $(tail -n 1 "$work/memory")"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

names=(dirlog)
[ -z "$base" ] || names+=(base)
names+=(diff)

echo "Commands, run in turn ${runs} times each after one untimed run of each (W = the work folder):"
echo "  dirlog: DIRLOG_ROOT=W $binary /compare > W/dirlog.out   (report: W/report.txt)"
[ -z "$base" ] || echo "  base:   DIRLOG_ROOT=W $base /compare > W/base.out"
echo "  diff:   diff W/dirlog1.txt W/dirlog2.txt > W/diff.out"
echo "Logs: python3 bench/compare_gen.py ENTRIES W/dirlog1.txt W/dirlog2.txt"
echo "Times are wall seconds, memory the peak resident set; 'x diff' is the time over diff's."
echo

header=$(printf '%-9s %9s' entries "logs MiB")
for name in "${names[@]}"; do
  case $name in
    diff) header+=$(printf ' | %8s %8s' "diff s" "MiB") ;;
    *) header+=$(printf ' | %8s %8s %6s' "$name s" "MiB" "x diff") ;;
  esac
done
echo "$header"

declare -A firstMs
for entries in "${sizes[@]}"; do
  python3 "$here/compare_gen.py" "$entries" "$before" "$after"
  for name in "${names[@]}"; do
    run "$name"
    : > "$work/$name.times"
  done
  same="yes"
  if [ -n "$base" ]; then
    cp "$work/report.txt" "$work/report.base"
    run dirlog
    cmp -s "$work/report.txt" "$work/report.base" && cmp -s "$work/dirlog.out" "$work/base.out" || same="NO"
  fi
  for ((i = 0; i < runs; i++)); do
    for name in "${names[@]}"; do
      measure "$name" >> "$work/$name.times"
    done
  done
  logMiB=$(( ($(stat -c %s "$before") + $(stat -c %s "$after")) / 1048576 ))
  diffMs=$(cut -d' ' -f1 "$work/diff.times" | median)
  row=$(printf '%-9d %9d' "$entries" "$logMiB")
  for name in "${names[@]}"; do
    ms=$(cut -d' ' -f1 "$work/$name.times" | median)
    kb=$(cut -d' ' -f2 "$work/$name.times" | median)
    if [ "$name" = diff ]; then
      row+=$(awk -v t="$ms" -v m="$kb" 'BEGIN { printf " | %8.3f %8.1f", t / 1000, m / 1024 }')
    else
      row+=$(awk -v t="$ms" -v m="$kb" -v d="$diffMs" \
        'BEGIN { printf " | %8.3f %8.1f %6.2f", t / 1000, m / 1024, t / d }')
      [ -n "${firstMs[$name]:-}" ] || firstMs[$name]="$entries $ms"
      echo "$entries $ms" >> "$work/$name.growth"
    fi
  done
  echo "$row"
  report="$work/report.txt"
  line="          report: $(grep -c '^MODIFIED' "$report") modified,"
  line+=" $(grep -c '^DELETED' "$report") deleted, $(grep -c '^CREATED' "$report") created"
  [ -z "$base" ] || line+="; dirlog and base wrote the same report and output: $same"
  echo "$line"
  rm -f "$before" "$after" "$work"/*.out "$work/report.txt" "$work/report.base"
done

if [ ${#sizes[@]} -gt 1 ]; then
  echo
  for name in "${names[@]}"; do
    [ "$name" != diff ] || continue
    read -r firstEntries first <<< "${firstMs[$name]}"
    while read -r entries ms; do
      [ "$entries" != "$firstEntries" ] || continue
      awk -v n="$name" -v e="$entries" -v f="$firstEntries" -v t="$ms" -v b="$first" \
        'BEGIN { printf "%s: %d entries take %.1f times the time of %d\n", n, e, t / b, f }'
    done < "$work/$name.growth"
  done
fi
