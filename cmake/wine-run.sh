#!/usr/bin/env bash
# ctest's emulator for the Windows test programs: runs one under Wine and
# turns its console's CR LF line ends into LF, so that test discovery and
# result parsing see the same text as natively.
# The program writes to files, not into a pipe: Wine's helper processes
# inherit the output of the program that starts them and would keep a pipe
# (and ctest reading it) open until the wineserver ends.
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
wine "$@" </dev/null >"$out" 2>"$err"
rc=$?
tr -d '\r' <"$out"
tr -d '\r' <"$err" >&2
exit "$rc"
