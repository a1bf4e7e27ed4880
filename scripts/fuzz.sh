#!/usr/bin/env bash
# Runs every libFuzzer target (Clang, ASan, UBSan) for a chosen time on a copy
# of its seed corpus and reports executions and coverage per target:
#   scripts/fuzz.sh [SECONDS-PER-TARGET] [TARGET...]
# New inputs found are kept in build/fuzz-corpus/<target>; crashes, leaks and
# sanitizer reports make the run fail and stay in build/fuzz-findings/.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
cd "$TSDLM_ROOT"

SECONDS_EACH="${1:-60}"
shift || true
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j "${TSDLM_JOBS:-2}" >/dev/null || exit 1

targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
  for fuzzer in build/fuzz/tests/fuzz/*_fuzz; do
    [ -x "$fuzzer" ] && targets+=("$(basename "$fuzzer")")
  done
fi

failed=0
printf '%-24s %12s %8s %8s  %s\n' target executions cov ft result
for name in "${targets[@]}"; do
  corpus="build/fuzz-corpus/$name"
  findings="build/fuzz-findings/$name"
  mkdir -p "$corpus" "$findings"
  [ -d "tests/fuzz/corpus/$name" ] && cp -rn "tests/fuzz/corpus/$name/." "$corpus/"
  log="build/fuzz-findings/$name.log"
  if "build/fuzz/tests/fuzz/$name" -max_total_time="$SECONDS_EACH" -print_final_stats=1 \
      -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1; then
    result=clean
  else
    result="FINDING (see $log)"
    failed=$((failed + 1))
  fi
  executions=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -n 1 | awk '{print $2}')
  ft=$(grep -oE 'ft: [0-9]+' "$log" | tail -n 1 | awk '{print $2}')
  printf '%-24s %12s %8s %8s  %s\n' "$name" "${executions:-?}" "${cov:-?}" "${ft:-?}" "$result"
done
[ "$failed" -eq 0 ]
