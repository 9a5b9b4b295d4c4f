#!/usr/bin/env python3
"""Checks the direction of includes between the rooms.

The order of the rooms is written once, in the ```rooms block of
ARCHITECTURE.md: one line per layer, from the bottom up, rooms of one layer
side by side. Every quoted include of a tracked C or C++ file must name a
file of its own room or of a room on a lower layer; an include that runs
sideways or upward fails, and so does a folder of C or C++ code that the
list does not name (a new room must take its place in the order first).

Usage: architecture_test.py [SOURCE_ROOT]   (default: this file's folder)
"""
import os
import re
import subprocess
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
SOURCE = (".c", ".cc", ".h")


def layers(architecture_text):
    """The room -> layer number map of the ```rooms block."""
    block = re.search(r"^```rooms\n(.*?)^```", architecture_text, re.M | re.S)
    if block is None:
        raise SystemExit("ARCHITECTURE.md has no ```rooms block")
    level = {}
    for number, line in enumerate(block.group(1).splitlines()):
        for room in line.split():
            if room in level:
                raise SystemExit("room %s is listed twice" % room)
            level[room] = number
    return level


def violations(level, sources):
    """What breaks the order, for (path, text) pairs of source files."""
    found = []
    for path, text in sources:
        if "/" not in path:
            continue  # generated or top-level files belong to no room
        room = path.split("/", 1)[0]
        if room not in level:
            found.append("%s: folder %s/ is not in ARCHITECTURE.md's list"
                         % (path, room))
            continue
        for target in INCLUDE.findall(text):
            if "/" not in target:
                continue
            other = target.split("/", 1)[0]
            if other == room:
                continue
            if other not in level:
                found.append("%s: includes %s from unlisted folder %s/"
                             % (path, target, other))
            elif level[other] >= level[room]:
                way = "sideways" if level[other] == level[room] else "upward"
                found.append("%s: includes %s (%s: %s/ is not below %s/)"
                             % (path, target, way, other, room))
    return found


def tracked_sources(root):
    names = subprocess.run(["git", "ls-files", "-z"], cwd=root, check=True,
                           capture_output=True).stdout.decode().split("\0")
    for name in names:
        if name.endswith(SOURCE):
            with open(os.path.join(root, name), encoding="utf-8") as f:
                yield name, f.read()


def self_test():
    """The checker itself catches what it must."""
    level = layers("```rooms\ntext\nsearch results\nmail\n```\n")
    cases = [
        ("mail/a.cc", '#include "search/b.h"\n', 0),     # downward
        ("mail/a.cc", '#include "mail/b.h"\n', 0),       # own room
        ("search/a.cc", '#include "mail/b.h"\n', 1),     # upward
        ("search/a.cc", '#include "results/b.h"\n', 1),  # sideways
        ("other/a.cc", '#include "text/b.h"\n', 1),      # unlisted room
        ("text/a.cc", '#include "gone/b.h"\n', 1),       # unlisted target
        ("text/a.cc", '#include <vector>\n', 0),         # system header
    ]
    for path, text, expected in cases:
        got = len(violations(level, [(path, text)]))
        if got != expected:
            raise SystemExit("self-test: %s with %r: %d findings, not %d"
                             % (path, text, got, expected))


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(
        os.path.abspath(__file__))
    self_test()
    with open(os.path.join(root, "ARCHITECTURE.md"), encoding="utf-8") as f:
        level = layers(f.read())
    sources = list(tracked_sources(root))
    found = violations(level, sources)
    for line in found:
        print(line)
    print("%d files, %d rooms in %d layers: %d includes against the order"
          % (len(sources), len(level), len(set(level.values())), len(found)))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
