#!/usr/bin/env python3
"""Writes two snapshot logs of a made-up tree, as two scans a while apart
would: the same tree in walk order (each directory's line, then its entries
in byte order of their names, directories entered where they stand), the
second with about 5% of the entries modified, 2% deleted and 2% created.

usage: compare_gen.py ENTRIES BEFORE_LOG AFTER_LOG [SEED]
"""
import random
import sys

WORDS = ["src", "lib", "include", "test", "docs", "build", "assets", "data",
         "util", "core", "net", "io", "gui", "cache", "tmp", "old", "vendor",
         "module", "plugin", "config", "scripts", "images", "fonts", "locale"]
EXTENSIONS = [".cc", ".h", ".txt", ".md", ".json", ".png", ".o", ".py", ".xml",
              ".dll", ".cfg", ".log"]
ROOT = "/home/user/work"
# 100 ns units since 1601 for a day in 2026, as high and low words.
BASE_TIME = 134_100_000_000_000_000


def time_words(rng, spread):
    value = BASE_TIME + rng.randrange(spread)
    return value >> 32, value & 0xFFFFFFFF


class Entry:
    __slots__ = ("path", "name", "directory", "size", "mode", "created",
                 "accessed", "written")

    def line(self):
        attributes = 16 if self.directory else 32
        tag = "-DIRECTORY" if self.directory else "---FILE---"
        return "%s,%s,%s,,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d\n" % (
            tag, self.path, self.name, attributes, self.size >> 32,
            self.size & 0xFFFFFFFF, self.mode, 1000, self.created[0],
            self.created[1], self.accessed[0], self.accessed[1],
            self.written[0], self.written[1])


def make_entry(rng, folder, name, directory):
    entry = Entry()
    entry.path = folder + "/" + name
    entry.name = name
    entry.directory = directory
    entry.size = 0 if directory else int(rng.lognormvariate(8, 2.5))
    entry.mode = 16877 if directory else 33188
    entry.created = time_words(rng, 10**15)
    entry.written = time_words(rng, 10**15)
    entry.accessed = entry.written
    return entry


def unique_names(rng, count, directories):
    names = set()
    while len(names) < count:
        word = rng.choice(WORDS)
        if directories:
            name = word if rng.random() < 0.3 else "%s_%d" % (word, rng.randrange(1000))
        else:
            name = "%s_%d%s" % (word, rng.randrange(100000), rng.choice(EXTENSIONS))
        names.add(name)
    return names


def walk(rng, folder, depth, budget, out):
    """Appends the entries of one folder and its subtree in walk order."""
    if budget[0] <= 0:
        return
    files = rng.randrange(2, 40)
    folders = rng.randrange(1, 6) if depth < 6 else 0
    listing = [(name, False) for name in unique_names(rng, files, False)]
    listing += [(name, True) for name in unique_names(rng, folders, True)
                if name not in {n for n, _ in listing}]
    listing.sort(key=lambda item: item[0].encode())
    for name, directory in listing:
        if budget[0] <= 0:
            return
        out.append(make_entry(rng, folder, name, directory))
        budget[0] -= 1
        if directory:
            walk(rng, folder + "/" + name, depth + 1, budget, out)


def main():
    count = int(sys.argv[1])
    seed = int(sys.argv[4]) if len(sys.argv) > 4 else 1
    rng = random.Random(seed)
    entries = []
    budget = [count]
    while budget[0] > 0:
        walk(rng, ROOT + "/" + "part%d" % len(entries), 0, budget, entries)

    with open(sys.argv[2], "w", newline="\n") as before:
        before.writelines(entry.line() for entry in entries)
        before.write("FILEs - %d, DIRECTORIEs - %d\n" % (
            sum(not e.directory for e in entries), sum(e.directory for e in entries)))

    after = []
    for entry in entries:
        roll = rng.random()
        if roll < 0.02 and not entry.directory:
            continue  # deleted
        if roll < 0.07:
            changed = Entry()
            for slot in Entry.__slots__:
                setattr(changed, slot, getattr(entry, slot))
            if entry.directory:
                changed.written = time_words(rng, 10**16)
            else:
                changed.size = int(rng.lognormvariate(8, 2.5))
                changed.written = time_words(rng, 10**16)
            changed.accessed = changed.written
            entry = changed
        after.append(entry)
        if 0.07 <= roll < 0.09:
            folder = entry.path[:len(entry.path) - len(entry.name) - 1]
            after.append(make_entry(rng, folder, entry.name + ".new", False))
    with open(sys.argv[3], "w", newline="\n") as log:
        log.writelines(entry.line() for entry in after)
        log.write("FILEs - %d, DIRECTORIEs - %d\n" % (
            sum(not e.directory for e in after), sum(e.directory for e in after)))


if __name__ == "__main__":
    main()
