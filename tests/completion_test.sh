#!/usr/bin/env bash
# The completions as users meet them: an interactive bash or zsh in tmux (type, press Tab,
# read the screen), and fish's own `complete -C`. Exit status 77 (skipped) when the shell
# or tmux is missing.
#   completion_test.sh bash|zsh|fish COMPLETIONS_DIR
set -u
shell=$1 dir=$(cd "$2" && pwd)
fails=0 passes=0

command -v "$shell" >/dev/null || { echo "SKIP: $shell is not installed"; exit 77; }

check() {  # what, expected, actual
  if [ "$2" == "$3" ]; then
    passes=$((passes + 1))
  else
    fails=$((fails + 1))
    printf 'FAIL %s\n  expected: %q\n  actual:   %q\n' "$1" "$2" "$3"
  fi
}

# Lines typed, and the line as it stands after one Tab: each case a unique completion, so
# the line itself shows the answer.
cases=(
  "maskery zo|maskery zones "
  "maskery --json ar|maskery --json arpa"
  "maskery inet6 2001:db8:: pr|maskery inet6 2001:db8:: prefixlen "
  "maskery inet6 2001:db8::1 prefixlen 64 p|maskery inet6 2001:db8::1 prefixlen 64 print "
  "maskery inet 10.0.0.0 prefixlen 8 p|maskery inet 10.0.0.0 prefixlen 8 print "
  "maskery inet6 fe80::1/64 p|maskery inet6 fe80::1/64 print "
  "maskery inet 10.0.0.0 ma|maskery inet 10.0.0.0 mask "
  "maskery inet h|maskery inet hosts "
  "maskery stf inet6|maskery stf inet6 "
  "maskery zones inet 192.0.2.64/26 c|maskery zones inet 192.0.2.64/26 cnames "
  "maskery zones inet 192.0.2.64/26 cnames rfc4|maskery zones inet 192.0.2.64/26 cnames rfc4183 "
  "maskery zones inet6 2001:db8:: pre|maskery zones inet6 2001:db8:: prefixlen "
  "maskery merge --r|maskery merge --ranges "
  "maskery merge --co|maskery merge --common "
  "maskery grep --wh|maskery grep --which "
  "maskery grep --in $dir/maskery.b|maskery grep --in $dir/maskery.bash "
  "maskery split inet6 2001:db8::/32 h|maskery split inet6 2001:db8::/32 hosts "
  "maskery spl|maskery split "
  "maskery merge --except $dir/maskery.b|maskery merge --except $dir/maskery.bash "
)

if [ "$shell" = fish ]; then
  # fish lists the candidates of a line; the last word of the line is the one completed.
  list() { fish --no-config -c "source $dir/maskery.fish; complete -C '$1'" | cut -f1 | tr '\n' ' '; }
  check "first words" "--help --json --version arpa4 arpa6 batch contains grep inet inet6 int6 merge split stf zones " \
    "$(list 'maskery ' | tr ' ' '\n' | LC_ALL=C sort | tr '\n' ' ' | sed 's/^ //')"
  for c in "${cases[@]}"; do
    typed=${c%%|*} want=${c#*|}
    last=${want##* }
    [ -z "$last" ] && { last=${want% }; last=${last##* }; }
    got=$(list "$typed")
    check "fish: $typed" 1 "$([[ " $got " == *" $last "* || " $got " == *" ${want##* }"* ]] && echo 1 || echo 0)"
  done
  check "fish: no second print" "" "$(list 'maskery inet 10.0.0.0 prefixlen 8 print ')"
  check "fish: IPv6 keyword position" "netmask prefixlen " "$(list 'maskery inet6 2001:db8:: ')"
  echo "$passes passed, $fails failed"
  [ "$fails" -eq 0 ]
  exit
fi

command -v tmux >/dev/null || { echo "SKIP: tmux is not installed"; exit 77; }
sock="maskery-completion-$$"
trap 'tmux -L "$sock" kill-server 2>/dev/null' EXIT
case $shell in
  bash) tmux -L "$sock" new-session -d -x 220 -y 20 "env -i HOME=/tmp TERM=xterm PS1='> ' bash --norc --noprofile"
        setup="source $dir/maskery.bash" ;;
  zsh) tmux -L "$sock" new-session -d -x 220 -y 20 "env -i HOME=/tmp TERM=xterm zsh -f"
       setup="PS1='> '; fpath=($dir \$fpath); autoload -Uz compinit; compinit -u -D" ;;
esac
# The text of the line the cursor is on, without the prompt.
line_now() {
  local y
  y=$(tmux -L "$sock" display-message -p '#{cursor_y}')
  tmux -L "$sock" capture-pane -p | sed -n "$((y + 1))p" | sed 's/^> \{0,1\}//; s/[[:space:]]*$//'
}

# Waits (up to 10 s) until the cursor's line ends in the marker: the shell reads its input in
# order, so by then every key before the marker has been handled. No fixed sleeps to tune.
wait_marker() {
  for _ in $(seq 200); do
    [[ $(line_now) == *"$1" ]] && return 0
    sleep 0.05
  done
  return 1
}

# The shell's first prompt, before any key: a shell may drop what is typed while it starts.
for _ in $(seq 200); do
  [ -n "$(tmux -L "$sock" capture-pane -p | tr -d '[:space:]')" ] && break
  sleep 0.05
done
tmux -L "$sock" send-keys "$setup" Enter
tmux -L "$sock" send-keys -l "ready@"
wait_marker "ready@" || { echo "FAIL: the $shell prompt never came"; exit 1; }
tmux -L "$sock" send-keys C-e C-u

# Waits (up to limit tenths of a second) while the cursor's line is still the given text.
wait_change() {
  for _ in $(seq "$2"); do
    [ "$(line_now)" != "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

complete_line() {  # typed text, number of Tabs: the line afterwards, with its final blank kept
  tmux -L "$sock" send-keys -l "$1"
  wait_marker "${1: -1}"
  # One key at a time, each once the shell has shown the last: zsh takes a Tab that arrives
  # with more keys queued behind it as a literal tab, as it would from a paste.
  for _ in $(seq "$2"); do
    local before
    before=$(line_now)
    tmux -L "$sock" send-keys Tab
    wait_change "$before" 10
  done
  # A marker shows where the line ends, so a trailing blank is seen.
  tmux -L "$sock" send-keys -l "@"
  wait_marker "@"
  local got
  got=$(line_now)
  tmux -L "$sock" send-keys C-e C-u
  wait_change "$got" 100
  echo "${got%@}"
}

for c in "${cases[@]}"; do
  typed=${c%%|*} want=${c#*|}
  check "$shell: $typed" "$want" "$(complete_line "$typed" 1)"
done
# Pressing Tab again after print offers nothing more, so the line stays as it is.
check "$shell: no second print" "maskery inet 10.0.0.0 prefixlen 8 print " \
  "$(complete_line "maskery inet 10.0.0.0 prefixlen 8 p" 3)"

echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
