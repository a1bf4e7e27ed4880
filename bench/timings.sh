#!/usr/bin/env bash
# Wine timings of the shipped programs: a run that finds no update against a
# trivial program (bench/startup.py), and the proxy lookup (bench/proxy_lookup.py).
#
#   bench/timings.sh [startup|proxy]...   (default: both)
#
# Settings: see bench/common.sh; BENCH_ROUNDS (default: each script's own).
# shellcheck source=bench/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
build_mingw TsDLMUpdater UsageUtil TsrnProxyManager trivial imports_only proxy_lookup_win \
  sleeper version_6_1_32_0
export MINGW_BUILD DIST_DIR BENCH_DIR
ROUNDS=()
[ -z "${BENCH_ROUNDS:-}" ] || ROUNDS=(--rounds "$BENCH_ROUNDS")
for what in "${@:-startup proxy}"; do
  for one in $what; do
    case $one in
      startup) "$TSDLM_PYTHON" "$ROOT/bench/startup.py" "${ROUNDS[@]}" ;;
      proxy) "$TSDLM_PYTHON" "$ROOT/bench/proxy_lookup.py" "${ROUNDS[@]}" ;;
      *) echo "timings.sh: startup or proxy, not $one" >&2; exit 2 ;;
    esac
  done
done
