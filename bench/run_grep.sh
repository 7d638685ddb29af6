#!/usr/bin/env bash
# grep against grepcidr (Debian package grepcidr) on the same seeded inputs, in alternating
# runs: an access log of 2 million lines and a list of 2 million bare addresses against
# 100,000 networks, with both cores and with both programs pinned to one; then maskery's
# IPv6 log against its IPv4 log, --which against plain grep, and contains' start-up against
# a network report. The outputs are checked equal on the lines both tools read alike (grepcidr
# 2.0 reads IPv4 only, so the IPv4 lines of the log).
#
# usage: bench/run_grep.sh BUILD_DIR   needs: python3, grepcidr, GNU time
# RUNS=n sets the pairs of runs (default 5); LISTS=dir keeps the generated inputs there.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
m=$(cd "${1:?usage: bench/run_grep.sh BUILD_DIR}" && pwd)/maskery
runs=${RUNS:-5}
d=${LISTS:-$(mktemp -d)}
mkdir -p "$d"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

[ -s "$d/log4.txt" ] || python3 "$here/gen_grep.py" log 2000000 1 >"$d/log4.txt"
[ -s "$d/log6.txt" ] || python3 "$here/gen_grep.py" log 2000000 2 v6 >"$d/log6.txt"
[ -s "$d/set.txt" ] || python3 "$here/gen_grep.py" set 100000 3 >"$d/set.txt"
[ -s "$d/bare.txt" ] || python3 "$here/gen_grep.py" bare 2000000 4 >"$d/bare.txt"
grep -v -e '^\[' -e '^::ffff:' "$d/log4.txt" >"$work/plain4.txt"

echo "# grep benchmark: $(nproc) cores, $(uname -m), $(date -u +%Y-%m-%d)"
"$m" grep --in "$d/set.txt" "$work/plain4.txt" >"$work/m" || true
grepcidr -f "$d/set.txt" "$work/plain4.txt" >"$work/g" || true
cmp -s "$work/m" "$work/g" && echo "IPv4 lines of the log: same output ($(wc -l <"$work/m") lines)" ||
  { echo "IPv4 lines of the log: outputs differ"; exit 1; }
"$m" grep --in "$d/set.txt" "$d/bare.txt" >"$work/m" || true
grepcidr -f "$d/set.txt" "$d/bare.txt" >"$work/g" || true
cmp -s "$work/m" "$work/g" && echo "bare list: same output ($(wc -l <"$work/m") lines)" ||
  { echo "bare list: outputs differ"; exit 1; }
echo

pair() {  # label, command A, command B
  printf '%-44s ' "$1"
  python3 "$here/alternate.py" "$runs" "$2" "$3" | tail -n 1
}
for pin in "" "taskset -c 0 "; do
  [ -n "$pin" ] && echo "-- both pinned to one core"
  pair "log, maskery / grepcidr" "$pin$m grep --in $d/set.txt $d/log4.txt >/dev/null" \
    "${pin}grepcidr -f $d/set.txt $d/log4.txt >/dev/null"
  pair "bare list, maskery / grepcidr" "$pin$m grep --in $d/set.txt $d/bare.txt >/dev/null" \
    "${pin}grepcidr -f $d/set.txt $d/bare.txt >/dev/null"
done
pair "IPv6 log / IPv4 log (maskery)" "$m grep --in $d/set.txt $d/log6.txt >/dev/null" \
  "$m grep --in $d/set.txt $d/log4.txt >/dev/null"
pair "--which / plain (maskery, log)" "$m grep --which --in $d/set.txt $d/log4.txt >/dev/null" \
  "$m grep --in $d/set.txt $d/log4.txt >/dev/null"
pair "contains / inet report (start-up)" "$m contains 10.0.0.0/8 10.1.2.3" "$m inet 1.2.3.4/24 >/dev/null"
pair "grep -c -F (GNU) / grepcidr, the floor" "grep -c -F GET $d/log4.txt >/dev/null" \
  "grepcidr -c -f $d/set.txt $d/log4.txt >/dev/null"
