#!/usr/bin/env bash
# Runs the whole test suite under valgrind's memcheck: the unit tests, the
# end-to-end tests, and every run of the program that the end-to-end tests
# start (through DIRLOG_TEST_WRAPPER). Any memory error or leak fails it.
#
#   scripts/valgrind.sh [gtest filter]
#
# Builds in build-valgrind (no sanitizers: valgrind and they do not mix).
# The program's own runs use exit status 86 for an error of valgrind's, so
# that one cannot hide behind the program's own exit status 1; each leaves
# its report in build-valgrind/memcheck/, summed up at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
filter=${1:-*}
if ! command -v valgrind >/dev/null; then
  echo "valgrind.sh: valgrind is needed" >&2
  exit 2
fi
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-valgrind -DDIRLOG_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-valgrind -j "$jobs" >/dev/null

reports=build-valgrind/memcheck
rm -rf "$reports"
mkdir -p "$reports"
# Some end-to-end runs are made as the user nobody, who must be able to
# write its report here.
chmod 1777 "$reports"
memcheck=(valgrind --error-exitcode=1 --leak-check=full)

status=0
echo "== unit tests under valgrind"
"${memcheck[@]}" --log-file="$reports/unit.%p.log" \
  build-valgrind/dirlog_tests --gtest_filter="$filter" || status=1

echo "== end-to-end tests under valgrind, every run of the program too"
DIRLOG_TEST_WRAPPER="valgrind --error-exitcode=86 --leak-check=full --log-file=$PWD/$reports/dirlog.%p.log" \
  "${memcheck[@]}" --log-file="$reports/e2e.%p.log" \
  build-valgrind/tests/e2e/dirlog_e2e_tests --gtest_filter="$filter" || status=1

# Each process's report ends with its error summary and, before it, its
# leak summary. A process ended by a signal (the death tests and the
# end-to-end tests stop some on purpose) is checked at that moment, with
# whatever it still held: its leak records are not leaks, and only its
# other errors count. A process that exec'd another program, or was killed
# by SIGKILL, writes no summary.
summarize() {
  local kind=$1
  shift
  [ $# -gt 0 ] || return 0
  local figures
  figures=$(awk '
    function close_file() {
      if (!summary) return
      reported++
      if (signalled) { stopped++; errors += summary_errors - leak_records }
      else { errors += summary_errors; lost += file_lost }
    }
    FNR == 1 { close_file(); summary = 0; signalled = 0; leak_records = 0; file_lost = 0 }
    /Process terminating with default action of signal/ { signalled = 1 }
    / lost in loss record / { leak_records++ }
    /(definitely|indirectly|possibly) lost:/ { gsub(",", "", $4); file_lost += $4 }
    /ERROR SUMMARY:/ { summary = 1; summary_errors = $4 }
    END { close_file(); print reported + 0, stopped + 0, errors + 0, lost + 0 }' "$@")
  local reported stopped errors lost
  read -r reported stopped errors lost <<<"$figures"
  echo "$kind: $# processes, $reported with a summary ($stopped of them ended by a signal):" \
    "$errors errors, $lost bytes leaked"
  if [ "$errors" != 0 ] || [ "$lost" != 0 ]; then
    status=1
    grep -l -E 'ERROR SUMMARY: [1-9]|(definitely|indirectly|possibly) lost: [1-9]' "$@" |
      head -n 5 | sed 's/^/  see /' || true
  fi
}
echo "== summary"
shopt -s nullglob
summarize "unit tests (with death-test children)" "$reports"/unit.*.log
summarize "end-to-end tests (with their children)" "$reports"/e2e.*.log
summarize "program runs" "$reports"/dirlog.*.log
exit $status
