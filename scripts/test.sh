#!/usr/bin/env bash
# Runs every test: native unit tests (plain and under ASan/UBSan), short
# fuzzing runs, the mingw builds (i686 and x86_64, warnings as errors), the
# Windows tests under Wine and the end-to-end tests under Wine and Xvfb.
# The Windows side runs the i686 build under 32-bit Wine where this machine
# runs 32-bit code, the x86_64 build under 64-bit Wine where it does not
# (scripts/wine-select.sh; TSDLM_WINE_ARCH=win32|win64 forces one).
# Prints one summary at the end and exits non-zero when any suite fails.
# Full logs: build/test-logs/.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
cd "$TSDLM_ROOT"

JOBS="${TSDLM_JOBS:-2}"
FUZZ_SECONDS="${TSDLM_FUZZ_SECONDS:-10}"
LOGDIR="$TSDLM_ROOT/build/test-logs"
mkdir -p "$LOGDIR"
T0=$(date +%s)

export TSDLM_ARCHS="i686 x86_64"
echo "test: Windows tests: $(tsdlm_wine_label)"
if ! bash scripts/setup.sh; then
  echo "test: environment fault: setup failed (its last line above names the cause); no test ran" >&2
  exit 1
fi
source scripts/env.sh

SUMMARY=()
TOTAL_PASSED=0
TOTAL_FAILED=0
FAILED_SUITES=0

# record NAME RC PASSED FAILED CLOSING-LINE SECONDS
record() {
  local name=$1 rc=$2 passed=$3 failed=$4 closing=$5 seconds=$6
  TOTAL_PASSED=$((TOTAL_PASSED + passed))
  TOTAL_FAILED=$((TOTAL_FAILED + failed))
  local verdict=ok
  if [ "$rc" -ne 0 ] || [ "$failed" -ne 0 ]; then
    verdict=FAILED
    FAILED_SUITES=$((FAILED_SUITES + 1))
  fi
  SUMMARY+=("$(printf '%-12s %-6s %5d passed %4d failed %5ss  | %s' \
    "$name" "$verdict" "$passed" "$failed" "$seconds" "$closing")")
  echo "test: $name: $verdict ($passed passed, $failed failed, ${seconds}s)"
  if [ "$verdict" = FAILED ]; then
    echo "---- last lines of $LOGDIR/$name.log ----"
    tail -n 60 "$LOGDIR/$name.log"
    echo "----"
  fi
}

# Runs a ctest-based suite: NAME then the commands (joined with &&).
ctest_suite() {
  local name=$1 script=$2 start rc line passed failed total
  start=$(date +%s)
  echo "test: $name ..."
  bash -c "set -euo pipefail; $script" >"$LOGDIR/$name.log" 2>&1
  rc=$?
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$LOGDIR/$name.log" | tail -n 1)
  failed=$(sed -nE 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/p' <<<"$line")
  total=$(sed -nE 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/p' <<<"$line")
  failed=${failed:-0}
  total=${total:-0}
  passed=$((total - failed))
  if [ "$rc" -ne 0 ] && [ -z "$line" ]; then line="(did not reach the test runner, exit $rc)"; fi
  if [ "$total" -eq 0 ] && [ "$rc" -eq 0 ]; then rc=1; line="no test ran"; fi
  record "$name" "$rc" "$passed" "$failed" "$line" $(( $(date +%s) - start ))
}

# The layout of the C and C++ sources (.clang-format), file by file.
start=$(date +%s)
echo "test: format ..."
bash scripts/format.sh >"$LOGDIR/format.log" 2>&1
rc=$?
line=$(grep -E '^format: [0-9]+ of [0-9]+ files' "$LOGDIR/format.log" | tail -n 1)
good=$(sed -nE 's/^format: ([0-9]+) of ([0-9]+) .*/\1/p' <<<"$line")
all=$(sed -nE 's/^format: ([0-9]+) of ([0-9]+) .*/\2/p' <<<"$line")
record format "$rc" "${good:-0}" "$(( ${all:-0} - ${good:-0} ))" \
  "${line:-did not run (exit $rc)}" $(( $(date +%s) - start ))

ctest_suite native "cmake --preset native && cmake --build --preset native -j $JOBS && ctest --preset native -j $JOBS"
ctest_suite native-asan "cmake --preset native-asan && cmake --build --preset native-asan -j $JOBS && ctest --preset native-asan -j $JOBS"

# Fuzzers: every target briefly on a copy of its seed corpus (so runs do not
# grow the repository's corpus), each input limited in time; scripts/fuzz.sh
# fails when a target was not built, ran nothing or found something.
fuzz_suite() {
  local start rc work line clean total
  start=$(date +%s)
  echo "test: fuzz ..."
  work=$(mktemp -d)
  TSDLM_FUZZ_CORPUS="$work" TSDLM_FUZZ_FINDINGS="$LOGDIR/fuzz" \
    bash scripts/fuzz.sh "$FUZZ_SECONDS" >"$LOGDIR/fuzz.log" 2>&1
  rc=$?
  rm -rf "$work"
  line=$(grep -E '^fuzz: [0-9]+ of [0-9]+ targets' "$LOGDIR/fuzz.log" | tail -n 1)
  clean=$(sed -nE 's/^fuzz: ([0-9]+) of ([0-9]+) .*/\1/p' <<<"$line")
  total=$(sed -nE 's/^fuzz: ([0-9]+) of ([0-9]+) .*/\2/p' <<<"$line")
  record fuzz "$rc" "${clean:-0}" "$(( ${total:-0} - ${clean:-0} ))" \
    "${line:-did not reach the fuzzers (exit $rc)}" $(( $(date +%s) - start ))
}
fuzz_suite

# The Windows builds, both architectures whatever Wine runs here, so that
# the code stays clean on both; everything after it needs their output.
start=$(date +%s)
echo "test: mingw build ..."
if bash scripts/build.sh >"$LOGDIR/mingw-build.log" 2>&1; then
  record mingw-build 0 0 0 "i686 (dist/) and x86_64 (dist/x86_64/) built" $(( $(date +%s) - start ))
  BUILT=1
else
  record mingw-build 1 0 0 "build failed" $(( $(date +%s) - start ))
  BUILT=0
fi

if [ "$BUILT" -eq 1 ]; then
  # Windows unit and platform tests through ctest's Wine emulator, in a
  # prefix of their own with a persistent wineserver and a virtual display.
  # scripts/wine-ready.sh starts Wine's helper processes and its desktop
  # before ctest runs, on the tests' display (a desktop process started
  # without one keeps every later window from being created), and waits
  # until a program can create a window; cmake/wine-run.sh sends each test's
  # output through a file, which helpers cannot hold open.
  if [ "$TSDLM_WIN_BUILD" = x86_64 ]; then preset=mingw-x86_64; else preset=mingw; fi
  ctest_suite wine "export WINEPREFIX=\$(scripts/wine-prefix.sh '$TSDLM_ROOT/build/$preset/wineprefix') && scripts/with-display.sh bash -c 'trap \"wineserver -k || true\" EXIT && scripts/wine-ready.sh build/$preset/tests/fixtures/desktop_ready.exe && ctest --preset $preset -j $JOBS'"

  start=$(date +%s)
  echo "test: e2e ..."
  # The tests run in JOBS worker processes; each test has its own prefix and
  # servers, each worker its own virtual display. A failed test is not run
  # again: one failure fails the suite.
  (cd tests/e2e && "$TSDLM_PYTHON" -m pytest -p no:cacheprovider -p no:rerunfailures \
     -q -rfER -n "$JOBS") \
    >"$LOGDIR/e2e.log" 2>&1
  rc=$?
  line=$(grep -E '^=*.*(passed|failed|error|no tests ran).* in [0-9.]+s' "$LOGDIR/e2e.log" | tail -n 1 | sed 's/=//g; s/^ *//; s/ *$//')
  passed=$(grep -oE '[0-9]+ passed' <<<"$line" | awk '{print $1}')
  failed=$(grep -oE '[0-9]+ (failed|error)' <<<"$line" | awk '{s+=$1} END {print s+0}')
  passed=${passed:-0}
  # pytest exits 5 when it collected nothing: that is a failure here.
  if [ "$rc" -eq 5 ]; then line="no tests ran"; fi
  # Environment faults (no X server, no Wine desktop) are errors of their own.
  faults=$(sed -nE 's/^([0-9]+) environment fault\(s\).*/\1/p' "$LOGDIR/e2e.log" | tail -n 1)
  if [ -n "$faults" ]; then line="$line; $faults of them environment faults, see the log"; fi
  record e2e "$rc" "$passed" "$failed" "${line:-no summary (exit $rc)}" $(( $(date +%s) - start ))
fi

echo
echo "==================== summary ===================="
for row in "${SUMMARY[@]}"; do echo "$row"; done
echo "Windows tests: $(tsdlm_wine_label)"

echo "wall time: $(( $(date +%s) - T0 ))s; logs in $LOGDIR"
if [ "$FAILED_SUITES" -ne 0 ]; then
  echo "test: $FAILED_SUITES suite(s) failed"
fi
echo "$TOTAL_PASSED passed, $TOTAL_FAILED failed"
[ "$FAILED_SUITES" -eq 0 ]
