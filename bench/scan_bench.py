#!/usr/bin/env python3
"""Times a folder scan against find on generated trees.

For each tree it runs `dirlog /L<tree>` and
`find <tree> -printf '%p,%f,%m,%s,%A@,%T@,%C@\\n' > file` one after the
other, many times (interleaved, so both see the same machine state), after a
warm-up run of each, and prints the median wall time of each, their ratio,
and dirlog's time per entry. One more run of dirlog, untimed, under
/usr/bin/time gives its peak resident memory (a process started from Python
would count Python's own). Both programs' standard error goes to /dev/null,
so dirlog shows no status line.
The trees are made once under --work and kept for later runs.

--baseline BINARY times a second dirlog (an earlier build, say) in the same
interleaved runs and prints its ratio against find beside the first's.

--cold empties the system's caches before every run, timed or not
(`sync`, then 3 into /proc/sys/vm/drop_caches; root only), so that every
run reads the tree from the disk, as a first scan after a reboot does. Use
fewer runs with it (--runs 5): every run waits on the disk.

--million adds a tree of about 1,000,000 entries, the first tree's shape
scaled up, and prints its time per entry against the first tree's. It takes
about 4 GiB of disk; --clean deletes the trees afterwards.

  bench/scan_bench.py [--dirlog build/dirlog] [--runs 15] [--work /tmp/dirlog-bench]
                      [--baseline other/dirlog] [--cold] [--million] [--clean]
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


def tree_wide_and_deep(root, tops=20):
    """About 4,250 entries per top directory (85,000 for 20) in 263 directories
    each, three levels deep."""
    for a in range(tops):
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
MILLION_TREE = ("1M entries in 61k directories", "deep1m",
                lambda root: tree_wide_and_deep(root, tops=235))


def count_entries(root):
    return sum(len(dirs) + len(files) for _, dirs, files in os.walk(root))


def drop_caches():
    """Empties the page, inode and directory caches (root only)."""
    os.sync()
    with open("/proc/sys/vm/drop_caches", "w") as control:
        control.write("3")


def timed(command, cold=False, **kwargs):
    if cold:
        drop_caches()
    start = time.perf_counter()
    subprocess.run(command, check=True, stderr=subprocess.DEVNULL, **kwargs)
    return time.perf_counter() - start


def peak_mib(command, cold=False, **kwargs):
    """The peak resident memory of one run, as /usr/bin/time measures it."""
    if cold:
        drop_caches()
    with tempfile.NamedTemporaryFile(mode="r") as report:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + command,
                       check=True, stderr=subprocess.DEVNULL, **kwargs)
        return int(report.read().split()[-1]) / 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dirlog", default="build/dirlog")
    parser.add_argument("--runs", type=int, default=15)
    parser.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "dirlog-bench"))
    parser.add_argument("--baseline", help="another dirlog, timed in the same runs")
    parser.add_argument("--cold", action="store_true",
                        help="empty the system's caches before every run (root)")
    parser.add_argument("--million", action="store_true", help="add the 1,000,000-entry tree")
    parser.add_argument("--clean", action="store_true", help="delete the trees afterwards")
    args = parser.parse_args()
    dirlog = os.path.abspath(args.dirlog)
    baseline = os.path.abspath(args.baseline) if args.baseline else None
    for program in filter(None, [dirlog, baseline]):
        if not os.access(program, os.X_OK):
            sys.exit(f"no program at {program}: build first (cmake --build build)")
    if args.cold and not os.access("/proc/sys/vm/drop_caches", os.W_OK):
        sys.exit("--cold empties the caches through /proc/sys/vm/drop_caches: run as root")

    logs = os.path.join(args.work, "logs")
    os.makedirs(logs, exist_ok=True)
    env = dict(os.environ, DIRLOG_ROOT=logs)
    find_out = os.path.join(args.work, "find.txt")
    find_format = "%p,%f,%m,%s,%A@,%T@,%C@\\n"

    trees = TREES + ([MILLION_TREE] if args.million else [])
    if args.cold:
        print(f"runs: {args.runs} of each, interleaved, each after"
              " sync; echo 3 > /proc/sys/vm/drop_caches; medians")
    else:
        print(f"runs: {args.runs} of each, interleaved, after one warm-up run of each; medians")
    print(f"dirlog: DIRLOG_ROOT={logs} {dirlog} /L<tree> > /dev/null 2> /dev/null"
          " (the logs deleted before each run)")
    if baseline:
        print(f"base:   the same with {baseline}")
    print("peak:   /usr/bin/time -f %M <dirlog command>, one more run")
    print(f"find:   find <tree> -printf '{find_format}' > {find_out} 2> /dev/null")
    print(f"{'tree':32} {'entries':>9} {'dirlog ms':>10} {'find ms':>10} {'ratio':>6}"
          f" {'us/entry':>9} {'peak MiB':>9}" + (f" {'base ms':>9} {'ratio':>6}" if baseline else ""))
    first_per_entry = None
    for title, name, build in trees:
        root = os.path.join(args.work, name)
        if not os.path.isdir(root):
            build(root)

        def run_dirlog(program=dirlog):
            for entry in os.listdir(logs):
                os.remove(os.path.join(logs, entry))
            return timed([program, "/L" + root], cold=args.cold, env=env,
                         stdout=subprocess.DEVNULL)

        def run_find():
            with open(find_out, "w") as out:
                return timed(["find", root, "-printf", find_format], cold=args.cold, stdout=out)

        if not args.cold:  # a cold run starts from nothing, warmed up or not
            run_dirlog()
            run_find()
        dirlog_times, find_times, base_times = [], [], []
        for _ in range(args.runs):
            dirlog_times.append(run_dirlog())
            find_times.append(run_find())
            if baseline:
                base_times.append(run_dirlog(baseline))
        d = statistics.median(dirlog_times) * 1000
        f = statistics.median(find_times) * 1000
        base = ""
        if baseline:
            b = statistics.median(base_times) * 1000
            base = f" {b:>9.1f} {b / f:>6.2f}"
        for entry in os.listdir(logs):
            os.remove(os.path.join(logs, entry))
        peak = peak_mib([dirlog, "/L" + root], cold=args.cold, env=env,
                        stdout=subprocess.DEVNULL)
        entries = count_entries(root)
        per_entry = d * 1000 / entries
        if first_per_entry is None:
            first_per_entry = per_entry
        print(f"{title:32} {entries:>9} {d:>10.1f} {f:>10.1f} {d / f:>6.2f}"
              f" {per_entry:>9.2f} {peak:>9.1f}{base}")
    if args.million:
        print(f"time per entry, 1M tree against the first: {per_entry / first_per_entry:.2f}")
    if args.clean or os.environ.get("DIRLOG_BENCH_CLEAN"):
        shutil.rmtree(args.work)


if __name__ == "__main__":
    main()
