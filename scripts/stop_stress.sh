#!/usr/bin/env bash
# Stops scans with a signal at random moments and counts the logs left with
# a line cut short: the figures behind doc/reliability.md.
#
#   scripts/stop_stress.sh [-l busy-loops] <dirlog> <KILL|TERM|HUP> [runs] [seed]
#
# Scans a tree of 3060 entries (made in a temporary folder) `runs` times
# (default 300), each stopped after a random delay within the time one
# whole scan takes (the median of five, program start included). -l starts
# that many busy loops beside it for the length of the run: the kernel cuts
# a write short only when the signal comes while the write is under way,
# which a loaded machine makes more likely. (SIGINT is left out: a script's
# background jobs start with it ignored.)
set -euo pipefail
loops=0
if [ "${1:-}" = -l ]; then
  loops=$2
  shift 2
fi
dirlog=$(realpath "${1:?the dirlog binary}")
signal=${2:?KILL, TERM or HUP}
runs=${3:-300}
RANDOM=${4:-1}

work=$(mktemp -d "${TMPDIR:-/tmp}/dirlog-stop-XXXXXX")
busy=()
shell=$BASHPID
cleanup() {
  # A background child that a signal reaches before it has started the
  # program runs this trap too: only the script itself cleans up.
  [ "$BASHPID" = "$shell" ] || return 0
  for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
for t in $(seq 0 9); do
  for s in $(seq 0 4); do
    mkdir -p "$work/tree/t$t/s$s"
    for f in $(seq 0 59); do echo data >"$work/tree/t$t/s$s/f$f"; done
  done
done
for _ in $(seq 1 "$loops"); do
  (while :; do :; done) &
  busy+=($!)
done

# How long a whole scan takes, start to end: the median of five.
times=()
for _ in 1 2 3 4 5; do
  rm -rf "$work/logs"
  mkdir "$work/logs"
  start=$(date +%s%N)
  DIRLOG_ROOT=$work/logs "$dirlog" "/L$work/tree"
  times+=($((($(date +%s%N) - start) / 1000)))
done
scan_us=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 3p)
full=$(wc -l <"$work/logs/dirlog1.txt")

mid=0
cut=0
cut_sizes=""
for _ in $(seq 1 "$runs"); do
  rm -rf "$work/logs"
  mkdir "$work/logs"
  DIRLOG_ROOT=$work/logs "$dirlog" "/L$work/tree" &
  pid=$!
  delay_us=$(((RANDOM * 32768 + RANDOM) % (scan_us + 1)))
  sleep "$(printf '%d.%06d' $((delay_us / 1000000)) $((delay_us % 1000000)))"
  kill -"$signal" "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  log=$work/logs/dirlog1.txt
  [ -e "$log" ] || continue
  lines=$(wc -l <"$log")
  [ "$lines" -lt "$full" ] && mid=$((mid + 1))
  if [ -s "$log" ] && [ "$(tail -c 1 "$log" | od -An -tx1 | tr -d ' ')" != 0a ]; then
    cut=$((cut + 1))
    cut_sizes+=" $(stat -c %s "$log")"
  fi
done
echo "SIG$signal: $runs runs, scan ${scan_us} us, $mid stopped mid-scan, $cut with a line cut short${cut_sizes:+ (log sizes:$cut_sizes)}"
