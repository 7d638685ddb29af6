#!/usr/bin/env python3
"""Seeded IPv4 lists of the shapes users merge, for the merge benchmark against iprange.

usage: gen_shapes.py SHAPE LINES SEED > list.txt

Shapes:
  blocklist  addresses in 300 busy /16s, 5% of them prefixes /24 to /30 (a block list)
  sorted     ascending addresses with gaps, some as /28 to /30 (a sorted export)
  dense      ascending addresses without gaps, in runs of up to 4096 (a sorted, folded one)
  prefixes   prefixes /12 to /32, most /24, anywhere (a routing table)
  ranges     FIRST-LAST ranges of up to 65,536 addresses, anywhere (a range table)
The same arguments give the same bytes.
"""
import random
import sys


def dotted(v):
    return f"{v >> 24}.{(v >> 16) & 255}.{(v >> 8) & 255}.{v & 255}"


def blocklist(rng, lines):
    nets = [rng.getrandbits(16) << 16 for _ in range(300)]
    for _ in range(lines):
        a = rng.choice(nets) | rng.getrandbits(16)
        if rng.random() < 0.05:
            n = rng.randrange(24, 31)
            yield f"{dotted(a >> (32 - n) << (32 - n))}/{n}"
        else:
            yield dotted(a)


def sorted_list(rng, lines):
    a = 1 << 24
    step = max(1, (3 << 30) // lines)  # spread over most of the space
    for _ in range(lines):
        a += 1 + rng.randrange(2 * step)
        if rng.random() < 0.03:
            n = rng.randrange(28, 31)
            a = (a >> (32 - n) << (32 - n)) + (1 << (32 - n))
            yield f"{dotted(a)}/{n}"
            a += (1 << (32 - n)) - 1
        else:
            yield dotted(a)


def dense(rng, lines):
    a = 1 << 24
    run = 0
    for _ in range(lines):
        if run == 0:
            run = rng.randrange(1, 4097)
            a += rng.randrange(2, 1 << 12)  # a gap between runs
        yield dotted(a)
        a += 1
        run -= 1


def prefixes(rng, lines):
    # As routing tables are: most /24, then /22 and /23, fewer shorter and longer ones.
    lens = list(range(12, 33))
    weights = [40 if n == 24 else 10 if n in (22, 23) else 3 if 16 <= n < 22 else
               0.5 if n < 16 else 2 for n in lens]
    for _ in range(lines):
        n = rng.choices(lens, weights)[0]
        a = rng.getrandbits(32) >> (32 - n) << (32 - n)
        yield f"{dotted(a)}/{n}"


def ranges(rng, lines):
    for _ in range(lines):
        a = rng.getrandbits(32)
        b = min(a + rng.getrandbits(rng.randrange(1, 17)), (1 << 32) - 1)
        yield f"{dotted(a)}-{dotted(b)}"


SHAPES = {"blocklist": blocklist, "sorted": sorted_list, "dense": dense, "prefixes": prefixes,
          "ranges": ranges}


def main():
    shape, lines, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    rng = random.Random(seed)
    buf = []
    for line in SHAPES[shape](rng, lines):
        buf.append(line)
        if len(buf) >= 100000:
            sys.stdout.write("\n".join(buf) + "\n")
            buf.clear()
    if buf:
        sys.stdout.write("\n".join(buf) + "\n")


if __name__ == "__main__":
    main()
