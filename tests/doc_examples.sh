#!/usr/bin/env bash
# Runs every "$ maskery ..." example in a document's example blocks (Markdown ``` fences or
# the manual's .EX/.EE) and compares what the program prints (standard output and standard
# error together) with the lines shown under it.
set -u
document=$1 prog=$2
fails=0 passes=0 args="" expected="" active=0

finish() {
  [ "$active" -eq 1 ] || return 0
  # shellcheck disable=SC2086 # the example's words are split as a shell would split them
  actual=$("$prog" $args 2>&1)
  if [ "$actual" == "$expected" ]; then
    passes=$((passes + 1))
  else
    fails=$((fails + 1))
    printf 'FAIL: maskery %s\n--- document\n%s\n--- program\n%s\n' "$args" "$expected" "$actual"
  fi
  active=0
}

while IFS= read -r line; do
  case $line in
    '```'* | .EX | .EE) finish ;;
    '$ maskery'*)
      finish
      args=${line#'$ maskery'} expected="" active=1 ;;
    *) if [ "$active" -eq 1 ]; then expected+=${expected:+$'\n'}$line; fi ;;
  esac
done <"$document"
finish

echo "$passes passed, $fails failed"
[ "$passes" -gt 0 ] && [ "$fails" -eq 0 ]
