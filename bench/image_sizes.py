#!/usr/bin/env python3
"""Where the bytes of a UEFI image go, from the map lld-link writes beside it (-lldmap).

Usage: image_sizes.py IMAGE.map [COUNT]

Prints the size of each output section, the input files by the bytes they bring (objects; after
link-time optimisation one object holds all the bitcode), and the COUNT largest functions and
data (default 25). A symbol's size is the distance to the next symbol or to the end of its input
section, so with -ffunction-sections each function is measured on its own.
"""

import collections
import os
import re
import sys


def parse(path):
    """(sections, chunks, symbols) of an lld map: name/size of each output section, each input
    section as (address, size, file, output section), each symbol as (address, name, chunk)."""
    sections, chunks, symbols = [], [], []
    section = None
    with open(path) as f:
        next(f)  # header: Address Size Align Out In Symbol
        for line in f:
            fields = re.match(r"([0-9a-f]+) ([0-9a-f]+) +\d+ (.*)$", line.rstrip("\n"))
            if not fields:
                continue
            address, size, rest = int(fields[1], 16), int(fields[2], 16), fields[3]
            depth = len(rest) - len(rest.lstrip(" "))
            text = rest.strip()
            if depth == 0:
                section = text
                sections.append((text, size))
            elif depth <= 8:
                name = re.sub(r":\(.*\)$", "", text)
                chunks.append((address, size, os.path.basename(name), section))
            elif chunks:
                symbols.append((address, text, chunks[-1]))
    return sections, chunks, symbols


def symbol_sizes(symbols):
    """Each distinct symbol start with its extent up to the next one within its input section."""
    sized = {}
    starts = sorted({(a, c) for a, _, c in symbols}, key=lambda x: x[0])
    names = collections.defaultdict(list)
    for a, n, c in symbols:
        if n not in names[(a, c)]:
            names[(a, c)].append(n)
    for i, (a, c) in enumerate(starts):
        end = c[0] + c[1]
        if i + 1 < len(starts) and starts[i + 1][1] == c:
            end = min(end, starts[i + 1][0])
        sized[(a, c)] = (end - a, names[(a, c)][0], c[3])
    return sorted(sized.values(), reverse=True)


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__)
    count = int(argv[2]) if len(argv) > 2 else 25
    sections, chunks, symbols = parse(argv[1])
    print("Output sections (bytes in memory):")
    for name, size in sections:
        print(f"  {name:8} {size:7}")
    files = collections.Counter()
    for _, size, name, section in chunks:
        files[name] += size
    print("Input files (bytes):")
    for name, size in files.most_common(count):
        print(f"  {size:7}  {name}")
    print(f"Largest {count} symbols (bytes, section):")
    for size, name, section in symbol_sizes(symbols)[:count]:
        print(f"  {size:7}  {section:6}  {name[:110]}")


if __name__ == "__main__":
    main(sys.argv)
