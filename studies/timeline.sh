#!/usr/bin/env bash
# One run of a protocol, drawn frame by frame from its trace.
#
# One short run of a protocol on a lossy link (an error-free one for the
# sliding window), drawn from its trace as a time-sequence diagram: the
# source and the sink as two time axes, time running down, every frame a
# line from its sender when it starts to its receiver when that sees it, a
# lost one stopping halfway at a cross, and what each node did in the
# protocol's own words: at the sink, each packet delivered, each frame
# discarded (a duplicate, or out of order under Go-Back-N) or buffered
# (kept for later under Selective Repeat); at the source, each packet
# acknowledged and each timeout.
#
#   studies/timeline.sh OUTDIR     installed: linksim-study timeline OUTDIR
#
# Writes OUTDIR/timeline.csv, the run's trace, and OUTDIR/timeline.png,
# whose title names the protocol and every setting, so that the run can be
# repeated. Without gnuplot it writes the trace, says how to get the
# picture and exits with status 1.
#
# Knobs, as environment variables:
#   PROTOCOL  stop-and-wait, go-back-n, selective-repeat or sliding-window
#             (default: go-back-n)
#   WINDOW    the window, from 1 to 65536 (default: 4; stop-and-wait has
#             none)
#   LOSS      the frame loss probability, 0 <= p < 1 (default: 0.2; the
#             sliding window loses nothing)
#   SEED      the loss generator's seed (default: 7)
#   LINK      a settings file for the link, as examples/link.txt (default:
#             Td 10, Ta 1, P 1, A 40, a packet a tick: T = 93 ticks)
#   DURATION  ticks of the run (default: 400, or LINK's own)
#   LINKSIM_ARQ_PROGRAM  the linksim-arq to run (default: in the source
#             tree the release tree's, built or brought up to date first;
#             installed, the one on PATH)

# The defaults: on the study's link a round trip of T = 93 ticks and a
# derived timeout of T - P = 92. A window of 4 is less than the K = 9.3
# frames a round trip holds, so the source sends in bursts of four and what
# each loss costs shows apart. The seed is one whose Go-Back-N run loses
# data frames and ACKs both, and lost ACKs that a later cumulative ACK
# makes good.
set -euo pipefail
# shellcheck source=studies/study.bash
source "$(dirname "${BASH_SOURCE[0]}")/study.bash"
study_start 400 "$@"

protocol=${PROTOCOL:-go-back-n}
# Each protocol in its own words: its name, its ACKs, its timeouts, and
# what its sink does with a frame it does not deliver.
discard='discarded (a duplicate)' buffer=''
case $protocol in
  stop-and-wait)
    name=Stop-and-wait ack='ACK (of that frame)'
    timeout='timeout (that frame again)' ;;
  go-back-n)
    name=Go-Back-N ack='ACK (cumulative)' timeout='timeout (go back)'
    discard='discarded (a duplicate, or out of order)' ;;
  selective-repeat)
    name='Selective Repeat' ack='ACK (of that frame alone)'
    timeout='timeout (that frame alone again)' buffer='buffered (kept for later)' ;;
  sliding-window)
    name='Sliding window' ack='ACK (of that packet)' timeout='' discard='' ;;
  *)
    echo "$0: PROTOCOL must be stop-and-wait, go-back-n, selective-repeat or sliding-window" >&2
    exit 2 ;;
esac
window=${WINDOW:-4} loss=${LOSS:-0.2} seed=${SEED:-7}
study_whole "$window" 1 65536 ||
  { echo "$0: WINDOW must be a whole number from 1 to 65536" >&2; exit 2; }
study_decimal "$loss" 0 1 ||
  { echo "$0: LOSS must be a decimal number, 0 <= p < 1" >&2; exit 2; }
study_seed "$seed" ||
  { echo "$0: SEED must be a whole number from 0 to 2^64 - 1" >&2; exit 2; }
variables=(LINKSIM_ARQ="$protocol")
[ "$protocol" = stop-and-wait ] || variables+=(LINKSIM_WINDOW="$window")
[ "$protocol" = sliding-window ] ||
  variables+=(LINKSIM_LOSS="$loss" LINKSIM_SEED="$seed")

trace=$out/timeline.csv
study_settings "$work/link.txt"
study_run "$0" "$work/link.txt" "$work/session" "${variables[@]}" \
  LINKSIM_TRACE="$trace" LINKSIM_STATS="$work/stats.csv" || exit 1

study_need_gnuplot "$trace"

# The link and the run, as linksim-arq read them, for the title.
IFS=$'\t' read -r link figures duration step < <(awk -F, "$study_awk_stats"' {
    printf "Propagation Delay %s, Processing Delay %s, Bit Rate %s, ",
      $col["propagation_delay"], $col["processing_delay"], $col["bit_rate"]
    printf "Data Packet Size %s, Data Packet Overhead %s,\\nACK Size %s, ",
      $col["data_packet_size"], $col["data_packet_overhead"], $col["ack_size"]
    printf "Simulation Duration %s, Packet Rate %s\t", $col["duration"],
      $col["packet_rate"]
    printf "Td = %g, Ta = %g, T = %g ticks; ", td, ta, t
    if ($col["timeout"] == "") printf "no timer"
    else printf "the timeout derived from the link, %s", $col["timeout"]
    # A tick mark every 1, 2 or 5 times a power of ten: twenty or fewer.
    for (step = 1; step * 20 < $col["duration"]; step *= 10);
    if (step / 5 * 20 >= $col["duration"]) step /= 5
    else if (step / 2 * 20 >= $col["duration"]) step /= 2
    printf "\t%s\t%s\n", $col["duration"], step
  }' "$work/stats.csv")
lossy='a lossy link'
[ "$protocol" != sliding-window ] || lossy='an error-free link'

# The trace as what gnuplot draws, one block per style: the source is at
# x = 0, the sink at x = 1. On each direction frames arrive in the order
# they start, so the n-th data frame sent is the n-th one the sink sees,
# lost or received, and likewise for ACKs. A lost frame's line stops
# halfway, at a cross; a frame still on the link when the run ends goes
# on for the time its direction's frames take, and is cut by the bottom.
# What a node did in one tick is one label: "delivered 3, 4, 5".
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
  $3 == "timeout" || $3 == "deliver" || $3 == "discard" || $3 == "buffer" ||
  $3 == "acknowledged" {
    n = count[$3]
    if (n && at[$3, n] == $1) text[$3, n] = text[$3, n] ", " $5
    else { count[$3] = ++n; at[$3, n] = $1; text[$3, n] = $5 }
  }
  # One block of labels: at x, those of event, each its word and numbers.
  function marks(x, event, word,   i) {
    for (i = 1; i <= count[event]; i++)
      printf "%s %s \"%s %s\"\n", x, at[event, i], word, text[event, i]
    printf "%s -1 \"\"\n\n\n", x
  }
  END {
    # Blocks: 0 data, 1 data sent again, 2 ACKs, 3 lost, 4 labels on lines,
    # 5 timeouts, 6 to 8 the sink: delivered, discarded, buffered,
    # 9 the source: acknowledged.
    for (d = 0; d <= 1; d++) {
      for (n = 1; n <= sends[d]; n++) {
        x0 = d; y0 = sent[d, n]; x1 = 1 - d
        y1 = n <= seens[d] ? seen[d, n] : y0 + hop[d]
        if (n <= seens[d] && lost[d, n]) {
          x1 = 0.5; y1 = (y0 + y1) / 2; cross[++nc] = x1 " " y1
        }
        block = d ? 2 : again[d, n] ? 1 : 0
        line[block] = line[block] sprintf("%g %g %g %g\n", x0, y0, x1 - x0, y1 - y0)
        label = d ? "ack " seq[d, n] : again[d, n] ? seq[d, n] " again" : "data " seq[d, n]
        y = y0 + (y1 - y0) * 0.3 / (x1 > x0 ? x1 - x0 : x0 - x1)
        labels = labels sprintf("%g %g \"%s\"\n", d ? 0.7 : 0.3, y, label)
      }
    }
    for (b = 0; b <= 2; b++) printf "%s\n\n", line[b] == "" ? "0 -1 0 0\n" : line[b]
    for (i = 1; i <= nc; i++) printf "%s\n", cross[i]
    if (nc == 0) print "0 -1"
    printf "\n\n%s\n\n", labels
    marks(0, "timeout", "timeout")
    marks(1, "deliver", "delivered")
    marks(1, "discard", "discarded")
    marks(1, "buffer", "buffered")
    marks(0, "acknowledged", "acknowledged")
  }' "$trace" >"$work/timeline.dat"

dat="'$work/timeline.dat'"
marks="with labels left offset 1,0 point"
plot=(
  "$dat index 0 with vectors filled head size 0.02,20 lw 1.5 lc rgb '#1f6fb4' title 'data frame'"
  "$dat index 1 with vectors filled head size 0.02,20 lw 1.5 dt 2 lc rgb '#7b3294' title 'data frame sent again'"
  "$dat index 2 with vectors filled head size 0.02,20 lw 1.5 lc rgb '#1b9e77' title '$ack'"
  "$dat index 3 with points pt 2 ps 2.5 lw 3 lc rgb '#d7191c' title 'lost'"
  "$dat index 4 using 1:2:3 with labels boxed font ',10' notitle"
  "$dat index 6 using 1:2:3 $marks pt 7 ps 1 lc rgb 'black' title 'delivered'"
  "$dat index 9 using 1:2:3 with labels right offset -1,0 font ',9' tc rgb '#1b9e77' notitle"
)
[ -z "$timeout" ] || plot+=("$dat index 5 using 1:2:3 with labels right offset -1,0 point pt 6 ps 1.5 lc rgb '#d7191c' tc rgb '#d7191c' title '$timeout'")
[ -z "$discard" ] || plot+=("$dat index 7 using 1:2:3 $marks pt 6 ps 1 lc rgb '#888888' tc rgb '#888888' title '$discard'")
[ -z "$buffer" ] || plot+=("$dat index 8 using 1:2:3 $marks pt 4 ps 1 lc rgb '#e08214' tc rgb '#e08214' title '$buffer'")

terminal=$(study_terminal)
{
  cat <<GNUPLOT
set terminal $terminal size 1000,1500 font ',11'
set output '$out/timeline.png'
set title noenhanced "$name on $lossy, from its trace:\\n${variables[*]}\\n$link ($figures)"
set xrange [-0.45:1.45]
set yrange [$duration:0]
set ylabel 'clock (ticks), time running down'
set ytics $step nomirror
set grid ytics
set x2tics ('source' 0, 'sink' 1) font ',13'
unset xtics
set border 2
set key below horizontal noenhanced
set style textbox opaque noborder margins 1,1
set arrow from 0,0 to 0,$duration nohead lw 3 lc rgb 'black' back
set arrow from 1,0 to 1,$duration nohead lw 3 lc rgb 'black' back
GNUPLOT
  study_plot "${plot[@]}"
} | gnuplot
echo "Wrote $trace and $out/timeline.png" >&2
