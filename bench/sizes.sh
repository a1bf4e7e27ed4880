#!/usr/bin/env bash
# Throughput and peak memory against the file size: the downloader, the curl
# command line and plain libcurl (its 16 KiB default receive buffer and the
# downloader's 512 KiB), natively and under Wine; best of BENCH_REPS per
# size. Writes $BENCH_DIR/sizes.dat and draws docs/perf-throughput.png and
# docs/perf-memory.png with gnuplot.
#
# Settings: see bench/common.sh; BENCH_SIZES (MiB, default
# "1 4 16 64 256 1024"), BENCH_WINE_REPS_1G (rounds of the 1 GiB Wine
# transfers, default BENCH_REPS), BENCH_PLOT_DIR (default docs/),
# BENCH_NATIVE_RUNNERS and BENCH_WINE_RUNNERS (a subset of the runners below;
# the plots leave out what did not run).
# Also writes $BENCH_DIR/overhead.txt: the downloader against plain libcurl
# with the same 512 KiB buffer, per round, with the spread over the rounds.
# shellcheck source=bench/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
SIZES="${BENCH_SIZES:-1 4 16 64 256 1024}"
WINE_REPS_1G="${BENCH_WINE_REPS_1G:-$REPS}"
PLOT_DIR="${BENCH_PLOT_DIR:-$ROOT/docs}"

if ! command -v gnuplot >/dev/null; then
  [ "$(id -u)" = 0 ] || { echo "sizes.sh: gnuplot is missing (apt-get install gnuplot-nox)" >&2; exit 1; }
  apt-get install -y gnuplot-nox >/dev/null
fi
NATIVE_RUNNERS="${BENCH_NATIVE_RUNNERS:-run_curl_cli run_downloader run_plain run_plain_512k run_downloader_warm}"
WINE_RUNNERS="${BENCH_WINE_RUNNERS:-run_wine_downloader run_wine_plain run_wine_plain_512k run_wine_downloader_warm}"
# The data file's column order (the plots and the summary count on it).
COLUMNS="run_curl_cli run_downloader run_plain run_plain_512k run_wine_downloader
  run_wine_plain run_wine_plain_512k run_downloader_warm run_wine_downloader_warm"
build_native download_bench plain_curl
[ "$BENCH_WINE" != 1 ] || build_mingw download_bench_win plain_curl
for mib in $SIZES; do data_file "$mib" >/dev/null; done
start_server
[ "$BENCH_WINE" != 1 ] || start_wine
RESULTS="$BENCH_DIR/sizes.txt"
: >"$RESULTS"

echo "# label file runner rep bytes seconds MB/s peak-KiB"
for mib in $SIZES; do
  file=$(data_file "$mib")
  # shellcheck disable=SC2086
  measure "$RESULTS" native "$file" "$REPS" $NATIVE_RUNNERS
  if [ "$BENCH_WINE" = 1 ]; then
    rounds=$REPS
    [ "$mib" != 1024 ] || rounds=$WINE_REPS_1G
    # shellcheck disable=SC2086
    measure "$RESULTS" wine "$file" "$rounds" $WINE_RUNNERS
  fi
done

# One line per size: MiB, then MB/s and peak KiB of each runner (NaN where
# a runner did not run).
DATA="$BENCH_DIR/sizes.dat"
best "$RESULTS" | awk -v runners="$(echo $COLUMNS)" '
  { mib = $2; sub(/m\.bin$/, "", mib); if ($2 == "1g.bin") mib = 1024
    if (!(mib in seen)) { seen[mib] = 1; order[++n] = mib }
    rate[mib " " $3] = $4; peak[mib " " $3] = $5 }
  END {
    count = split(runners, r, " ")
    printf "#MiB"
    for (i = 1; i <= count; i++) printf " %s_MBps %s_KiB", r[i], r[i]
    printf "\n"
    for (j = 1; j <= n; j++) {
      printf "%s", order[j]
      for (i = 1; i <= count; i++) {
        key = order[j] " " r[i]
        printf " %s %s", (key in rate) ? rate[key] : "NaN", (key in peak) ? peak[key] : "NaN"
      }
      printf "\n"
    }
  }' >"$DATA"
echo
echo "Best of the rounds per size ($DATA):"
column -t "$DATA"
awk '!/^#/ { printf "%5d MiB: native downloader / curl CLI %.3f (second transfer %.3f), / plain 512 KiB %.3f; wine downloader / plain 512 KiB %s (second transfer %s)\n",
             $1, $4 / $2, $16 / $2, $4 / $8, ($10 == "NaN" || $14 == "NaN") ? "-" : sprintf("%.3f", $10 / $14),
             ($18 == "NaN") ? "-" : sprintf("%.3f", $18 / $14) }' "$DATA"

# The downloader's own overhead: against plain libcurl with the same 512 KiB
# receive buffer, round by round (the runners alternate within a round, so
# both saw the same machine), median and spread over the rounds.
OVERHEAD="$BENCH_DIR/overhead.txt"
"$TSDLM_PYTHON" - "$RESULTS" >"$OVERHEAD" <<'PY'
import statistics, sys
rate = {}
for line in open(sys.argv[1]):
    label, file, runner, rep, _, _, mbps, _ = line.split()
    mib = 1024 if file == "1g.bin" else int(file[:-5])
    rate[(label, mib, runner, int(rep))] = float(mbps)
def spread(values):
    return (f"{statistics.median(values):6.3f} ({min(values):.3f}-{max(values):.3f})"
            if values else "     -")
def mbps(values):
    return (f"{statistics.median(values):7.1f} ({min(values):.0f}-{max(values):.0f})"
            if values else "      -")
print("# downloader / plain libcurl 512 KiB, per round: median (min-max) over the rounds;")
print("# MB/s: median (min-max). first: the process's first transfer; second: after a warm-up")
print(f"{'build':<7}{'MiB':>5}  {'first / plain':<22}{'second / plain':<22}"
      f"{'plain 512 KiB MB/s':<22}{'downloader MB/s':<22}{'second MB/s':<22}")
keys = sorted({(l, m) for l, m, _, _ in rate}, key=lambda k: (k[0] != "native", k[1]))
for label, mib in keys:
    prefix = "run_" if label == "native" else "run_wine_"
    plain, first, second = (prefix + "plain_512k", prefix + "downloader",
                            prefix + "downloader_warm")
    reps = sorted({r for l, m, _, r in rate if (l, m) == (label, mib)})
    def of(runner):
        return [rate[(label, mib, runner, r)] for r in reps if (label, mib, runner, r) in rate]
    def ratios(runner):
        return [rate[(label, mib, runner, r)] / rate[(label, mib, plain, r)] for r in reps
                if (label, mib, runner, r) in rate and (label, mib, plain, r) in rate]
    print(f"{label:<7}{mib:>5}  {spread(ratios(first)):<22}{spread(ratios(second)):<22}"
          f"{mbps(of(plain)):<22}{mbps(of(first)):<22}{mbps(of(second)):<22}")
PY
echo
echo "Overhead ($OVERHEAD):"
cat "$OVERHEAD"

# Columns: 2 curl CLI, 4 downloader, 6 plain, 8 plain 512 KiB, 10 wine
# downloader, 12 wine plain, 14 wine plain 512 KiB, 16 downloader's second
# transfer, 18 the same under Wine (MB/s; peak KiB one right).
mkdir -p "$PLOT_DIR"
gnuplot <<GNUPLOT
set terminal pngcairo size 900,620 font "DejaVu Sans,10"
set datafile missing "NaN"
set logscale x 2
set xlabel "file size (MiB)"
set xtics ($(echo "$SIZES" | sed 's/\([0-9]*\)/"\1" \1/g; s/ "/, "/g'))
set key below maxrows 5
set grid
# One colour per contender; dashed under Wine.
set style line 1 lc rgb "#7b2cbf" lw 2.5 pt 7
set style line 2 lc rgb "#2a9d8f" lw 1.5 pt 5
set style line 3 lc rgb "#4895ef" lw 1.5 pt 9
set style line 4 lc rgb "#e76f51" lw 1.5 pt 11
set style line 5 lc rgb "#7b2cbf" lw 2.5 pt 6 dt 2
set style line 6 lc rgb "#4895ef" lw 1.5 pt 8 dt 2
set style line 7 lc rgb "#e76f51" lw 1.5 pt 10 dt 2
set style line 8 lc rgb "#c77dff" lw 1.5 pt 13
set style line 9 lc rgb "#c77dff" lw 1.5 pt 12 dt 2
set output "$PLOT_DIR/perf-throughput.png"
set title "Download throughput over loopback (best of the rounds, output on tmpfs)"
set ylabel "MB/s (10^6 bytes per second)"
set yrange [0:*]
plot "$DATA" using 1:4 with linespoints ls 1 title "downloader (native)", \
     "" using 1:2 with linespoints ls 2 title "curl command line", \
     "" using 1:6 with linespoints ls 3 title "plain libcurl, 16 KiB buffer", \
     "" using 1:8 with linespoints ls 4 title "plain libcurl, 512 KiB buffer", \
     "" using 1:10 with linespoints ls 5 title "downloader (Wine)", \
     "" using 1:12 with linespoints ls 6 title "plain libcurl, 16 KiB (Wine)", \
     "" using 1:14 with linespoints ls 7 title "plain libcurl, 512 KiB (Wine)", \
     "" using 1:16 with linespoints ls 8 title "downloader, second transfer (native)", \
     "" using 1:18 with linespoints ls 9 title "downloader, second transfer (Wine)"
set output "$PLOT_DIR/perf-memory.png"
set title "Peak memory against file size (largest of the rounds)"
set ylabel "MiB (peak RSS natively, peak working set under Wine)"
plot "$DATA" using 1:(\$5/1024) with linespoints ls 1 title "downloader (native)", \
     "" using 1:(\$3/1024) with linespoints ls 2 title "curl command line", \
     "" using 1:(\$9/1024) with linespoints ls 4 title "plain libcurl, 512 KiB buffer", \
     "" using 1:(\$11/1024) with linespoints ls 5 title "downloader (Wine)", \
     "" using 1:(\$15/1024) with linespoints ls 7 title "plain libcurl, 512 KiB (Wine)"
GNUPLOT
echo "plots: $PLOT_DIR/perf-throughput.png $PLOT_DIR/perf-memory.png"
