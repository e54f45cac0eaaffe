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
    """Hands the entries of one folder and its subtree to out() in walk
    order."""
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
        out(make_entry(rng, folder, name, directory))
        budget[0] -= 1
        if directory:
            walk(rng, folder + "/" + name, depth + 1, budget, out)


def make_tree(rng, count, out):
    budget = [count]
    made = [0]

    def counted(entry):
        made[0] += 1
        out(entry)

    while budget[0] > 0:
        walk(rng, ROOT + "/" + "part%d" % made[0], 0, budget, counted)


class Log:
    """A log being written, with the counts for its totals line."""

    def __init__(self, path):
        self.file = open(path, "w", newline="\n")
        self.files = 0
        self.directories = 0

    def add(self, entry):
        self.file.write(entry.line())
        if entry.directory:
            self.directories += 1
        else:
            self.files += 1

    def close(self):
        self.file.write("FILEs - %d, DIRECTORIEs - %d\n" % (
            self.files, self.directories))
        self.file.close()


def change(rng, entry, after):
    """Writes what the after log holds of one entry of the before log."""
    roll = rng.random()
    if roll < 0.02 and not entry.directory:
        return  # deleted
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
    after.add(entry)
    if 0.07 <= roll < 0.09:
        folder = entry.path[:len(entry.path) - len(entry.name) - 1]
        after.add(make_entry(rng, folder, entry.name + ".new", False))


def main():
    count = int(sys.argv[1])
    seed = int(sys.argv[4]) if len(sys.argv) > 4 else 1
    # The tree is made twice from the same seed rather than held: once for
    # the before log, then again beside the changes, which draw from where
    # the first making left the generator. Memory stays small at any size.
    rng = random.Random(seed)
    before = Log(sys.argv[2])
    make_tree(rng, count, before.add)
    before.close()

    after = Log(sys.argv[3])
    make_tree(random.Random(seed), count, lambda entry: change(rng, entry, after))
    after.close()


if __name__ == "__main__":
    main()
