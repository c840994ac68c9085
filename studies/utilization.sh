#!/usr/bin/env bash
# Link utilization of the sliding-window example against window size and
# propagation delay, measured, over the textbook's min(1, W Td / T) with
# T = Td + Ta + 2A + 2P: one run of the program per point, on all cores.
#
#   studies/utilization.sh OUTDIR
#
# Writes OUTDIR/utilization.csv and OUTDIR/utilization.png. Without gnuplot
# it writes the CSV, says how to get the picture and exits with status 1.
# The program is the sliding-window preset's, built or brought up to date
# first; LINKSIM_SLIDING_WINDOW names another to use as it is. The sweep can
# be narrowed: WINDOWS="1 2 4" DELAYS="5 40" DURATION=2000.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 OUTDIR" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)

program=${LINKSIM_SLIDING_WINDOW:-}
if [ -z "$program" ]; then
  (cd "$root" && cmake --preset sliding-window >/dev/null &&
    cmake --build --preset sliding-window >/dev/null)
  program=$root/build-sliding-window/linksim
fi
program=$(realpath "$program")

# The link: every stage a whole number of ticks (Td 10, Ta 1, P 1), so the
# discrete run follows the closed form of the example's opening comment.
windows=${WINDOWS:-$(seq 1 16)}
delays=${DELAYS:-5 10 20 40 80}
processing=1 bit_rate=100 data=960 overhead=40 ack=100
duration=${DURATION:-20000}
rate=1  # a packet a tick: the backlog is never what holds the link back

work=$(mktemp -d /tmp/linksim_study.XXXXXX)
trap 'rm -rf "$work"' EXIT
i=0
for delay in $delays; do
  for window in $windows; do i=$((i + 1)) && echo "$i $window $delay"; done
done >"$work/points"
total=$(wc -l <"$work/points")

# One point: its settings file, a session of load and run, and the number of
# acknowledgements the run wrote; prints its CSV line to its own file.
run_point() {
  local index=$1 window=$2 delay=$3 name=$work/$2_$3
  [ ! -e "$work/failed" ] || return 1  # another run failed: stop
  printf '%s\n' "Propagation Delay $delay" "Processing Delay $processing" \
    "Bit Rate $bit_rate" "Data Packet Size $data" \
    "Data Packet Overhead $overhead" "ACK Size $ack" \
    "Simulation Duration $duration" "Packet Rate $rate" >"$name.txt"
  # A run that fails, or that linksim refuses, stops the study: counted,
  # it would pass for a run that acknowledged little or nothing.
  if ! printf 'load %s\n\nrun\n\n\nexit\n' "$name.txt" |
    LINKSIM_WINDOW=$window PATH="$work/bin:$PATH" "$program" \
      >"$name.out" 2>&1 ||
    ! grep -q 'Simulation completed successfully' "$name.out"; then
    echo "window $window, propagation delay $delay: the run failed:" >&2
    cat "$name.out" >&2
    touch "$work/failed"
    return 1
  fi
  local acked
  acked=$(grep -c 'acknowledged packet' "$name.out" || true)
  awk -v w="$window" -v a="$delay" -v p="$processing" -v b="$bit_rate" \
    -v d="$data" -v o="$overhead" -v k="$ack" -v l="$duration" -v n="$acked" '
    BEGIN {
      td = (d + o) / b; t = td + k / b + 2 * a + 2 * p
      textbook = w * td / t; if (textbook > 1) textbook = 1
      printf "%d,%s,%s,%s,%s,%s,%s,%s,%d,%.6f,%.6f\n",
        w, a, p, b, d, o, k, l, n, n * td / l, textbook
    }' >"$name.csv"
  echo "[$index/$total] window $window, propagation delay $delay: $acked acknowledged" >&2
}
export -f run_point
export work program processing bit_rate data overhead ack duration rate total
# The screen is not cleared between prompts: clear is a no-op here.
mkdir "$work/bin" && printf '#!/bin/sh\n' >"$work/bin/clear" &&
  chmod +x "$work/bin/clear"

echo "Running $total points on $(nproc) cores with $program" >&2
xargs -P "$(nproc)" -L 1 bash -c 'run_point "$0" "$1" "$2"' <"$work/points" ||
  { echo "$0: a run failed; nothing written" >&2; exit 1; }

csv=$out/utilization.csv
echo "window,propagation_delay,processing_delay,bit_rate,data_size,overhead,ack_size,duration,acknowledged,utilization,textbook" >"$csv"
while read -r _ window delay; do cat "$work/${window}_$delay.csv"; done \
  <"$work/points" >>"$csv"

# The measured points stand; only the picture needs gnuplot.
if ! command -v gnuplot >/dev/null; then
  echo "Wrote $csv, but no picture: gnuplot is not installed." >&2
  echo "For $out/utilization.png: apt-get install -y gnuplot-nox, and run this again." >&2
  exit 1
fi

# The measured points over the textbook's curves, one colour per delay.
plot=""
i=0
for delay in $delays; do
  i=$((i + 1))
  t=$(awk -v a="$delay" -v p="$processing" -v b="$bit_rate" -v d="$data" \
    -v o="$overhead" -v k="$ack" 'BEGIN { print (d + o) / b + k / b + 2 * a + 2 * p }')
  td=$(awk -v b="$bit_rate" -v d="$data" -v o="$overhead" 'BEGIN { print (d + o) / b }')
  plot+="${plot:+, }(x * $td / $t < 1 ? x * $td / $t : 1) with lines lt $i title 'textbook, A = $delay'"
  plot+=", '$csv' using 1:(\$2 == $delay ? \$10 : 1/0) with points lt $i pt 7 title 'measured, A = $delay'"
done
gnuplot <<GNUPLOT
set terminal png size 1000,650
set output '$out/utilization.png'
set datafile separator ','
set key outside right top
set title 'Sliding window: link utilization (Td = $(awk -v b="$bit_rate" -v d="$data" -v o="$overhead" 'BEGIN { print (d + o) / b }'), Ta = $(awk -v b="$bit_rate" -v k="$ack" 'BEGIN { print k / b }'), P = $processing ticks)'
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
