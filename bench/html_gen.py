#!/usr/bin/env python3
"""Writes the JSON Lines that `dirlog-view --json` gives for a made-up change
of CHANGES entries (kinds mixed as an upgrade mixes them), with the summary
line last and roll-ups for folders at every depth, as --html asks for.

usage: html_gen.py CHANGES [SEED] > changes.jsonl
"""
import json
import random
import sys

WORDS = ["src", "lib", "include", "test", "docs", "build", "assets", "data",
         "util", "core", "net", "io", "gui", "cache", "tmp", "old", "vendor"]
EXTENSIONS = [".cc", ".h", ".txt", ".md", ".json", ".png", ".o", ".py"]
KINDS = ["created", "deleted", "modified", "moved", "type"]
WEIGHTS = [30, 20, 40, 8, 2]


def iso(seconds):
    day, rest = divmod(seconds, 86400)
    return "2026-12-%02dT%02d:%02d:%02dZ" % (1 + day % 28, rest // 3600,
                                             rest // 60 % 60, rest % 60)


def folder(rng):
    return "/".join(rng.choice(WORDS) + str(rng.randrange(6))
                    for _ in range(rng.randrange(1, 5)))


def change(rng, number):
    kind = rng.choices(KINDS, WEIGHTS)[0]
    path = "%s/file%d%s" % (folder(rng), number, rng.choice(EXTENSIONS))
    old_size, new_size = rng.randrange(1 << 20), rng.randrange(1 << 20)
    old_time, new_time = rng.randrange(500000), 600000 + rng.randrange(500000)
    entry = {"kind": kind, "path": path, "type": "file", "verdict": "content"}
    if kind == "created":
        entry.update(changed=[], size={"new": new_size, "diff": new_size},
                     write_time={"new": iso(new_time)},
                     mode={"new": "-rw-r--r--"}, owner={"new": {"uid": 1000}})
    elif kind == "deleted":
        entry.update(changed=[], size={"old": old_size, "diff": -old_size},
                     write_time={"old": iso(old_time)},
                     mode={"old": "-rw-r--r--"}, owner={"old": {"uid": 1000}})
    elif kind == "modified":
        entry.update(changed=["size", "write_time"],
                     size={"old": old_size, "new": new_size,
                           "diff": new_size - old_size},
                     write_time={"old": iso(old_time), "new": iso(new_time)})
        if number % 7 == 0:
            entry["changed"] = ["mode"]
            entry["verdict"] = "metadata"
            entry["size"] = {"old": old_size, "new": old_size, "diff": 0}
            del entry["write_time"]
            entry["mode"] = {"old": "-rw-r--r--", "new": "-rwxr-xr-x"}
    elif kind == "moved":
        entry.update(old_path="%s/file%d.old" % (folder(rng), number), changed=[],
                     size={"old": old_size, "new": old_size, "diff": 0})
    else:
        entry.update(type="directory", old_type="file", changed=["size"],
                     size={"old": old_size, "new": 0, "diff": -old_size})
    return entry


def rollups(changes):
    folders = {}
    for entry in changes:
        parts = entry["path"].split("/")[:-1]
        diff = entry["size"]["diff"]
        for depth in range(len(parts) + 1):
            name = "/".join(parts[:depth])
            r = folders.setdefault(name, dict(
                folder=name, depth=depth, created=0, deleted=0, modified=0,
                moved=0, type=0, bytes_added=0, bytes_removed=0, bytes_net=0))
            r[entry["kind"]] += 1
            r["bytes_added" if diff > 0 else "bytes_removed"] += abs(diff)
            r["bytes_net"] += diff
    return sorted(folders.values(), key=lambda r: (
        -(r["bytes_added"] + r["bytes_removed"]),
        -sum(r[k] for k in KINDS), r["folder"]))


def main():
    count = int(sys.argv[1])
    rng = random.Random(int(sys.argv[2]) if len(sys.argv) > 2 else 1)
    changes = [change(rng, number) for number in range(count)]
    out = sys.stdout
    for entry in changes:
        out.write(json.dumps(entry, separators=(",", ":")) + "\n")
    diffs = [entry["size"]["diff"] for entry in changes]
    added = sum(d for d in diffs if d > 0)
    removed = -sum(d for d in diffs if d < 0)
    log = {"start": "/home/user/work", "taken": "2026-12-07T15:14:02Z",
           "records": count * 5}
    summary = {
        "before": dict(log, log="/home/user/dirlog1.txt"),
        "after": dict(log, log="/home/user/dirlog2.txt"),
        "separator": "/",
        "counts": {k: sum(1 for e in changes if e["kind"] == k) for k in KINDS},
        "shown": count,
        "bytes": {"added": added, "removed": removed, "net": added - removed},
        "access_only_hidden": count // 50, "unread_lines": 0, "unread": [],
        "rollups": rollups(changes)}
    out.write(json.dumps({"summary": summary}, separators=(",", ":")) + "\n")


if __name__ == "__main__":
    main()
