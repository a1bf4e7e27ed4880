# shellcheck shell=bash
# Sourced by scripts/env.sh: picks the Wine that runs the Windows side on
# this machine, and the Windows build that goes with it.
#
#   win32: Debian's 32-bit Wine with the shipped i686 build, where the
#          machine runs 32-bit code;
#   win64: Debian's 64-bit Wine (wine64) with the x86_64 build of the same
#          sources, where it does not (a kernel built or booted without
#          32-bit emulation: every 32-bit program fails with "Exec format
#          error", Wine's 32-bit loader included).
#
# TSDLM_WINE_ARCH=win32|win64 forces one. Otherwise two tiny static programs
# that only exit, one 32-bit and one 64-bit, are run: the 64-bit one is the
# control (a folder that allows no programs says nothing about the kernel).
#
# Sets and exports TSDLM_WINE_ARCH, WINEARCH, TSDLM_WIN_BUILD (i686 or
# x86_64), TSDLM_WINE_WHY (why this Wine) and TSDLM_WINE_BIN, a folder put
# first on PATH whose wine, wineboot and wineserver run that Wine's own
# loader and server. Debian's /usr/bin/wine always takes the 32-bit loader
# once wine32 is installed, whatever WINEARCH says, so nothing here goes
# through it.

# tsdlm_runs_elf BITS DIR: runs the tiny BITS-bit program from DIR.
tsdlm_runs_elf() {
  local file="$2/tsdlm-probe-$1-$$" rc
  if [ "$1" = 32 ]; then
    # ELF32 i386: mov eax, 1; xor ebx, ebx; int 0x80 (exit 0).
    printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\061\333\315\200' >"$file" 2>/dev/null || return 2
  else
    # ELF64 x86-64: mov eax, 60; xor edi, edi; syscall (exit 0).
    printf '\177ELF\002\001\001\000\000\000\000\000\000\000\000\000\002\000\076\000\001\000\000\000\170\000\100\000\000\000\000\000\100\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\100\000\070\000\001\000\000\000\000\000\000\000\001\000\000\000\005\000\000\000\000\000\000\000\000\000\000\000\000\000\100\000\000\000\000\000\000\000\100\000\000\000\000\000\201\000\000\000\000\000\000\000\201\000\000\000\000\000\000\000\000\020\000\000\000\000\000\000\270\074\000\000\000\061\377\017\005' >"$file" 2>/dev/null || return 2
  fi
  chmod 700 "$file"
  ("$file") >/dev/null 2>&1
  rc=$?
  rm -f "$file"
  return "$rc"
}

# tsdlm_detect_wine_arch: sets TSDLM_WINE_ARCH and TSDLM_WINE_WHY.
tsdlm_detect_wine_arch() {
  local dir
  for dir in "${TMPDIR:-/tmp}" "$TSDLM_CACHE_DIR" /dev/shm; do
    mkdir -p "$dir" 2>/dev/null || continue
    tsdlm_runs_elf 64 "$dir" || continue
    if tsdlm_runs_elf 32 "$dir"; then
      TSDLM_WINE_ARCH=win32
      TSDLM_WINE_WHY="this machine runs 32-bit code"
    else
      TSDLM_WINE_ARCH=win64
      TSDLM_WINE_WHY="this machine runs no 32-bit code"
    fi
    return 0
  done
  # No folder lets a program run: say so, and take the shipped build.
  TSDLM_WINE_ARCH=win32
  TSDLM_WINE_WHY="could not tell whether this machine runs 32-bit code (no folder here lets a program run)"
}

if [ -n "${TSDLM_WINE_ARCH:-}" ] && [ -z "${TSDLM_WINE_WHY:-}" ]; then
  TSDLM_WINE_WHY="chosen by TSDLM_WINE_ARCH"
elif [ -z "${TSDLM_WINE_ARCH:-}" ]; then
  tsdlm_detect_wine_arch
fi
case "$TSDLM_WINE_ARCH" in
  win32)
    TSDLM_WIN_BUILD=i686
    _tsdlm_loader=/usr/lib/wine/wine
    _tsdlm_server=/usr/lib/wine/wineserver32
    ;;
  win64)
    TSDLM_WIN_BUILD=x86_64
    _tsdlm_loader=/usr/lib/wine/wine64
    _tsdlm_server=/usr/lib/wine/wineserver64
    ;;
  *)
    echo "TSDLM_WINE_ARCH must be win32 or win64, not '$TSDLM_WINE_ARCH'" >&2
    return 2 2>/dev/null || exit 2
    ;;
esac
export TSDLM_WINE_ARCH TSDLM_WINE_WHY TSDLM_WIN_BUILD
export WINEARCH="$TSDLM_WINE_ARCH"

# tsdlm_wine_label: "x86_64 build under 64-bit Wine (why)", for summaries.
tsdlm_wine_label() {
  local bits=32
  [ "$TSDLM_WINE_ARCH" = win64 ] && bits=64
  printf '%s build under %s-bit Wine (%s)' "$TSDLM_WIN_BUILD" "$bits" "$TSDLM_WINE_WHY"
}

# The commands, made once per loader; the folder's name says what they run.
#
# Wine runs with the kernel's address randomization off where the kernel
# allows it (setarch -R; it is inherited by every program Wine starts).
# Debian's 64-bit loader has no preloader to reserve Windows' fixed
# addresses before the C library starts: the loader is linked at 0x7d000000
# and the kernel puts its heap anywhere in the 1 GiB above it, so about one
# start in some thousands finds its heap over 0x7ffe0000, where every
# Windows process keeps its shared user data page. That process then ends at
# once with exit code 1 and, with Wine's error channel off, nothing on its
# output ("failed to map the shared user data: c0000018"). Without
# randomization the heap starts right above the loader.
_tsdlm_run=
if setarch "$(uname -m)" -R true >/dev/null 2>&1; then
  _tsdlm_run="setarch $(uname -m) -R "
fi
# Named for what they run, so that checkouts of other versions sharing the
# cache never rewrite each other's.
TSDLM_WINE_BIN="$TSDLM_CACHE_DIR/wine-bin-$TSDLM_WINE_ARCH-$(printf '%s' \
  "$_tsdlm_run$_tsdlm_loader $_tsdlm_server" | cksum | cut -d' ' -f1)"
if [ ! -f "$TSDLM_WINE_BIN/.made" ] && mkdir -p "$TSDLM_WINE_BIN" 2>/dev/null; then
  # Written beside and renamed: a script that runs one of them meanwhile
  # sees a whole file.
  for _tsdlm_cmd in "wine:$_tsdlm_run$_tsdlm_loader" \
      "wineboot:$_tsdlm_run$_tsdlm_loader wineboot" "wineserver:$_tsdlm_server"; do
    printf '#!/bin/sh\nexec %s "$@"\n' "${_tsdlm_cmd#*:}" >"$TSDLM_WINE_BIN/.new.$$"
    chmod 755 "$TSDLM_WINE_BIN/.new.$$"
    mv -f "$TSDLM_WINE_BIN/.new.$$" "$TSDLM_WINE_BIN/${_tsdlm_cmd%%:*}"
  done
  touch "$TSDLM_WINE_BIN/.made"
  unset _tsdlm_cmd
fi
case ":$PATH:" in
  *":$TSDLM_WINE_BIN:"*) ;;
  *) export PATH="$TSDLM_WINE_BIN:$PATH" ;;
esac
unset _tsdlm_loader _tsdlm_server _tsdlm_run
export TSDLM_WINE_BIN
