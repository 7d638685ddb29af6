#!/usr/bin/env python3
"""Seeded random requests of every report form, both families, one per line, for batch.

usage: gen_requests.py COUNT SEED > requests.txt
"""
import random
import sys


def main():
    count, seed = int(sys.argv[1]), int(sys.argv[2])
    rng = random.Random(seed)
    out = []
    for _ in range(count):
        kind = rng.randrange(8)
        if kind < 4:  # IPv4 report, the four ways of giving the length
            a = rng.getrandbits(32)
            addr = f"{a >> 24}.{(a >> 16) & 255}.{(a >> 8) & 255}.{a & 255}"
            n = rng.randrange(33)
            mask = (0xffffffff << (32 - n)) & 0xffffffff
            text = lambda v: f"{v >> 24}.{(v >> 16) & 255}.{(v >> 8) & 255}.{v & 255}"
            out.append([f"inet {addr}/{n}", f"inet {addr} prefixlen {n}",
                        f"inet {addr} netmask {text(mask)}",
                        f"inet {addr} mask {text(mask ^ 0xffffffff)}"][kind])
        elif kind < 7:  # IPv6 report
            a = rng.getrandbits(128)
            groups = ":".join(f"{(a >> (112 - 16 * i)) & 0xffff:x}" for i in range(8))
            n = rng.randrange(129)
            out.append(f"inet6 {groups}/{n}" if kind < 6 else f"inet6 {groups} prefixlen {n}")
        else:  # host counts
            out.append(f"{rng.choice(['inet', 'inet6'])} hosts {rng.randrange(1, 1 << 32)}")
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
