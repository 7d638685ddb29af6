#!/usr/bin/env bash
# JSON and batch, for scripts: the JSON listing against the text listing; a million seeded
# requests of every report form through maskery batch against a Python script that computes
# the same values with ipaddress in one process (and gives the same bytes); ten thousand
# through batch against one maskery process per request. Alternating runs throughout.
#
# usage: bench/run_scripts.sh BUILD_DIR   needs: python3.  RUNS=n sets the pairs (default 5).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
m=$(cd "${1:?usage: bench/run_scripts.sh BUILD_DIR}" && pwd)/maskery
runs=${RUNS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "# JSON and batch benchmark: $(nproc) cores, $(uname -m), $(date -u +%Y-%m-%d)"
for words in "inet 10.0.0.0/8 print" "inet6 2001:db8::/104 print"; do
  echo
  echo "## --json listing against the text listing: $words, into a pipe"
  echo
  echo "| command | median wall | peak memory |"
  echo "|---|---:|---:|"
  python3 "$here/alternate.py" "$runs" "$m --json $words | cat >/dev/null" "$m $words | cat >/dev/null"
done

python3 "$here/gen_requests.py" 1000000 5 >"$work/req.txt"
head -n 10000 "$work/req.txt" >"$work/req10k.txt"
"$m" batch "$work/req.txt" >"$work/m.out"
python3 "$here/py_requests.py" "$work/req.txt" >"$work/p.out"
cmp -s "$work/m.out" "$work/p.out" && echo -e "\nThe Python script's output equals maskery batch's: yes" ||
  { echo "The Python script's output equals maskery batch's: NO"; exit 1; }
rm -f "$work/m.out" "$work/p.out"

echo
echo "## One million requests: Python ipaddress in one process against maskery batch"
echo
echo "| command | median wall | peak memory |"
echo "|---|---:|---:|"
python3 "$here/alternate.py" "${PYRUNS:-3}" "python3 $here/py_requests.py $work/req.txt >/dev/null" \
  "$m batch $work/req.txt >/dev/null"
echo
echo "## Ten thousand requests: one process each against maskery batch"
echo
echo "| command | median wall | peak memory |"
echo "|---|---:|---:|"
python3 "$here/alternate.py" "${PYRUNS:-3}" \
  "bash -c 'while read -r w; do $m \$w; done <$work/req10k.txt >/dev/null'" \
  "$m batch $work/req10k.txt >/dev/null"
