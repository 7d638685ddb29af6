#!/usr/bin/env python3
"""The same report values as maskery batch, computed with Python's ipaddress module in one
process: the comparison for the batch benchmark.

usage: py_requests.py requests.txt > out.txt
"""
import ipaddress
import math
import sys


def count_bits(mask):
    return bin(int(mask)).count("1")


def main():
    out = []
    write = out.append
    for line in open(sys.argv[1]):
        w = line.split()
        if not w:
            continue
        v6 = w[0] == "inet6"
        if w[1] == "hosts":
            n = int(w[2])
            mx = 128 if v6 else 32
            work = math.ceil(math.log2(n))
            write(f"theoretical len: {mx - math.log(n) / math.log(2):.30f}\n"
                  f"working len:     {mx - work}\nhosts:           {2 ** work}\n")
            continue
        if len(w) == 2:
            addr, length = w[1].split("/")
            length = int(length)
        elif w[2] == "prefixlen":
            addr, length = w[1], int(w[3])
        elif w[2] == "netmask":
            addr, length = w[1], count_bits(ipaddress.ip_address(w[3]))
        else:
            addr, length = w[1], 32 - count_bits(ipaddress.ip_address(w[3]))
        net = ipaddress.ip_network(f"{addr}/{length}", strict=False)
        first, last = net.network_address, net.broadcast_address
        if v6:
            write(f"range:       {first} > {last}\nhosts:       {net.num_addresses}\n"
                  f"prefixlen:   {length}\nmask:        {net.netmask}\n")
        else:
            write(f"range:       {first} > {last}\nrange b10:   {int(first)} > {int(last)}\n"
                  f"range b16:   {hex(int(first))} > {hex(int(last))}\n"
                  f"hosts:       {net.num_addresses}\nprefixlen:   {length}\n"
                  f"netmask:     {net.netmask}\nmask:        {net.hostmask}\n")
        if len(out) >= 10000:
            sys.stdout.write("".join(out))
            out.clear()
    sys.stdout.write("".join(out))


if __name__ == "__main__":
    main()
