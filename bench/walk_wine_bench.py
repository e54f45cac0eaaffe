#!/usr/bin/env python3
"""Times dirlog.exe under Wine on one folder of empty subfolders, for 1,000 to
16,000 of them, and prints each time and how it grows per doubling.

The walk lists a folder again after each of its subfolders, so this is the
shape where a listing that cost a read of the whole folder every time would
make the scan grow with the square of the count. Each size is run --runs
times after a warm-up run (median wall time, Wine's start included, as a
user sees it); a scan of a folder of one subfolder is timed too, as the part
of every figure that is only starting Wine and the program.

The Wine prefix and the trees are made once under --work and kept for later
runs; --clean deletes them afterwards. --baseline EXE times a second build in
the same interleaved runs, up to --baseline-up-to subfolders (an earlier
build may take minutes beyond that).

  bench/walk_wine_bench.py [--dirlog build-windows/dirlog.exe] [--runs 3]
                           [--sizes 1000,2000,4000,8000,16000] [--work /tmp/dirlog-wine-bench]
                           [--baseline other/dirlog.exe] [--baseline-up-to 4000] [--clean]
"""
import argparse
import glob
import os
import shutil
import statistics
import subprocess
import time


def wine_environment(prefix):
    environment = dict(os.environ)
    environment.update(WINEPREFIX=prefix, WINEDEBUG="-all")
    return environment


def make_prefix(prefix):
    if os.path.isdir(os.path.join(prefix, "drive_c")):
        return
    subprocess.run(["wine", "wineboot", "-i"], env=wine_environment(prefix), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_tree(drive, count):
    """c:\\sub<count>, holding <count> empty subfolders; made once."""
    name = f"sub{count}"
    root = os.path.join(drive, name)
    done = os.path.join(drive, name + ".done")
    if not os.path.exists(done):
        shutil.rmtree(root, ignore_errors=True)
        os.makedirs(root)
        for i in range(count):
            os.mkdir(os.path.join(root, f"d{i:05d}"))
        open(done, "w").close()
    return name


def scan(exe, prefix, folder):
    drive = os.path.join(prefix, "drive_c")
    for log in glob.glob(os.path.join(drive, "dirlog*.txt")):
        os.remove(log)
    start = time.perf_counter()
    subprocess.run(["wine", exe, f"/Lc:\\{folder}"], env=wine_environment(prefix), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dirlog", default="build-windows/dirlog.exe")
    parser.add_argument("--baseline")
    parser.add_argument("--baseline-up-to", type=int, default=4000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--sizes", default="1000,2000,4000,8000,16000")
    parser.add_argument("--work", default="/tmp/dirlog-wine-bench")
    parser.add_argument("--clean", action="store_true")
    args = parser.parse_args()
    sizes = [int(size) for size in args.sizes.split(",")]
    prefix = os.path.join(args.work, "prefix")
    programs = [("dirlog", os.path.abspath(args.dirlog))]
    if args.baseline:
        programs.append(("baseline", os.path.abspath(args.baseline)))

    # One server for every run, as the tests keep one.
    os.makedirs(prefix, exist_ok=True)
    subprocess.run(["wineserver", "-p"], env=wine_environment(prefix),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        make_prefix(prefix)
        drive = os.path.join(prefix, "drive_c")
        folders = {count: make_tree(drive, count) for count in [1] + sizes}
        # Past the coarsest step of directory times, so that listings are kept.
        time.sleep(2.5)
        load = os.getloadavg()[0]
        print(f"load average at start: {load:.1f}; medians of {args.runs} runs after a warm-up")
        header = f"{'subfolders':>10} {'dirlog s':>9} {'x per doubling':>14} {'ms each':>8}"
        if args.baseline:
            header += f" {'baseline s':>10} {'x per doubling':>14}"
        print(header)
        previous = {}
        for count in [1] + sizes:
            medians = {}
            for name, exe in programs:
                if name == "baseline" and count > args.baseline_up_to:
                    continue
                scan(exe, prefix, folders[count])
            for _ in range(args.runs):
                for name, exe in programs:
                    if name == "baseline" and count > args.baseline_up_to:
                        continue
                    medians.setdefault(name, []).append(scan(exe, prefix, folders[count]))
            row = f"{count:>10}"
            for name, _ in programs:
                if name not in medians:
                    continue
                median = statistics.median(medians[name])
                growth = ""
                if name in previous and previous[name][0] * 2 == count:
                    growth = f"{median / previous[name][1]:.2f}"
                row += f" {median:>9.2f} {growth:>14}" if name == "dirlog" else \
                    f" {median:>10.2f} {growth:>14}"
                if name == "dirlog":
                    row += f" {median / count * 1000:>8.3f}"
                previous[name] = (count, median)
            print(row, flush=True)
        print(f"load average at end: {os.getloadavg()[0]:.1f}")
    finally:
        subprocess.run(["wineserver", "-k"], env=wine_environment(prefix),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if args.clean:
            shutil.rmtree(args.work, ignore_errors=True)


if __name__ == "__main__":
    main()
