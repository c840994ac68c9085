#!/usr/bin/env bash
# The ARQ protocols' utilization against the mean length of loss bursts.
#
# The utilization of stop-and-wait, Go-Back-N and Selective Repeat on a
# link that loses a share p of its frames in bursts of mean length b
# (LINKSIM_BURST), from independent loss to 20 frames, the mean of many
# seeds with its 95% interval, over the ARQ study's curves against b:
# stop-and-wait and Selective Repeat flat, each way losing p of its frames
# however they cluster; Go-Back-N within a band that rises towards
# Selective Repeat, a burst costing one go-back however long. ACK_LOSS
# loses the ACKs apart, in bursts of the same mean length; at 0 Go-Back-N's
# band closes onto its upper curve, where lost ACKs cost nothing.
#
# Writes into OUTDIR burst_runs.csv (each run's stats row), burst.csv (a
# row per point), burst_curves.csv and burst.png; their columns: man
# linksim-study.
set -euo pipefail
# shellcheck source=studies/study.bash
source "$(dirname "${BASH_SOURCE[0]}")/study.bash"
study_is_lossy() { study_is_loss "$1" && awk -v p="$1" 'BEGIN { exit !(p > 0) }'; }
study_is_burst() { # LOSS and ACK_LOSS are known by then: knobs are read in turn
  study_is_number "$1" 1 1e300 && awk -v b="$1" -v p="$LOSS" -v a="${ACK_LOSS:-0}" \
    'BEGIN { exit !(b * (1 + 1e-12) >= p / (1 - p) && b * (1 + 1e-12) >= a / (1 - a)) }'
}
study_knob 'LOSS LOSSES' 0.1 lossy "the long-run frame loss p, 0 < p < 1 (or as LOSSES)"
study_knob 'ACK_LOSS ACK_LOSSES' '' loss "the ACKs' long-run loss a apart from the data frames', 0 <= a < 1, in bursts as long; 0 loses none (default: p)"
study_knob BURSTS '' burst... "the mean burst lengths, each at least 1, p / (1 - p) and a / (1 - a) (default: 1 / (1 - p), each data frame lost on its own, then 2 3 5 8 12 20, of which those a allows)"
study_common_knobs 50000 "$(seq 1 20)"
study_start "$@"

# By default, of the lengths below, those the ACKs' loss can have.
if [ -z "$BURSTS" ]; then
  while read -r burst; do
    ! study_is_burst "$burst" || BURSTS+=${BURSTS:+$'\n'}$burst
  done < <(awk -v p="$LOSS" 'BEGIN { printf "%.17g\n2\n3\n5\n8\n12\n20\n", 1 / (1 - p) }')
  [ -n "$BURSTS" ] || study_fail "ACK_LOSS: $ACK_LOSS: its bursts are longer than 20 frames; name them with BURSTS"
fi
study_settings "$work/link.txt"
study_probe
study_link_figures
declare -A windows=([stop-and-wait]=1 [go-back-n]=$go_back_n [selective-repeat]=$selective_repeat)
for protocol in stop-and-wait go-back-n selective-repeat; do
  for burst in $BURSTS; do
    point="LINKSIM_ARQ=$protocol LINKSIM_LOSS=$LOSS LINKSIM_BURST=$burst"
    [ "$protocol" = stop-and-wait ] || point+=" LINKSIM_WINDOW=${windows[$protocol]}"
    echo "$work/link.txt $protocol,${windows[$protocol]},$LOSS,$burst $point${ACK_LOSS:+ LINKSIM_ACK_LOSS=$ACK_LOSS}"
  done
done >"$work/points"
study_sweep protocol,window,loss,burst utilization

# The curves at each point's burst length, and at 101 spread evenly on the
# picture's logarithmic scale, with the two losses they take; the ACKs'
# chain has the data chain's mean burst length. Where the ACKs' loss is
# apart, a point's share lost is its data frames'.
csv=$out/burst.csv curves=$out/burst_curves.csv
ack_loss=${ACK_LOSS:-$LOSS}
read -r left right < <(sort -g <<<"$BURSTS" | sed -n '1p;$p' | paste -sd ' ')
awk -F, -v header=protocol,window,loss,burst,runs,mean,ci95_low,ci95_high,stop_and_wait,selective_repeat,go_back_n_lower,go_back_n_upper,lost,ack_loss \
  -v curves="$curves" -v lo="$left" -v hi="$right" -v p="$LOSS" -v ackLoss="$ack_loss" -v apart="$ACK_LOSS" \
  -v g="$go_back_n" -v s="$selective_repeat" "$study_awk_link$study_awk_curves"'
  function at(b) {
    goBackN(g, p, b, ackLoss, b)
    return sprintf("%.6f,%.6f,%.6f,%.6f", stopAndWait((1 - p) * (1 - ackLoss)),
      selectiveRepeat(s, (1 - p) * (1 - ackLoss)), lower, upper)
  }
  FILENAME == ARGV[1] {
    link(); print "burst,stop_and_wait,selective_repeat,go_back_n_lower,go_back_n_upper,loss,ack_loss" > curves
    for (i = 0; i <= 100; i++) printf "%.6g,%s,%s,%s\n", lo * (hi / lo) ^ (i / 100),
      at(lo * (hi / lo) ^ (i / 100)), p, ackLoss > curves
    next
  }
  { print $1 "," $2 "," $3 "," $4 "," $5 "," $6 "," $7 "," $8 "," at($4) "," \
      (apart == "" ? $9 : $10) "," ackLoss }' \
  "$work/link.stats" "$work/summary.csv" >"$csv"
study_need_gnuplot "$runs" "$csv" "$curves"

# A tic at each burst length measured; a series per protocol; where no ACK
# is lost, Go-Back-N's one curve.
lost=$(awk -F, 'NR > 1 { s += $13; n++ } END { printf "%.4f", s / n }' "$csv")
free=$(awk -v a="${ACK_LOSS:-1}" 'BEGIN { print a == 0 }')
if [ -z "$ACK_LOSS" ]; then
  loss_words="p = $LOSS lost in the long run ($lost in these runs), in bursts of mean length b; P = 1 - (1 - p)^2: a frame or its ACK lost"
elif [ "$free" = 1 ]; then
  loss_words="p = $LOSS of the data frames lost in the long run ($lost in these runs), in bursts of mean length b; no ACK lost (ACK_LOSS = 0)"
else
  loss_words="p = $LOSS of the data frames lost in the long run ($lost in these runs), a = $ACK_LOSS of the ACKs (ACK_LOSS), each in bursts of mean length b; P = 1 - (1 - p)(1 - a): a frame or its ACK lost"
fi
tics=$(awk '{ printf "%s\"%.3g\" %s", (NR > 1 ? ", " : ""), $1, $1 }' <<<"$BURSTS")
measured() { echo "'$csv' skip 1 using 4:(strcol(1) eq '$1' ? \$6 : 1/0):7:8 with yerrorbars pt $2 ps 0.8 lc rgb '$3' title '${study_names[$1]}, W = ${windows[$1]}: measured'"; }
upper="'$curves' skip 1 using 1:5 with lines lw 2 lc rgb '#d95f02' title 'Go-Back-N" P=P
if [ "$free" = 1 ]; then
  plot=("$upper: (1 - B) / (1 - B + c r)'") P=p
else
  plot=("'$curves' skip 1 using 1:4:5 with filledcurves lc rgb '#d95f02' title 'Go-Back-N: the band its runs lie in'"
    "$upper, lost ACKs free: (1 - B) / (1 - B + c r)'"
    "'$curves' skip 1 using 1:4 with lines lw 2 dt 2 lc rgb '#d95f02' title 'Go-Back-N, every lost frame or ACK a go-back'")
fi
plot+=(
  "'$curves' skip 1 using 1:3 with lines lw 2 lc rgb '#1b9e77' title 'Selective Repeat: 1 - $P'"
  "'$curves' skip 1 using 1:2 with lines lw 2 lc rgb '#7570b3' title 'stop-and-wait: (1 - $P) / K'"
  "$(measured selective-repeat 7 '#1b9e77')" "$(measured go-back-n 5 '#d95f02')"
  "$(measured stop-and-wait 9 '#7570b3' | sed 's/, W = 1//')"
)
study_picture "$out/burst.png" 1000 760 \
  "ARQ on a link that loses frames in bursts: utilization against the mean burst length b" "$(study_link_words)" \
  "$loss_words" \
  "r = p / (b (1 - p)): a good channel turns bad; B: a bad one is bad again c frames later (the lab guide, Bursty loss)" \
  "$(wc -w <<<"$SEEDS") runs of $duration ticks a point, mean and 95% interval" <<GNUPLOT
set xlabel 'mean length of a run of lost frames, b (frames; b = 1 / (1 - p): each lost on its own)' noenhanced
set ylabel 'utilization (acknowledged x Td / duration)'
set logscale x
set xtics ($tics)
set xrange [$left / 1.1:$right * 1.1]
set yrange [0:1.05]
set grid
set key at graph 0.98, graph 0.43 box opaque noenhanced
set style fill transparent solid 0.2 noborder
$(study_plot "${plot[@]}")
GNUPLOT
echo "Wrote $runs, $csv, $curves and $out/burst.png" >&2
