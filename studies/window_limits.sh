#!/usr/bin/env bash
# How large a window k-bit sequence numbers allow.
#
# The share of lossy runs in which the sink hands up a wrong packet,
# against the window, for Go-Back-N and Selective Repeat with k-bit
# sequence numbers (LINKSIM_SEQUENCE_BITS=k, k = 2 and 3), over the limits
# derived below: none up to W = 2^k - 1 for Go-Back-N and W = 2^(k-1) for
# Selective Repeat, every run past them. Beside it, a timeline of the
# textbook's case: Go-Back-N with k = 3 and W = 8 handing up an old frame
# as a new one.
#
#   studies/window_limits.sh OUTDIR
#   installed: linksim-study window-limits OUTDIR
#
# Writes OUTDIR/window_limits_runs.csv, a row per run (linksim-arq's
# LINKSIM_STATS row, misdelivered its count of wrong deliveries),
# OUTDIR/window_limits.csv, a row per point,
#   protocol,sequence_bits,window,limit,runs,wrong,share,ci95_low,ci95_high
# (the runs with a wrong delivery and their share, its 95% interval by
# Wilson's score, and the largest window the numbers allow),
# OUTDIR/window_limits_timeline.csv, the timeline's trace, and
# OUTDIR/window_limits.png, both pictures side by side. Without gnuplot it
# writes the CSVs, says how to get the picture and exits with status 1. A
# run that fails, or that linksim-arq refuses, stops the study with status
# 1 before it writes anything.
#
# Knobs, as environment variables:
#   BITS      the numbers of bits k, each from 1 to 16; windows 1 to 2^k
#             are run for each (default: 2 3)
#   LOSS      the frame loss probability, 0 <= p < 1 (default: 0.1)
#   TIMEOUT   the retransmission timeout, a number above 0 (default: the
#             one the protocols derive from the link)
#   SEEDS     the seeds, two or more (default: 1 to 40)
#   LINK      a settings file for the link, as examples/link.txt (default:
#             Td 10, Ta 1, P 1, A 40, a packet a tick: a round trip of 9.3
#             frames, more than any window run)
#   DURATION  ticks per run (default: 3000, or LINK's own)
#   LINKSIM_ARQ_PROGRAM  the linksim-arq to run (default: in the source
#             tree the release tree's, built or brought up to date first;
#             installed, the one on PATH)
# The timeline's run is always the one below, on the study's link.

# The limits. Frames carry their packet's number modulo 2^k, and a
# receiver knows no more. The source's window holds the W packets from the
# oldest not acknowledged; the source acknowledges none the sink has not
# handed up, and the sink hands up none the source has not sent, so the
# sink's next packet, n, lies in the source's window or just past it: the
# window runs from the W packets before n (all handed up, their ACKs lost
# or not yet back) to the W from n on.
#   Go-Back-N's sink takes only n. It may see any packet from n - W to
#   n + W - 1; none but n has n's number if W <= 2^k - 1. With W = 2^k,
#   n - W has it: when the sink has all W frames of the window and the
#   oldest one's ACK is lost, the oldest one's timer fires and it goes
#   again, and the sink hands it up as n. A single lost ACK does it.
#   Selective Repeat's sink keeps packets out of order within its own
#   window, n to n + W - 1, and answers again those before it. It may see
#   any packet from n - W to n + W - 1, 2W numbers that must all differ:
#   W <= 2^(k-1). With W = 2^(k-1) + 1 or more, a packet sent again when
#   its ACK was lost has the number of one in the sink's window once the
#   sink has moved 2^k - W past it, and is kept as that one, to be handed
#   up in its turn.
# So the share of runs with a wrong delivery is 0 up to the limit, and
# past it as high as the runs hold chances: a lost ACK while the window is
# full. On the study's link, whose round trip holds more frames than the
# largest window, a run of 3,000 ticks sends some 300 frames and, at a
# loss of 0.1, loses some 30 ACKs: every run past the limit goes wrong.
# A timeout shorter than the round trip does it without loss, once it is
# long enough for the window to fill.
#
# The timeline. Go-Back-N, k = 3, W = 8, loss 0.1, seed 7: frames 0 to 7
# go, numbered 0 to 7, and the sink hands them up; the ACK of packet 0 is
# lost, its timer fires and frame 0 goes again, numbered 0. The sink,
# waiting for packet 8, numbered 0 too, hands it up as packet 8. The
# trace's deliver row shows the packet the frame held, 0, and every later
# delivery is wrong as well: the sink is eight packets off.
set -euo pipefail
# shellcheck source=studies/study.bash
source "$(dirname "${BASH_SOURCE[0]}")/study.bash"
study_start 3000 "$@"

bits=$(study_words "${BITS:-2 3}")
for k in $bits; do
  study_whole "$k" 1 16 || study_fail "BITS: $k: each must be a whole number from 1 to 16"
done
bits=$(awk '!seen[$0 + 0]++ { print $0 + 0 }' <<<"$bits")
loss=${LOSS:-0.1}
study_decimal "$loss" 0 1 || study_fail "LOSS must be a decimal number, 0 <= p < 1"
timeout=${TIMEOUT:-}
if [ -n "$timeout" ] && ! { study_decimal "$timeout" 0 1e300 &&
  awk -v x="$timeout" 'BEGIN { exit !(x > 0) }'; }; then
  study_fail "TIMEOUT must be a number above 0"
fi
seeds=$(study_words "${SEEDS:-$(seq 1 40)}")
for seed in $seeds; do
  study_seed "$seed" ||
    study_fail "SEEDS: $seed: each must be a whole number from 0 to 2^64 - 1"
done
# A seed named twice is run once: twice would count its runs twice.
seeds=$(awk '{ key = $0; sub(/^0+/, "", key) } !seen[key]++' <<<"$seeds")
[ "$(wc -w <<<"$seeds")" -ge 2 ] || study_fail "SEEDS must name two seeds or more"

study_settings "$work/link.txt"
i=0
for k in $bits; do
  for protocol in go-back-n selective-repeat; do
    for window in $(seq 1 $((1 << k))); do
      i=$((i + 1)) && echo "$i $protocol $k $window"
    done
  done
done >"$work/points"
total=$(wc -l <"$work/points")

# One point: a run per seed, each appending its row to the point's stats
# file. A run that fails stops the study: it measured nothing.
run_point() {
  local index=$1 protocol=$2 k=$3 window=$4 seed name=$work/$1
  local variables=(LINKSIM_ARQ="$protocol" LINKSIM_SEQUENCE_BITS="$k"
    LINKSIM_WINDOW="$window" LINKSIM_LOSS="$loss" LINKSIM_STATS="$name.stats")
  [ -z "$timeout" ] || variables+=(LINKSIM_TIMEOUT="$timeout")
  for seed in $seeds; do
    [ ! -e "$work/failed" ] || return 1
    if ! study_run "$protocol, k $k, window $window, seed $seed" \
      "$work/link.txt" "$name.out" "${variables[@]}" LINKSIM_SEED="$seed"; then
      touch "$work/failed"
      return 1
    fi
  done
  rm -f "$name.out"
  awk -F, "$study_awk_stats"' { n++; wrong += $col["misdelivered"] > 0 } END {
    printf "[%d/%d] %s, k %s, window %s: %d of %d runs went wrong\n", i,
      total, $col["protocol"], $col["sequence_bits"], $col["window"], wrong, n }' \
    i="$index" total="$total" "$name.stats" >&2
}
export -f run_point
export seeds total loss timeout study_awk_stats

echo "Running $total points of $(wc -w <<<"$seeds") seeds on $(nproc) cores" >&2
xargs -P "$(nproc)" -L 1 bash -c 'run_point "$@"' _ <"$work/points" ||
  { echo "$0: a run failed; nothing written" >&2; exit 1; }

runs=$out/window_limits_runs.csv
while read -r index _; do echo "$work/$index.stats"; done <"$work/points" |
  xargs awk 'FNR > 1 || NR == 1' >"$runs"

# Each point's share of runs with a wrong delivery, with Wilson's 95%
# interval (which, unlike the normal one, is not empty at a share of 0 or
# 1), and the largest window k bits allow the protocol.
csv=$out/window_limits.csv
echo "protocol,sequence_bits,window,limit,runs,wrong,share,ci95_low,ci95_high" >"$csv"
awk -F, "$study_awk_stats"'
  {
    key = $col["protocol"] "," $col["sequence_bits"] "," $col["window"]
    if (!(key in runs)) order[++points] = key
    runs[key]++; wrong[key] += $col["misdelivered"] > 0
  }
  END {
    z = 1.959964
    for (i = 1; i <= points; i++) {
      key = order[i]; split(key, f, ",")
      limit = f[1] == "go-back-n" ? 2 ^ f[2] - 1 : 2 ^ (f[2] - 1)
      n = runs[key]; share = wrong[key] / n
      centre = (share + z * z / (2 * n)) / (1 + z * z / n)
      half = z * sqrt(share * (1 - share) / n + z * z / (4 * n * n)) / (1 + z * z / n)
      printf "%s,%d,%d,%d,%.4f,%.4f,%.4f\n", key, limit, n, wrong[key], share,
        centre - half, centre + half
    }
  }' "$runs" >>"$csv"

# The timeline's run: the textbook's case, as the opening comment tells it.
trace=$out/window_limits_timeline.csv
{ echo "$study_link" && echo "Simulation Duration 400"; } >"$work/timeline.txt"
study_run "$0: the timeline" "$work/timeline.txt" "$work/timeline.out" \
  LINKSIM_ARQ=go-back-n LINKSIM_SEQUENCE_BITS=3 LINKSIM_WINDOW=8 \
  LINKSIM_LOSS=0.1 LINKSIM_SEED=7 LINKSIM_TRACE="$trace" || exit 1

study_need_gnuplot "$runs" "$csv" "$trace"

# The trace as gnuplot draws it, up to a while after the first wrong
# delivery: the source at x = 0, the sink at x = 1, time running down. On
# each direction frames arrive in the order they start, so the n-th frame
# sent is the n-th seen, lost or received. Blocks: 0 data frames, 1 sent
# again, 2 ACKs, 3 lost, 4 the frames' labels, 5 timeouts, 6 deliveries,
# 7 wrong deliveries.
end=$(awk -F, '$3 == "deliver" { if ($6 != n) { end = $1 + 70; exit } n++ }
  END { print end ? end : 400 }' "$trace")
awk -F, -v end="$end" '
  NR == 1 { next }
  $3 == "send" || $3 == "resend" {
    d = $4 == "ack"; n = ++sends[d]; sent[d, n] = $1
    label[d, n] = ($4 == "ack" ? "ack " : "") $5 " (" $6 ")"
    again[d, n] = $3 == "resend"
  }
  $3 == "lost" || $3 == "receive" {
    d = $4 == "ack"; n = ++seens[d]; seen[d, n] = $1; lost[d, n] = $3 == "lost"
  }
  $3 == "timeout" && $1 <= end { timeouts = timeouts sprintf("0 %s \"timeout %s\"\n", $1, $6) }
  $3 == "deliver" && $1 <= end {
    text = sprintf("1 %s \"hands up #%d: packet %s\"\n", $1, delivered, $6)
    if ($6 == delivered) right = right text; else wrong = wrong text
    delivered++
  }
  END {
    for (d = 0; d <= 1; d++) {
      for (n = 1; n <= sends[d] && sent[d, n] <= end; n++) {
        x0 = d; y0 = sent[d, n]; x1 = 1 - d; y1 = n <= seens[d] ? seen[d, n] : end + 50
        if (n <= seens[d] && lost[d, n]) {
          x1 = 0.5; y1 = (y0 + y1) / 2; crosses = crosses sprintf("%g %g\n", x1, y1)
        }
        block = d ? 2 : again[d, n]
        line[block] = line[block] sprintf("%g %g %g %g\n", x0, y0, x1 - x0, y1 - y0)
        at = y0 + (y1 - y0) * 0.25 / (x1 > x0 ? x1 - x0 : x0 - x1)
        labels = labels sprintf("%g %g \"%s\"\n", d ? 0.75 : 0.25, at, label[d, n])
      }
    }
    for (b = 0; b <= 2; b++) printf "%s\n\n", line[b] == "" ? "0 -9 0 0\n" : line[b]
    printf "%s\n\n", crosses == "" ? "0 -9\n" : crosses
    printf "%s\n\n", labels == "" ? "0 -9 \"\"\n" : labels
    printf "%s\n\n", timeouts == "" ? "0 -9 \"\"\n" : timeouts
    printf "%s\n\n", right == "" ? "1 -9 \"\"\n" : right
    printf "%s", wrong == "" ? "1 -9 \"\"\n" : wrong
  }' "$trace" >"$work/timeline.dat"

# A panel per k, stacked in the left half: each protocol's share, and
# the limit as a step from 0 to 1, which a single lost ACK makes it.
count=$(wc -w <<<"$bits")
panels=$(i=0; for k in $bits; do
  gbn=$(((1 << k) - 1)) sr=$((1 << (k - 1))) top=$((1 << k))
  printf '$step%d << EOD\n0.5,0,0\n%s.5,0,0\n%s.5,1,0\n%s.5,1,0\n%s.5,1,1\n%s.5,1,1\nEOD\n' \
    "$k" "$sr" "$sr" "$gbn" "$gbn" "$top"
  cat <<PANEL
set origin 0, $(awk -v i="$i" -v n="$count" 'BEGIN { print 0.95 * (1 - (i + 1) / n) }')
set size 0.42, $(awk -v n="$count" 'BEGIN { print 0.95 / n }')
set title "k = $k: Go-Back-N needs W <= 2^k - 1 = $gbn, Selective Repeat W <= 2^(k-1) = $sr"
set xrange [0.5:$top.5]
plot \\
  \$step$k using 1:2 with lines lw 1.5 dt 3 lc rgb '#1b9e77' title 'Selective Repeat: 0 up to its limit, 1 past it', \\
  \$step$k using 1:3 with lines lw 1.5 dt 2 lc rgb '#d95f02' title 'Go-Back-N: 0 up to its limit, 1 past it', \\
  csv skip 1 using (\$3 + 0.07):(sel('selective-repeat', $k, \$7)):8:9 with yerrorbars pt 7 ps 1.3 lc rgb '#1b9e77' title 'Selective Repeat: measured', \\
  csv skip 1 using (\$3 - 0.07):(sel('go-back-n', $k, \$7)):8:9 with yerrorbars pt 5 ps 1.3 lc rgb '#d95f02' title 'Go-Back-N: measured'
PANEL
  i=$((i + 1))
done)
duration=$(awk -F, "$study_awk_stats"' END { printf "%d\n", $col["duration"] }' "$runs")
terminal=$(study_terminal)
gnuplot <<GNUPLOT
set terminal $terminal size 1700,1000 font ',11' noenhanced
set output '$out/window_limits.png'
set multiplot title "Wrong deliveries with k-bit sequence numbers: loss $loss, " . \
  "$([ -n "$timeout" ] && echo "timeout $timeout" || echo "the derived timeout"), " . \
  "$(wc -w <<<"$seeds") runs of $duration ticks per point (share of runs with one, and 95% interval)"
set datafile separator ','
set xlabel 'window W (frames)'
set ylabel 'share of runs with a wrong delivery'
set xtics 1
set yrange [-0.05:1.25]
set ytics 0, 0.25, 1
set grid
set key left center box opaque
csv = '$csv'
sel(name, k, v) = strcol(1) eq name && \$2 == k ? v : 1/0
$panels
unset arrow
unset label
set datafile separator whitespace
set origin 0.44, 0
set size 0.56, 0.95
set title "The textbook's case, from the trace: Go-Back-N, k = 3, W = 8, loss 0.1, seed 7\\n" . \
  "frames labelled with their number and, in brackets, the packet they hold"
set xrange [-0.6:1.6]
set yrange [$end:0]
unset xlabel
set ylabel 'clock (ticks), time running down'
set ytics 20 nomirror
unset xtics
set grid ytics
set x2tics ('source' 0, 'sink' 1) font ',13'
set border 2
set key below horizontal
set style textbox opaque noborder margins 1,1
dat = '$work/timeline.dat'
set arrow from 0,0 to 0,$end nohead lw 3 lc rgb 'black' back
set arrow from 1,0 to 1,$end nohead lw 3 lc rgb 'black' back
plot \
  dat index 0 with vectors filled head size 0.02,20 lw 1.5 lc rgb '#1f6fb4' title 'data frame', \
  dat index 1 with vectors filled head size 0.02,20 lw 1.5 dt 2 lc rgb '#7b3294' title 'sent again', \
  dat index 2 with vectors filled head size 0.02,20 lw 1.5 lc rgb '#1b9e77' title 'ACK', \
  dat index 3 with points pt 2 ps 2.5 lw 3 lc rgb '#d7191c' title 'lost', \
  dat index 4 using 1:2:3 with labels boxed font ',9' notitle, \
  dat index 5 using 1:2:3 with labels right offset -1,0 point pt 6 ps 1.5 lc rgb '#d7191c' tc rgb '#d7191c' title 'timeout', \
  dat index 6 using 1:2:3 with labels left offset 1,0 point pt 7 ps 1 lc rgb 'black' font ',10' notitle, \
  dat index 7 using 1:2:3 with labels left offset 1,0 point pt 7 ps 1.5 lc rgb '#d7191c' tc rgb '#d7191c' font ',10' title 'a wrong packet handed up'
unset multiplot
GNUPLOT
echo "Wrote $runs, $csv, $trace and $out/window_limits.png" >&2
