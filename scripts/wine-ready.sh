#!/usr/bin/env bash
# Makes the Wine prefix in WINEPREFIX ready before a program under test runs:
#   scripts/wine-ready.sh DESKTOP_READY_EXE [SECONDS]
# 1. Starts the prefix's wineserver persistent: it, and Wine's helper
#    processes (services, winedevice, the desktop process explorer.exe), then
#    stay until `wineserver -k`, instead of ending and starting again cold
#    between two programs.
# 2. With DISPLAY set: checks that the X server answers, then runs
#    DESKTOP_READY_EXE (tests/fixtures/desktop_ready.c) until a program can
#    create a window, for at most SECONDS (default 120). The first program
#    that asks for the desktop starts explorer.exe and waits only about 10 s
#    for it; on a loaded machine it gives up, gets no display driver, and
#    every window it makes fails. Here that is the warm-up's problem, retried,
#    and never a test's.
# Every Wine program's output goes to a file, never to a pipe: the helper
# processes inherit the output of the program that started them and would
# hold a pipe open (its reader waiting) until the server ends.
# Exits with 0 when ready; with 3, and "environment fault: <cause>" on
# stderr, when the machine cannot provide it.
set -uo pipefail
exe="$1"
limit="${2:-120}"
: "${WINEPREFIX:?WINEPREFIX must be set}"
fault() { echo "environment fault: $*" >&2; exit 3; }

wineserver -p </dev/null >/dev/null 2>&1 || true
[ -n "${DISPLAY:-}" ] || exit 0
[ -f "$exe" ] || { echo "wine-ready: $exe not found (build the mingw preset)" >&2; exit 2; }

if ! xdotool getdisplaygeometry </dev/null >/dev/null 2>&1; then
  fault "the X server on display $DISPLAY does not answer"
fi
out=$(mktemp)
trap 'rm -f "$out"' EXIT
start=$(date +%s)
tries=0
while :; do
  tries=$((tries + 1))
  # err+winediag and err+win name the cause when no window can be made.
  if WINEDEBUG=-all,err+winediag,err+win timeout 90 wine "$exe" </dev/null >"$out" 2>&1; then
    exit 0
  fi
  if [ $(( $(date +%s) - start )) -ge "$limit" ]; then
    fault "no window could be created in prefix $WINEPREFIX on display $DISPLAY" \
      "after $tries tries in ${limit} s (Wine's desktop process did not come up): " \
      "$(grep -v '^$' "$out" | tail -n 5 | tr '\n' ' ')"
  fi
  sleep 1
done
