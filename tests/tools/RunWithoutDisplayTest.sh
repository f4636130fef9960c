#!/usr/bin/env bash
# Runs a copy of ./run with a fake tools/ensure-packages that only records being called: without
# any display ./run must say so in one line and stop before installing; with a display, a Wayland
# display or a chosen Qt platform it goes on to the install. Everything lives in a temporary folder.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/project/tools"
cp "$1" "$work/project/run"
# Stops ./run right after the install step, so nothing is built.
printf '#!/bin/sh\necho installing >> "%s/calls"\nexit 42\n' "$work" > "$work/project/tools/ensure-packages"
chmod +x "$work/project/tools/ensure-packages"

failures=0
fail() {
  echo "FAILED: $1" >&2
  failures=$((failures + 1))
}

# what; the variables set; the exit status expected; whether the install is reached
while IFS='|' read -r what vars expected installs; do
  rm -f "$work/calls"
  status=0
  # shellcheck disable=SC2086
  said=$(env -i PATH="$PATH" $vars bash "$work/project/run" 2>&1) || status=$?
  if [ "$status" -ne "$expected" ]; then fail "$what: exit status $status, not $expected"; fi
  if [ "$installs" = yes ] && [ ! -e "$work/calls" ]; then fail "$what: the install was not reached"; fi
  if [ "$installs" = no ]; then
    if [ -e "$work/calls" ]; then fail "$what: installed without a display"; fi
    if [ "$(grep -c "" <<<"$said")" -ne 1 ]; then fail "$what: not one line: $said"; fi
    for word in "graphical session" DISPLAY WAYLAND_DISPLAY; do
      grep -qF "$word" <<<"$said" || fail "$what: \"$word\" not said in: $said"
    done
  fi
done <<'EOF_CASES'
no display|HOME=/nonexistent|1|no
empty display variables|DISPLAY= WAYLAND_DISPLAY= QT_QPA_PLATFORM=|1|no
an X display|DISPLAY=:0|42|yes
a Wayland display|WAYLAND_DISPLAY=wayland-0|42|yes
a chosen Qt platform|QT_QPA_PLATFORM=offscreen|42|yes
EOF_CASES

exit "$failures"
