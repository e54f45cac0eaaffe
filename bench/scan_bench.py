#!/usr/bin/env python3
"""Times a folder scan against find on generated trees.

For each tree it runs `dirlog /L<tree>` and
`find <tree> -printf '%p,%f,%m,%s,%A@,%T@,%C@\\n' > file` one after the
other, many times (interleaved, so both see the same machine state), after a
warm-up run of each, and prints the median wall time of each and their ratio.
The trees are made once under --work and kept for later runs.

  bench/scan_bench.py [--dirlog build/dirlog] [--runs 15] [--work /tmp/dirlog-bench]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def make_files(folder, count, prefix="f"):
    for i in range(count):
        with open(os.path.join(folder, f"{prefix}{i:05d}.dat"), "wb") as out:
            out.write(b"x" * (i % 97))


def tree_wide_and_deep(root):
    """About 85,000 entries in about 5,000 directories, three levels deep."""
    for a in range(20):
        for b in range(10):
            for c in range(25):
                leaf = os.path.join(root, f"top{a:02d}", f"mid{b:02d}", f"leaf{c:02d}")
                os.makedirs(leaf)
                make_files(leaf, 16)


def tree_one_big_directory(root):
    os.makedirs(root)
    make_files(root, 20000)


def tree_many_small_directories(root):
    for d in range(3000):
        folder = os.path.join(root, f"sub{d:04d}")
        os.makedirs(folder)
        make_files(folder, 3)


TREES = [
    ("85k entries in 5k directories", "deep", tree_wide_and_deep),
    ("one directory of 20,000 files", "flat", tree_one_big_directory),
    ("3,000 directories of 3 files", "subdirs", tree_many_small_directories),
]


def count_entries(root):
    return sum(len(dirs) + len(files) for _, dirs, files in os.walk(root))


def timed(command, **kwargs):
    start = time.perf_counter()
    subprocess.run(command, check=True, **kwargs)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dirlog", default="build/dirlog")
    parser.add_argument("--runs", type=int, default=15)
    parser.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "dirlog-bench"))
    args = parser.parse_args()
    dirlog = os.path.abspath(args.dirlog)
    if not os.access(dirlog, os.X_OK):
        sys.exit(f"no program at {dirlog}: build first (cmake --build build)")

    logs = os.path.join(args.work, "logs")
    os.makedirs(logs, exist_ok=True)
    env = dict(os.environ, DIRLOG_ROOT=logs)
    find_out = os.path.join(args.work, "find.txt")
    find_format = "%p,%f,%m,%s,%A@,%T@,%C@\\n"

    print(f"{'tree':32} {'entries':>8} {'dirlog ms':>10} {'find ms':>10} {'ratio':>6}")
    for title, name, build in TREES:
        root = os.path.join(args.work, name)
        if not os.path.isdir(root):
            build(root)

        def run_dirlog():
            for entry in os.listdir(logs):
                os.remove(os.path.join(logs, entry))
            return timed([dirlog, "/L" + root], env=env, stdout=subprocess.DEVNULL)

        def run_find():
            with open(find_out, "w") as out:
                return timed(["find", root, "-printf", find_format], stdout=out)

        run_dirlog()
        run_find()
        dirlog_times, find_times = [], []
        for _ in range(args.runs):
            dirlog_times.append(run_dirlog())
            find_times.append(run_find())
        d = statistics.median(dirlog_times) * 1000
        f = statistics.median(find_times) * 1000
        print(f"{title:32} {count_entries(root):>8} {d:>10.1f} {f:>10.1f} {d / f:>6.2f}")
    if os.environ.get("DIRLOG_BENCH_CLEAN"):
        shutil.rmtree(args.work)


if __name__ == "__main__":
    main()
