#!/usr/bin/env python3
"""A real range table for the merge benchmark: the IPv4 ranges of Debian's tor-geoipdb
(/usr/share/tor/geoip, lines "FIRST,LAST,CC" of integers) as FIRST-LAST lines.

usage: geoip_ranges.py [CC] > ranges.txt   (CC: one country's ranges only, e.g. US)
"""
import sys


def dotted(v):
    return f"{v >> 24}.{(v >> 16) & 255}.{(v >> 8) & 255}.{v & 255}"


def main():
    country = sys.argv[1] if len(sys.argv) > 1 else None
    out = []
    with open("/usr/share/tor/geoip", encoding="ascii") as f:
        for line in f:
            if line.startswith("#"):
                continue
            first, last, cc = line.strip().split(",")
            if country is None or cc == country:
                out.append(f"{dotted(int(first))}-{dotted(int(last))}")
    sys.stdout.write("\n".join(out) + "\n")


main()
