# shellcheck shell=bash
# Shared by the bench scripts (sourced): settings, builds, the random data
# files, the loopback file server and the transfer runners.
#
# Environment: BENCH_DIR (scratch folder, default /tmp/tsdlm-bench),
# BENCH_REPS (default 3), BENCH_OUT_DIR (where the transfers write; /dev/shm
# takes the disk out of the figures), NATIVE_BUILD / MINGW_BUILD / DIST_DIR
# (build folders, default build/bench-*), BENCH_WINE (0: native part only),
# JOBS (default 2).
set -Eeuo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/env.sh
source "$ROOT/scripts/env.sh"

BENCH_DIR="${BENCH_DIR:-/tmp/tsdlm-bench}"
# shellcheck disable=SC2034  # used by the scripts that source this
REPS="${BENCH_REPS:-3}"
NATIVE_BUILD="${NATIVE_BUILD:-$ROOT/build/bench-native}"
MINGW_BUILD="${MINGW_BUILD:-$ROOT/build/bench-mingw-$TSDLM_WIN_BUILD}"
DIST_DIR="${DIST_DIR:-$MINGW_BUILD/dist}"
BENCH_WINE="${BENCH_WINE:-1}"
JOBS="${JOBS:-2}"
mkdir -p "$BENCH_DIR/data" "$BENCH_DIR/out" "$BENCH_DIR/logs"
# A step that fails ends the script (set -e): say which one, where.
trap 'rc=$?; echo "$(basename "$0"): failed (exit $rc) at ${BASH_SOURCE[0]##*/}:$LINENO: $BASH_COMMAND" >&2; exit $rc' ERR

# quiet_build DIR TARGET...: builds the targets; on failure shows the
# build's last lines before the ERR trap names the step.
quiet_build() {
  local dir=$1 log
  shift
  log="$BENCH_DIR/logs/build-$(basename "$dir").log"
  if ! cmake --build "$dir" -j"$JOBS" --target "$@" >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    return 1
  fi
}

# build_native TARGET...: a native Release build with the benchmarks.
build_native() {
  cmake -S "$ROOT" -B "$NATIVE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTSDLM_BENCH=ON >/dev/null
  quiet_build "$NATIVE_BUILD" "$@"
}

# build_mingw TARGET...: the Windows build that the Wine here runs (the
# shipped i686 one, or x86_64 under 64-bit Wine; RelWithDebInfo, as
# shipped), with the fixture that start_wine and the harness wait on.
build_mingw() {
  cmake -S "$ROOT" -B "$MINGW_BUILD" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw-$TSDLM_WIN_BUILD.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTSDLM_DIST_DIR="$DIST_DIR" \
    -DTSDLM_BENCH=ON >/dev/null
  quiet_build "$MINGW_BUILD" "$@" desktop_ready
}

# data_file MIB: the name of the random file of that size, made on first use
# (generated content, not sparse; the smaller ones are cut from 1g.bin).
data_file() {
  local mib=$1 name
  [ -f "$BENCH_DIR/data/1g.bin" ] ||
    head -c $((1 << 30)) /dev/urandom >"$BENCH_DIR/data/1g.bin"
  case $mib in
    1024) name=1g.bin ;;
    *) name=${mib}m.bin ;;
  esac
  [ -f "$BENCH_DIR/data/$name" ] ||
    head -c $((mib << 20)) "$BENCH_DIR/data/1g.bin" >"$BENCH_DIR/data/$name"
  echo "$name"
}

SERVER_PID=
bench_cleanup() {
  [ -z "$SERVER_PID" ] || kill "$SERVER_PID" 2>/dev/null || true
  if [ -n "${WINEPREFIX:-}" ]; then wineserver -k 2>/dev/null || true; fi
}

# start_server: serves $BENCH_DIR/data (page cache warmed first); sets BASE.
start_server() {
  cat "$BENCH_DIR"/data/*.bin >/dev/null
  trap bench_cleanup EXIT
  rm -f "$BENCH_DIR/port"
  "$TSDLM_PYTHON" "$ROOT/bench/serve.py" "$BENCH_DIR/data" >"$BENCH_DIR/port" &
  SERVER_PID=$!
  for _ in $(seq 50); do [ -s "$BENCH_DIR/port" ] && break; sleep 0.1; done
  BASE="http://127.0.0.1:$(cat "$BENCH_DIR/port")"
}

# start_wine: the benchmark's own prefix, made on first use, with its
# wineserver and Wine's helper processes kept up (scripts/wine-ready.sh), so
# that no timed run starts them.
start_wine() {
  export WINEPREFIX="${WINEPREFIX:-$BENCH_DIR/wineprefix}"
  [ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1
  bash "$ROOT/scripts/wine-ready.sh" "$MINGW_BUILD/tests/fixtures/desktop_ready.exe"
  wine cmd /c exit </dev/null >/dev/null 2>&1
}

# wine_output PROGRAM ARGS...: runs a Windows program and then prints its
# standard output with LF line ends. Through a file, never a pipe: Wine's
# helper processes inherit the output and would hold a pipe open.
wine_output() {
  local out="$BENCH_DIR/logs/wine.out" rc=0
  wine "$@" </dev/null >"$out" 2>>"$BENCH_DIR/logs/wine.err" || rc=$?
  tr -d '\r' <"$out"
  return "$rc"
}

OUT_DIR="${BENCH_OUT_DIR:-$BENCH_DIR/out}"
mkdir -p "$OUT_DIR"
OUT="$OUT_DIR/file.bin"
WOUT="Z:${OUT//\//\\}"
BIG_BUFFER=$((512 << 10))  # the downloader's receive buffer

# Each runner takes a URL and prints "bytes seconds MB/s peak-KiB" for one
# transfer into $OUT.
run_curl_cli() {
  local report
  report=$( { /usr/bin/time -f "%M" curl -sS -o "$OUT" -w "%{size_download} %{time_total}\n" "$1"; } 2>&1 )
  # curl's line first, then time's peak resident set size.
  echo "$report" | awk 'NR==1{b=$1;s=$2} NR==2{k=$1} END{printf "%d %.3f %.1f %d\n", b, s, b/s/1e6, k}'
}
run_downloader() {
  "$NATIVE_BUILD/bench/download_bench" "$1" "$OUT" "$BENCH_DIR/logs" 2>/dev/null
}
# The second transfer of one process: without libcurl's global start-up and
# the opening of the logs, which curl's time_total leaves out as well.
run_downloader_warm() {
  "$NATIVE_BUILD/bench/download_bench" "$1" "$OUT" "$BENCH_DIR/logs" warm 2>/dev/null
}
run_plain() { "$NATIVE_BUILD/bench/plain_curl" "$1" "$OUT"; }
run_plain_512k() { "$NATIVE_BUILD/bench/plain_curl" "$1" "$OUT" "$BIG_BUFFER"; }
run_wine_downloader() {
  wine_output "$MINGW_BUILD/bench/download_bench_win.exe" "$1" "$WOUT"
}
run_wine_downloader_warm() {
  wine_output "$MINGW_BUILD/bench/download_bench_win.exe" "$1" "$WOUT" warm
}
run_wine_plain() {
  wine_output "$MINGW_BUILD/bench/plain_curl.exe" "$1" "$WOUT"
}
run_wine_plain_512k() {
  wine_output "$MINGW_BUILD/bench/plain_curl.exe" "$1" "$WOUT" "$BIG_BUFFER"
}

# measure RESULTS LABEL FILE ROUNDS RUNNER...: ROUNDS rounds, the runners
# alternating, each download checked with cmp; appends
# "label file runner rep bytes seconds MB/s peak-KiB" lines to RESULTS.
measure() {
  local results=$1 label=$2 file=$3 rounds=$4
  shift 4
  local rep runner line
  for rep in $(seq "$rounds"); do
    for runner in "$@"; do
      rm -f "$OUT"
      sync
      line=$("$runner" "$BASE/$file")
      cmp -s "$OUT" "$BENCH_DIR/data/$file" || { echo "$runner: wrong content" >&2; exit 1; }
      echo "$label $file $runner $rep $line" | tee -a "$results"
    done
  done
  rm -f "$OUT"
}

# best RESULTS: per label, file and runner, the best MB/s and the largest
# peak: "label file runner MB/s peak-KiB", in first-seen order.
best() {
  awk '
    { key = $1 " " $2 " " $3
      if (!(key in rate)) keys[++n] = key
      if (!(key in rate) || $7 > rate[key]) rate[key] = $7
      if (!(key in peak) || $8 > peak[key]) peak[key] = $8
    }
    END { for (i = 1; i <= n; i++) printf "%s %.1f %d\n", keys[i], rate[keys[i]], peak[keys[i]] }
  ' "$1"
}
