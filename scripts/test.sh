#!/usr/bin/env bash
# Builds dirlog and runs every test: once in a plain build, once with the
# address and undefined-behaviour sanitizers, then the Windows build under
# Wine (scripts/test_windows.sh). Warnings fail the build. Installs first
# what the build and the tests lack (scripts/deps.sh test: Debian packages,
# then the browser tests' client).
#
# With DIRLOG_NO_INSTALL=1 nothing is installed, and the tests whose tools
# are missing are left out with a note: the browser tests of the --html page
# (node, chromium, the client), unless DIRLOG_REQUIRE_BROWSER=1, and the
# Windows suite (the mingw-w64 cross compiler, Wine), unless
# DIRLOG_REQUIRE_WINDOWS=1. CI sets both, so that their absence fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DBUILD_TESTING=ON -DDIRLOG_WERROR=ON \
    -DDIRLOG_REQUIRE_BROWSER="${DIRLOG_REQUIRE_BROWSER:-0}" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

run_suite build
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build-sanitize -DDIRLOG_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug

if command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null &&
  command -v mandoc >/dev/null; then
  scripts/test_windows.sh
elif [ "${DIRLOG_REQUIRE_WINDOWS:-0}" = 1 ]; then
  echo "test.sh: the Windows tests need g++-mingw-w64-x86-64-posix, wine and mandoc" >&2
  exit 1
else
  echo "test.sh: Windows tests skipped (no g++-mingw-w64-x86-64-posix, wine or mandoc)" >&2
fi
