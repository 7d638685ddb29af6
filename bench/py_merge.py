#!/usr/bin/env python3
"""What merge does, with Python's ipaddress module: for scale in the merge benchmark.

usage: py_merge.py list.txt > out.txt
"""
import ipaddress
import sys

nets = {4: [], 6: []}
for line in open(sys.argv[1]):
    line = line.split("#", 1)[0].strip()
    if not line:
        continue
    if "-" in line:
        first, last = (ipaddress.ip_address(x.strip()) for x in line.split("-"))
        nets[first.version].extend(ipaddress.summarize_address_range(first, last))
    else:
        n = ipaddress.ip_network(line, strict=False)
        nets[n.version].append(n)
for v in (4, 6):
    for n in ipaddress.collapse_addresses(nets[v]):
        print(n.with_prefixlen)
