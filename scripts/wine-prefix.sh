#!/usr/bin/env bash
# Prints the path of a Wine prefix ready for tests, making it when missing:
#   scripts/wine-prefix.sh DIR
# A template prefix is kept in the cache (keyed by the Wine version, its
# architecture and this recipe) and copied to DIR, which is replaced if it
# exists.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
target="$1"
recipe_hash=$(sha256sum "${BASH_SOURCE[0]}" | cut -c1-12)
key="$(wine --version | tr ' ()' '_')-$TSDLM_WINE_ARCH-$recipe_hash"
template="$TSDLM_CACHE_DIR/wine-ctest-$key"
mkdir -p "$TSDLM_CACHE_DIR"
(
  flock 9
  if [ ! -f "$template/.complete" ]; then
    rm -rf "$template.tmp"
    WINEPREFIX="$template.tmp" wineboot -i >/dev/null 2>&1
    # Direct connection, no automatic proxy detection: no test may look for
    # WPAD beyond this machine.
    WINEPREFIX="$template.tmp" wine reg add \
      'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections' \
      /v DefaultConnectionSettings /t REG_BINARY /f \
      /d 4600000001000000010000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000 \
      >/dev/null 2>&1
    WINEPREFIX="$template.tmp" wineserver -w
    rm -rf "$template"
    mv "$template.tmp" "$template"
    touch "$template/.complete"
  fi
) 9>"$TSDLM_CACHE_DIR/wine-ctest.lock"
rm -rf "$target"
mkdir -p "$(dirname "$target")"
cp -a "$template" "$target"
echo "$target"
