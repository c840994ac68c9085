#!/usr/bin/env bash
# The sliding window's utilization against window and delay.
#
# Link utilization of the sliding window against window size and
# propagation delay, measured, over the textbook's min(1, W Td / T) with
# T = Td + Ta + 2A + 2P: one run of linksim-arq (LINKSIM_ARQ=sliding-window)
# per point, on all cores.
#
#   studies/utilization.sh OUTDIR     installed: linksim-study utilization OUTDIR
#
# Writes OUTDIR/utilization.csv, a row per point (the window, the link, the
# packets acknowledged, utilization = acknowledged x Td / duration, and the
# textbook's figure), and OUTDIR/utilization.png. Without gnuplot it writes
# the CSV, says how to get the picture and exits with status 1. A run that
# fails, or that linksim-arq refuses, stops the study with status 1 before
# it writes anything.
#
# Knobs, as environment variables:
#   WINDOWS   the windows, each from 1 to 65536 (default: 1 to 16)
#   DELAYS    the propagation delays in ticks (default: 5 10 20 40 80)
#   LINK      a settings file for the rest of the link, as examples/link.txt
#             (default: Td 10, Ta 1, P 1, a packet a tick: every stage a
#             whole number of ticks, where the discrete run follows the
#             closed form of the protocol's opening comment)
#   DURATION  ticks per run (default: 20000, or LINK's own)
#   LINKSIM_ARQ_PROGRAM  the linksim-arq to run (default: in the source
#             tree the release tree's, built or brought up to date first;
#             installed, the one on PATH)
set -euo pipefail
# shellcheck source=studies/study.bash
source "$(dirname "${BASH_SOURCE[0]}")/study.bash"
study_start 20000 "$@"

windows=${WINDOWS:-$(seq 1 16)}
delays=${DELAYS:-5 10 20 40 80}
for window in $windows; do
  study_whole "$window" 1 65536 ||
    { echo "$0: WINDOWS: $window: each must be from 1 to 65536" >&2; exit 2; }
done
for delay in $delays; do
  study_decimal "$delay" 1e-300 1e300 ||
    { echo "$0: DELAYS: $delay: each must be a number of ticks above 0" >&2; exit 2; }
done
i=0 d=0
for delay in $delays; do
  d=$((d + 1))
  study_settings "$work/link_$d.txt" "Propagation Delay" "$delay"
  for window in $windows; do
    i=$((i + 1)) && echo "$i $window $work/link_$d.txt $delay"
  done
done >"$work/points"
total=$(wc -l <"$work/points")

# One point: a run with its window on its delay's link, its figures in its
# own stats file.
run_point() {
  local index=$1 window=$2 link=$3 delay=$4 name=$work/$1
  [ ! -e "$work/failed" ] || return 1 # another run failed: stop
  if ! study_run "window $window, propagation delay $delay" "$link" \
    "$name.out" LINKSIM_ARQ=sliding-window LINKSIM_WINDOW="$window" \
    LINKSIM_STATS="$name.stats"; then
    touch "$work/failed"
    return 1
  fi
  echo "[$index/$total] window $window, propagation delay $delay:" \
    "$(awk -F, "$study_awk_stats"' END { print $col["acknowledged"] }' \
      "$name.stats") acknowledged" >&2
}
export -f run_point
export total study_awk_stats

echo "Running $total points on $(nproc) cores with $arq" >&2
xargs -P "$(nproc)" -L 1 bash -c 'run_point "$@"' _ <"$work/points" ||
  { echo "$0: a run failed; nothing written" >&2; exit 1; }

csv=$out/utilization.csv
echo "window,propagation_delay,processing_delay,bit_rate,data_size,overhead,ack_size,duration,acknowledged,utilization,textbook" >"$csv"
while read -r index _; do echo "$work/$index.stats"; done <"$work/points" |
  xargs awk -F, "$study_awk_stats"'
    {
      w = $col["window"]; textbook = w * td / t; if (textbook > 1) textbook = 1
      printf "%d,%s,%s,%s,%s,%s,%s,%s,%d,%.6f,%.6f\n", w,
        $col["propagation_delay"], $col["processing_delay"], $col["bit_rate"],
        $col["data_packet_size"], $col["data_packet_overhead"],
        $col["ack_size"], $col["duration"], $col["acknowledged"],
        $col["utilization"], textbook
    }' >>"$csv"

study_need_gnuplot "$csv"

# The measured points over the textbook's curves, one colour per delay; the
# link's figures from the CSV, as the runs read them.
read -r td ta p < <(awk -F, 'NR == 2 { print ($5 + $6) / $4, $7 / $4, $3 }' "$csv")
plot=""
i=0
while read -r delay t; do
  i=$((i + 1))
  plot+="${plot:+, }(x * $td / $t < 1 ? x * $td / $t : 1) with lines lt $i title 'textbook, A = $delay'"
  plot+=", '$csv' using 1:(\$2 == $delay ? \$10 : 1/0) with points lt $i pt 7 title 'measured, A = $delay'"
done < <(awk -F, -v td="$td" -v ta="$ta" -v p="$p" \
  'NR > 1 && !seen[$2]++ { print $2, td + ta + 2 * $2 + 2 * p }' "$csv")
gnuplot <<GNUPLOT
set terminal png size 1000,650
set output '$out/utilization.png'
set datafile separator ','
set key outside right top
set title 'Sliding window: link utilization (Td = $td, Ta = $ta, P = $p ticks)'
set xlabel 'window W (packets)'
set ylabel 'utilization (acknowledged x Td / duration)'
set xrange [0.5:*]
set yrange [0:1.05]
set samples 1000
set grid
# Colours far enough apart to tell the delays' curves from one another.
set linetype 1 lc rgb '#1b9e77'
set linetype 2 lc rgb '#d95f02'
set linetype 3 lc rgb '#7570b3'
set linetype 4 lc rgb '#e7298a'
set linetype 5 lc rgb '#66a61e'
set linetype 6 lc rgb '#e6ab02'
set linetype 7 lc rgb '#a6761d'
set linetype 8 lc rgb '#666666'
set linetype cycle 8
plot $plot
GNUPLOT
echo "Wrote $csv and $out/utilization.png" >&2
