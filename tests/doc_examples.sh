#!/usr/bin/env bash
# Runs every "$ ..." example in a document's example blocks (Markdown ``` fences or the
# manual's .EX/.EE) and compares what it prints (standard output and standard error
# together) with the lines shown under it. An example is a shell command line in which
# "maskery" is the program under test, so pipes from echo and the like work as shown.
set -u
document=$1 prog=$2
fails=0 passes=0 cmd="" expected="" active=0 roff=0
case $document in *.1 | *.1.in) roff=1 ;; esac

finish() {
  [ "$active" -eq 1 ] || return 0
  actual=$(cd "$(dirname "$document")" && PROG=$prog bash -c "maskery() { \"\$PROG\" \"\$@\"; }; $cmd" 2>&1)
  if [ "$actual" == "$expected" ]; then
    passes=$((passes + 1))
  else
    fails=$((fails + 1))
    printf 'FAIL: %s\n--- document\n%s\n--- program\n%s\n' "$cmd" "$expected" "$actual"
  fi
  active=0
}

while IFS= read -r line; do
  # roff writes a hyphen in a command as \- and a backslash as \e.
  [ "$roff" -eq 1 ] && { line=${line//\\-/-}; line=${line//\\e/\\}; }
  case $line in
    '```'* | .EX | .EE) finish ;;
    '$ '*maskery*)
      finish
      cmd=${line#'$ '} expected="" active=1 ;;
    *) if [ "$active" -eq 1 ]; then expected+=${expected:+$'\n'}$line; fi ;;
  esac
done <"$document"
finish

echo "$passes passed, $fails failed"
[ "$passes" -gt 0 ] && [ "$fails" -eq 0 ]
