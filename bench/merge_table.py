#!/usr/bin/env python3
"""maskery merge against iprange on lists of every shape and size, in alternating runs.

usage: merge_table.py BUILD_DIR   needs: iprange; tor-geoipdb for the real table (optional)
env: RUNS=n pairs of runs for the 10-million-line lists (default 3; five times as many for
     the others), LISTS=dir keeps the generated lists there, SIZES=40000,400000,10000000 the
     sizes to run.

Each command is started directly (no shell), its output into /dev/null; its wall time is
taken around the spawn and the wait, its peak memory is the kernel's maxrss of the child.
Before timing, maskery's output is checked equal to iprange's (with iprange's bare /32
written as prefixes). Prints one table: the medians of each, the median of the ratios
taken pair by pair (A B A B ...), and the ratio of the largest peaks; for the
10-million-line lists also the time ratio with both processes pinned to one core.
"""
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SHAPES = ["blocklist", "sorted", "dense", "prefixes", "ranges"]


def run(argv, pin=None):
    """Wall seconds of one run, output thrown away."""
    if pin is not None:
        argv = ["taskset", "-c", pin] + argv
    with open(os.devnull, "wb") as null:
        start = time.perf_counter()
        pid = os.posix_spawnp(argv[0], argv, os.environ,
                              file_actions=[(os.POSIX_SPAWN_DUP2, null.fileno(), 1)])
        _, status = os.waitpid(pid, 0)
        wall = time.perf_counter() - start
    if status != 0:
        sys.exit(f"failed ({status}): {' '.join(argv)}")
    return wall


def peak(argv):
    """Peak resident KiB of one run, from GNU time: a child spawned from this process would
    count this process's pages until it starts the program."""
    out = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", "/dev/stdout"] + argv,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True)
    return int(out.stdout.split()[-1])


def pairs(a, b, runs, pin=None):
    run(a, pin), run(b, pin)  # the page cache
    ta, tb, ratios = [], [], []
    for _ in range(runs):
        wa = run(a, pin)
        wb = run(b, pin)
        ta.append(wa), tb.append(wb), ratios.append(wa / wb)
    return statistics.median(ta), statistics.median(tb), statistics.median(ratios)


def ensure(path, argv):
    if not os.path.exists(path) or os.path.getsize(path) == 0:
        with open(path + ".part", "wb") as out:
            subprocess.run(argv, stdout=out, check=True)
        os.rename(path + ".part", path)


def same_output(maskery, path):
    m = subprocess.run([maskery, "merge", path], capture_output=True, check=True).stdout
    i = subprocess.run(["iprange", path], capture_output=True, check=True).stdout
    lines = [line if b"/" in line else line + b"/32" for line in i.splitlines()]
    return m == b"\n".join(lines) + (b"\n" if lines else b""), m.count(b"\n")


def main():
    maskery = os.path.join(os.path.abspath(sys.argv[1]), "maskery")
    runs = int(os.environ.get("RUNS", "3"))
    lists = os.environ.get("LISTS") or "/tmp/maskery-bench-lists"
    os.makedirs(lists, exist_ok=True)
    sizes = [int(s) for s in os.environ.get("SIZES", "40000,400000,10000000").split(",")]

    work = []  # (name, path, lines)
    if os.path.exists("/usr/share/tor/geoip"):
        for cc, name in (("US", "geoip-us"), (None, "geoip-all")):
            path = os.path.join(lists, name + ".txt")
            ensure(path, ["python3", os.path.join(HERE, "geoip_ranges.py")] + ([cc] if cc else []))
            work.append((name, path))
    for size in sizes:
        for shape in SHAPES:
            path = os.path.join(lists, f"{shape}-{size}.txt")
            ensure(path, ["python3", os.path.join(HERE, "gen_shapes.py"), shape, str(size), "7"])
            work.append((f"{shape}-{size}", path))
    if 10000000 in sizes:
        for family, seed, name in (("inet", 1, "v4-10000000"), ("inet6", 2, "v6-10000000")):
            path = os.path.join(lists, name + ".txt")
            ensure(path, ["python3", os.path.join(HERE, "gen_lists.py"), family, "10000000", str(seed)])
        # The list of bench/run_merge.sh (gen_lists.py): single addresses, prefixes and ranges
        # from a few thousand busy networks.
        work.append(("mixed-10000000", os.path.join(lists, "v4-10000000.txt")))

    print(f"# merge against iprange: {os.cpu_count()} cores, {os.uname().machine}, "
          f"{time.strftime('%Y-%m-%d', time.gmtime())}")
    print()
    print("| list | lines | prefixes out | maskery | iprange | time ratio | one core | "
          "peak maskery | peak iprange | memory ratio |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for name, path in work:
        ok, out = same_output(maskery, path)
        if not ok:
            sys.exit(f"{name}: maskery's prefixes differ from iprange's")
        with open(path, "rb") as f:
            lines = sum(1 for _ in f)
        big = lines >= 5000000
        n = runs if big else 5 * runs  # a small list's runs are short, and vary more
        a, b = [maskery, "merge", path], ["iprange", path]
        ta, tb, ratio = pairs(a, b, n)
        pinned = f"{pairs(a, b, n, pin='0')[2]:.3f}" if big else ""
        # The largest of three runs each, alternating.
        ma = mb = 0
        for _ in range(3):
            ma, mb = max(ma, peak(a)), max(mb, peak(b))
        print(f"| {name} | {lines:,} | {out:,} | {ta * 1000:.1f} ms | {tb * 1000:.1f} ms | "
              f"{ratio:.3f} | {pinned} | {ma / 1024:.1f} MiB | {mb / 1024:.1f} MiB | "
              f"{ma / mb:.2f} |", flush=True)
    if 10000000 in sizes:
        v4 = os.path.join(lists, "v4-10000000.txt")
        v6 = os.path.join(lists, "v6-10000000.txt")
        ta, tb, ratio = pairs([maskery, "merge", v6], [maskery, "merge", v4], runs)
        print()
        print(f"IPv6 against IPv4, the two 10,000,000-line lists of gen_lists.py: {ta:.3f} s "
              f"against {tb:.3f} s, ratio {ratio:.3f}; "
              f"peaks {peak([maskery, 'merge', v6]) / 1024:.0f} "
              f"and {peak([maskery, 'merge', v4]) / 1024:.0f} MiB")
    # For scale: a process that does nothing, as this machine starts it.
    t = min(run(["true"]) for _ in range(20))
    print(f"\nStarting a process that does nothing (`true`, fastest of 20): {t * 1000:.1f} ms")


if __name__ == "__main__":
    main()
