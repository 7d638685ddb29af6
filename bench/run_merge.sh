#!/usr/bin/env bash
# merge against the fastest C tool for the job, iprange (IPv4 only), on the same seeded list
# of 10 million lines, in alternating runs; the IPv6 list of the same length against the IPv4
# one; peak memory; Python's ipaddress on one million lines for scale. Checks on the way that
# maskery's output equals iprange's once iprange's omitted /32 are written, and that merging
# the output again changes nothing.
#
# usage: bench/run_merge.sh BUILD_DIR   needs: python3, iprange (Debian package iprange)
# RUNS=n sets the pairs of runs (default 5); LISTS=dir keeps the generated lists there.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
m=$(cd "${1:?usage: bench/run_merge.sh BUILD_DIR}" && pwd)/maskery
runs=${RUNS:-5}
lists=${LISTS:-$(mktemp -d)}
mkdir -p "$lists"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for list in "inet 10000000 1 v4" "inet6 10000000 2 v6" "inet 1000000 3 v4-1m"; do
  read -r family lines seed name <<<"$list"
  [ -s "$lists/$name.txt" ] || python3 "$here/gen_lists.py" "$family" "$lines" "$seed" >"$lists/$name.txt"
done

echo "# merge benchmark: $(nproc) cores, $(uname -m), $(date -u +%Y-%m-%d)"
echo
echo "Lists: $(wc -l <"$lists/v4.txt") IPv4 lines ($(($(stat -c %s "$lists/v4.txt") / 1048576)) MiB),"\
  "$(wc -l <"$lists/v6.txt") IPv6 lines ($(($(stat -c %s "$lists/v6.txt") / 1048576)) MiB)"

"$m" merge "$lists/v4.txt" >"$work/m4"
iprange "$lists/v4.txt" | awk '/\//{print; next} {print $0 "/32"}' >"$work/i4"
cmp -s "$work/m4" "$work/i4" && echo "Output equals iprange's with /32 written: yes ($(wc -l <"$work/m4") prefixes)" ||
  { echo "Output equals iprange's with /32 written: NO"; exit 1; }
"$m" merge "$work/m4" | cmp -s - "$work/m4" && echo "Merging the output again changes nothing: yes" ||
  { echo "Merging the output again changes nothing: NO"; exit 1; }
"$m" merge "$lists/v6.txt" >"$work/m6"
"$m" merge "$work/m6" | cmp -s - "$work/m6" && echo "IPv6: merging the output again changes nothing: yes ($(wc -l <"$work/m6") prefixes)" ||
  { echo "IPv6: merging the output again changes nothing: NO"; exit 1; }
rm -f "$work"/m4 "$work"/i4 "$work"/m6

echo
echo "## maskery against iprange, IPv4 list"
echo
echo "| command | median wall | peak memory |"
echo "|---|---:|---:|"
python3 "$here/alternate.py" "$runs" "$m merge $lists/v4.txt >/dev/null" "iprange $lists/v4.txt >/dev/null"
echo
echo "## IPv6 list against IPv4 list, maskery"
echo
echo "| command | median wall | peak memory |"
echo "|---|---:|---:|"
python3 "$here/alternate.py" "$runs" "$m merge $lists/v6.txt >/dev/null" "$m merge $lists/v4.txt >/dev/null"
echo
echo "## For scale: one million IPv4 lines"
echo
echo "| command | median wall | peak memory |"
echo "|---|---:|---:|"
python3 "$here/alternate.py" 1 "python3 $here/py_merge.py $lists/v4-1m.txt >/dev/null" "$m merge $lists/v4-1m.txt >/dev/null"
