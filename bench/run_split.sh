#!/usr/bin/env bash
# split against the listing of the same number of lines and against ipcalc-ng -S (Debian
# package ipcalc-ng), in alternating runs, into a pipe; the outputs of split and ipcalc-ng
# are checked equal line for line once ipcalc-ng's decoration is stripped.
#
# usage: bench/run_split.sh BUILD_DIR   needs: python3, ipcalc-ng, GNU time
# RUNS=n sets the pairs of runs (default 5).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
m=$(cd "${1:?usage: bench/run_split.sh BUILD_DIR}" && pwd)/maskery
runs=${RUNS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "# split benchmark: $(nproc) cores, $(uname -m), $(date -u +%Y-%m-%d)"
"$m" split inet6 2001:db8::/32 /56 >"$work/m"
ipcalc-ng -S 56 2001:db8::/32 | sed -n 's/^Network:\t*//p' >"$work/i"
cmp -s "$work/m" "$work/i" && echo "same $(wc -l <"$work/m") subnets as ipcalc-ng" ||
  { echo "outputs differ"; exit 1; }
echo
pair() {  # label, command A, command B
  printf '%-40s ' "$1"
  python3 "$here/alternate.py" "$runs" "$2" "$3" | tail -n 1
}
for pin in "" "taskset -c 0 "; do
  [ -n "$pin" ] && echo "-- both pinned to one core"
  pair "split /56 of a /32 / listing a /104" "$pin$m split inet6 2001:db8::/32 /56 | cat >/dev/null" \
    "$pin$m inet6 2001:db8::/104 print | cat >/dev/null"
  pair "split / ipcalc-ng -S" "$pin$m split inet6 2001:db8::/32 /56 | cat >/dev/null" \
    "${pin}ipcalc-ng -S 56 2001:db8::/32 | cat >/dev/null"
done
"$m" split inet6 2001:db8::/32 /56 >"$work/file"
pair "split into a file / cat of its bytes" "$m split inet6 2001:db8::/32 /56 >$work/out" \
  "cat $work/file >$work/out"
