#!/usr/bin/env bash
# Builds the shipped files, plus the Windows tests and fixtures, for each
# architecture in TSDLM_ARCHS (words i686, x86_64; default i686):
#   i686    the shipped 32-bit build: dist/ (TsDLMUpdater.exe, UsageUtil.dll,
#           the proxy manager DLL and its header), build folder build/mingw;
#   x86_64  the same sources for 64-bit Wine: dist/x86_64/, build folder
#           build/mingw-x86_64.
# Warnings are errors in both (the presets say so).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
cd "$TSDLM_ROOT"
ARCHS=$(printf '%s\n' ${TSDLM_ARCHS:-i686} | awk '!seen[$0]++')
for arch in $ARCHS; do
  case $arch in
    i686 | x86_64) ;;
    *) echo "build: TSDLM_ARCHS takes i686 and x86_64, not \"$arch\"" >&2; exit 2 ;;
  esac
  deps=$(tsdlm_deps_of "$arch")
  if [ -z "$deps" ] || [ ! -f "$deps/.complete" ]; then
    TSDLM_ARCHS="$ARCHS" bash scripts/setup.sh
    source scripts/env.sh
  fi
done
for arch in $ARCHS; do
  preset=mingw
  dist=dist
  if [ "$arch" = x86_64 ]; then preset=mingw-x86_64; dist=dist/x86_64; fi
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "${TSDLM_JOBS:-2}"
  echo "build: $arch: shipped files in $TSDLM_ROOT/$dist:"
  ls -l "$dist"/
done
