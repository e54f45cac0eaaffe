#!/usr/bin/env bash
# What each of the README's commands needs on Debian, and the one place that
# installs it:
#
#   scripts/deps.sh demo      # scripts/demo.sh: compiler, make, cmake, CLI11, nlohmann-json
#   scripts/deps.sh test      # scripts/test.sh: the demo's list and what the tests add,
#                             # then the browser tests' client (npm ci --prefix tests/browser)
#   scripts/deps.sh package   # scripts/package_test.sh: the demo's list, groff and dpkg-dev
#   scripts/deps.sh --list    # every entry, one a line: list, package, probes
#
# A package counts as present when every one of its probes is: a command on
# PATH, or a file (a shell pattern) that it installs. Probing instead of
# asking dpkg lets a tool installed some other way count, such as a node
# whose own package brings npm (Debian's npm package would conflict with it).
# What is missing is installed with apt-get (update first): as root
# directly, otherwise through sudo where it needs no password; failing both,
# the script prints the one line to run as root and stops, before anything
# is built. DIRLOG_NO_INSTALL=1 names what is missing and installs nothing;
# the tests that need it are then left out with a note.
set -euo pipefail
cd "$(dirname "$0")/.."

# Each entry: a Debian package, then what it installs that the build, the
# tests or the scripts look for. tests/deps_test.py checks that these cover
# every tool and package the CMake files ask for.
demo_packages=(
  "cmake cmake"
  "make make"
  "gzip gzip"
  "g++ g++"
  "libcli11-dev /usr/include/CLI/CLI.hpp"
  "nlohmann-json3-dev /usr/include/nlohmann/json.hpp"
)
test_packages=(
  "libgtest-dev /usr/include/gtest/gtest.h"
  "googletest /usr/src/googletest/CMakeLists.txt"
  "python3 python3"
  "clang clang++"
  "libclang-rt-dev /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a"
  "clang-format clang-format"
  "g++-mingw-w64-x86-64-posix x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-windres"
  "wine wine wineserver"
  "wine64 /usr/lib/wine/wine64"
  "locales /usr/share/i18n/locales/ja_JP /usr/share/i18n/charmaps/UTF-8.gz"
  "mandoc mandoc"
  "chromium chromium"
  "nodejs node"
  "npm npm"
)
package_packages=(
  "groff-base groff"
  "dpkg-dev dpkg-shlibdeps"
)

usage() {
  echo "usage: scripts/deps.sh demo|test|package|--list" >&2
  exit 2
}

present() {
  case $1 in
    /*) compgen -G "$1" >/dev/null ;;
    *) command -v "$1" >/dev/null ;;
  esac
}

# The packages of the given entries that lack a probe, one a line.
missing() {
  local entry words probe
  for entry in "$@"; do
    read -r -a words <<<"$entry"
    for probe in "${words[@]:1}"; do
      present "$probe" || { echo "${words[0]}"; break; }
    done
  done
}

# apt-get install of the given packages, through sudo where that is needed
# and works without a password; otherwise the line to run, and a failure.
apt_install() {
  local apt=(env DEBIAN_FRONTEND=noninteractive apt-get -y -qq --no-install-recommends
    -o DPkg::Lock::Timeout=300)
  local line="apt-get update && apt-get install -y --no-install-recommends $*"
  if ! command -v apt-get >/dev/null; then
    echo "deps.sh: missing: $*; these are Debian's names, and this system has no apt-get:" \
      "install them (or what holds the same programs and headers) and run again" >&2
    exit 1
  fi
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
      apt=(sudo -n "${apt[@]}")
    else
      echo "deps.sh: missing packages; as root, run this line, then the command again:" >&2
      echo "  $line" >&2
      exit 1
    fi
  fi
  echo "deps.sh: installing $* (a few minutes on a fresh machine)"
  # apt-get's progress goes to a log, shown when it fails. Another apt (on a
  # shared machine) may hold the lists' lock for a while.
  local log attempt
  log=$(mktemp)
  for attempt in 1 2 3; do
    if { "${apt[@]}" update && "${apt[@]}" install "$@"; } >"$log" 2>&1; then
      rm -f "$log"
      return 0
    fi
    tail -n 20 "$log" >&2
    echo "deps.sh: apt-get failed (attempt $attempt)" >&2
    sleep 15
  done
  rm -f "$log"
  exit 1
}

# The browser tests' DevTools client, at the version package-lock.json pins,
# installed again only when the lock file is newer than the installation.
browser_client() {
  local lock=tests/browser/package-lock.json
  local installed=tests/browser/node_modules/.package-lock.json
  [ -f "$installed" ] && [ "$installed" -nt "$lock" ] && return 0
  npm ci --prefix tests/browser --no-audit --no-fund --loglevel=error
}

list() {
  local name entry
  for name in demo test package; do
    local -n entries=${name}_packages
    for entry in "${entries[@]}"; do echo "$name $entry"; done
  done
}

[ $# -eq 1 ] || usage
case $1 in
  --list) list; exit 0 ;;
  demo) entries=("${demo_packages[@]}") ;;
  test) entries=("${demo_packages[@]}" "${test_packages[@]}") ;;
  package) entries=("${demo_packages[@]}" "${package_packages[@]}") ;;
  *) usage ;;
esac

mapfile -t need < <(missing "${entries[@]}")
if [ ${#need[@]} -gt 0 ]; then
  if [ "${DIRLOG_NO_INSTALL:-0}" = 1 ]; then
    echo "deps.sh: not installed (DIRLOG_NO_INSTALL=1): ${need[*]}" >&2
  else
    apt_install "${need[@]}"
  fi
fi
if [ "$1" = test ] && [ "${DIRLOG_NO_INSTALL:-0}" != 1 ]; then
  browser_client
fi
