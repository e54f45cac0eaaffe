#!/usr/bin/env bash
# Builds dirlog and runs every test: once in a plain build, once with the
# address and undefined-behaviour sanitizers. Warnings fail the build.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DDIRLOG_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

run_suite build
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build-sanitize -DDIRLOG_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
