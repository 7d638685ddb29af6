#!/usr/bin/env bash
# cmake --install into a scratch DESTDIR: the program, the manual and the completion land
# where they belong, and the installed program runs.
set -eu
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
DESTDIR=$dest cmake --install "$build" --prefix /usr >/dev/null
for f in usr/bin/maskery usr/share/man/man1/maskery.1.gz usr/share/bash-completion/completions/maskery \
         usr/share/zsh/vendor-completions/_maskery usr/share/fish/vendor_completions.d/maskery.fish \
         usr/share/doc/maskery/copyright usr/share/doc/maskery/changelog.gz; do
  [ -f "$dest/$f" ] || { echo "FAIL: $f not installed"; exit 1; }
done
got=$("$dest/usr/bin/maskery" inet 192.168.1.77/24 | head -n 1)
[ "$got" == "range:       192.168.1.0 > 192.168.1.255" ] || { echo "FAIL: installed program: $got"; exit 1; }
zcat "$dest/usr/share/man/man1/maskery.1.gz" | grep -q '^\.TH MASKERY 1' || { echo "FAIL: manual"; exit 1; }
# Under another prefix, each shell's completion goes where that shell looks for that prefix.
local=$(mktemp -d)
trap 'rm -rf "$dest" "$local"' EXIT
DESTDIR=$local cmake --install "$build" --prefix /usr/local >/dev/null
for f in usr/local/bin/maskery usr/local/share/bash-completion/completions/maskery \
         usr/local/share/zsh/site-functions/_maskery \
         usr/local/share/fish/vendor_completions.d/maskery.fish; do
  [ -f "$local/$f" ] || { echo "FAIL: $f not installed under /usr/local"; exit 1; }
done
echo "1 passed, 0 failed"
