#!/usr/bin/env bash
# Runs every libFuzzer target (Clang, ASan, UBSan) for a chosen time on a copy
# of its seed corpus and reports executions and coverage per target:
#   scripts/fuzz.sh [SECONDS-PER-TARGET] [TARGET...]
# Every tests/fuzz/*_fuzz.cpp is a target; without TARGETs all of them run.
# One input that runs longer than TSDLM_FUZZ_INPUT_TIMEOUT seconds (default
# 10) is a finding, as are crashes, leaks and sanitizer reports. A target
# that was not built or ran no input fails the run too: the run passes only
# when every target ran clean.
# New inputs are kept in TSDLM_FUZZ_CORPUS/<target> (default
# build/fuzz-corpus); findings and logs stay in TSDLM_FUZZ_FINDINGS/<target>
# (default build/fuzz-findings). scripts/test.sh points both elsewhere.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
cd "$TSDLM_ROOT"

SECONDS_EACH="${1:-60}"
shift || true
INPUT_TIMEOUT="${TSDLM_FUZZ_INPUT_TIMEOUT:-10}"
CORPUS_ROOT="${TSDLM_FUZZ_CORPUS:-build/fuzz-corpus}"
FINDINGS_ROOT="${TSDLM_FUZZ_FINDINGS:-build/fuzz-findings}"
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j "${TSDLM_JOBS:-2}" >/dev/null || exit 1

targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
  for source in tests/fuzz/*_fuzz.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi

failed=0
clean=0
printf '%-24s %12s %8s %8s  %s\n' target executions cov ft result
for name in "${targets[@]}"; do
  fuzzer="build/fuzz/tests/fuzz/$name"
  corpus="$CORPUS_ROOT/$name"
  findings="$FINDINGS_ROOT/$name"
  mkdir -p "$corpus" "$findings"
  [ -d "tests/fuzz/corpus/$name" ] && cp -rn "tests/fuzz/corpus/$name/." "$corpus/"
  log="$FINDINGS_ROOT/$name.log"
  if [ ! -x "$fuzzer" ]; then
    echo "$fuzzer was not built" >"$log"
    result="NOT BUILT"
  elif "$fuzzer" -max_total_time="$SECONDS_EACH" -timeout="$INPUT_TIMEOUT" \
      -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1; then
    result=clean
  else
    result="FINDING (see $log)"
  fi
  executions=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
  if [ "$result" = clean ] && [ "${executions:-0}" -eq 0 ]; then
    result="RAN NO INPUT (see $log)"
  fi
  if [ "$result" = clean ]; then clean=$((clean + 1)); else failed=$((failed + 1)); fi
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -n 1 | awk '{print $2}')
  ft=$(grep -oE 'ft: [0-9]+' "$log" | tail -n 1 | awk '{print $2}')
  printf '%-24s %12s %8s %8s  %s\n' "$name" "${executions:-?}" "${cov:-?}" "${ft:-?}" "$result"
done
echo "fuzz: $clean of ${#targets[@]} targets ran clean, $failed failed"
[ "$failed" -eq 0 ] && [ "$clean" -eq "${#targets[@]}" ] && [ "$clean" -gt 0 ]
