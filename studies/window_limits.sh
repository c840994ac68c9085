#!/usr/bin/env bash
# How large a window k-bit sequence numbers allow: for k = 2 and 3, the
# share of lossy runs in which the sink hands up a wrong packet, against
# the window, for Go-Back-N and Selective Repeat; and a timeline of the
# textbook's case, Go-Back-N with k = 3 and a window of 8 handing up an
# old frame as a new one.
#
#   studies/window_limits.sh OUTDIR
#
# Writes OUTDIR/window_limits_runs.csv, a row per run; OUTDIR/
# window_limits.csv, a row per point (the runs with a wrong delivery and
# their share, with its 95% interval by Wilson's score, and the largest
# window the numbers allow); OUTDIR/window_limits_timeline.csv, the
# timeline's trace; OUTDIR/window_limits.png, both pictures side by side.
# Without gnuplot it writes the CSVs, says how to get the picture and exits
# with status 1. The runs are linksim-arq's: the source tree's release
# build, built or brought up to date first, or else the one installed;
# LINKSIM_ARQ_PROGRAM names another to use as it is. The sweep can be
# changed: BITS (2 3), LOSS (0.1), TIMEOUT (unset: derived from the link),
# SEEDS (1 to 40), DURATION (3,000 ticks), as in BITS=3 SEEDS="1 2 3"
# studies/window_limits.sh out.
#
# The limits. Frames carry their packet's number modulo 2^k
# (LINKSIM_SEQUENCE_BITS=k), and a receiver knows no more. The source's
# window holds the W packets from the oldest not acknowledged; the source
# acknowledges none the sink has not handed up, and the sink hands up
# none the source has not sent, so the sink's next packet, n, lies in the
# source's window or just past it: from the W packets before n (all handed
# up, their ACKs lost or not yet back) to the W from n on.
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
# full. On this link (the ARQ study's: Td 10, Ta 1, P 1, A 40, so a round
# trip of 9.3 frames, more than the largest window, the derived timeout
# T - P, a packet a tick) a run of 3,000 ticks sends some 300 frames and,
# at a loss of 0.1, loses some 30 ACKs: every run past the limit goes
# wrong. Any timeout does as well: one shorter than the round trip sends
# frames again with no loss at all.
#
# The timeline. Go-Back-N, k = 3, W = 8, loss 0.1, seed 7: frames 0 to 7
# go, numbered 0 to 7; the sink hands them up; the ACK of packet 0 is
# lost, the timer fires and frame 0 goes again, numbered 0. The sink,
# waiting for packet 8, numbered 0 too, hands it up as packet 8. The
# trace's deliver row shows the packet the frame held, 0, and every later
# delivery is wrong as well: the sink is eight packets off.
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
bits=$(once "${BITS:-2 3}")
loss=${LOSS:-0.1}
timeout=${TIMEOUT:-}
seeds=$(once "${SEEDS:-$(seq 1 40)}")
duration=${DURATION:-3000}
for k in $bits; do
  [[ $k =~ ^[1-9]$|^1[0-6]$ ]] ||
    { echo "$0: BITS must be whole numbers from 1 to 16" >&2; exit 2; }
done
[ "$(wc -w <<<"$seeds")" -ge 2 ] ||
  { echo "$0: SEEDS must name two seeds or more" >&2; exit 2; }
[[ $duration =~ ^[1-9][0-9]*$ ]] ||
  { echo "$0: DURATION must be a whole number of ticks above 0" >&2; exit 2; }

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

work=$(mktemp -d /tmp/linksim_window_limits.XXXXXX)
trap 'rm -rf "$work"' EXIT
link() {  # DURATION: the link's settings file
  printf '%s\n' "Propagation Delay 40" "Processing Delay 1" "Bit Rate 100" \
    "Data Packet Size 960" "Data Packet Overhead 40" "ACK Size 100" \
    "Simulation Duration $1" "Packet Rate 1" >"$work/link-$1.txt"
}
link "$duration"
# The screen is not cleared between prompts: clear is a no-op here.
mkdir "$work/bin" && printf '#!/bin/sh\n' >"$work/bin/clear" &&
  chmod +x "$work/bin/clear"
i=0
for k in $bits; do
  for protocol in go-back-n selective-repeat; do
    for window in $(seq 1 $((1 << k))); do
      i=$((i + 1))
      echo "$i $protocol $k $window"
    done
  done
done >"$work/points"
total=$(wc -l <"$work/points")

# One run's session; its output in OUT. False if it failed or was refused.
session() {  # OUT SETTINGS VARIABLE=VALUE...
  local output=$1 settings=$2
  shift 2
  printf 'load %s\n\nrun\n\n\nexit\n' "$settings" |
    env "$@" PATH="$work/bin:$PATH" "$program" >"$output" 2>&1 &&
    grep -q 'Simulation completed successfully' "$output"
}

# One point: a run per seed, each appending its row to the point's stats
# file. A run that fails stops the study: it measured nothing.
run_point() {
  local index=$1 protocol=$2 k=$3 window=$4 seed
  local stats=$work/$index.stats
  for seed in $seeds; do
    [ ! -e "$work/failed" ] || return 1
    if ! session "$stats.out" "$work/link-$duration.txt" LINKSIM_ARQ="$protocol" \
      LINKSIM_SEQUENCE_BITS="$k" LINKSIM_WINDOW="$window" LINKSIM_LOSS="$loss" \
      ${timeout:+LINKSIM_TIMEOUT=$timeout} LINKSIM_SEED="$seed" \
      LINKSIM_STATS="$stats"; then
      echo "$protocol, k $k, window $window, seed $seed: the run failed:" >&2
      cat "$stats.out" >&2
      touch "$work/failed"
      return 1
    fi
  done
  awk -F, -v i="$index" -v n="$total" '
    NR == 1 { for (c = 1; c <= NF; c++) col[$c] = c; next }
    { runs++; wrong += $col["misdelivered"] > 0 }
    END { printf "[%d/%d] %s, k %s, window %s: %d of %d runs went wrong\n", i, n,
      $col["protocol"], $col["sequence_bits"], $col["window"], wrong, runs }' \
    "$stats" >&2
}
export -f session run_point
export work seeds loss timeout duration total program

echo "Running $total points of $(wc -w <<<"$seeds") seeds on $(nproc) cores" >&2
xargs -P "$(nproc)" -L 1 bash -c 'run_point "$@"' _ <"$work/points" ||
  { echo "$0: a run failed; nothing written" >&2; exit 1; }

# Every run's row, its figures taken from the stats by column name.
runs=$out/window_limits_runs.csv
echo "protocol,sequence_bits,window,loss,timeout,seed,duration,delivered,misdelivered" >"$runs"
while read -r index _; do
  awk -F, 'NR == 1 { for (c = 1; c <= NF; c++) col[$c] = c; next }
    { printf "%s,%s,%s,%s,%s,%s,%s,%s,%s\n", $col["protocol"],
      $col["sequence_bits"], $col["window"], $col["loss"], $col["timeout"],
      $col["seed"], $col["duration"], $col["delivered"], $col["misdelivered"] }' \
    "$work/$index.stats"
done <"$work/points" >>"$runs"

# Each point's share of runs with a wrong delivery, with Wilson's 95%
# interval (which, unlike the normal one, is not empty at a share of 0 or
# 1), and the largest window k bits allow the protocol.
csv=$out/window_limits.csv
echo "protocol,sequence_bits,window,limit,runs,wrong,share,ci95_low,ci95_high" >"$csv"
tail -n +2 "$runs" | awk -F, '
  {
    key = $1 "," $2 "," $3
    if (!(key in runs)) order[++points] = key
    runs[key]++; wrong[key] += $9 > 0
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
  }' >>"$csv"

# The timeline's run: the textbook's case, as the opening comment tells it.
trace=$out/window_limits_timeline.csv
link 400
session "$work/timeline.out" "$work/link-400.txt" LINKSIM_ARQ=go-back-n \
  LINKSIM_SEQUENCE_BITS=3 LINKSIM_WINDOW=8 LINKSIM_LOSS=0.1 LINKSIM_SEED=7 \
  LINKSIM_TRACE="$trace" ||
  { echo "$0: the timeline's run failed:" >&2; cat "$work/timeline.out" >&2; exit 1; }

# The measured points stand; only the picture needs gnuplot.
if ! command -v gnuplot >/dev/null; then
  echo "Wrote $runs, $csv and $trace, but no picture: gnuplot is not installed." >&2
  echo "For $out/window_limits.png: apt-get install -y gnuplot-nox, and run this again." >&2
  exit 1
fi

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
set origin 0, $(awk -v i=$i -v n=$count 'BEGIN { print 0.95 * (1 - (i + 1) / n) }')
set size 0.42, $(awk -v n=$count 'BEGIN { print 0.95 / n }')
set title "k = $k: Go-Back-N needs W <= 2^k - 1 = $gbn, Selective Repeat W <= 2^(k-1) = $sr"
set xrange [0.5:$top.5]
plot \\
  \$step$k using 1:2 with lines lw 1.5 dt 3 lc rgb '#1b9e77' title 'Selective Repeat: 0 up to its limit', \\
  \$step$k using 1:3 with lines lw 1.5 dt 2 lc rgb '#d95f02' title 'Go-Back-N: 0 up to its limit', \\
  csv skip 1 using (\$3 + 0.07):(sel('selective-repeat', $k, \$7)):8:9 with yerrorbars pt 7 ps 1.3 lc rgb '#1b9e77' title 'Selective Repeat: measured', \\
  csv skip 1 using (\$3 - 0.07):(sel('go-back-n', $k, \$7)):8:9 with yerrorbars pt 5 ps 1.3 lc rgb '#d95f02' title 'Go-Back-N: measured'
PANEL
  i=$((i + 1))
done)
terminal=png
gnuplot -e 'set terminal pngcairo' 2>/dev/null && terminal=pngcairo
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
set key top left box opaque
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
