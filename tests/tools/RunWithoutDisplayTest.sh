#!/usr/bin/env bash
# Runs a copy of ./run with a fake tools/ensure-packages, cmake and client that only record being
# called: without any display ./run must say so in one line and stop before installing; with a
# display, a Wayland display or a chosen Qt platform it installs, builds and starts the client,
# on Wayland's own platform when no X display is there to fall back on. Everything lives in a
# temporary folder.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/project/tools" "$work/project/build/release/src/shell" "$work/bin"
cp "$1" "$work/project/run"
record() { # file, what it records
  printf '#!/bin/sh\n%s\n' "$2" > "$1"
  chmod +x "$1"
}
record "$work/project/tools/ensure-packages" "echo installing >> '$work/calls'"
record "$work/bin/cmake" "echo building >> '$work/calls'"
record "$work/project/build/release/src/shell/TarnwickQt" \
  "echo \"started on '\${QT_QPA_PLATFORM-}'\" >> '$work/calls'; exit 42"

failures=0
fail() {
  echo "FAILED: $1" >&2
  failures=$((failures + 1))
}

# what; the variables set; the exit status expected; whether the install is reached; the Qt
# platform the client is started with, or "-" when it must not start
while IFS='|' read -r what vars expected installs platform; do
  rm -f "$work/calls"
  status=0
  # shellcheck disable=SC2086
  said=$(env -i PATH="$work/bin:$PATH" $vars bash "$work/project/run" 2>&1) || status=$?
  calls=$(cat "$work/calls" 2>/dev/null || true)
  if [ "$status" -ne "$expected" ]; then fail "$what: exit status $status, not $expected"; fi
  if [ "$installs" = yes ] && ! grep -qx installing <<<"$calls"; then
    fail "$what: the install was not reached"
  fi
  if [ "$platform" = - ]; then
    if [ -n "$calls" ]; then fail "$what: went on without a display: $calls"; fi
  elif ! grep -qxF "started on '$platform'" <<<"$calls"; then
    fail "$what: the client was not started on '$platform': $calls"
  fi
  if [ "$installs" = no ]; then
    if [ "$(grep -c "" <<<"$said")" -ne 1 ]; then fail "$what: not one line: $said"; fi
    for word in "graphical session" DISPLAY WAYLAND_DISPLAY; do
      grep -qF "$word" <<<"$said" || fail "$what: \"$word\" not said in: $said"
    done
  fi
done <<'EOF_CASES'
no display|HOME=/nonexistent|1|no|-
empty display variables|DISPLAY= WAYLAND_DISPLAY= QT_QPA_PLATFORM=|1|no|-
an X display|DISPLAY=:0|42|yes|
a Wayland display alone|WAYLAND_DISPLAY=wayland-0|42|yes|wayland
a Wayland display and an empty X display|DISPLAY= WAYLAND_DISPLAY=wayland-0|42|yes|wayland
a Wayland display with X beside it|DISPLAY=:0 WAYLAND_DISPLAY=wayland-0|42|yes|
a Wayland display and a chosen Qt platform|WAYLAND_DISPLAY=wayland-0 QT_QPA_PLATFORM=xcb|42|yes|xcb
a chosen Qt platform|QT_QPA_PLATFORM=offscreen|42|yes|offscreen
EOF_CASES

exit "$failures"
