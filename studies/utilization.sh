#!/usr/bin/env bash
# The sliding window's utilization against window and delay.
#
# The utilization of the sliding window (LINKSIM_ARQ=sliding-window, which
# loses nothing) against its window W and the propagation delay A, a run a
# point, over the textbook's min(1, W Td / T), T = Td + Ta + 2A + 2P, less
# the first round trip of each run, which brings no ACK.
#
# Writes into OUTDIR utilization_runs.csv (each run's stats row),
# utilization.csv (a row per point), utilization_curves.csv and
# utilization.png; their columns: man linksim-study.
set -euo pipefail
# shellcheck source=studies/study.bash
source "$(dirname "${BASH_SOURCE[0]}")/study.bash"
study_knob WINDOWS "$(seq 1 16)" window... "the windows, each from 1 to 65536"
study_knob DELAYS '5 10 20 40 80' above0... "the propagation delays in ticks, each above 0"
study_common_knobs 20000
study_start "$@"

i=0
for delay in $DELAYS; do
  i=$((i + 1))
  study_settings "$work/link_$i.txt" "Propagation Delay" "$delay"
  for window in $WINDOWS; do
    echo "$work/link_$i.txt $window,$delay LINKSIM_ARQ=sliding-window LINKSIM_WINDOW=$window"
  done
done >"$work/points"
study_sweep window,propagation_delay acknowledged

# Each run with its curves, and each delay's curves at 301 windows.
csv=$out/utilization.csv curves=$out/utilization_curves.csv
right=$(sort -n <<<"$WINDOWS" | tail -n 1)
awk -F, -v header=window,propagation_delay,processing_delay,bit_rate,data_size,overhead,ack_size,duration,acknowledged,utilization,textbook,curve \
  -v curves="$curves" -v right="$right" "$study_awk_link$study_awk_curves"'
  function textbook(w) { return w * td / t < 1 ? w * td / t : 1 }
  {
    link(); w = $col["window"]
    printf "%d,%s,%s,%s,%s,%s,%s,%s,%d,%.6f,%.6f,%.6f\n", w, a, pd, $col["bit_rate"],
      $col["data_packet_size"], $col["data_packet_overhead"], $col["ack_size"], l,
      $col["acknowledged"], $col["utilization"], textbook(w), capacity(w)
    if (a in seen) next
    seen[a]; if (!blocks++) print "propagation_delay,window,textbook,curve" > curves
    for (i = 0; i <= 300; i++) {
      w = 0.5 + i * (right - 0.5) / 300
      printf "%s,%.4f,%.6f,%.6f\n", a, w, textbook(w), capacity(w) > curves
    }
    printf "\n\n" > curves
  }' "$runs" >"$csv"
study_need_gnuplot "$runs" "$csv" "$curves"

plot=() i=0
for delay in $DELAYS; do
  lc="lc rgb '${study_colours[i % 8]}'"
  plot+=("'$curves' index $i using 2:4 with lines lw 1.5 $lc title 'A = $delay ticks'"
    "'$csv' skip 1 using 1:(\$2 == $delay ? \$10 : 1/0) with points pt 7 $lc notitle")
  i=$((i + 1))
done
read -r td ta p < <(awk -F, 'NR == 2 { print ($5 + $6) / $4, $7 / $4, $3 }' "$csv")
study_picture "$out/utilization.png" 1000 650 \
  "The sliding window: utilization against the window W, for each propagation delay A" \
  "Td = $td ticks a data frame, Ta = $ta an ACK, P = $p the processing; a round trip of T = Td + Ta + 2A + 2P" \
  "lines: min(1, W Td / T), less each run's first round trip, which brings no ACK; points: runs of $duration ticks" <<GNUPLOT
set key bottom right box opaque noenhanced title 'propagation delay'
set xlabel 'window W (packets)'
set ylabel 'utilization (acknowledged x Td / duration)'
set xrange [0.5:*]
set yrange [0:1.05]
set grid
$(study_plot "${plot[@]}")
GNUPLOT
echo "Wrote $runs, $csv, $curves and $out/utilization.png" >&2
