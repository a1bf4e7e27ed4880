#!/usr/bin/env bash
# Download benchmark: the updater's transfer (HttpDownloader::download)
# against the curl command line and a plain libcurl program, over loopback.
#
#   bench/run.sh            native part, then the Wine part
#   BENCH_WINE=0 bench/run.sh   native part only
#
# Settings: see bench/common.sh; BENCH_WINE_MIB sets the size of the Wine
# transfer (default 1024). bench/sizes.sh sweeps the file size.
# shellcheck source=bench/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
WINE_MIB="${BENCH_WINE_MIB:-1024}"

build_native download_bench plain_curl
[ "$BENCH_WINE" != 1 ] || build_mingw download_bench_win plain_curl
data_file 1 >/dev/null
WINE_FILE=$(data_file "$WINE_MIB")
start_server
RESULTS="$BENCH_DIR/results.txt"
: >"$RESULTS"

echo "# label file runner rep bytes seconds MB/s peak-KiB"
measure "$RESULTS" native 1g.bin "$REPS" run_curl_cli run_downloader run_plain
measure "$RESULTS" native 1m.bin "$REPS" run_curl_cli run_downloader run_plain
if [ "$BENCH_WINE" = 1 ]; then
  start_wine
  measure "$RESULTS" wine "$WINE_FILE" "$REPS" run_wine_plain run_wine_downloader
  measure "$RESULTS" wine 1m.bin "$REPS" run_wine_plain run_wine_downloader
fi

echo
echo "Best of $REPS (highest MB/s; peak memory is the largest seen):"
best "$RESULTS" | awk -v wine_file="$WINE_FILE" '
  { key = $1 " " $2 " " $3; rate[key] = $4; peak[key] = $5 }
  NR == 1 { printf "%-7s %-8s %-20s %10s %12s\n", "build", "file", "runner", "MB/s", "peak KiB" }
  { printf "%-7s %-8s %-20s %10.1f %12d\n", $1, $2, $3, $4, $5 }
  END {
    r1 = "native 1g.bin run_downloader"; c1 = "native 1g.bin run_curl_cli"
    if ((r1 in rate) && (c1 in rate))
      printf "\nnative 1 GiB: downloader / curl CLI = %.3f\n", rate[r1] / rate[c1]
    m1 = "native 1m.bin run_downloader"
    if ((m1 in peak) && (r1 in peak))
      printf "native downloader peak RSS: 1 MiB %d KiB, 1 GiB %d KiB\n", peak[m1], peak[r1]
    w = "wine " wine_file " run_wine_downloader"; p = "wine " wine_file " run_wine_plain"
    if ((w in rate) && (p in rate))
      printf "wine: downloader / plain libcurl = %.3f\n", rate[w] / rate[p]
  }'
