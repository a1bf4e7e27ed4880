#!/usr/bin/env bash
# Runs a command with a private X server (Xvfb) of its own:
#   scripts/with-display.sh COMMAND [ARGS...]
# The server picks a free display number itself (-displayfd) and reports it
# once it accepts clients, so runs side by side never race for a number as
# `xvfb-run -a` can. Exits with the command's exit code; with 3 and
# "environment fault: ..." on stderr when no X server could be started.
set -uo pipefail
if ! command -v Xvfb >/dev/null 2>&1; then
  echo "environment fault: Xvfb is not installed (scripts/setup.sh installs it)" >&2
  exit 3
fi
numfile=$(mktemp)
Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5>"$numfile" </dev/null >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -f "$numfile"' EXIT
for _ in $(seq 300); do
  grep -q '^[0-9][0-9]*$' "$numfile" 2>/dev/null && break
  kill -0 "$xvfb" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q '^[0-9][0-9]*$' "$numfile" 2>/dev/null; then
  if kill -0 "$xvfb" 2>/dev/null; then
    echo "environment fault: Xvfb gave no display within 30 s" >&2
  else
    wait "$xvfb"
    echo "environment fault: Xvfb exited ($?) before it gave a display" >&2
  fi
  exit 3
fi
export DISPLAY=":$(head -n 1 "$numfile")"
"$@"
