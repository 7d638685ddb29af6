#!/usr/bin/env python3
"""Seeded inputs for the grep benchmark.

usage: gen_grep.py log LINES SEED [v4|v6] > access.log   a web server's access log
       gen_grep.py set ITEMS SEED > set.txt             prefixes and ranges, both families
       gen_grep.py bare LINES SEED > addresses.txt     one IPv4 address a line

The log is in the common log format: mostly IPv4 clients (v6: mostly IPv6 in brackets),
some IPv4-mapped IPv6, some lines without an address (a health check); clients come from a
few thousand busy networks, as in real logs, so that a set of networks matches a share of
them. The same arguments give the same bytes.
"""
import random
import sys


def v4(x):
    return f"{x >> 24}.{(x >> 16) & 255}.{(x >> 8) & 255}.{x & 255}"


def v6(hi, lo):
    groups = [(hi >> (48 - 16 * i)) & 0xFFFF for i in range(4)] + [(lo >> (48 - 16 * i)) & 0xFFFF for i in range(4)]
    return ":".join(f"{g:x}" for g in groups)


def main():
    kind, n, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    rng = random.Random(seed)
    # The busy networks, the same for every kind and seed (one generator for all of them: a
    # generator made anew for each gave the same network 3,000 times).
    busy = random.Random(99)
    hot4 = [busy.getrandbits(16) << 16 for _ in range(3000)]
    hot6 = [0x20010DB8 << 32 | busy.getrandbits(32) for _ in range(3000)]
    out = []
    if kind == "set":
        for _ in range(n):
            r = rng.random()
            if r < 0.6:
                length = rng.choice([16, 20, 22, 24, 24, 24, 28, 32])
                base = rng.choice(hot4) | rng.getrandbits(16) if rng.random() < 0.5 else rng.getrandbits(32)
                base &= ~((1 << (32 - length)) - 1) & 0xFFFFFFFF
                out.append(f"{v4(base)}/{length}")
            elif r < 0.8:
                a = rng.getrandbits(32)
                out.append(f"{v4(a)}-{v4(min(a + rng.getrandbits(10), 0xFFFFFFFF))}")
            else:
                length = rng.choice([32, 48, 56, 64])
                hi = rng.choice(hot6) if rng.random() < 0.5 else rng.getrandbits(64)
                hi &= ~((1 << (64 - length)) - 1) & 0xFFFFFFFFFFFFFFFF
                out.append(f"{v6(hi, 0)}/{length}")
    elif kind == "bare":
        for _ in range(n):
            out.append(v4(rng.choice(hot4) | rng.getrandbits(16) if rng.random() < 0.7 else rng.getrandbits(32)))
    else:
        six = len(sys.argv) > 4 and sys.argv[4] == "v6"
        paths = ["/", "/index.html", "/api/v1/items?id=42", "/static/app.js", "/login", "/img/logo.png"]
        agents = ["Mozilla/5.0 (X11; Linux x86_64)", "curl/8.5.0", "Go-http-client/1.1"]
        for i in range(n):
            r = rng.random()
            if r < 0.05:
                out.append(f"- - - [10/Dec/2026:13:55:{i % 60:02d} +0000] \"GET /health HTTP/1.1\" 200 2 \"-\" \"kube-probe/1.29\"")
                continue
            if six:
                client = "[" + v6(rng.choice(hot6), rng.getrandbits(64)) + "]" if r < 0.9 else v4(rng.getrandbits(32))
            elif r < 0.9:
                client = v4(rng.choice(hot4) | rng.getrandbits(16) if rng.random() < 0.7 else rng.getrandbits(32))
            elif r < 0.95:
                client = "::ffff:" + v4(rng.getrandbits(32))
            else:
                client = "[" + v6(rng.choice(hot6), rng.getrandbits(64)) + "]"
            out.append(f"{client} - - [10/Dec/2026:13:55:{i % 60:02d} +0000] \"GET {rng.choice(paths)} HTTP/1.1\" "
                       f"{rng.choice([200, 200, 200, 304, 404])} {rng.getrandbits(14)} \"-\" \"{rng.choice(agents)}\"")
    sys.stdout.write("\n".join(out) + "\n")


main()
