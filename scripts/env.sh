# Sourced by the other scripts: where caches live and which tools to use.
# Caches stay outside the clone so that a fresh clone reuses them.
TSDLM_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export TSDLM_ROOT
export TSDLM_CACHE_DIR="${TSDLM_CACHE_DIR:-/var/cache/tsdlm}"
# Debian's python3 has python3-pytest; a python earlier on PATH may not.
export TSDLM_PYTHON="${TSDLM_PYTHON:-/usr/bin/python3}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win32
# Wine copies these into WinHTTP's default proxy: keep them out of every
# test. scripts/setup.sh still hands the caller's values to apt-get, from
# TSDLM_APT_<name>.
for _tsdlm_v in http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY; do
  if [ -n "${!_tsdlm_v:-}" ]; then export "TSDLM_APT_$_tsdlm_v=${!_tsdlm_v}"; fi
  unset "$_tsdlm_v"
done
unset _tsdlm_v
if [ -f "$TSDLM_CACHE_DIR/mingw-deps.current" ]; then
  TSDLM_MINGW_DEPS="$(cat "$TSDLM_CACHE_DIR/mingw-deps.current")"
  export TSDLM_MINGW_DEPS
fi
