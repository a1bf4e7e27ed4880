#!/usr/bin/env bash
# ctest's emulator for the Windows test programs: runs one under Wine and
# turns its console's CR LF line ends into LF, so that test discovery and
# result parsing see the same text as natively.
wine "$@" | tr -d '\r'
exit "${PIPESTATUS[0]}"
