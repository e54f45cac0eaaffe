#!/usr/bin/env python3
"""Fails, naming each, when the CMake files ask for something that no entry of
scripts/deps.sh installs: a program find_program looks for, a package
find_package looks for, a folder below /usr that a cache path defaults to,
or a Debian package that a FATAL_ERROR message tells the user to install.

    tests/deps_test.py <source folder>
"""
import pathlib
import re
import subprocess
import sys

# What deps.sh probes to know that find_package will find the package
# (threads come with the C library that the compiler brings).
PACKAGE_PROBES = {"GTest": "/usr/include/gtest/gtest.h", "Python3": "python3", "Threads": "g++"}
COMMAND = re.compile(r"\b(find_program|find_package|message|set)\s*\(((?:[^()]|\([^()]*\))*)\)")
WORD = re.compile(r'"([^"]*)"|(\S+)')


def cmake_files(root):
    for path in sorted(root.rglob("*")):
        skipped = any(part.startswith(("build", ".")) or part == "node_modules"
                      for part in path.relative_to(root).parts)
        if not skipped and (path.name == "CMakeLists.txt" or path.suffix == ".cmake"):
            yield path


def commands(text):
    text = re.sub(r"(?m)^\s*#.*$", "", text)
    for match in COMMAND.finditer(text):
        yield match.group(1), [a or b for a, b in WORD.findall(match.group(2))]


def faults(root):
    entries = subprocess.run(["bash", str(root / "scripts/deps.sh"), "--list"], check=True,
                             capture_output=True, text=True).stdout.split("\n")
    packages = {line.split()[1] for line in entries if line}
    probes = {probe for line in entries if line for probe in line.split()[2:]}
    found = []
    for path in cmake_files(root):
        variables = {}
        for name, args in commands(path.read_text()):
            args = [re.sub(r"\$\{(\w+)\}", lambda m: variables.get(m[1], m[0]), a) for a in args]
            where = f"{path.relative_to(root)}: {name}({' '.join(args)})"
            if name == "set" and len(args) == 2:
                variables[args[0]] = args[1]
            elif name == "set" and "CACHE" in args and args[1].startswith("/usr/"):
                if not any(p.startswith(args[1] + "/") for p in probes):
                    found.append(where)
            elif name == "find_program":
                names = args[2:] if args[1] == "NAMES" else args[1:2]
                names = names[:next((i for i, a in enumerate(names) if a.isupper()), None)]
                if not probes.intersection(names):
                    found.append(where)
            elif name == "find_package" and PACKAGE_PROBES.get(args[0]) not in probes:
                found.append(where)
            elif name == "message" and args[0] == "FATAL_ERROR":
                wanted = re.findall(r"install ([\w.+-]+(?:(?:,| and| or) [\w.+-]+)*)", " ".join(args))
                for word in re.split(r",? and |,? or |, ", " ".join(wanted)):
                    if word and word not in packages:
                        found.append(f"{where}: {word}")
    return found


def main():
    found = faults(pathlib.Path(sys.argv[1]).resolve())
    for fault in found:
        print(f"not installed by scripts/deps.sh: {fault}")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
