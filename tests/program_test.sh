#!/usr/bin/env bash
# The built program as a shell sees it: names in messages, exit statuses, big listings,
# and output that fails or is cut short. Each run is under a timeout, so a hang fails.
set -u
prog=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fails=0 passes=0

check() {  # name, expected, actual
  if [ "$2" == "$3" ]; then
    passes=$((passes + 1))
  else
    fails=$((fails + 1))
    printf 'FAIL %s\n  expected: %q\n  actual:   %q\n' "$1" "$2" "$3"
  fi
}

# run ARGS...: sets out, err, status
run() {
  timeout 60 "$prog" "$@" >"$tmp/out" 2>"$tmp/err"
  status=$?
  out=$(cat "$tmp/out")
  err=$(cat "$tmp/err")
}

# Messages name the program by the last component of the name it was started under.
ln -s "$prog" "$tmp/netcalc"
(cd "$tmp" && timeout 10 ./netcalc inet 10.0.0.0 2>"$tmp/err"); check "started name" 1 $?
check "started name message" "netcalc: specify network bits or mask." "$(cat "$tmp/err")"
(cd "$tmp" && timeout 10 ./netcalc 2>"$tmp/err")
check "usage keeps the fixed name" "usage: maskery [inet | inet6] address [netmask | mask ] mask <print>" \
  "$(head -n 1 "$tmp/err")"
run; check "no words status" 1 "$status"
check "no words usage" "usage: maskery [inet | inet6] address [netmask | mask ] mask <print>" "$(head -n 1 "$tmp/err")"
check "no words stdout" "" "$out"
run inet 192.168.1.77/24; check "report status" 0 "$status"; check "report stderr" "" "$err"
check "report first line" "range:       192.168.1.0 > 192.168.1.255" "$(head -n 1 "$tmp/out")"

# Big listings run to their end and stop there.
check "/8 lines" 16777223 "$(timeout 120 "$prog" inet 10.0.0.0/8 print | wc -l)"
check "/104 lines" 16777220 "$(timeout 120 "$prog" inet6 2001:db8::/104 print | wc -l)"
check "/8 status" 0 "$(timeout 120 "$prog" inet 10.0.0.0/8 print >/dev/null; echo $?)"

# A reader that goes away early ends the listing at once: quietly with SIGPIPE's default...
start=$SECONDS
got=$(timeout 20 "$prog" inet 0.0.0.0/0 print 2>"$tmp/err" | head -n 3 | tail -n 1)
check "/0 head" "; range b16:   0x0 > 0xffffffff" "$got"
check "/0 head quiet" "" "$(cat "$tmp/err")"
got=$(timeout 20 "$prog" inet6 ::/0 print | head -n 5 | tail -n 1)
check "inet6 /0 head" "::" "$got"
# ...and with SIGPIPE ignored, as the write error it is.
(trap '' PIPE; timeout 20 "$prog" inet 0.0.0.0/0 print 2>"$tmp/err" | head -n 1 >/dev/null; echo "${PIPESTATUS[0]}" >"$tmp/status")
check "ignored SIGPIPE status" 1 "$(cat "$tmp/status")"
check "ignored SIGPIPE message" "maskery: write error: Broken pipe" "$(cat "$tmp/err")"
check "early readers end at once" 1 $((SECONDS - start < 15))

# Output that cannot be written is an error, never a silent success.
timeout 20 "$prog" inet 192.168.1.77/24 >/dev/full 2>"$tmp/err"; check "full disk status" 1 $?
check "full disk message" "maskery: write error: No space left on device" "$(cat "$tmp/err")"
timeout 60 "$prog" inet 10.0.0.0/8 print >/dev/full 2>"$tmp/err"; check "full disk listing status" 1 $?
check "full disk listing message" "maskery: write error: No space left on device" "$(cat "$tmp/err")"
# merge made in many pieces on two threads: the failure stops both, and is the message.
seq 0 2 400000 | awk '{ printf "10.%d.%d.%d\n", $1 / 65536, $1 / 256 % 256, $1 % 256 }' >"$tmp/spread"
timeout 20 "$prog" merge "$tmp/spread" >/dev/full 2>"$tmp/err"; check "full disk merge status" 1 $?
check "full disk merge message" "maskery: write error: No space left on device" "$(cat "$tmp/err")"
timeout 20 "$prog" inet 192.168.1.77/24 >&- 2>"$tmp/err"; check "closed stdout status" 1 $?
check "closed stdout message" "maskery: write error: Bad file descriptor" "$(cat "$tmp/err")"

# A pipe that a parent made non-blocking: when it is full the program waits for the reader
# instead of failing with "Resource temporarily unavailable", and every byte arrives.
if command -v python3 >/dev/null; then
  got=$(timeout 120 python3 - "$prog" <<'PY'
import fcntl, os, subprocess, sys, time
r, w = os.pipe()
fcntl.fcntl(w, fcntl.F_SETFL, fcntl.fcntl(w, fcntl.F_GETFL) | os.O_NONBLOCK)
p = subprocess.Popen([sys.argv[1], "inet", "10.0.0.0/12", "print"], stdout=w, stderr=subprocess.PIPE)
os.close(w)
time.sleep(0.3)  # let the pipe fill up first
lines = 0
while True:
    b = os.read(r, 65536)
    if not b:
        break
    lines += b.count(b"\n")
    time.sleep(0.0005)  # a slow reader
p.wait()
print(p.returncode, lines, p.stderr.read().decode().strip() or "quiet")
PY
)
  check "non-blocking pipe" "0 1048583 quiet" "$got"
else
  echo "SKIP: non-blocking pipe (python3 is not installed)"
fi

# Odd words: as long as the system lets one word be (128 KiB with its NUL), empty, with
# bytes above 127, with blanks.
max=131071  # the longest word the kernel passes (MAX_ARG_STRLEN, less the NUL)
long=$(head -c $max /dev/zero | tr '\0' '1')
for words in "inet ${long:3}/24" "inet 10.0.0.0/${long:9}" "inet6 $long" "arpa6 $long x" \
             "stf inet6 $long" "stf inet $long" "inet hosts $long" "inet 10.0.0.0 netmask $long" "$long"; do
  run $words
  check "long word status (${words:0:12}...)" 1 "$status"
  check "long word stdout (${words:0:12}...)" "" "$out"
  check "long word one line (${words:0:12}...)" 1 "$(wc -l <"$tmp/err")"
done
for w in "" $'\xff\xfe' "1.2.3.4 5" $'\xc3\xa9'; do
  for form in "inet X/24" "inet 10.0.0.0/X" "inet6 X/64" "inet X prefixlen 8" "inet 1.2.3.4 netmask X" \
              "inet6 ::1 netmask X" "inet hosts X" "arpa6 X h" "stf inet X" "stf inet6 X" "X" "inet 10.0.0.0 X 8"; do
    args=()
    for part in $form; do args+=("${part//X/$w}"); done
    run "${args[@]}"
    if [ "$status" -eq 0 ]; then
      check "odd word ok has output ($form)" 1 $([ -n "$out" ] && [ -z "$err" ] && echo 1 || echo 0)
    else
      check "odd word status ($form)" 1 "$status"
      check "odd word no output ($form)" "" "$out"
    fi
  done
done

# Lists and batch files: nothing hangs, the same bytes get the same verdict, and standard
# input is read from where the shell left it, as a filter reads it.
got=$(timeout 10 "$prog" merge /dev/zero 2>&1); check "merge /dev/zero status" 1 $?
check "merge /dev/zero message" "maskery: /dev/zero:1: line too long: $(printf '\\x00%.0s' $(seq 80))..." "$got"
got=$(timeout 10 "$prog" batch /dev/zero 2>&1); check "batch /dev/zero status" 1 $?
check "batch /dev/zero message" "maskery: /dev/zero:1: line too long: $(printf '\\x00%.0s' $(seq 80))..." "$got"
got=$( (printf '1.2.3.4\n'; yes x | tr -d '\n') | timeout 10 "$prog" merge 2>&1)
check "endless line" "maskery: -:2: line too long: $(printf 'x%.0s' $(seq 80))..." "$got"
printf '%4096s\n1.2.3.4\n' '' >"$tmp/edge"
got=$(timeout 10 "$prog" merge "$tmp/edge" 2>&1); check "4096 bytes from a file" "1.2.3.4/32" "$got"
got=$( (printf '%4096s' ''; sleep 0.3; printf '\n1.2.3.4\n') | timeout 10 "$prog" merge 2>&1)
check "4096 bytes in two reads" "1.2.3.4/32" "$got"
got=$( (printf '%4097s' ''; sleep 0.3; printf '\n1.2.3.4\n') | timeout 10 "$prog" merge 2>&1)
check "4097 bytes in two reads" "maskery: -:1: line too long: $(printf ' %.0s' $(seq 80))..." "$got"
# A large file (read by two threads when it is a named file) as standard input, part read.
for i in $(seq 0 255); do printf '10.%d.%d.%d\n' $i{,,}; done >"$tmp/head"
for i in $(seq 70); do cat "$tmp/head"; done >"$tmp/big0"
{ echo 1.2.3.4; for i in $(seq 45); do cat "$tmp/big0"; done; } >"$tmp/big"  # about 9 MiB
got=$({ read -r _; timeout 20 "$prog" merge | grep -c '^1\.2\.3\.4/32'; wc -l | tr -d ' '; } <"$tmp/big")
check "standard input from its place" "$(printf '0\n0')" "$got"
got=$({ head -c 1 >/dev/null; timeout 20 "$prog" merge 2>&1 | head -n 1; } <"$tmp/big")
check "standard input a byte in" "maskery: -:1: not an address, prefix or range: .2.3.4" "$got"
got=$({ timeout 20 "$prog" merge | wc -l | tr -d ' '; wc -l | tr -d ' '; } <"$tmp/big")
check "standard input whole" "$(printf '257\n0')" "$got"
# File names in messages are shown escaped, as any untrusted text is.
run merge $'no\x1b[31mfile'
check "escaped file name" 'maskery: no\x1b[31mfile: No such file or directory' "$err"
run merge $'ok\nname'
check "escaped newline in a file name" 'maskery: ok\x0aname: No such file or directory' "$err"

echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
