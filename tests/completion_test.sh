#!/usr/bin/env bash
# The bash completion, called as bash calls it: the words so far in COMP_WORDS.
set -u
# shellcheck source=/dev/null
source "$1"
fails=0 passes=0

expect() {  # expected completions, then the command line being completed (last word: partial)
  local expected=$1
  shift
  COMP_WORDS=(maskery "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _maskery
  local got="${COMPREPLY[*]}"
  if [ "$got" == "$expected" ]; then
    passes=$((passes + 1))
  else
    fails=$((fails + 1))
    echo "FAIL: maskery $* -> '$got', expected '$expected'"
  fi
}

expect "inet inet6 arpa6 int6 stf --help --version" ""
expect "inet inet6 int6" "in"
expect "int6" "int"
expect "--help" "--h"
expect "hosts" inet ""
expect "inet inet6" stf ""
expect "" arpa6 ""
expect "netmask mask prefixlen" inet 10.0.0.0 ""
expect "netmask prefixlen" inet6 ::1 ""
expect "mask" inet 10.0.0.0 ma
expect "print" inet 10.0.0.0/24 ""
expect "print" inet6 2001:db8::/64 p
expect "" inet hosts ""
expect "" inet 10.0.0.0 netmask ""
expect "print" inet 10.0.0.0 netmask 255.0.0.0 ""
expect "print" inet6 ::1 prefixlen 64 pr
expect "" stf inet ""
complete -p maskery >/dev/null || { echo "FAIL: not registered"; fails=$((fails + 1)); }

echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
