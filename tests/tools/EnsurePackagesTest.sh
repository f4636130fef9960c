#!/usr/bin/env bash
# Runs tools/ensure-packages against fake system commands, with every package missing: as root,
# through sudo, for a user whom sudo refuses, and for a user without sudo. Each way, apt-get must
# run (or be printed to run) without questions: DEBIAN_FRONTEND=noninteractive reaches it, and what
# it says goes to the log in the build folder, shown only when installing fails. The script runs
# from a copy of the project's tools folder and the fake commands live in a temporary folder;
# nothing outside it is changed.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/project/tools"
script=$work/project/tools/ensure-packages
cp "$1" "$script"
log=$work/project/build/packages.log
bin=$work/bin
mkdir "$bin"
fake() { # name, shell script body
  printf '#!/bin/sh\n%s\n' "$2" > "$bin/$1"
  chmod +x "$bin/$1"
}
# The few real commands the script needs, reached through wrappers of our own.
real=()
for tool in bash env grep true dirname mkdir tail; do
  real+=("$(type -P "$tool")")
  fake "$tool" "exec '${real[-1]}' \"\$@\""
done
real_stamps=$(stat -L -c '%n %Z %a' "${real[@]}")
# Nothing is installed; apt-get and sudo record what they are asked, and id says who we are.
fake dpkg-query 'exit 1'
# apt-get says what a first install says, a line of progress per package and step, and warns on
# its error output even when all goes well.
fake apt-get "echo \"apt-get \$* with DEBIAN_FRONTEND=\$DEBIAN_FRONTEND\" >> '$work/calls'
for p in one two three; do echo \"Selecting previously unselected package \$p.\"; echo '(Reading database ... 5%'; done
echo 'debconf: delaying package configuration, since apt-utils is not installed' >&2
[ \"\$1\" != install ] || [ ! -e '$work/apt-fails' ] || { echo 'E: Unable to locate package famfamfam-silk' >&2; exit 100; }"
lets_in="echo \"sudo \$*\" >> '$work/calls'; exec \"\$@\""
# What sudo says, in place of the password prompt, to a user who may not use it.
refuses="echo \"sudo \$*\" >> '$work/calls'; echo 'sudo: a password is required' >&2; exit 1"

failures=0
fail() {
  echo "FAILED: $1" >&2
  failures=$((failures + 1))
}
expect() { # what, text, pattern
  if ! grep -qF -- "$3" <<<"$2"; then
    fail "$1: expected \"$3\" in:"
    echo "$2" >&2
  fi
}
refute() { # what, text, pattern
  if grep -qF -- "$3" <<<"$2"; then
    fail "$1: did not expect \"$3\" in:"
    echo "$2" >&2
  fi
}
status=0
run_as() { # uid, sudo (a fake's body, or none), package set; prints what was said and called
  fake id "echo $1"
  rm -f "$bin/sudo" "$work/calls" "$log"
  if [ "$2" != none ]; then fake sudo "$2"; fi
  status=0
  # From the project's folder, as ./run and ./test start it.
  (cd "$work/project" && env -i PATH="$bin" bash tools/ensure-packages "$3") > "$work/said" 2>&1 ||
    status=$?
  cat "$work/said"
  cat "$work/calls" 2>/dev/null || true
}
root_command="DEBIAN_FRONTEND=noninteractive apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends cmake"

run_as 0 "$lets_in" test > "$work/out"; out=$(cat "$work/out")
expect "root" "$out" "apt-get install -y -qq --no-install-recommends cmake"
expect "root" "$out" "with DEBIAN_FRONTEND=noninteractive"
if grep -q "^sudo" <<<"$out"; then fail "root used sudo"; fi
if [ "$status" -ne 0 ]; then fail "root: exit status $status"; fi
# One line on the screen for the whole install; apt-get's own lines only in the log.
said=$(cat "$work/said")
if [ "$(grep -c "" <<<"$said")" -ne 1 ]; then fail "root: more than one line said:"; echo "$said" >&2; fi
expect "root" "$said" "Installing cmake ninja-build"
# The log is named in full, to be found whatever folder the script was started from.
expect "root" "$said" "goes to $log)"
refute "root" "$said" "Selecting previously unselected package"
refute "root" "$said" "Reading database"
refute "root" "$said" "debconf: delaying"
expect "root's log" "$(cat "$log")" "Selecting previously unselected package three."
expect "root's log" "$(cat "$log")" "debconf: delaying package configuration"

# A failed install shows the end of the log and fails.
touch "$work/apt-fails"
run_as 0 "$lets_in" run > "$work/out"; said=$(cat "$work/said")
rm "$work/apt-fails"
expect "failed install" "$said" "Installing the packages failed. The last lines of $log:"
expect "failed install" "$said" "E: Unable to locate package famfamfam-silk"
expect "failed install" "$said" "Selecting previously unselected package three."
expect "failed install's log" "$(cat "$log")" "E: Unable to locate package famfamfam-silk"
# Once, from the log's tail: not also straight from apt-get.
if [ "$(grep -c "E: Unable to locate" <<<"$said")" -ne 1 ]; then
  fail "failed install: apt-get's error not said exactly once:"; echo "$said" >&2
fi
if [ "$status" -eq 0 ]; then fail "failed install: exit status 0"; fi

run_as 1000 "$lets_in" test > "$work/out"; out=$(cat "$work/out")
expect "sudo" "$out" "sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq"
expect "sudo" "$out" "apt-get install -y -qq --no-install-recommends cmake ninja-build"
expect "sudo" "$out" "apt-get update -qq with DEBIAN_FRONTEND=noninteractive"
if [ "$status" -ne 0 ]; then fail "sudo: exit status $status"; fi

# Without sudo, or with a sudo that will not let this user in: the list and the command to hand
# on, and no apt-get.
for what in "no sudo" "sudo refuses"; do
  sudo=none
  [ "$what" = "sudo refuses" ] && sudo=$refuses
  run_as 1000 "$sudo" test > "$work/out"; out=$(cat "$work/out")
  expect "$what" "$out" "These packages are needed and not installed: cmake ninja-build"
  expect "$what" "$out" "$root_command"
  if grep -q "^apt-get" <<<"$out"; then fail "$what: ran apt-get without root"; fi
  refute "$what" "$out" "sudo env"
  refute "$what" "$out" "Installing:"
  if [ "$status" -eq 0 ]; then fail "$what: exit status 0"; fi
done
expect "sudo refuses" "$out" "sudo: a password is required"

# Each task's set: running needs no test or benchmark toolchain.
# task, a package it installs, one it leaves out
while read -r task wanted unwanted; do
  run_as 0 "$lets_in" "$task" > "$work/out"; out=$(cat "$work/out")
  installs=$(grep "^apt-get install" <<<"$out" || true)
  expect "$task" "$installs" " qtbase5-dev "
  expect "$task" "$installs" " $wanted"
  refute "$task" "$installs" " $unwanted"
done <<'EOF'
run famfamfam-silk libgtest-dev
run famfamfam-silk clang
test libgmock-dev libbenchmark-dev
test clang libbenchmark-dev
bench libbenchmark-dev clang
EOF

run_as 0 "$lets_in" "" > "$work/out"; out=$(cat "$work/out")
expect "no task" "$out" "Usage:"
if [ "$status" -eq 0 ]; then fail "no task: exit status 0"; fi
if grep -q "^apt-get" <<<"$out"; then fail "no task: ran apt-get"; fi

if [ "$(stat -L -c '%n %Z %a' "${real[@]}")" != "$real_stamps" ]; then fail "the real commands changed"; fi

exit "$failures"
