# Sourced by the other scripts: where caches live, which tools to use, and
# which Wine (and so which Windows build) runs the Windows side here.
# Caches stay outside the clone so that a fresh clone reuses them.
TSDLM_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export TSDLM_ROOT
export TSDLM_CACHE_DIR="${TSDLM_CACHE_DIR:-/var/cache/tsdlm}"
# Debian's python3 has python3-pytest; a python earlier on PATH may not.
export TSDLM_PYTHON="${TSDLM_PYTHON:-/usr/bin/python3}"
export WINEDEBUG="${WINEDEBUG:--all}"
# Wine copies these into WinHTTP's default proxy: keep them out of every
# test. scripts/setup.sh still hands the caller's values to apt-get, from
# TSDLM_APT_<name>.
for _tsdlm_v in http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY; do
  if [ -n "${!_tsdlm_v:-}" ]; then export "TSDLM_APT_$_tsdlm_v=${!_tsdlm_v}"; fi
  unset "$_tsdlm_v"
done
unset _tsdlm_v

# tsdlm_deps_of ARCH: the prefix of the mingw dependencies scripts/setup.sh
# built for ARCH (i686 or x86_64), or nothing.
tsdlm_deps_of() {
  cat "$TSDLM_CACHE_DIR/mingw-deps-$1.current" 2>/dev/null || true
}
# Read by cmake/toolchain-mingw-*.cmake.
TSDLM_MINGW_DEPS_I686="$(tsdlm_deps_of i686)"
TSDLM_MINGW_DEPS_X86_64="$(tsdlm_deps_of x86_64)"
export TSDLM_MINGW_DEPS_I686 TSDLM_MINGW_DEPS_X86_64

# shellcheck source=scripts/wine-select.sh
source "$TSDLM_ROOT/scripts/wine-select.sh"
