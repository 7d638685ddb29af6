#!/usr/bin/env python3
"""Seeded generator of realistic address lists for the merge benchmark.

usage: gen_lists.py inet|inet6 LINES SEED > list.txt

Mostly single addresses and long prefixes (/24 to /32, or /48 to /128) drawn from a few
thousand busy networks, as block lists and GeoIP tables are; some shorter prefixes and
first-last ranges; a few comments and blank lines. The same arguments give the same bytes.
"""
import ipaddress
import random
import sys


def main():
    family, lines, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    rng = random.Random(seed)
    out = sys.stdout
    buf = []
    if family == "inet":
        width = 32
        hot = [rng.getrandbits(16) << 16 for _ in range(3000)]

        def addr():
            if rng.random() < 0.8:
                return rng.choice(hot) | rng.getrandbits(16)
            return rng.getrandbits(32)

        def text(v):
            return f"{v >> 24}.{(v >> 16) & 255}.{(v >> 8) & 255}.{v & 255}"

        long_lens, short_lens = range(24, 33), range(18, 24)
    else:
        width = 128
        hot = [(0x2000 | rng.getrandbits(12)) << 112 | rng.getrandbits(16) << 96
               for _ in range(3000)]

        def addr():
            base = rng.choice(hot)
            if rng.random() < 0.5:  # hosts in a /64, as servers and clients are numbered
                return base | rng.getrandbits(32) << 64 | rng.getrandbits(16)
            return base | rng.getrandbits(96)

        def text(v):
            return str(ipaddress.IPv6Address(v))

        long_lens, short_lens = range(56, 129), range(40, 56)

    for i in range(lines):
        r = rng.random()
        if r < 0.55:
            line = text(addr())
        elif r < 0.90:
            n = rng.choice(long_lens)
            line = f"{text(addr() >> (width - n) << (width - n))}/{n}"
        elif r < 0.91:
            n = rng.choice(short_lens)
            line = f"{text(addr() >> (width - n) << (width - n))}/{n}"
        elif r < 0.999:
            a = addr()
            b = min(a + rng.getrandbits(rng.randrange(1, 13)), (1 << width) - 1)
            line = f"{text(a)}-{text(b)}"
        elif r < 0.9995:
            line = "# a comment"
        else:
            line = ""
        buf.append(line)
        if len(buf) >= 100000:
            out.write("\n".join(buf) + "\n")
            buf.clear()
    if buf:
        out.write("\n".join(buf) + "\n")


if __name__ == "__main__":
    main()
