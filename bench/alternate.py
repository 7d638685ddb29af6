#!/usr/bin/env python3
"""Times two commands in alternating runs (A B A B ...), so that the machine's drift falls on
both alike, and prints for each the median wall time and peak resident memory, and the
median of the ratios A/B taken pair by pair.

usage: alternate.py RUNS 'COMMAND A' 'COMMAND B'   (each run by /bin/sh -c, output as given)
needs: GNU time (/usr/bin/time)
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time


def run(command):
    # GNU time reports the peak memory: a child forked from this Python would count its pages.
    with tempfile.NamedTemporaryFile("r") as rss:
        start = time.perf_counter()
        status = subprocess.call(["/usr/bin/time", "-f", "%M", "-o", rss.name,
                                  "/bin/sh", "-c", "exec " + command])
        wall = time.perf_counter() - start
        if status != 0:
            sys.exit(f"failed ({status}): {command}")
        return wall, int(rss.read().split()[-1])  # KiB


def main():
    runs, a, b = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    run(a), run(b)  # warm the page cache
    ta, tb, ma, mb, ratios = [], [], [], [], []
    for _ in range(runs):
        wa, ra = run(a)
        wb, rb = run(b)
        ta.append(wa), tb.append(wb), ma.append(ra), mb.append(rb), ratios.append(wa / wb)
    print(f"| A: `{a}` | {statistics.median(ta):.3f} s | {max(ma) / 1024:.0f} MiB |")
    print(f"| B: `{b}` | {statistics.median(tb):.3f} s | {max(mb) / 1024:.0f} MiB |")
    print(f"\nA/B wall time, median of {runs} pairs: {statistics.median(ratios):.3f} "
          f"(from {min(ratios):.3f} to {max(ratios):.3f})")


if __name__ == "__main__":
    main()
