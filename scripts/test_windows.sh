#!/usr/bin/env bash
# Builds dirlog.exe and the unit tests for 64-bit Windows with the mingw-w64
# cross compiler (build-windows), then runs under Wine, in one throw-away
# prefix whose drive C is a temporary folder:
#   1. the unit tests (dirlog_tests.exe, through CTest);
#   2. the end-to-end tests (tests/wine, a Linux program that runs
#      dirlog.exe and reads what it wrote on drive C), among them the
#      release zip (cpack -G ZIP, build-windows/dirlog-<version>-win64.zip)
#      unpacked and both programs run from it.
# Needs g++-mingw-w64-x86-64-posix, wine64 (wine) and mandoc. Warnings fail
# the build.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build-windows --toolchain cmake/mingw-w64-x86_64.cmake -DDIRLOG_WERROR=ON >/dev/null
cmake --build build-windows -j "$jobs"
(cd build-windows && cpack -G ZIP >/dev/null)

prefix=$(mktemp -d /tmp/dirlog-wine-XXXXXX)
export WINEPREFIX=$prefix WINEDEBUG=-all
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT
# One persistent server for every test program, so that each start of a
# Windows program does not wait for a new one; then the prefix itself.
wineserver -p >/dev/null 2>&1
wine wineboot -i >/dev/null 2>&1

ctest --test-dir build-windows --output-on-failure -j "$jobs"

cmake -S tests/wine -B build-wine-e2e -DDIRLOG_WINDOWS_BUILD="$PWD/build-windows" >/dev/null
cmake --build build-wine-e2e -j "$jobs"
DIRLOG_TEST_WINEPREFIX=$prefix ctest --test-dir build-wine-e2e --output-on-failure
