#!/usr/bin/env python3
"""Fails, naming each place, when a source under src/ includes what its
folder may not (the rule is in ARCHITECTURE.md):

  cli      -> everything
  view     -> compare, snapshot, platform
  compare  -> snapshot, platform
  snapshot -> platform
  platform -> nothing above it

and when code outside src/platform includes a system header (anything in
<...> that is neither the C++ standard library nor the header-only
libraries CLI11 and nlohmann-json, or a compiler intrinsics header).
cli/errors.h may be included from anywhere below cli: it is the program's
one way to report an error. Tests
(*_test.cc and the test support files) may include system headers.
"""
import pathlib
import re
import sys

ALLOWED = {
    "cli": {"cli", "view", "compare", "snapshot", "platform"},
    "view": {"view", "compare", "snapshot", "platform"},
    "compare": {"compare", "snapshot", "platform"},
    "snapshot": {"snapshot", "platform"},
    "platform": {"platform"},
}
EVERYWHERE = {"cli/errors.h"}
LIBRARIES = ("CLI/", "nlohmann/", "gtest/", "gmock/")
# The compiler's vector intrinsics are the same on every system that has the
# instruction set, so they are no platform matter.
INTRINSICS = {"emmintrin.h", "immintrin.h", "arm_neon.h"}
STANDARD = set("""
algorithm any array atomic barrier bit bitset cassert cctype cerrno cfenv cfloat charconv chrono
cinttypes climits clocale cmath codecvt compare complex concepts condition_variable coroutine
csetjmp csignal cstdarg cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype deque
exception execution expected filesystem format forward_list fstream functional future
initializer_list iomanip ios iosfwd iostream istream iterator latch limits list locale map memory
memory_resource mutex new numbers numeric optional ostream queue random ranges ratio regex
scoped_allocator semaphore set shared_mutex source_location span sstream stack stdexcept
stop_token streambuf string string_view syncstream system_error thread tuple type_traits
typeindex typeinfo unordered_map unordered_set utility valarray variant vector version
""".split())
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')


def is_test(path):
    name = path.name
    return name.endswith("_test.cc") or "test_support" in name


def check(root):
    faults = []
    for path in sorted((root / "src").rglob("*")):
        if path.suffix not in (".cc", ".h"):
            continue
        relative = path.relative_to(root).as_posix()
        folder = path.relative_to(root / "src").parts[0]
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            kind, header = match.groups()
            where = f"{relative}:{number}: "
            if kind == '"':
                target = header.split("/")[0]
                if target in ALLOWED and target not in ALLOWED[folder] and \
                        header not in EVERYWHERE:
                    faults.append(where + f"{folder}/ may not include {header}")
            elif header not in STANDARD and not header.startswith(LIBRARIES):
                if folder != "platform" and not is_test(path) and header not in INTRINSICS:
                    faults.append(where + f"system header <{header}> outside src/platform")
    return faults


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else
                        pathlib.Path(__file__).resolve().parent.parent)
    faults = check(root)
    for fault in faults:
        print(fault)
    if faults:
        print(f"check_deps.py: {len(faults)} forbidden includes (see ARCHITECTURE.md)")
        return 1
    print("check_deps.py: every include keeps to ARCHITECTURE.md")
    return 0


if __name__ == "__main__":
    sys.exit(main())
