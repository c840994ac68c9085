#!/usr/bin/env bash
# One short run of the Go-Back-N example on a lossy link, drawn from its
# trace as a time-sequence diagram: the source and the sink as two time
# axes, time running down, every frame a line from its sender when it
# starts to its receiver when that sees it.
#
#   studies/timeline.sh OUTDIR
#
# Writes OUTDIR/timeline.png and OUTDIR/timeline.csv, the run's trace. The
# program is the release tree's linksim_go_back_n, built or brought up to
# date first; LINKSIM_GO_BACK_N names another to use as it is. Without
# gnuplot it writes the trace, says how to get the picture and exits with
# status 1.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 OUTDIR" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)

program=${LINKSIM_GO_BACK_N:-}
if [ -z "$program" ]; then
  (cd "$root" && cmake --preset release >/dev/null &&
    cmake --build --preset release -j "$(nproc)" --target linksim_go_back_n \
      >/dev/null)
  program=$root/build/linksim_go_back_n
fi
program=$(realpath "$program")

# The study's link (studies/arq.sh): Td 10, Ta 1, P 1, A 40, so a
# round trip of T = 93 ticks and a derived timeout of T - P = 92. A window
# of 4 is less than the K = 9.3 frames a round trip holds, so the source
# sends in bursts of four and what each loss costs shows apart. The seed is
# one whose run loses data frames and ACKs both, and lost ACKs that a later
# cumulative ACK makes good.
window=4 loss=0.2 seed=7 duration=400
processing=1 delay=40 bit_rate=100 data=960 overhead=40 ack=100 rate=1
read -r td ta t timeout < <(awk -v p=$processing -v a=$delay -v b=$bit_rate \
  -v d=$data -v o=$overhead -v k=$ack 'BEGIN {
    td = (d + o) / b; t = td + k / b + 2 * a + 2 * p
    print td, k / b, t, t - p }')

work=$(mktemp -d /tmp/linksim_timeline.XXXXXX)
trap 'rm -rf "$work"' EXIT
printf '%s\n' "Propagation Delay $delay" "Processing Delay $processing" \
  "Bit Rate $bit_rate" "Data Packet Size $data" \
  "Data Packet Overhead $overhead" "ACK Size $ack" \
  "Simulation Duration $duration" "Packet Rate $rate" >"$work/link.txt"
# The screen is not cleared between prompts: clear is a no-op here.
mkdir "$work/bin" && printf '#!/bin/sh\n' >"$work/bin/clear" &&
  chmod +x "$work/bin/clear"
trace=$out/timeline.csv
if ! printf 'load %s\n\nrun\n\n\nexit\n' "$work/link.txt" |
  LINKSIM_WINDOW=$window LINKSIM_LOSS=$loss LINKSIM_SEED=$seed \
    LINKSIM_TRACE=$trace PATH="$work/bin:$PATH" \
    "$program" >"$work/session" 2>&1 ||
  ! grep -q 'Simulation completed successfully' "$work/session"; then
  echo "$0: the run failed:" >&2
  cat "$work/session" >&2
  exit 1
fi

if ! command -v gnuplot >/dev/null; then
  echo "Wrote $trace, but no picture: gnuplot is not installed." >&2
  echo "For $out/timeline.png: apt-get install -y gnuplot-nox, and run this again." >&2
  exit 1
fi

# The trace as what gnuplot draws, one block per style: the source is at
# x = 0, the sink at x = 1. On each direction frames arrive in the order
# they start, so the n-th data frame sent is the n-th one the sink sees,
# lost or received, and likewise for ACKs. A lost frame's line stops
# halfway, at a cross; a frame still on the link when the run ends goes
# on for the time its direction's frames take, and is cut by the bottom.
awk -F, '
  NR == 1 { next }
  $3 == "send" || $3 == "resend" {
    d = $4 == "ack"; sent[d, ++sends[d]] = $1; seq[d, sends[d]] = $5
    again[d, sends[d]] = $3 == "resend"
  }
  $3 == "lost" || $3 == "receive" {
    d = $4 == "ack"; seen[d, ++seens[d]] = $1; lost[d, seens[d]] = $3 == "lost"
    if (!(d in hop)) hop[d] = $1 - sent[d, seens[d]]
  }
  $2 == "sink" && $3 == "deliver" { delivered[$1, $5] = 1 }
  $2 == "sink" && $3 == "receive" && $4 == "data" { received[++arrivals] = $1 " " $5 }
  $3 == "timeout" { timeouts[++nt] = $1 " " $5 }
  # A cumulative ACK acknowledges several packets in one tick: one label.
  $3 == "acknowledged" {
    if (na && ackd[na] == $1) ackn[na] = ackn[na] ", " $5
    else { ackd[++na] = $1; ackn[na] = $5 }
  }
  END {
    # Blocks: 0 data, 1 data sent again, 2 ACKs, 3 lost, 4 labels on lines,
    # 5 timeouts, 6 the sink: delivered, 7 the sink: discarded,
    # 8 the source: acknowledged.
    for (d = 0; d <= 1; d++) {
      for (n = 1; n <= sends[d]; n++) {
        x0 = d; y0 = sent[d, n]; x1 = 1 - d
        y1 = n <= seens[d] ? seen[d, n] : y0 + hop[d]
        if (n <= seens[d] && lost[d, n]) {
          x1 = 0.5; y1 = (y0 + y1) / 2; cross[++nc] = x1 " " y1
        }
        block = d ? 2 : again[d, n] ? 1 : 0
        line[block] = line[block] sprintf("%g %g %g %g\n", x0, y0, x1 - x0, y1 - y0)
        text = d ? "ack " seq[d, n] : again[d, n] ? seq[d, n] " again" : "data " seq[d, n]
        at = y0 + (y1 - y0) * 0.3 / (x1 > x0 ? x1 - x0 : x0 - x1)
        label = label sprintf("%g %g \"%s\"\n", d ? 0.7 : 0.3, at, text)
      }
    }
    for (b = 0; b <= 2; b++) printf "%s\n\n", line[b] == "" ? "0 -1 0 0\n" : line[b]
    for (i = 1; i <= nc; i++) printf "%s\n", cross[i]
    if (nc == 0) print "0 -1"
    printf "\n\n%s\n\n", label
    for (i = 1; i <= nt; i++) { split(timeouts[i], f, " "); printf "0 %s \"timeout %s\"\n", f[1], f[2] }
    if (nt == 0) print "0 -1 \"\""
    printf "\n\n"
    for (i = 1; i <= arrivals; i++) {
      split(received[i], f, " ")
      if ((f[1], f[2]) in delivered) printf "1 %s \"delivered %s\"\n", f[1], f[2]
    }
    printf "1 -1 \"\"\n\n\n"
    for (i = 1; i <= arrivals; i++) {
      split(received[i], f, " ")
      if (!((f[1], f[2]) in delivered)) printf "1 %s \"discarded %s\"\n", f[1], f[2]
    }
    printf "1 -1 \"\"\n\n\n"
    for (i = 1; i <= na; i++) printf "0 %s \"acknowledged %s\"\n", ackd[i], ackn[i]
    print "0 -1 \"\""
  }' "$trace" >"$work/timeline.dat"

terminal=png
gnuplot -e 'set terminal pngcairo' 2>/dev/null && terminal=pngcairo
gnuplot <<GNUPLOT
set terminal $terminal size 1000,1500 font ',11'
set output '$out/timeline.png'
set title noenhanced "Go-Back-N on a lossy link, from its trace: LINKSIM_WINDOW=$window LINKSIM_LOSS=$loss LINKSIM_SEED=$seed\\n" . \\
  "Propagation Delay $delay, Processing Delay $processing, Bit Rate $bit_rate, Data Packet Size $data, " . \\
  "Data Packet Overhead $overhead,\\nACK Size $ack, Simulation Duration $duration, Packet Rate $rate " . \\
  "(Td = $td, Ta = $ta, T = $t ticks; the timeout derived, T - P = $timeout)"
set xrange [-0.45:1.45]
set yrange [$duration:0]
set ylabel 'clock (ticks), time running down'
set ytics 20 nomirror
set grid ytics
set x2tics ('source' 0, 'sink' 1) font ',13'
unset xtics
set border 2
set key below horizontal
set style textbox opaque noborder margins 1,1
dat = '$work/timeline.dat'
set arrow from 0,0 to 0,$duration nohead lw 3 lc rgb 'black' back
set arrow from 1,0 to 1,$duration nohead lw 3 lc rgb 'black' back
plot \\
  dat index 0 with vectors filled head size 0.02,20 lw 1.5 lc rgb '#1f6fb4' title 'data frame', \\
  dat index 1 with vectors filled head size 0.02,20 lw 1.5 dt 2 lc rgb '#7b3294' title 'data frame sent again', \\
  dat index 2 with vectors filled head size 0.02,20 lw 1.5 lc rgb '#1b9e77' title 'ACK (cumulative)', \\
  dat index 3 with points pt 2 ps 2.5 lw 3 lc rgb '#d7191c' title 'lost', \\
  dat index 4 using 1:2:3 with labels boxed font ',10' notitle, \\
  dat index 5 using 1:2:3 with labels right offset -1,0 point pt 6 ps 1.5 lc rgb '#d7191c' tc rgb '#d7191c' title 'timeout (go back)', \\
  dat index 6 using 1:2:3 with labels left offset 1,0 point pt 7 ps 1 lc rgb 'black' notitle, \\
  dat index 7 using 1:2:3 with labels left offset 1,0 point pt 6 ps 1 lc rgb '#888888' tc rgb '#888888' notitle, \\
  dat index 8 using 1:2:3 with labels right offset -1,0 font ',9' tc rgb '#1b9e77' notitle
GNUPLOT
echo "Wrote $trace and $out/timeline.png" >&2
