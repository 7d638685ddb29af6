#!/usr/bin/env python3
"""Every form's --json output, read by a real JSON parser and checked value by value against
the text output of the same request.

usage: json_check.py MASKERY
"""
import json
import re
import subprocess
import sys

prog = sys.argv[1]
failures = 0
checks = 0


def run(*words):
    p = subprocess.run([prog, *words], capture_output=True)
    return p.returncode, p.stdout.decode("utf-8", "surrogateescape"), p.stderr


def check(what, got, want):
    global failures, checks
    checks += 1
    if got != want:
        failures += 1
        print(f"FAIL {what}: json {got!r}, text {want!r}")


def one_object(words):
    status, out, err = run("--json", *words)
    check(f"{words} status", status, 0)
    check(f"{words} one line", out.count("\n"), 1)
    return json.loads(out)


def labels(text):
    """The text report as label -> value, '; ' of print mode removed."""
    values = {}
    for line in text.splitlines():
        m = re.match(r"^(?:; )?([a-z0-9 ]+): +(.*)$", line)  # listing lines have no ": "
        if m:
            values[m.group(1).replace(" ", "_")] = m.group(2)
    return values


def report(words):
    _, text, _ = run(*words)
    obj = one_object(words)
    t = labels(text)
    first, last = t["range"].split(" > ")
    check(f"{words} family", obj["family"], words[0])
    check(f"{words} range", obj["range"], {"first": first, "last": last})
    check(f"{words} hosts", obj["hosts"], t["hosts"])
    check(f"{words} prefixlen", obj["prefixlen"], int(t["prefixlen"]))
    check(f"{words} mask", obj["mask"], t["mask"])
    if words[0] == "inet":
        lo, hi = t["range_b10"].split(" > ")
        check(f"{words} range_b10", obj["range_b10"], {"first": int(lo), "last": int(hi)})
        lo, hi = t["range_b16"].split(" > ")
        check(f"{words} range_b16", obj["range_b16"], {"first": lo, "last": hi})
        check(f"{words} netmask", obj["netmask"], t["netmask"])
        keys = ["family", "range", "range_b10", "range_b16", "hosts", "prefixlen", "netmask", "mask"]
    else:
        keys = ["family", "range", "hosts", "prefixlen", "mask"]
    if words[-1] == "print":
        listing = [l for l in text.splitlines() if not l.startswith("; ")]
        check(f"{words} addresses", obj["addresses"], listing)
        keys.append("addresses")
    check(f"{words} keys", list(obj), keys)


for words in [
    ["inet", "192.168.1.77/24"], ["inet", "192.168.1.77/30", "print"], ["inet", "10.0.0.1/32", "print"],
    ["inet", "10.0.0.1", "netmask", "255.0.255.0"], ["inet", "10.0.0.1", "mask", "0.0.0.255"],
    ["inet", "0.0.0.0/0"], ["inet", "255.255.255.254/31", "print"], ["inet", "10.1.2.3/40"],
    ["inet", "10.1.0.0", "prefixlen", "22", "print"],
    ["inet6", "2001:db8::1/64"], ["inet6", "2001:db8::1/126", "print"], ["inet6", "::/0"],
    ["inet6", "::ffff:10.0.0.1/120", "print"], ["inet6", "2001:db8::1/129", "print"],
    ["inet6", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe/127", "print"],
    ["inet6", "fe80::1", "netmask", "ffc0::"], ["inet6", "2001:db8::", "prefixlen", "112", "print"],
]:
    report(words)

# A listing of 65536 addresses streams as one array.
obj = one_object(["inet6", "2001:db8::/112", "print"])
check("big listing", len(obj["addresses"]), 65536)
check("big listing last", obj["addresses"][-1], "2001:db8::ffff")

for words in [["inet", "hosts", "100"], ["inet6", "hosts", "1000"], ["inet", "hosts", "-1"]]:
    _, text, _ = run(*words)
    t = labels(text)
    obj = one_object(words)
    check(f"{words}", obj, {"family": words[0], "theoretical_len": t["theoretical_len"],
                            "working_len": int(t["working_len"]), "hosts": t["hosts"]})

for words, family in [(["arpa6", "2001:db8::1", "host."], "inet6"), (["int6", "::1", "localhost."], "inet6"),
                      (["arpa4", "192.0.2.1", "h\t\"x\"\u00e9"], "inet")]:
    _, text, _ = run(*words)
    name, cls, typ, host = text.rstrip("\n").split("\t", 3)
    check(f"{words}", one_object(words),
          {"family": family, "name": name, "class": cls, "type": typ, "hostname": host})

for words in [["stf", "inet", "192.0.2.1"], ["stf", "inet6", "2002:c000:0201::"]]:
    _, text, _ = run(*words)
    t = labels(text)
    check(f"{words}", one_object(words), {"6to4_network": t["6to4_network"],
                                          "ip_version_4_parent": t["ip_version_4_parent"]})

for words in [["zones", "inet", "192.168.10.0/22"], ["zones", "inet6", "2001:db8:0:4::/62"],
              ["zones", "inet", "192.0.2.64/29", "range", "cnames"]]:
    _, text, _ = run(*words)
    rows = text.splitlines()
    zones = [r for r in rows if "\t" not in r]
    cnames = [dict(zip(["name", "target"], r.split("\tIN\tCNAME\t"))) for r in rows if "\t" in r]
    want = {"family": words[1], "zones": zones}
    if "cnames" in words:
        want["cnames"] = cnames
    check(f"{words}", one_object(words), want)

# A word that is not valid UTF-8 still gives valid JSON.
obj = one_object(["arpa6", "::1", "\udcff"])
check("invalid UTF-8 host name", obj["hostname"], "\ufffd")

# Failures are unchanged: the message, status 1, nothing on standard output.
for words in [["inet", "300.0.0.0/8"], ["inet", "hosts", "0"], ["zones", "inet"], []]:
    check(f"--json {words} fails alike", run("--json", *words), run(*words)[:2] + (run(*words)[2],))
    check(f"--json {words} no output", run("--json", *words)[1], "")

# batch: one object per request, errors in their place.
p = subprocess.run([prog, "--json", "batch"], capture_output=True,
                   input=b"inet 10.0.0.0/30 print\n# c\n\ninet bogus/8\narpa4 1.2.3.4 x\nmerge\n")
objs = [json.loads(l) for l in p.stdout.decode().splitlines()]
check("batch status", p.returncode, 1)
check("batch count", len(objs), 4)
check("batch first", objs[0]["addresses"], ["10.0.0.0", "10.0.0.1", "10.0.0.2", "10.0.0.3"])
check("batch error", objs[1], {"error": "invalid address specification", "file": "-", "line": 4})
check("batch after error", objs[2]["name"], "4.3.2.1.in-addr.arpa.")
check("batch merge refused", objs[3]["line"], 6)

# split: the subnets of the text output, as strings or as network and hosts.
for words in (["split", "inet", "10.0.0.0/22", "/24"], ["split", "inet6", "2001:db8::/32", "/34"]):
    obj = one_object(words)
    check(f"{words} subnets", obj["subnets"], run(*words)[1].splitlines())
    check(f"{words} family", obj["family"], words[1])
words = ["split", "inet", "192.168.1.0/24", "hosts", "100", "50", "10"]
obj = one_object(words)
check("split hosts", [f"{s['network']}\t{s['hosts']}" for s in obj["subnets"]], run(*words)[1].splitlines())

# grep: one object a selected line, with its text and matches; contains: the items outside.
p = subprocess.run([prog, "--json", "grep", "10.0.0.0/8,2001:db8::/32"], capture_output=True,
                   input=b"a 10.1.2.3 b\nnone 192.0.2.1\n\xff [2001:db8::1]:443 10.0.0.1.\n")
objs = [json.loads(l) for l in p.stdout.decode().splitlines()]
check("grep status", p.returncode, 0)
check("grep lines", [o["line"] for o in objs], [1, 3])
check("grep text", objs[1]["text"], "\ufffd [2001:db8::1]:443 10.0.0.1.")
check("grep matches", objs[1]["matches"], [{"address": "2001:db8::1", "item": "2001:db8::/32"},
                                           {"address": "10.0.0.1", "item": "10.0.0.0/8"}])
status, out, err = run("--json", "contains", "10.0.0.0/8", "10.0.0.1", "11.0.0.0/8")
check("contains status", status, 1)
check("contains", json.loads(out), {"contains": False, "outside": ["11.0.0.0/8"]})

print(f"{checks - failures} passed, {failures} failed")
sys.exit(1 if failures else 0)
