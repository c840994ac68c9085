#!/usr/bin/env bash
# Mean delay against offered load for stop-and-wait with Poisson arrivals
# on a link of whole ticks, over the Pollaczek-Khinchine formula, with
# Go-Back-N and Selective Repeat measured beside it, without loss and at a
# frame loss of a tenth.
#
#   studies/delay.sh OUTDIR
#
# Writes OUTDIR/delay_runs.csv, a row per run; OUTDIR/delay.csv, a row per
# point (its runs' mean delay from arrival to delivery with a 95% interval
# by Student's t, and the closed form below); OUTDIR/delay.png. Without
# gnuplot it writes the CSVs, says how to get the picture and exits with
# status 1. The runs are linksim-arq's: the source tree's release build,
# built or brought up to date first, or else the one installed;
# LINKSIM_ARQ_PROGRAM names another to use as it is. The sweep can be
# changed: LOADS (0.1 to 0.9 by 0.1), LOSSES (0 0.1), SEEDS (1 to 20),
# DURATION (200,000 ticks), as in LOADS="0.2 0.5" SEEDS="1 2 3"
# studies/delay.sh out.
#
# The link: P 1, A 2, Td 5, Ta 1, every stage a whole number of ticks, so
# a data frame handed over at c reaches the sink at c + Hd, Hd = ceil(P +
# A + Td) = 8, its ACK the source at c + D, D = Hd + ceil(P + A + Ta) = 12
# = T, the textbook's round trip; the derived timeout, T - P, fires in the
# very tick the ACK would have been read (protocols/stop_and_wait.cpp).
# Packets arrive at the points of a Poisson process of rate lambda, the
# packet rate (LINKSIM_ARRIVALS=poisson); a packet's delay runs from its
# arrival to its delivery at the sink.
#
# Stop-and-wait is a single server. The source takes the oldest packet
# waiting when it has none in hand, and tries it until its ACK comes back:
# each attempt takes D ticks, and succeeds when its data frame and its ACK
# both arrive, with probability 1 - P, P = 1 - (1 - p)^2. The attempts
# are independent, so a packet holds the source for S = N D ticks, N
# geometric: E[N] = 1 / (1 - P), E[N^2] = (1 + P) / (1 - P)^2, so
#   E[S] = D / (1 - P),   E[S^2] = D^2 (1 + P) / (1 - P)^2,
# and the offered load is rho = lambda E[S]: a point at load rho runs at
# the packet rate lambda = rho (1 - P) / D. The backlog's limit of 16
# postpones a packet's creation, never its turn, so the queue is one
# without limit, served in order: M/G/1. Its mean wait, Pollaczek-Khinchine:
#   Wq = lambda E[S^2] / (2 (1 - rho)).
# The clock's rounding. The source acts on whole ticks, so a packet that
# finds it idle waits U = ceil(a) - a after its arrival a for the tick in
# which it is taken, and, as that tick is also when the source became free
# or later, every service starts and ends on a whole tick. That is M/G/1
# with a setup time U before the first service of each busy period; U is
# the part of an exponential gap up to the next whole tick, close to
# uniform on [0, 1) at these rates (E[U] = 1/2, E[U^2] = 1/3), and the mean
# wait grows by (2 E[U] + lambda E[U^2]) / (2 (1 + lambda E[U])), about
# half a tick. The packet is handed up by the first attempt whose data
# frame arrives, whatever becomes of its ACK: the G-th, G geometric with
# success 1 - p, which starts (G - 1) D after the packet is taken, its
# data frame reaching the sink Hd later. So the mean delay is
#   W = lambda E[S^2] / (2 (1 - rho)) + (1 + lambda / 3) / (2 + lambda)
#       + D p / (1 - p) + Hd.
# Without loss that is the M/D/1 queue: D rho / (2 (1 - rho)) + 8.5
# (less lambda / 12).
#
# Go-Back-N and Selective Repeat (a window of 8, which covers the round
# trip of K = T / Td = 2.4 frames) pipeline the packets: without loss a
# packet waits only for the transmitter, which takes Td per frame, and the
# window never fills at these loads (about lambda T frames in flight,
# below one). The transmitter is then M/D/1 with service Td at load
# lambda Td, with the same rounding, and the packet reaches the sink Hd
# after it starts:
#   W = lambda Td^2 / (2 (1 - lambda Td)) + (1 + lambda / 3) / (2 + lambda)
#       + Hd.
# With loss they are measured only: a lost frame holds its packet for a
# timeout, and under Go-Back-N the frames after it too.
set -euo pipefail
# The opening comment's first three paragraphs.
usage() {
  awk 'NR > 1 && !/^#/ || $0 == "#" && ++blank == 3 { exit }
    NR > 1 { sub(/^# ?/, ""); print }' "$0"
}
case "${1:-}" in -h | --help) usage && exit 0 ;; esac
[ $# -eq 1 ] || { usage >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)

# A value named twice is run once: twice would count its runs twice.
once() { tr -s '[:space:]' '\n' <<<"$1" | awk 'NF && !seen[$0]++'; }
loads=$(once "${LOADS:-0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8 0.9}")
losses=$(once "${LOSSES:-0 0.1}")
seeds=$(once "${SEEDS:-$(seq 1 20)}")
duration=${DURATION:-200000}
[ "$(wc -w <<<"$seeds")" -ge 2 ] ||
  { echo "$0: SEEDS must name two seeds or more" >&2; exit 2; }
[[ $duration =~ ^[1-9][0-9]*$ ]] ||
  { echo "$0: DURATION must be a whole number of ticks above 0" >&2; exit 2; }
awk -v loads="$loads" -v losses="$losses" 'BEGIN {
    n = split(loads, l); for (i = 1; i <= n; i++)
      if (!(l[i] ~ /^[0-9.]+$/ && l[i] > 0 && l[i] < 1)) exit 1
    n = split(losses, l); for (i = 1; i <= n; i++)
      if (!(l[i] ~ /^[0-9.]+$/ && l[i] < 1)) exit 1 }' ||
  { echo "$0: LOADS must lie above 0 and below 1, LOSSES from 0 to below 1" >&2; exit 2; }

# linksim-arq: a variable's, the source tree's release build, or the one
# installed. The runs get no LINKSIM_ variable but those each sets: one
# from the caller's environment would change them, or draw a warning.
program=${LINKSIM_ARQ_PROGRAM:-}
if [ -z "$program" ] && [ -f "$root/CMakeLists.txt" ]; then
  (cd "$root" && cmake --preset release >/dev/null &&
    cmake --build --preset release -j "$(nproc)" --target linksim_arq \
      >/dev/null)
  program=$root/build/linksim-arq
fi
[ -n "$program" ] || program=$(command -v linksim-arq) ||
  { echo "$0: linksim-arq is not installed" >&2; exit 2; }
program=$(realpath "$program")
[ -x "$program" ] || { echo "$0: $program is no program" >&2; exit 2; }
while read -r name; do unset "$name"; done < <(compgen -e | grep '^LINKSIM_')

processing=1 delay=2 bit_rate=100 data=450 overhead=50 ack=100 window=8
read -r td hd d < <(awk -v p=$processing -v a=$delay -v b=$bit_rate \
  -v s=$data -v o=$overhead -v k=$ack 'BEGIN {
    td = (s + o) / b; hd = p + a + td; ha = p + a + k / b
    hd = int(hd) + (hd > int(hd)); ha = int(ha) + (ha > int(ha))
    print td, hd, hd + ha }')

work=$(mktemp -d /tmp/linksim_delay.XXXXXX)
trap 'rm -rf "$work"' EXIT
# The screen is not cleared between prompts: clear is a no-op here.
mkdir "$work/bin" && printf '#!/bin/sh\n' >"$work/bin/clear" &&
  chmod +x "$work/bin/clear"
# A point per protocol, loss and load, each with its link: the packet rate
# that offers stop-and-wait that load at that loss.
i=0
for protocol in stop-and-wait go-back-n selective-repeat; do
  for loss in $losses; do
    for load in $loads; do
      i=$((i + 1))
      rate=$(awk -v rho="$load" -v p="$loss" -v d="$d" \
        'BEGIN { printf "%.17g", rho * (1 - p) ^ 2 / d }')
      printf '%s\n' "Propagation Delay $delay" "Processing Delay $processing" \
        "Bit Rate $bit_rate" "Data Packet Size $data" \
        "Data Packet Overhead $overhead" "ACK Size $ack" \
        "Simulation Duration $duration" "Packet Rate $rate" >"$work/$i.link"
      echo "$i $protocol $loss $load"
    done
  done
done >"$work/points"
total=$(wc -l <"$work/points")

# One point: a run per seed, each appending its row to the point's stats
# file. A run that fails, or that linksim-arq refuses, stops the study.
run_point() {
  local index=$1 protocol=$2 loss=$3 load=$4 seed window=$window
  local stats=$work/$index.stats
  # Stop-and-wait reads no window, and would warn of one.
  [ "$protocol" != stop-and-wait ] || window=
  for seed in $seeds; do
    [ ! -e "$work/failed" ] || return 1
    if ! printf 'load %s\n\nrun\n\n\nexit\n' "$work/$index.link" |
      env ${window:+LINKSIM_WINDOW=$window} LINKSIM_ARQ=$protocol \
        LINKSIM_LOSS=$loss LINKSIM_ARRIVALS=poisson LINKSIM_SEED=$seed \
        LINKSIM_STATS=$stats PATH="$work/bin:$PATH" "$program" \
        >"$stats.out" 2>&1 ||
      ! grep -q 'Simulation completed successfully' "$stats.out"; then
      echo "$protocol, loss $loss, load $load, seed $seed: the run failed:" >&2
      cat "$stats.out" >&2
      touch "$work/failed"
      return 1
    fi
  done
  awk -F, -v i="$index" -v n="$total" -v load="$load" '
    NR == 1 { for (c = 1; c <= NF; c++) col[$c] = c; next }
    { sum += $col["delay_mean"]; runs++ }
    END { printf "[%d/%d] %s, loss %s, load %s: mean delay %.2f over %d runs\n",
      i, n, $col["protocol"], $col["loss"], load, sum / runs, runs }' \
    "$stats" >&2
}
export -f run_point
export work seeds window total program

echo "Running $total points of $(wc -w <<<"$seeds") seeds on $(nproc) cores" >&2
xargs -P "$(nproc)" -L 1 bash -c 'run_point "$@"' _ <"$work/points" ||
  { echo "$0: a run failed; nothing written" >&2; exit 1; }

# Every run's row, its figures taken from the stats by column name; a run
# that delivered nothing has no delay, and no row.
runs=$out/delay_runs.csv
echo "protocol,window,loss,load,packet_rate,seed,duration,delivered,delay_mean,delay_max" >"$runs"
while read -r index _ _ load; do
  awk -F, -v load="$load" '
    NR == 1 { for (c = 1; c <= NF; c++) col[$c] = c; next }
    $col["delay_mean"] != "" {
      printf "%s,%s,%s,%s,%s,%s,%s,%s,%s,%s\n", $col["protocol"],
        $col["window"], $col["loss"], load, $col["packet_rate"], $col["seed"],
        $col["duration"], $col["delivered"], $col["delay_mean"],
        $col["delay_max"] }' "$work/$index.stats"
done <"$work/points" >>"$runs"

# The closed forms of the opening comment: stop-and-wait's at any loss,
# the windows' without loss; empty where there is none.
closed=$(cat <<'AWK'
function closedForm(protocol, p, rho,    lost, lambda, es2, rounding) {
  lost = 1 - (1 - p) ^ 2
  lambda = rho * (1 - lost) / d
  rounding = (1 + lambda / 3) / (2 + lambda)
  if (protocol == "stop-and-wait") {
    es2 = d * d * (1 + lost) / (1 - lost) ^ 2
    return lambda * es2 / (2 * (1 - rho)) + rounding + d * p / (1 - p) + hd
  }
  if (p > 0) return ""
  return lambda * td * td / (2 * (1 - lambda * td)) + rounding + hd
}
AWK
)

# Each point's mean with its 95% interval, Student's t over the seeds.
csv=$out/delay.csv
echo "protocol,window,loss,load,runs,mean,ci95_low,ci95_high,closed_form" >"$csv"
tail -n +2 "$runs" | awk -F, -v d="$d" -v hd="$hd" -v td="$td" "$closed"'
  BEGIN {
    # Two-sided 95% quantiles of Student t by degrees of freedom; between
    # two rows the smaller count is taken, which widens the interval.
    split("12.706 4.303 3.182 2.776 2.571 2.447 2.365 2.306 2.262 2.228 " \
          "2.201 2.179 2.160 2.145 2.131 2.120 2.110 2.101 2.093 2.086 " \
          "2.080 2.074 2.069 2.064 2.060 2.056 2.052 2.048 2.045 2.042", q, " ")
    q[40] = 2.021; q[60] = 2.000; q[120] = 1.980
  }
  function quantile(df) {
    if (df <= 30) return q[df]
    if (df >= 1000) return 1.960
    return df >= 120 ? q[120] : df >= 60 ? q[60] : df >= 40 ? q[40] : q[30]
  }
  {
    key = $1 "," $2 "," $3 "," $4
    if (!(key in runs)) order[++points] = key
    runs[key]++; sum[key] += $9; squares[key] += $9 * $9
  }
  END {
    for (i = 1; i <= points; i++) {
      key = order[i]; split(key, f, ",")
      n = runs[key]; mean = sum[key] / n
      variance = n > 1 ? (squares[key] - n * mean * mean) / (n - 1) : 0
      half = n > 1 ? quantile(n - 1) * sqrt(variance > 0 ? variance : 0) / sqrt(n) : 0
      form = closedForm(f[1], f[3], f[4])
      printf "%s,%d,%.4f,%.4f,%.4f,%s\n", key, n, mean, mean - half,
        mean + half, form == "" ? "" : sprintf("%.4f", form)
    }
  }' >>"$csv"

# The measured points stand; only the picture needs gnuplot.
if ! command -v gnuplot >/dev/null; then
  echo "Wrote $runs and $csv, but no picture: gnuplot is not installed." >&2
  echo "For $out/delay.png: apt-get install -y gnuplot-nox, and run this again." >&2
  exit 1
fi

# The closed forms drawn smooth, for each loss, from load 0 to the
# largest measured.
most=$(awk 'BEGIN { m = 0 } $1 > m { m = $1 } END { print m }' <<<"$loads")
for loss in $losses; do
  awk -v d="$d" -v hd="$hd" -v td="$td" -v p="$loss" -v most="$most" \
    "$closed"'BEGIN {
      for (i = 1; i <= 200; i++) {
        rho = most * i / 200
        printf "%s,%.6f,%.6f,%s\n", p, rho, closedForm("stop-and-wait", p, rho),
          closedForm("go-back-n", p, rho)
      }
      printf "\n\n" }'
done >"$work/curves.csv"
terminal=png
gnuplot -e 'set terminal pngcairo' 2>/dev/null && terminal=pngcairo
gnuplot <<GNUPLOT
set terminal $terminal size 1000,700 font ',11'
set output '$out/delay.png'
set datafile separator ','
set title "Delay against offered load with Poisson arrivals, on a link of whole ticks\\n" . \
  "Td = $td, T = $d, Hd = $hd ticks; rho = lambda E[S] for stop-and-wait; " . \
  "$(wc -w <<<"$seeds") runs of $duration ticks per point, mean and 95% interval"
set xlabel 'offered load rho (stop-and-wait''s: packet rate x mean service time D / (1 - P))'
set ylabel 'mean delay from arrival to delivery (ticks)'
set xrange [0:1]
set yrange [0:*]
set grid
set key top left box opaque
csv = '$csv'
curves = '$work/curves.csv'
sel(name, p, v) = strcol(1) eq name && \$3 == p ? v : 1/0
plot \
$(i=0; for loss in $losses; do
  c=$([ $i = 0 ] && echo '#7570b3' || echo '#d95f02')
  echo "  curves index $i using 2:3 with lines lw 2 lc rgb '$c' title 'stop-and-wait, p = $loss: Pollaczek-Khinchine', \\"
  [ "$loss" = 0 ] && echo "  curves index $i using 2:4 with lines lw 2 dt 2 lc rgb '#1b9e77' title 'a window, p = 0: M/D/1 at the transmitter', \\"
  echo "  csv skip 1 using 4:(sel('stop-and-wait', $loss, \$6)):7:8 with yerrorbars pt 9 ps 1.2 lc rgb '$c' title 'stop-and-wait, p = $loss: measured', \\"
  echo "  csv skip 1 using 4:(sel('go-back-n', $loss, \$6)):7:8 with yerrorbars pt $((5 + 2 * i)) ps 0.8 lc rgb '#1b9e77' title 'Go-Back-N, W = $window, p = $loss: measured', \\"
  echo "  csv skip 1 using 4:(sel('selective-repeat', $loss, \$6)):7:8 with yerrorbars pt $((4 + 2 * i)) ps 0.8 lc rgb '#e7298a' title 'Selective Repeat, W = $window, p = $loss: measured', \\"
  i=$((i + 1))
done)
  NaN notitle
GNUPLOT
echo "Wrote $runs, $csv and $out/delay.png" >&2
