#!/usr/bin/env bash
# Builds the Debian package of dirlog (and dirlog-view), installs it with dpkg into a throw-away
# root (its own dpkg database; the system's is not touched), and checks what
# it installs: the package's fields, the program and its manual page, and the
# installed program's main job on a sample tree (a scan, a change, a second
# scan, the comparison). Prints one line per check and a final summary line;
# exits 1 when any check failed.
#
# Needs cmake, g++, groff and dpkg-dev (for dpkg-shlibdeps); scripts/deps.sh
# installs those that are missing.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
repo=$PWD
build=$repo/build-package

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
ok() { passed=$((passed + 1)); echo "ok   - $1"; }
not_ok() { failed=$((failed + 1)); echo "FAIL - $1"; }
summary() { echo "package test: $passed passed, $failed failed"; }

# check DESCRIPTION COMMAND...: one check; the test goes on either way.
check() {
  local what=$1
  shift
  if "$@"; then ok "$what"; else not_ok "$what"; fi
}

# step DESCRIPTION COMMAND...: a step the later checks build on. Its output is
# shown only when it fails, and then the test stops.
step() {
  local what=$1
  shift
  if "$@" >"$work/step.log" 2>&1; then
    ok "$what"
  else
    not_ok "$what"
    tail -n 40 "$work/step.log"
    summary
    exit 1
  fi
}

# --- Tools ------------------------------------------------------------------

step "the tools it needs (scripts/deps.sh package)" scripts/deps.sh package

# --- Build and package ------------------------------------------------------

step "configure a Release build in build-package" \
  cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
step "build" cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)"
rm -f "$build"/dirlog_*.deb
run_cpack() { (cd "$build" && cpack -G DEB); }
step "cpack -G DEB" run_cpack

debs=("$build"/dirlog_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  not_ok "cpack made one dirlog_*.deb (found: ${debs[*]})"
  summary
  exit 1
fi
deb=${debs[0]}
ok "cpack made $(basename "$deb")"

# --- Package fields and contents ----------------------------------------------

field() { dpkg-deb --field "$deb" "$1"; }
project_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

check "Package is dirlog" test "$(field Package)" = dirlog
check "Version is the project's ($project_version)" \
  test -n "$project_version" -a "$(field Version)" = "$project_version"
check "Maintainer is set" \
  test "$(field Maintainer)" = "dirlog developers <dev@dirlog.invalid>"
check "Section is utils" test "$(field Section)" = utils
check "Description has a summary and a long text" \
  test "$(field Description | wc -l)" -ge 2

# Every "name (>= version)" of Depends must be met by this system, where the
# program was built and will run below.
depends_met() {
  local depends entry name op version installed
  depends=$(field Depends)
  [[ $depends == *libc6* ]] || { echo "Depends lacks libc6: $depends"; return 1; }
  IFS=',' read -ra entries <<<"$depends"
  for entry in "${entries[@]}"; do
    read -r name op version <<<"$(sed -E 's/[()]//g' <<<"$entry")"
    installed=$(dpkg-query -W -f='${Version}' "$name" 2>/dev/null) ||
      { echo "not installed here: $name"; return 1; }
    if [ -n "${op:-}" ]; then
      dpkg --compare-versions "$installed" "$op" "$version" ||
        { echo "$name $installed does not satisfy $op $version"; return 1; }
    fi
  done
}
check "Depends ($(field Depends)) is met on this system" depends_met

outside_usr() { dpkg-deb --contents "$deb" | awk '{print $NF}' | grep -v '^\./usr/' ; }
check "the package installs nothing outside /usr" test -z "$(outside_usr)"

# --- Install into a throw-away root -------------------------------------------

root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg_root=(dpkg --root="$root" --force-depends)
[ "$(id -u)" -eq 0 ] || dpkg_root+=(--force-not-root)
# The runtime libraries are not in the throw-away root's database, hence
# --force-depends; that they exist on this system is checked above.
step "dpkg -i into a throw-away root" "${dpkg_root[@]}" -i "$deb"
check "dpkg lists dirlog as installed" \
  test "$(dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Status}' dirlog)" = \
  "install ok installed"

dirlog=$root/usr/bin/dirlog
check "usr/bin/dirlog is installed and executable" test -x "$dirlog"

man_page=
for candidate in "$root/usr/share/man/man1/dirlog.1.gz" "$root/usr/share/man/man1/dirlog.1"; do
  [ -f "$candidate" ] && man_page=$candidate && break
done
check "usr/share/man/man1/dirlog.1(.gz) is installed" test -n "$man_page"

page_text() { case $man_page in *.gz) gzip -dc "$man_page" ;; *) cat "$man_page" ;; esac; }

if [ -n "$man_page" ]; then
  check "the installed page is doc/dirlog.1" cmp -s <(page_text) "$repo/doc/dirlog.1"

  groff_clean() {
    local warnings
    warnings=$(page_text | groff -ww -man -Tutf8 2>&1 >/dev/null) || return 1
    [ -z "$warnings" ] || { echo "$warnings"; return 1; }
  }
  check "groff -ww -man renders the installed page without a warning" groff_clean

  # Every message the program prints must be named in its manual page, as
  # the program prints it. The messages are taken from the sources, so a new
  # or reworded one shows up here until the page follows.
  page_text | groff -man -Tutf8 -rLL=2000n -rHY=0 2>/dev/null | sed 's/.\x08//g' |
    tr -s ' ' >"$work/page.txt"
  documents_every_message() {
    local message missing=0 count=0
    while IFS= read -r message; do
      count=$((count + 1))
      grep -qF -- "Error: $message" "$work/page.txt" ||
        { echo "not in the manual page: Error: $message"; missing=1; }
    done < <(grep -rhoE 'reportError\("[^"]+"' "$repo/src" --include='*.cc' \
      --exclude='*_test.cc' | sed -E 's/^reportError\("//; s/"$//; s/\\n$//' | sort -u)
    # The one message composed at run time, and the progress line.
    for message in "Error: path too long, not recorded:" "PASSES - "; do
      grep -qF -- "$message" "$work/page.txt" ||
        { echo "not in the manual page: $message"; missing=1; }
    done
    [ "$count" -ge 10 ] || { echo "found only $count messages in src/"; return 1; }
    return "$missing"
  }
  check "the manual page names every message the program prints" documents_every_message
fi

view=$root/usr/bin/dirlog-view
check "usr/bin/dirlog-view is installed and executable" test -x "$view"
view_page=$root/usr/share/man/man1/dirlog-view.1.gz
[ -f "$view_page" ] || view_page=$root/usr/share/man/man1/dirlog-view.1
check "usr/share/man/man1/dirlog-view.1(.gz) is installed" test -f "$view_page"
view_page_text() { case $view_page in *.gz) gzip -dc "$view_page" ;; *) cat "$view_page" ;; esac; }
if [ -f "$view_page" ]; then
  check "the installed view page is doc/dirlog-view.1" \
    cmp -s <(view_page_text) "$repo/doc/dirlog-view.1"
  view_groff_clean() {
    local warnings
    warnings=$(view_page_text | groff -ww -man -Tutf8 2>&1 >/dev/null) || return 1
    [ -z "$warnings" ] || { echo "$warnings"; return 1; }
  }
  check "groff -ww -man renders the view page without a warning" view_groff_clean
fi

check "dirlog-view --version names the project's version" \
  test "$("$view" --version)" = "dirlog-view $project_version"

# The completions: each option that --help lists must be completed from its
# first letters (bash) and named (zsh), so that a new option shows up here.
completion=$root/usr/share/bash-completion/completions/dirlog-view
zsh_completion=$root/usr/share/zsh/vendor-completions/_dirlog-view
check "the bash completion is where bash-completion looks" test -f "$completion"
check "the zsh completion is where Debian's zsh looks" test -f "$zsh_completion"
# completed WORD...: what the bash completion offers for the last word of
# "dirlog-view WORD...", one a line.
completed() {
  # shellcheck disable=SC2016
  bash -c 'source "$1" && shift && function=$(complete -p dirlog-view | sed -E "s/.* -F ([^ ]+) .*/\1/") &&
    COMP_WORDS=(dirlog-view "$@") COMP_CWORD=$# && "$function" && printf "%s\n" "${COMPREPLY[@]}"' \
    _ "$completion" "$@"
}
completes_every_option() {
  local options option missing=0
  options=$("$view" --help | grep -oE -- '--[a-z][a-z-]+' | sort -u)
  [ -n "$options" ] || return 1
  for option in $options; do
    completed "${option:0:4}" | grep -qxF -- "$option" || { echo "bash: $option"; missing=1; }
    grep -qF -- "$option" "$zsh_completion" || { echo "zsh: $option"; missing=1; }
  done
  return "$missing"
}
check "the completions offer every option dirlog-view --help lists" completes_every_option
check "bash completes the kinds of --only after a comma" \
  test "$(completed --only created,mo)" = $'created,modified\ncreated,moved'

# --- The installed program at work --------------------------------------------

export DIRLOG_ROOT=$work/logs
mkdir -p "$DIRLOG_ROOT"
tree=$work/tree
mkdir -p "$tree/sub"
printf 'kept\n' >"$tree/keep.txt"
printf 'before\n' >"$tree/change.txt"
printf 'doomed\n' >"$tree/gone.txt"
printf 'inner\n' >"$tree/sub/inner.txt"

# run NAME ARG...: runs the installed program; its exit status and standard
# output go to $work/NAME.status and $work/NAME.out.
run() {
  local name=$1
  shift
  "$dirlog" "$@" >"$work/$name.out" 2>"$work/$name.err"
  echo $? >"$work/$name.status"
}
status_is() { test "$(cat "$work/$1.status")" = "$2"; }
quiet_success() { status_is "$1" 0 && output_is "$1" ""; }
output_is() { diff -u <(printf '%b' "$2") "$work/$1.out"; }
has_line() { grep -qxF -- "$2" "$1"; }
has_prefix() { grep -qF -- "$2" "$1"; }

run none
check "no arguments: exit status 0" status_is none 0
check "no arguments: no output and no file in the root" \
  test ! -s "$work/none.out" -a -z "$(ls -A "$DIRLOG_ROOT")"

run scan1 "/L$tree"
check "first scan: exit status 0, nothing printed" quiet_success scan1
check "first scan: dirlog1.txt exists" test -f "$DIRLOG_ROOT/dirlog1.txt"
check "dirlog1.txt records change.txt as a file" \
  has_prefix "$DIRLOG_ROOT/dirlog1.txt" "---FILE---,$tree/change.txt,change.txt,,32,0,7,"
check "dirlog1.txt records sub as a directory" \
  has_prefix "$DIRLOG_ROOT/dirlog1.txt" "-DIRECTORY,$tree/sub,sub,,16,0,0,"
check "dirlog1.txt ends with its totals line" \
  test "$(tail -n 1 "$DIRLOG_ROOT/dirlog1.txt")" = "FILEs - 4, DIRECTORIEs - 1"

printf 'after, and longer\n' >"$tree/change.txt"
rm "$tree/gone.txt"
printf 'new\n' >"$tree/new.txt"

run scan2 "/L$tree"
check "second scan: exit status 0, nothing printed" quiet_success scan2
check "second scan: dirlog2.txt exists" test -f "$DIRLOG_ROOT/dirlog2.txt"

run compare /compare
report=$DIRLOG_ROOT/report.txt
check "comparison: exit status 0" status_is compare 0
check "comparison: one progress line per record of each log, and no error" \
  output_is compare 'PASSES - 1\nPASSES - 2\nPASSES - 3\nPASSES - 4\nPASSES - 5\nPASSES - 1\nPASSES - 2\nPASSES - 3\nPASSES - 4\nPASSES - 5\n'
check "comparison: report.txt exists" test -f "$report"
if [ -f "$report" ]; then
  check "report.txt names the changed file, with its size before the change" \
    has_prefix "$report" "MODIFIED: ,---FILE---, PATH-$tree/change.txt, NAME-change.txt, MSDOS-, ATTRIB-32, FILE_SIZE_HIGH-0, FILE_SIZE_LOW-7, "
  check "report.txt names the deleted file" \
    has_prefix "$report" "DELETED : ,---FILE---, PATH-$tree/gone.txt, NAME-gone.txt, "
  check "report.txt names the created file" \
    has_prefix "$report" "CREATED : ,---FILE---, PATH-$tree/new.txt, NAME-new.txt, "
  leaves_out_unchanged() {
    ! grep -F -e "PATH-$tree/keep.txt," -e "PATH-$tree/sub/inner.txt," "$report"
  }
  check "report.txt leaves out what did not change" leaves_out_unchanged
  check "report.txt spells LAST_ACCESS_TIME_HIGH without a hyphen" \
    grep -qE "LAST_ACCESS_TIME_HIGH[0-9]+, LAST_ACCESS_TIME_LOW-[0-9]+," "$report"
fi

"$view" --json >"$work/view.out" 2>"$work/view.err"
echo $? >"$work/view.status"
check "dirlog-view on the two scans: exit status 1 (changes shown)" status_is view 1
check "dirlog-view --json names the created file" \
  grep -q '"kind":"created".*"path":"new.txt"' "$work/view.out"
check "dirlog-view --json ends with the summary, 1 created, 1 deleted" \
  grep -q '^{"summary":.*"counts":{"created":1,"deleted":1,' "$work/view.out"
"$view" --logs 1 1 >"$work/same.out" 2>"$work/same.err"
echo $? >"$work/same.status"
check "dirlog-view of a log against itself: exit status 0" status_is same 0

run missing "/L$work/no-such-folder"
check "scan of a missing folder: exit status 1" status_is missing 1
check "scan of a missing folder: its message" \
  output_is missing "Error: the given folder cannot be found\n"
check "scan of a missing folder: no new log" test ! -e "$DIRLOG_ROOT/dirlog3.txt"

quiet_on_stderr() {
  local name quiet=0
  for name in none scan1 scan2 compare missing view same; do
    [ ! -s "$work/$name.err" ] || { echo "$name:"; cat "$work/$name.err"; quiet=1; }
  done
  return "$quiet"
}
check "no run wrote to standard error" quiet_on_stderr

# --- Removal ------------------------------------------------------------------

step "dpkg -r from the throw-away root" "${dpkg_root[@]}" -r dirlog
check "removal leaves neither program nor manual page" \
  test ! -e "$dirlog" -a ! -e "$root/usr/share/man/man1/dirlog.1.gz" \
  -a ! -e "$root/usr/share/man/man1/dirlog.1" -a ! -e "$view" -a ! -e "$view_page" \
  -a ! -e "$completion" -a ! -e "$zsh_completion"

summary
[ "$failed" -eq 0 ]
