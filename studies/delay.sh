#!/usr/bin/env bash
# Mean delay against offered load, with Poisson arrivals.
#
# The mean delay of a packet from its arrival to its delivery, against the
# offered load rho from 0.1 to 0.9, for stop-and-wait with Poisson arrivals
# (LINKSIM_ARRIVALS=poisson) on a link of whole ticks, without loss and at
# a frame loss of 0.1, measured over many seeds, over the
# Pollaczek-Khinchine formula for its service time; Go-Back-N and
# Selective Repeat measured beside it at the same packet rates, over M/D/1
# at their transmitter without loss.
#
#   studies/delay.sh OUTDIR     installed: linksim-study delay OUTDIR
#
# Writes OUTDIR/delay_runs.csv, a row per run (linksim-arq's LINKSIM_STATS
# row), OUTDIR/delay.csv, a row per point,
#   protocol,window,loss,load,runs,mean,ci95_low,ci95_high,closed_form
# (the mean of its runs' mean delays, its 95% interval by Student's t, and
# the closed form below, empty for a window under loss), and
# OUTDIR/delay.png. Without gnuplot it writes the CSVs, says how to get
# the picture and exits with status 1. A run that fails, or that
# linksim-arq refuses, stops the study with status 1 before it writes
# anything.
#
# Knobs, as environment variables:
#   LOADS     the offered loads, each 0 < rho < 1 (default: 0.1 to 0.9 by
#             0.1)
#   LOSSES    the frame loss probabilities, each 0 <= p < 1 (default: 0
#             0.1)
#   SEEDS     the seeds, two or more (default: 1 to 20)
#   WINDOW    Go-Back-N's and Selective Repeat's window, from 1 to 65536
#             (default: 8)
#   LINK      a settings file for the link, as examples/link.txt, its
#             packet rate set for each load; the closed forms hold where
#             every stage is a whole number of ticks (default: P 1, A 2,
#             Td 5, Ta 1)
#   DURATION  ticks per run (default: 200000, or LINK's own)
#   LINKSIM_ARQ_PROGRAM  the linksim-arq to run (default: in the source
#             tree the release tree's, built or brought up to date first;
#             installed, the one on PATH)

# The link. Every stage a whole number of ticks: a data frame handed over
# at c reaches the sink at c + Hd, Hd = P + A + Td (8 on the default
# link), and its ACK the source at c + D, D = Hd + P + A + Ta = T, the
# textbook's round trip (12); the derived timeout, T - P, fires in the
# very tick the ACK would have been read (protocols/stop_and_wait.cpp).
# Packets arrive at the points of a Poisson process of rate lambda, the
# packet rate; a packet's delay runs from its arrival to its delivery.
#
# Stop-and-wait is a single server. The source takes the oldest packet
# waiting when it has none in hand, and tries it until its ACK comes back:
# each attempt takes D ticks, and succeeds when its data frame and its ACK
# both arrive, with probability 1 - P, P = 1 - (1 - p)^2. The attempts are
# independent, so a packet holds the source for S = N D ticks, N geometric:
# E[N] = 1 / (1 - P), E[N^2] = (1 + P) / (1 - P)^2, so
#   E[S] = D / (1 - P),   E[S^2] = D^2 (1 + P) / (1 - P)^2,
# and the offered load is rho = lambda E[S]: a point at load rho runs at
# the packet rate lambda = rho (1 - P) / D. The backlog's limit of 16
# postpones a packet's creation, never its turn, so the queue is one
# without limit, served in order: M/G/1. Its mean wait, Pollaczek-Khinchine:
#   Wq = lambda E[S^2] / (2 (1 - rho)).
# The clock's rounding: the source acts on whole ticks, so a packet that
# finds it idle waits U = ceil(a) - a after its arrival a for the tick in
# which it is taken, and, as the source became free on a whole tick, every
# service then starts and ends on one. That is M/G/1 with a setup time U
# before the first service of each busy period; U is the part of an
# exponential gap up to the next whole tick, close to uniform on [0, 1) at
# these rates (E[U] = 1/2, E[U^2] = 1/3), and the mean wait grows by
# (2 E[U] + lambda E[U^2]) / (2 (1 + lambda E[U])), about half a tick. The
# packet is handed up by the first attempt whose data frame arrives,
# whatever becomes of its ACK: the G-th, G geometric with success 1 - p,
# which starts (G - 1) D after the packet is taken, its data frame reaching
# the sink Hd later. So the mean delay is
#   W = lambda E[S^2] / (2 (1 - rho)) + (1 + lambda / 3) / (2 + lambda)
#       + D p / (1 - p) + Hd,
# without loss the M/D/1 queue's D rho / (2 (1 - rho)) + Hd + 1/2, less
# lambda / 12. Measured with the defaults, stop-and-wait lies within each
# point's interval or a fifth of a tick of it up to rho = 0.8, and within
# 5 ticks of 89 at 0.9 with loss, where 20 runs are few for so long a
# queue.
#
# Go-Back-N and Selective Repeat (a window of 8, which covers the round
# trip of K = T / Td = 2.4 frames) pipeline the packets: without loss a
# packet waits only for the transmitter, which takes Td per frame, and the
# window never fills at these loads (about lambda T frames in flight,
# below one). The transmitter is then M/D/1 with service Td at load
# lambda Td, with the same rounding, and the packet reaches the sink Hd
# after it is handed over:
#   W = lambda Td^2 / (2 (1 - lambda Td)) + (1 + lambda / 3) / (2 + lambda)
#       + Hd.
# With loss they are measured only: a lost frame holds its packet for a
# timeout, and under Go-Back-N the frames after it too.
set -euo pipefail
# shellcheck source=studies/study.bash
source "$(dirname "${BASH_SOURCE[0]}")/study.bash"
study_start 200000 "$@"

loads=$(study_words "${LOADS:-0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8 0.9}")
for load in $loads; do
  study_decimal "$load" 0 1 && awk -v x="$load" 'BEGIN { exit !(x > 0) }' ||
    study_fail "LOADS: $load: each must be 0 < rho < 1"
done
losses=$(study_words "${LOSSES:-0 0.1}")
for loss in $losses; do
  study_decimal "$loss" 0 1 || study_fail "LOSSES: $loss: each must be 0 <= p < 1"
done
# A value named twice is run once: twice would count its runs twice.
loads=$(awk '!seen[sprintf("%.17g", $0 + 0)]++' <<<"$loads")
losses=$(awk '!seen[sprintf("%.17g", $0 + 0)]++' <<<"$losses")
seeds=$(study_words "${SEEDS:-$(seq 1 20)}")
for seed in $seeds; do
  study_seed "$seed" ||
    study_fail "SEEDS: $seed: each must be a whole number from 0 to 2^64 - 1"
done
seeds=$(awk '{ key = $0; sub(/^0+/, "", key) } !seen[key]++' <<<"$seeds")
[ "$(wc -w <<<"$seeds")" -ge 2 ] || study_fail "SEEDS must name two seeds or more"
window=${WINDOW:-8}
study_whole "$window" 1 65536 || study_fail "WINDOW must be a whole number from 1 to 65536"
window=$((10#$window))

# The link, the study's own unless LINK names one, with the packet rate of
# each point: a run of one tick says in its stats what linksim-arq reads.
link() {  # FILE RATE
  if [ -n "${LINK:-}" ]; then
    study_settings "$1" "Packet Rate" "$2"
  else
    study_settings "$1" "Propagation Delay" 2 "Data Packet Size" 450 \
      "Data Packet Overhead" 50 "Packet Rate" "$2"
  fi
}
link "$work/probe.txt" 1
echo "Simulation Duration 1" >>"$work/probe.txt"
study_run "$0: the link" "$work/probe.txt" "$work/probe.out" \
  LINKSIM_STATS="$work/probe.stats" || exit 1
read -r td hd d whole < <(awk -F, "$study_awk_stats"' END {
  hd = $col["processing_delay"] + $col["propagation_delay"] + td
  ha = $col["processing_delay"] + $col["propagation_delay"] + ta
  whole = hd == int(hd) && ha == int(ha) && td == int(td)
  hd = int(hd) + (hd > int(hd)); ha = int(ha) + (ha > int(ha))
  print td, hd, hd + ha, whole }' "$work/probe.stats")
[ "$whole" = 1 ] || echo "$0: warning: the link's stages are not whole" \
  "numbers of ticks: the closed forms only approach the runs" >&2

# A point per protocol, loss and load, with its link: the packet rate that
# offers stop-and-wait that load at that loss.
i=0
for protocol in stop-and-wait go-back-n selective-repeat; do
  for loss in $losses; do
    for load in $loads; do
      i=$((i + 1))
      link "$work/$i.txt" "$(awk -v rho="$load" -v p="$loss" -v d="$d" \
        'BEGIN { printf "%.17g", rho * (1 - p) ^ 2 / d }')"
      echo "$i $protocol $loss $load"
    done
  done
done >"$work/points"
total=$(wc -l <"$work/points")

# One point: a run per seed, each appending its row to the point's stats
# file. A run that fails stops the study: it measured nothing.
run_point() {
  local index=$1 protocol=$2 loss=$3 load=$4 seed name=$work/$1
  local variables=(LINKSIM_ARQ="$protocol" LINKSIM_LOSS="$loss"
    LINKSIM_ARRIVALS=poisson LINKSIM_STATS="$name.stats")
  [ "$protocol" = stop-and-wait ] || variables+=(LINKSIM_WINDOW="$window")
  for seed in $seeds; do
    [ ! -e "$work/failed" ] || return 1
    if ! study_run "$protocol, loss $loss, load $load, seed $seed" \
      "$work/$index.txt" "$name.out" "${variables[@]}" LINKSIM_SEED="$seed"; then
      touch "$work/failed"
      return 1
    fi
  done
  rm -f "$name.out"
  awk -F, "$study_awk_stats"' { sum += $col["delay_mean"]; n++ } END {
    printf "[%d/%d] %s, loss %s, load %s: mean delay %.2f over %d runs\n",
      i, total, $col["protocol"], $col["loss"], load, sum / n, n }' \
    i="$index" total="$total" load="$load" "$name.stats" >&2
}
export -f run_point
export seeds total window study_awk_stats

echo "Running $total points of $(wc -w <<<"$seeds") seeds on $(nproc) cores" >&2
xargs -P "$(nproc)" -L 1 bash -c 'run_point "$@"' _ <"$work/points" ||
  { echo "$0: a run failed; nothing written" >&2; exit 1; }

runs=$out/delay_runs.csv
while read -r index _; do echo "$work/$index.stats"; done <"$work/points" |
  xargs awk 'FNR > 1 || NR == 1' >"$runs"

# The closed forms of the opening comment at loss p and load rho, on a link
# of d, hd and td: stop-and-wait's at any loss, a window's without loss,
# and none for a window under loss.
# shellcheck disable=SC2016  # awk's variables, not the shell's
closed='
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
  }'

# Each point's mean with its 95% interval, Student's t over the seeds; a
# run that delivered nothing has no delay, and is left out.
csv=$out/delay.csv
echo "protocol,window,loss,load,runs,mean,ci95_low,ci95_high,closed_form" >"$csv"
stats=()
while read -r index _; do stats+=("$work/$index.stats"); done <"$work/points"
awk -F, -v d="$d" -v hd="$hd" -v points="$work/points" "$study_awk_stats$study_awk_t95$closed"'
  BEGIN {
    while ((getline line < points) > 0) {
      split(line, f, " "); load[f[1]] = f[4]
    }
  }
  FNR == 2 { point++ }
  $col["delay_mean"] != "" {
    key = $col["protocol"] "," $col["window"] "," $col["loss"] "," load[point]
    if (!(key in n_)) order[++keys] = key
    delay = $col["delay_mean"]
    n_[key]++; sum[key] += delay; squares[key] += delay * delay
  }
  END {
    for (i = 1; i <= keys; i++) {
      key = order[i]; split(key, f, ",")
      n = n_[key]; mean = sum[key] / n
      variance = n > 1 ? (squares[key] - n * mean * mean) / (n - 1) : 0
      half = n > 1 ? quantile(n - 1) * sqrt(variance > 0 ? variance : 0) / sqrt(n) : 0
      form = closedForm(f[1], f[3], f[4])
      printf "%s,%d,%.4f,%.4f,%.4f,%s\n", key, n, mean, mean - half,
        mean + half, form == "" ? "" : sprintf("%.4f", form)
    }
  }' "${stats[@]}" >>"$csv"

study_need_gnuplot "$runs" "$csv"

# The closed forms drawn smooth, a block per loss, from load 0 to 1.
for loss in $losses; do
  awk -v d="$d" -v hd="$hd" -v td="$td" -v p="$loss" "$closed"'BEGIN {
      for (i = 1; i < 400; i++) {
        rho = i / 400
        printf "%s,%.6f,%.6f,%s\n", p, rho, closedForm("stop-and-wait", p, rho),
          closedForm("go-back-n", p, rho)
      }
      printf "\n\n" }'
done >"$work/curves.csv"
link="the study's link"
[ -z "${LINK:-}" ] || link="the link of $(basename "$LINK")"
duration=$(awk -F, "$study_awk_stats"' END { printf "%d\n", $col["duration"] }' "$runs")
# Per loss: stop-and-wait's curve and points in a colour of its own, the
# windows' points beside them, and the windows' curve without loss.
colours=('#7570b3' '#d95f02' '#e7298a' '#66a61e' '#e6ab02' '#a6761d')
plot=() i=0
for loss in $losses; do
  colour=${colours[i % ${#colours[@]}]}
  select="csv skip 1 using 4:(strcol(1) eq '%s' && \$3 == $loss ? \$6 : 1/0):7:8 with yerrorbars"
  # shellcheck disable=SC2059  # the protocol goes into the format
  plot+=("curves index $i using 2:3 with lines lw 2 lc rgb '$colour' title 'stop-and-wait, p = $loss: Pollaczek-Khinchine'"
    "$(printf "$select" stop-and-wait) pt 9 ps 1.2 lc rgb '$colour' title 'stop-and-wait, p = $loss: measured'"
    "$(printf "$select" go-back-n) pt $((5 + 2 * (i % 2))) ps 0.8 lc rgb '#1b9e77' title 'Go-Back-N, W = $window, p = $loss: measured'"
    "$(printf "$select" selective-repeat) pt $((4 + 2 * (i % 2))) ps 0.8 lc rgb '#1f78b4' title 'Selective Repeat, W = $window, p = $loss: measured'")
  awk -v p="$loss" 'BEGIN { exit !(p == 0) }' &&
    plot+=("curves index $i using 2:4 with lines lw 2 dt 2 lc rgb '#1b9e77' title 'a window, p = 0: M/D/1 at the transmitter'")
  i=$((i + 1))
done
top=$(awk -F, 'NR > 1 && $8 > m { m = $8 } END { print m * 1.1 }' "$csv")

terminal=$(study_terminal)
{
  cat <<GNUPLOT
set terminal $terminal size 1000,700 font ',11'
set output '$out/delay.png'
set datafile separator ','
set title noenhanced "Delay against offered load with Poisson arrivals\\n" . \
  "$link: Td = $td, Hd = $hd, D = $d ticks; rho = lambda E[S], stop-and-wait's load\\n" . \
  "$(wc -w <<<"$seeds") runs of $duration ticks per point, mean and 95% interval"
set xlabel "offered load rho (the packet rate x stop-and-wait's mean service time, D / (1 - P))" noenhanced
set ylabel 'mean delay from arrival to delivery (ticks)'
set xrange [0:1]
set yrange [0:$top]
set grid
set key top left box opaque noenhanced
csv = '$csv'
curves = '$work/curves.csv'
GNUPLOT
  study_plot "${plot[@]}"
} | gnuplot
echo "Wrote $runs, $csv and $out/delay.png" >&2
