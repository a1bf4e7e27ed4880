#!/usr/bin/env bash
# Download benchmark: the updater's transfer (HttpDownloader::download)
# against the curl command line and a plain libcurl program, over loopback.
#
#   bench/run.sh            native part, then the Wine part
#   BENCH_WINE=0 bench/run.sh   native part only
#
# Environment: BENCH_DIR (scratch folder, default /tmp/tsdlm-bench),
# BENCH_REPS (default 3), BENCH_WINE_MIB (size of the Wine transfer, default
# 1024), BENCH_OUT_DIR (where the transfers write; /dev/shm takes the disk
# out of the figures), NATIVE_BUILD / MINGW_BUILD / DIST_DIR (build folders, default
# build/bench-*).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=../scripts/env.sh
source "$ROOT/scripts/env.sh"

BENCH_DIR="${BENCH_DIR:-/tmp/tsdlm-bench}"
REPS="${BENCH_REPS:-3}"
WINE_MIB="${BENCH_WINE_MIB:-1024}"
NATIVE_BUILD="${NATIVE_BUILD:-$ROOT/build/bench-native}"
MINGW_BUILD="${MINGW_BUILD:-$ROOT/build/bench-mingw}"
BENCH_WINE="${BENCH_WINE:-1}"
JOBS="${JOBS:-2}"

cmake -S "$ROOT" -B "$NATIVE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTSDLM_BENCH=ON >/dev/null
cmake --build "$NATIVE_BUILD" -j"$JOBS" --target download_bench plain_curl >/dev/null
if [ "$BENCH_WINE" = 1 ]; then
  cmake -S "$ROOT" -B "$MINGW_BUILD" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTSDLM_DIST_DIR="${DIST_DIR:-$MINGW_BUILD/dist}" \
    -DTSDLM_BENCH=ON >/dev/null
  cmake --build "$MINGW_BUILD" -j"$JOBS" --target download_bench_win plain_curl >/dev/null
fi

mkdir -p "$BENCH_DIR/data" "$BENCH_DIR/out" "$BENCH_DIR/logs"
# Generated content (not sparse), made once and kept.
[ -f "$BENCH_DIR/data/1m.bin" ] ||
  head -c $((1 << 20)) /dev/urandom >"$BENCH_DIR/data/1m.bin"
[ -f "$BENCH_DIR/data/1g.bin" ] ||
  head -c $((1 << 30)) /dev/urandom >"$BENCH_DIR/data/1g.bin"
if [ "$WINE_MIB" != 1024 ] && [ ! -f "$BENCH_DIR/data/wine.bin" ]; then
  head -c $((WINE_MIB << 20)) "$BENCH_DIR/data/1g.bin" >"$BENCH_DIR/data/wine.bin"
fi
WINE_FILE=1g.bin
[ "$WINE_MIB" = 1024 ] || WINE_FILE=wine.bin
cat "$BENCH_DIR"/data/*.bin >/dev/null  # into the page cache

SERVER_PID=
cleanup() {
  [ -z "$SERVER_PID" ] || kill "$SERVER_PID" 2>/dev/null || true
  if [ -n "${WINEPREFIX:-}" ]; then wineserver -k 2>/dev/null || true; fi
}
trap cleanup EXIT
"$TSDLM_PYTHON" "$ROOT/bench/serve.py" "$BENCH_DIR/data" >"$BENCH_DIR/port" &
SERVER_PID=$!
for _ in $(seq 50); do [ -s "$BENCH_DIR/port" ] && break; sleep 0.1; done
BASE="http://127.0.0.1:$(cat "$BENCH_DIR/port")"
OUT_DIR="${BENCH_OUT_DIR:-$BENCH_DIR/out}"
mkdir -p "$OUT_DIR"
OUT="$OUT_DIR/file.bin"
RESULTS="$BENCH_DIR/results.txt"
: >"$RESULTS"

# Each runner prints "bytes seconds MB/s peak-KiB" for one transfer.
run_curl_cli() {
  local report
  report=$( { /usr/bin/time -f "%M" curl -sS -o "$OUT" -w "%{size_download} %{time_total}\n" "$1"; } 2>&1 )
  # curl's line first, then time's peak resident set size.
  echo "$report" | awk 'NR==1{b=$1;s=$2} NR==2{k=$1} END{printf "%d %.3f %.1f %d\n", b, s, b/s/1e6, k}'
}
run_downloader() {
  "$NATIVE_BUILD/bench/download_bench" "$1" "$OUT" "$BENCH_DIR/logs" 2>/dev/null
}
run_plain() { "$NATIVE_BUILD/bench/plain_curl" "$1" "$OUT"; }
WOUT="Z:${OUT//\//\\}"
run_wine_downloader() {
  wine "$MINGW_BUILD/bench/download_bench_win.exe" "$1" "$WOUT" 2>/dev/null | tr -d '\r'
}
run_wine_plain() {
  wine "$MINGW_BUILD/bench/plain_curl.exe" "$1" "$WOUT" 2>/dev/null | tr -d '\r'
}

# measure LABEL FILE RUNNER...: REPS rounds, the runners alternating.
measure() {
  local label=$1 file=$2
  shift 2
  local rep runner line
  for rep in $(seq "$REPS"); do
    for runner in "$@"; do
      rm -f "$OUT"
      sync
      line=$("$runner" "$BASE/$file")
      cmp -s "$OUT" "$BENCH_DIR/data/$file" || { echo "$runner: wrong content" >&2; exit 1; }
      echo "$label $file $runner $rep $line" | tee -a "$RESULTS"
    done
  done
}

echo "# label file runner rep bytes seconds MB/s peak-KiB"
measure native 1g.bin run_curl_cli run_downloader run_plain
measure native 1m.bin run_curl_cli run_downloader run_plain
if [ "$BENCH_WINE" = 1 ]; then
  export WINEPREFIX="${WINEPREFIX:-$BENCH_DIR/wineprefix}"
  [ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1
  measure wine "$WINE_FILE" run_wine_plain run_wine_downloader
  measure wine 1m.bin run_wine_plain run_wine_downloader
fi
rm -f "$OUT"

echo
echo "Best of $REPS (highest MB/s; peak memory is the largest seen):"
awk '
  { key = $1 " " $2 " " $3
    if (!(key in best)) keys[++n] = key
    if (!(key in best) || $7 > best[key]) best[key] = $7
    if (!(key in peak) || $8 > peak[key]) peak[key] = $8
  }
  END {
    printf "%-7s %-8s %-20s %10s %12s\n", "build", "file", "runner", "MB/s", "peak KiB"
    for (i = 1; i <= n; i++) {
      split(keys[i], k, " ")
      printf "%-7s %-8s %-20s %10.1f %12d\n", k[1], k[2], k[3], best[keys[i]], peak[keys[i]]
    }
    r1 = "native 1g.bin run_downloader"; c1 = "native 1g.bin run_curl_cli"
    if ((r1 in best) && (c1 in best))
      printf "\nnative 1 GiB: downloader / curl CLI = %.3f\n", best[r1] / best[c1]
    m1 = "native 1m.bin run_downloader"
    if ((m1 in peak) && (r1 in peak))
      printf "native downloader peak RSS: 1 MiB %d KiB, 1 GiB %d KiB\n", peak[m1], peak[r1]
    for (key in best) if (key ~ /^wine .* run_wine_downloader$/ && key !~ /1m.bin/) w = key
    if (w != "") {
      p = w; sub(/run_wine_downloader$/, "run_wine_plain", p)
      printf "wine: downloader / plain libcurl = %.3f\n", best[w] / best[p]
    }
  }' "$RESULTS"
