#!/usr/bin/env bash
# Runs tools/ensure-packages against fake system commands, with every package missing: as root,
# through sudo, and for a user who can do neither. Each way, apt-get must run (or be printed to
# run) without questions: DEBIAN_FRONTEND=noninteractive reaches it.
set -euo pipefail
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bin=$work/bin
mkdir "$bin"
for tool in bash env grep; do ln -s "$(command -v "$tool")" "$bin/$tool"; done
# Nothing is installed; apt-get and sudo record what they are asked, and id says who we are.
printf '#!/bin/sh\nexit 1\n' > "$bin/dpkg-query"
printf '#!/bin/sh\necho "apt-get $* with DEBIAN_FRONTEND=$DEBIAN_FRONTEND" >> "%s/calls"\n' "$work" > "$bin/apt-get"
printf '#!/bin/sh\necho "sudo $*" >> "%s/calls"\nexec "$@"\n' "$work" > "$bin/sudo"
chmod +x "$bin"/*

failures=0
expect() { # what, text, pattern
  if ! grep -qF -- "$3" <<<"$2"; then
    echo "FAILED: $1: expected \"$3\" in:" >&2
    echo "$2" >&2
    failures=$((failures + 1))
  fi
}
run_as() { # uid, with sudo or not; prints what was said and what was called
  printf '#!/bin/sh\necho %s\n' "$1" > "$bin/id"
  chmod +x "$bin/id"
  if [ "$2" = no-sudo ]; then mv "$bin/sudo" "$bin/sudo.off"; fi
  rm -f "$work/calls"
  env -i PATH="$bin" bash "$script" 2>&1 || true
  cat "$work/calls" 2>/dev/null || true
  if [ "$2" = no-sudo ]; then mv "$bin/sudo.off" "$bin/sudo"; fi
}

out=$(run_as 0 sudo)
expect "root" "$out" "apt-get install -y -qq --no-install-recommends cmake"
expect "root" "$out" "with DEBIAN_FRONTEND=noninteractive"
if grep -q "^sudo" <<<"$out"; then echo "FAILED: root used sudo" >&2; failures=$((failures + 1)); fi

out=$(run_as 1000 sudo)
expect "sudo" "$out" "sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq"
expect "sudo" "$out" "apt-get install -y -qq --no-install-recommends cmake ninja-build"
expect "sudo" "$out" "apt-get update -qq with DEBIAN_FRONTEND=noninteractive"

out=$(run_as 1000 no-sudo)
expect "no sudo" "$out" "DEBIAN_FRONTEND=noninteractive apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends cmake"
if grep -q "^apt-get" <<<"$out"; then echo "FAILED: ran apt-get without root" >&2; failures=$((failures + 1)); fi

exit "$failures"
