#!/usr/bin/env bash
# The listing against the limit of the machine: maskery, cat of a file holding exactly the
# same bytes, the straightforward inet_ntop+puts lister and prips (where installed), into
# /dev/null and into a pipe, side by side in one run; medians of several runs as ratios to
# cat. Then peak memory of listings of growing size, and the start-up of a short report
# against a C program that prints the same lines with printf.
#
# usage: bench/run.sh BUILD_DIR    (a build configured with -DMASKERY_BUILD_BENCH=ON)
# needs: hyperfine, python3, GNU time (/usr/bin/time); RUNS=n sets the runs per command.
set -euo pipefail
build=$(cd "${1:?usage: bench/run.sh BUILD_DIR}" && pwd)
m=$build/maskery
runs=${RUNS:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

hf() {  # hyperfine, quiet unless it fails (its outlier warnings are noise here)
  hyperfine --style none "$@" >/dev/null 2>"$work/hyperfine.err" || { cat "$work/hyperfine.err" >&2; return 1; }
}

summarize() {  # json file, title: median per command, and its ratio to cat's median
  python3 - "$1" "$2" "$build/" <<'PY'
import json, statistics, sys
results = json.load(open(sys.argv[1]))["results"]
med = {r["command"]: statistics.median(r["times"]) for r in results}
base = next(v for k, v in med.items() if k.startswith("cat ") or "cat " in k.split("|")[0])
print(f"\n{sys.argv[2]}\n")
print("| command | median (ms) | ratio to cat |")
print("|---|---:|---:|")
for r in results:
    c = r["command"]
    shown = c.replace(sys.argv[3], "").replace("|", "\\|")
    print(f"| `{shown}` | {med[c] * 1000:.1f} | {med[c] / base:.2f} |")
PY
}

listing() {  # name, maskery words, ref_lister words, prips words (or "")
  local name=$1 args=$2 ref=$3 prips_args=$4
  local file=$work/${name//[^A-Za-z0-9]/_}.txt
  # shellcheck disable=SC2086
  "$m" $args >"$file"
  echo "## $name: maskery $args ($(wc -l <"$file") lines, $(($(stat -c %s "$file") / 1048576)) MiB)"
  local null=("$m $args" "cat $file" "$build/bench/ref_lister $ref")
  local pipe=("$m $args | cat >/dev/null" "cat $file | cat >/dev/null"
              "$build/bench/ref_lister $ref | cat >/dev/null")
  if [ -n "$prips_args" ] && command -v prips >/dev/null; then
    null+=("prips $prips_args")
    pipe+=("prips $prips_args | cat >/dev/null")
  fi
  hf -N --warmup 2 --runs "$runs" --export-json "$work/null.json" "${null[@]}"
  summarize "$work/null.json" "Into /dev/null"
  hf --warmup 2 --runs "$runs" --export-json "$work/pipe.json" "${pipe[@]}"
  summarize "$work/pipe.json" "Into a pipe (| cat >/dev/null)"
  echo
  rm -f "$file"
}

echo "# maskery listing benchmark: $(nproc) cores, $(uname -m), $(date -u +%Y-%m-%d)"
listing "IPv4 /8" "inet 10.0.0.0/8 print" "inet 10.0.0.0 8" "10.0.0.0/8"
listing "IPv6 /104" "inet6 2001:db8::/104 print" "inet6 2001:db8:: 104" ""

echo "## Peak resident memory of a listing"
echo
echo "| listing | peak RSS (KiB) |"
echo "|---|---:|"
for words in "inet 10.0.0.0/16 print" "inet 10.0.0.0/8 print" "inet6 2001:db8::/104 print"; do
  # shellcheck disable=SC2086
  /usr/bin/time -f %M -o "$work/rss" "$m" $words >/dev/null
  echo "| \`maskery $words\` | $(tail -n 1 "$work/rss") |"
done
for words in "inet 0.0.0.0/0 print" "inet6 ::/0 print"; do
  # shellcheck disable=SC2086
  { /usr/bin/time -f %M -o "$work/rss" "$m" $words || true; } | head -n 100000000 >/dev/null
  echo "| \`maskery $words \| head -n 100000000\` | $(tail -n 1 "$work/rss") |"
done

echo
echo "## Start-up of a short report"
hf -N --warmup 50 --runs $((runs * 50)) --export-json "$work/start.json" \
  "$m inet 192.168.1.77/24" "$build/bench/printf_report"
python3 - "$work/start.json" <<'PY'
import json, statistics, sys
r = json.load(open(sys.argv[1]))["results"]
a, b = (statistics.median(x["times"]) for x in r)
print(f"\n| command | median (ms) |\n|---|---:|\n| maskery inet 192.168.1.77/24 | {a*1000:.3f} |")
print(f"| printf_report (C, printf) | {b*1000:.3f} |\n\nratio: {a / b:.2f}")
PY
