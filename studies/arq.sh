#!/usr/bin/env bash
# Link utilization of the three ARQ examples against the frame loss
# probability p, measured over many seeds, over the textbook's curves. With
# K = T / Td and P = 1 - (1 - p)^2, the chance that a frame or its ACK is
# lost: stop-and-wait (1 - P) / K, Go-Back-N (1 - P) / (1 + (K - 1) P),
# Selective Repeat 1 - P.
#
#   studies/arq.sh OUTDIR
#
# Writes OUTDIR/arq_runs.csv, a row per run, OUTDIR/arq.csv, a row per
# point (the mean utilization of its runs, its 95% interval by Student's t,
# the textbook's figure), and OUTDIR/arq.png. Without gnuplot it writes the
# CSVs, says how to get the picture and exits with status 1. The programs
# are the release tree's, built or brought up to date first;
# LINKSIM_STOP_AND_WAIT, LINKSIM_GO_BACK_N and LINKSIM_SELECTIVE_REPEAT name
# others to use as they are. The sweep can be narrowed: LOSSES="0 0.1"
# SEEDS="1 2 3" DURATION=5000 (by default eight losses from 0 to 0.5, seeds
# 1 to 20, 20,000 ticks).
#
# How each protocol departs from its curve, as measured with the defaults
# on the link below (T = 93 ticks, K = 9.3):
# - Stop-and-wait is its curve, in the mean: every attempt takes T ticks,
#   whether it succeeds or not, since the derived timeout fires in the very
#   tick the ACK would have been read, and succeeds with probability 1 - P.
#   Only the attempt that the end of the run cuts short is missing (215
#   attempts of 93 ticks fit in 20,000, the 216th does not): 0.1075 against
#   0.10753 at p = 0, and elsewhere the curve lies within each point's
#   interval (0.0882 against 0.0871 at 0.1).
# - Go-Back-N lies between its two curves, near neither at middling loss:
#   0.754 at p = 0.02 (between 0.723 and 0.841), 0.442 at 0.1 (0.314 and
#   0.492), 0.091 at 0.5 (0.035 and 0.097). The lower curve charges every
#   lost frame or ACK a go-back of K frame times. On the discrete clock a
#   go-back costs 10 (the timer fires at T - P = 92, and the resend waits
#   for the frame on the link) after a lost data frame, and 9 after a lost
#   ACK (the next frame's cumulative ACK comes before its resend would
#   start). But many losses cost nothing: a data frame lost while a go-back
#   is under way, or one the sink would have discarded anyway; an ACK lost
#   while the oldest frame's timer, restarted by its resend, still runs
#   when the next cumulative ACK comes. With seed 3 at p = 0.1, 205 data
#   frames and 168 ACKs were lost, and 117 go-backs came of them. At low
#   loss the losses come apart, each costs its go-back, and the run nears
#   the lower curve; at high loss they come in clusters, a go-back for
#   each, and it nears the upper one (P = p, as if no lost ACK cost
#   anything).
# - Selective Repeat sits a little below 1 - P: 0.9955 at p = 0, the start
#   of the run (the first ACK comes after T: T / L = 0.5%); 0.803 against
#   0.810 at p = 0.1, 0.227 against 0.250 at 0.5. The rest is window stalls:
#   a packet that takes three tries or more holds the window's oldest place
#   for longer than a window of 32 covers, and the link idles, 1985 of its
#   2000 frame times used at p = 0.1 and 1863 at 0.5.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 OUTDIR" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)

# A loss or seed named twice is run once: twice would count its runs twice.
once() { tr -s '[:space:]' '\n' <<<"$1" | awk 'NF && !seen[$0]++'; }
losses=$(once "${LOSSES:-0 0.02 0.05 0.1 0.2 0.3 0.4 0.5}")
seeds=$(once "${SEEDS:-$(seq 1 20)}")
duration=${DURATION:-20000}
# Two runs at least: an interval needs a spread to be measured.
[ "$(wc -w <<<"$seeds")" -ge 2 ] ||
  { echo "$0: SEEDS must name two seeds or more" >&2; exit 2; }
# linksim refuses a bad duration with a message and status 0: caught here,
# so that a refused run is never counted as one that acknowledged nothing.
[[ $duration =~ ^[1-9][0-9]*$ ]] ||
  { echo "$0: DURATION must be a whole number of ticks above 0" >&2; exit 2; }

# The programs, linksim with each protocol as its hooks: the release tree's,
# built or brought up to date, unless a variable names one to use as it is.
protocols=(stop-and-wait go-back-n selective-repeat)
declare -A programs=(
  [stop-and-wait]=${LINKSIM_STOP_AND_WAIT:-}
  [go-back-n]=${LINKSIM_GO_BACK_N:-}
  [selective-repeat]=${LINKSIM_SELECTIVE_REPEAT:-}
)
targets=()
for protocol in "${protocols[@]}"; do
  [ -n "${programs[$protocol]}" ] || targets+=("linksim_${protocol//-/_}")
done
if [ ${#targets[@]} -gt 0 ]; then
  (cd "$root" && cmake --preset release >/dev/null &&
    cmake --build --preset release -j "$(nproc)" --target "${targets[@]}" \
      >/dev/null)
fi
for protocol in "${protocols[@]}"; do
  : "${programs[$protocol]:=$root/build/linksim_${protocol//-/_}}"
  programs[$protocol]=$(realpath "${programs[$protocol]}")
  [ -x "${programs[$protocol]}" ] ||
    { echo "$0: ${programs[$protocol]} is no program" >&2; exit 2; }
  # For the runs, which xargs starts in shells of their own.
  export "program_${protocol//-/_}=${programs[$protocol]}"
done

# The link: every stage a whole number of ticks (Td 10, Ta 1, P 1, A 40),
# where the protocols' opening comments derive their figures exactly, and a
# round trip of T = 93, K = T / Td = 9.3 frame times.
processing=1 delay=40 bit_rate=100 data=960 overhead=40 ack=100
rate=1  # a packet a tick: the backlog is never what holds the link back
read -r td t timeout < <(awk -v p=$processing -v a=$delay -v b=$bit_rate \
  -v d=$data -v o=$overhead -v k=$ack 'BEGIN {
    td = (d + o) / b; t = td + k / b + 2 * a + 2 * p
    print td, t, t - p  # the timeout the protocols derive on such a link
  }')
# A window of 16 covers a round trip (K < 16); Selective Repeat's 32 covers
# a frame's second try too, 2 (T + Td) / Td = 20.6: a window of just K would
# stall on every loss.
declare -A windows=([stop-and-wait]=1 [go-back-n]=16 [selective-repeat]=32)

work=$(mktemp -d /tmp/linksim_arq.XXXXXX)
trap 'rm -rf "$work"' EXIT
printf '%s\n' "Propagation Delay $delay" "Processing Delay $processing" \
  "Bit Rate $bit_rate" "Data Packet Size $data" \
  "Data Packet Overhead $overhead" "ACK Size $ack" \
  "Simulation Duration $duration" "Packet Rate $rate" >"$work/link.txt"
# The screen is not cleared between prompts: clear is a no-op here.
mkdir "$work/bin" && printf '#!/bin/sh\n' >"$work/bin/clear" &&
  chmod +x "$work/bin/clear"
i=0
for protocol in "${protocols[@]}"; do
  for loss in $losses; do
    i=$((i + 1))
    echo "$i $protocol ${windows[$protocol]} $loss"
  done
done >"$work/points"
total=$(wc -l <"$work/points")

# One point, a protocol at a loss: a run per seed, each with its trace, and
# a CSV row per run in the point's own file. A run that fails, or that
# linksim refuses, stops the study: it measured nothing. The points not yet
# started then end at once, and xargs waits for those that have.
run_point() {
  local index=$1 protocol=$2 window=$3 loss=$4 seed
  local name=$work/$protocol-$loss program=program_${2//-/_}
  program=${!program}
  for seed in $seeds; do
    [ ! -e "$work/failed" ] || return 1
    if ! printf 'load %s\n\nrun\n\n\nexit\n' "$work/link.txt" |
      LINKSIM_WINDOW=$window LINKSIM_LOSS=$loss LINKSIM_SEED=$seed \
        LINKSIM_TRACE=$name.trace PATH="$work/bin:$PATH" \
        "$program" >"$name.out" 2>&1 ||
      ! grep -q 'Simulation completed successfully' "$name.out"; then
      echo "$protocol, loss $loss, seed $seed: the run failed:" >&2
      cat "$name.out" >&2
      touch "$work/failed"
      return 1
    fi
    awk -F, -v protocol="$protocol" -v w="$window" -v loss="$loss" \
      -v seed="$seed" -v timeout="$timeout" -v l="$duration" -v td="$td" '
      FILENAME != ARGV[1] { if (/acknowledged packet [0-9]+ at /) acked++; next }
      $4 == "data" && ($3 == "send" || $3 == "resend") { sent++ }
      END {
        printf "%s,%d,%s,%s,%s,%s,%d,%d,%.6f\n", protocol, w, loss, seed,
          timeout, l, acked, sent, acked * td / l
      }' "$name.trace" "$name.out" >>"$name.csv"
  done
  rm -f "$name.trace" "$name.out"
  awk -F, -v i="$index" -v n="$total" '{ u += $9 } END {
    printf "[%d/%d] %s, loss %s: mean utilization %.4f over %d runs\n",
      i, n, $1, $3, u / NR, NR }' "$name.csv" >&2
}
export -f run_point
export work seeds timeout duration td total

echo "Running $total points of $(wc -w <<<"$seeds") seeds on $(nproc) cores" >&2
xargs -P "$(nproc)" -L 1 bash -c 'run_point "$@"' _ <"$work/points" ||
  { echo "$0: a run failed; nothing written" >&2; exit 1; }

runs=$out/arq_runs.csv
echo "protocol,window,loss,seed,timeout,duration,acknowledged,frames_sent,utilization" >"$runs"
while read -r _ protocol _ loss; do cat "$work/$protocol-$loss.csv"; done \
  <"$work/points" >>"$runs"

# Each point's mean with its 95% interval, Student's t over the seeds, and
# the textbook's figure: K = T / Td, P = 1 - (1 - p)^2, the chance that a
# frame or its ACK is lost.
csv=$out/arq.csv
echo "protocol,window,loss,runs,mean,ci95_low,ci95_high,textbook" >"$csv"
tail -n +2 "$runs" | awk -F, -v td="$td" -v t="$t" '
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
    key = $1 "," $2 "," $3
    if (!(key in n)) order[++points] = key
    n[key]++; sum[key] += $9; squares[key] += $9 * $9
  }
  END {
    k = t / td
    for (i = 1; i <= points; i++) {
      key = order[i]; split(key, f, ",")
      mean = sum[key] / n[key]
      variance = (squares[key] - n[key] * mean * mean) / (n[key] - 1)
      half = quantile(n[key] - 1) * sqrt(variance > 0 ? variance : 0) / sqrt(n[key])
      lost = 1 - (1 - f[3]) ^ 2
      if (f[1] == "stop-and-wait") textbook = (1 - lost) / k
      else if (f[1] == "go-back-n") textbook = (1 - lost) / (1 + (k - 1) * lost)
      else textbook = 1 - lost
      printf "%s,%d,%.6f,%.6f,%.6f,%.6f\n", key, n[key], mean, mean - half,
        mean + half, textbook
    }
  }' >>"$csv"

# The measured points stand; only the picture needs gnuplot.
if ! command -v gnuplot >/dev/null; then
  echo "Wrote $runs and $csv, but no picture: gnuplot is not installed." >&2
  echo "For $out/arq.png: apt-get install -y gnuplot-nox, and run this again." >&2
  exit 1
fi

k=$(awk -v t="$t" -v td="$td" 'BEGIN { print t / td }')
# From 0 to the largest loss, 0.5 at least, with room for the points.
right=$(awk 'BEGIN { m = 0.5 } $1 > m { m = $1 } END { print m + 0.01 }' \
  <<<"$losses")
# Cairo's terminal draws dashes and smooth lines; libgd's is the fallback.
terminal=png
gnuplot -e 'set terminal pngcairo' 2>/dev/null && terminal=pngcairo
gnuplot <<GNUPLOT
set terminal $terminal size 1000,700 font ',11'
set output '$out/arq.png'
set datafile separator ','
set title "ARQ on a lossy link: utilization against frame loss\\n" . \
  "Td = $td, T = $t ticks, K = T / Td = $k, P = 1 - (1 - p)^2; " . \
  "$(wc -w <<<"$seeds") runs of $duration ticks per point, mean and 95% interval"
set xlabel 'frame loss probability p (data and ACKs alike)'
set ylabel 'utilization (acknowledged x Td / duration)'
set xrange [-0.01:$right]
set yrange [0:1.05]
set samples 500
set grid
set key top right box opaque
K = $k
lost(p) = 1 - (1 - p)**2
# The curves start at p = 0: nothing to the left of it.
on(p, u) = p < 0 ? 1/0 : u
gbn(P) = (1 - P) / (1 + (K - 1) * P)
set style fill transparent solid 0.2 noborder
csv = '$csv'
plot \
  '+' using 1:(on(\$1, gbn(lost(\$1)))):(gbn(\$1)) with filledcurves lc rgb '#d95f02' title 'Go-Back-N: the band its truth lies in', \
  on(x, 1 - lost(x)) with lines lw 2 lc rgb '#1b9e77' title 'Selective Repeat: 1 - P', \
  on(x, gbn(lost(x))) with lines lw 2 lc rgb '#d95f02' title 'Go-Back-N: (1 - P) / (1 + (K - 1) P)', \
  on(x, gbn(x)) with lines lw 2 dt 2 lc rgb '#d95f02' title 'Go-Back-N, the same with P = p', \
  on(x, (1 - lost(x)) / K) with lines lw 2 lc rgb '#7570b3' title 'stop-and-wait: (1 - P) / K', \
  csv skip 1 using 3:(strcol(1) eq 'selective-repeat' ? \$5 : 1/0):6:7 with yerrorbars pt 7 ps 0.8 lc rgb '#1b9e77' title 'Selective Repeat, W = 32: measured', \
  csv skip 1 using 3:(strcol(1) eq 'go-back-n' ? \$5 : 1/0):6:7 with yerrorbars pt 5 ps 0.8 lc rgb '#d95f02' title 'Go-Back-N, W = 16: measured', \
  csv skip 1 using 3:(strcol(1) eq 'stop-and-wait' ? \$5 : 1/0):6:7 with yerrorbars pt 9 ps 1 lc rgb '#7570b3' title 'stop-and-wait: measured'
GNUPLOT
echo "Wrote $runs, $csv and $out/arq.png" >&2
