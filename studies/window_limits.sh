#!/usr/bin/env bash
# How large a window k-bit sequence numbers allow.
#
# The share of lossy runs in which the sink hands up a wrong packet, with
# its 95% interval, against the window, for Go-Back-N and Selective Repeat
# with k-bit sequence numbers (LINKSIM_SEQUENCE_BITS=k), over the limits:
# none up to W = 2^k - 1 and W = 2^(k-1), every run past them, where one
# lost ACK while the window is full is enough. The study's link is
# stretched to hold more frames than the largest window (A = 40 up to
# k = 3). Beside it, a timeline of the textbook's case: Go-Back-N with
# k = 3 and W = 8 handing up an old frame as a new one.
#
# Writes into OUTDIR window_limits_runs.csv (each run's stats row),
# window_limits.csv (a row per point), window_limits_timeline.csv (the
# timeline's trace) and window_limits.png; their columns: man linksim-study.
set -euo pipefail
# shellcheck source=studies/study.bash
source "$(dirname "${BASH_SOURCE[0]}")/study.bash"
study_knob 'SEQUENCE_BITS BITS' '2 3' bits... "the numbers of bits k, each from 1 to 16, windows 1 to 2^k run for each (or as BITS, its old name)"
study_knob 'LOSS LOSSES' 0.1 loss "the frame loss probability, 0 <= p < 1 (or as LOSSES)"
study_knob TIMEOUT '' above0 "the retransmission timeout in ticks (default: the one the protocols derive from the link)"
study_common_knobs '' "$(seq 1 40)"
knob_help[DURATION]="ticks per run (default: 32 round trips up to k = 3, 3000 on the study's link, and twice as many for each bit more)"
study_start "$@"

top=$(sort -n <<<"$SEQUENCE_BITS" | tail -n 1)
# A round trip of more than 2^k frames (Td 10, Ta 1, P 1 on the study's link).
own=("Propagation Delay" "$(awk -v w=$((1 << top)) 'BEGIN { a = int((10 * w - 12) / 2); print (a > 40 ? a : 40) }')")
[ -z "$LINK" ] || own=()
study_probe "${own[@]}"
[ -n "$DURATION" ] || duration=$(awk -F, -v n=$((1 << (top + 2))) "$study_awk_link"' { link() }
  END { print 100 * ceil((n > 32 ? n : 32) * t / 100) }' "$work/link.stats")
study_settings "$work/link.txt" "${own[@]}"
study_link_figures
[ $((1 << top)) -le "$((${c%.*} + 1))" ] || echo "$study_name: warning: a round trip holds" \
  "K = $k frames: past its limit, a window above $((${c%.*} + 1)) may never go wrong" >&2

for bits in $SEQUENCE_BITS; do
  for protocol in go-back-n selective-repeat; do
    for window in $(seq 1 $((1 << bits))); do
      echo "$work/link.txt $protocol,$bits,$window LINKSIM_ARQ=$protocol LINKSIM_SEQUENCE_BITS=$bits" \
        "LINKSIM_WINDOW=$window LINKSIM_LOSS=$LOSS${TIMEOUT:+ LINKSIM_TIMEOUT=$TIMEOUT}"
    done
  done
done >"$work/points"
study_sweep protocol,sequence_bits,window misdelivered

# Each point's share of runs with a wrong delivery, Wilson's 95% interval
# (not empty at a share of 0 or 1), the limit and what it predicts: a frame
# numbered as the sink's next comes back c frame times after it went, so
# the window must have left it by then (Go-Back-N's W <= c + 1, Selective
# Repeat's 2^(k-1) <= c).
csv=$out/window_limits.csv
awk -F, -v header=protocol,sequence_bits,window,limit,runs,wrong,share,ci95_low,ci95_high,curve \
  -v c="$c" "$study_awk_link"'
  {
    key = $col["protocol"] "," $col["sequence_bits"] "," $col["window"]
    if (!(key in runs)) order[++points] = key
    runs[key]++; wrong[key] += $col["misdelivered"] > 0
  }
  END {
    z = 1.959964
    for (i = 1; i <= points; i++) {
      key = order[i]; split(key, f, ","); n = runs[key]; share = wrong[key] / n
      gbn = f[1] == "go-back-n"; limit = gbn ? 2 ^ f[2] - 1 : 2 ^ (f[2] - 1)
      centre = (share + z * z / (2 * n)) / (1 + z * z / n)
      half = z * sqrt(share * (1 - share) / n + z * z / (4 * n * n)) / (1 + z * z / n)
      w = f[3] + 0; curve = w <= limit ? 0 : (gbn ? (w <= c + 1) : (limit <= c + 0)) ? 1 : ""
      printf "%s,%d,%d,%d,%.4f,%.4f,%.4f,%s\n", key, limit, n, wrong[key], share,
        centre - half, centre + half, curve
    }
  }' "$runs" >"$csv"

# The timeline's run, on the study's own link: the ACK of packet 0 is lost,
# frame 0 goes again, and the sink, waiting for packet 8, hands it up as 8.
trace=$out/window_limits_timeline.csv
{ echo "$study_link" && echo "Simulation Duration 400"; } >"$work/timeline.txt"
study_run "$study_name: the timeline" "$work/timeline.txt" "$work/timeline.out" \
  LINKSIM_ARQ=go-back-n LINKSIM_SEQUENCE_BITS=3 LINKSIM_WINDOW=8 \
  LINKSIM_LOSS=0.1 LINKSIM_SEED=7 LINKSIM_TRACE="$trace" || exit 1
study_need_gnuplot "$runs" "$csv" "$trace"

# Up to a while after the first wrong delivery.
end=$(awk -F, '$3 == "deliver" { if ($6 != n) { end = $1 + 70; exit } n++ }
  END { print end ? end : 400 }' "$trace")
study_timeline_data "$trace" 0 "$end"
count=$(wc -w <<<"$SEQUENCE_BITS") i=0
{
  cat <<GNUPLOT
set xlabel 'window W (frames)'
set ylabel 'share of runs with a wrong delivery'
set xtics 1
set yrange [-0.05:1.25]
set ytics 0, 0.25, 1
set grid
set key left center box opaque
GNUPLOT
  # A panel per k: the points, and the limit's step as curves from both
  # sides of each window.
  for bits in $SEQUENCE_BITS; do
    sel="'$csv' skip 1 using (\$3 %s):(strcol(1) eq '%s' && \$2 == $bits ? \$%s : 1/0)"
    # shellcheck disable=SC2059  # the columns go into the format
    printf '%s\n' "set origin 0, $(awk -v i=$i -v n="$count" 'BEGIN { print 0.9 * (1 - (i + 1) / n) }')" \
      "set size 0.42, $(awk -v n="$count" 'BEGIN { print 0.9 / n }')" "set xrange [0.5:$((1 << bits)).5]" \
      "set title \"k = $bits: Go-Back-N needs W <= 2^k - 1 = $(((1 << bits) - 1)), Selective Repeat W <= 2^(k-1) = $((1 << (bits - 1)))\"" \
      "$(study_plot "$(printf "$sel" -0.5 selective-repeat 10) with steps lw 1.5 dt 3 lc rgb '#1b9e77' title 'Selective Repeat: 0 up to its limit, 1 past it'" \
        "$(printf "$sel" +0.5 selective-repeat 10) with fsteps lw 1.5 dt 3 lc rgb '#1b9e77' notitle" \
        "$(printf "$sel" -0.5 go-back-n 10) with steps lw 1.5 dt 2 lc rgb '#d95f02' title 'Go-Back-N: 0 up to its limit, 1 past it'" \
        "$(printf "$sel" +0.5 go-back-n 10) with fsteps lw 1.5 dt 2 lc rgb '#d95f02' notitle" \
        "$(printf "$sel" +0.07 selective-repeat 7):8:9 with yerrorbars pt 7 ps 1.3 lc rgb '#1b9e77' title 'Selective Repeat: measured'" \
        "$(printf "$sel" -0.07 go-back-n 7):8:9 with yerrorbars pt 5 ps 1.3 lc rgb '#d95f02' title 'Go-Back-N: measured'")"
    i=$((i + 1))
  done
  cat <<GNUPLOT
unset xlabel
set origin 0.44, 0
set size 0.56, 0.9
set title "The textbook's case, from the trace: Go-Back-N, k = 3, W = 8, loss 0.1, seed 7\\n" . \
  "each frame labelled with its number and, in brackets where they differ, the packet it holds"
GNUPLOT
  study_timeline_plot 0 "$end" portrait 'ACK (cumulative)' 'timeout (go back)' \
    'discarded (a duplicate, or out of order)' ''
} | study_picture "$out/window_limits.png" 1700 1000 '[multiplot]' "Wrong deliveries with k-bit sequence numbers: loss $LOSS, $([ -n "$TIMEOUT" ] && echo "timeout $TIMEOUT" || echo "the derived timeout"), $(wc -w <<<"$SEEDS") runs of $duration ticks a point (share of runs with one, and its 95% interval); $(study_link_words)"
echo "Wrote $runs, $csv, $trace and $out/window_limits.png" >&2
