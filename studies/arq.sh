#!/usr/bin/env bash
# The ARQ protocols' utilization against frame loss.
#
# The utilization of stop-and-wait, Go-Back-N and Selective Repeat against
# the frame loss p, the mean of many seeds with its 95% interval, over the
# curves their runs follow on linksim's clock: (1 - P) / K, Go-Back-N's band
# from every lost frame or ACK costing a go-back to lost data frames alone
# doing so, 1 - P, and below W = K the window-limited ones. ACK_LOSS loses
# the ACKs apart from the data frames; at 0, as the textbook assumes,
# Go-Back-N's band closes onto its one curve.
#
# Writes into OUTDIR arq_runs.csv (each run's stats row), arq.csv (a row
# per point), arq_curves.csv and arq.png; their columns: man linksim-study.
set -euo pipefail
# shellcheck source=studies/study.bash
source "$(dirname "${BASH_SOURCE[0]}")/study.bash"
study_is_windows() { [[ $1 =~ ^((go-back-n|selective-repeat)=)?[0-9]+$ ]] && study_is_window "${1#*=}"; }
study_knob PROTOCOLS 'stop-and-wait go-back-n selective-repeat' arq... "which protocols to run: stop-and-wait, go-back-n, selective-repeat"
study_knob WINDOWS '' windows... "the windows, 1 to 65536: W for both windowed protocols, go-back-n=W or selective-repeat=W for one (default: for Go-Back-N the smallest power of two that covers a round trip, for Selective Repeat six tries of a frame: 16 and 64 on the study's link)"
study_knob LOSSES '0 0.02 0.05 0.1 0.2 0.3 0.4 0.5' loss... "the frame loss probabilities, each 0 <= p < 1"
study_knob 'ACK_LOSS ACK_LOSSES' '' loss "the ACKs' loss apart from the data frames', 0 <= a < 1; 0 loses none, as the textbook's formulas assume (default: each point's p, the ACKs lost as the data frames are)"
study_common_knobs 20000 "$(seq 1 20)"
study_start "$@"

study_settings "$work/link.txt"
study_probe
study_link_figures
# A window named twice is run once: twice would count its runs twice.
declare -A windows=([stop-and-wait]=1)
for word in $WINDOWS; do
  for protocol in $([[ $word == *=* ]] && echo "${word%%=*}" || echo go-back-n selective-repeat); do
    [[ " ${windows[$protocol]:-} " == *" $((10#${word#*=})) "* ]] || windows[$protocol]+=" $((10#${word#*=}))"
  done
done
: "${windows[go-back-n]:=$go_back_n}" "${windows[selective-repeat]:=$selective_repeat}"
awk -F, "$study_awk_link"' { link() } END { exit $col["packet_rate"] * td < 1 }' "$work/link.stats" ||
  echo "$study_name: warning: the link's packet rate is below one per Td:" \
    "the source leaves the link idle, which the curves do not count" >&2

for protocol in $PROTOCOLS; do
  for window in ${windows[$protocol]}; do
    for loss in $LOSSES; do
      point="LINKSIM_ARQ=$protocol LINKSIM_LOSS=$loss"
      [ "$protocol" = stop-and-wait ] || point+=" LINKSIM_WINDOW=$window"
      echo "$work/link.txt $protocol,$window,$loss $point${ACK_LOSS:+ LINKSIM_ACK_LOSS=$ACK_LOSS}"
    done
  done
done >"$work/points"
study_sweep protocol,window,loss utilization

# Each point with its curves, and each series' curves at 201 losses, each
# row with the ACKs' loss its curve takes. A point stands at the share of
# frames its runs lost; where the ACKs' loss a is apart, at the data loss
# that, beside a, fails the share of attempts its runs failed (the share of
# data frames they lost, at a = 0), so that neither way's luck moves it off
# its curve.
csv=$out/arq.csv curves=$out/arq_curves.csv
right=$(awk 'BEGIN { m = 0.5 } $1 > m { m = $1 } END { print m + 0.01 }' <<<"$LOSSES")
awk -F, -v header=protocol,window,loss,runs,mean,ci95_low,ci95_high,curve,curve_data_loss,lost,ack_loss \
  -v curves="$curves" -v right="$right" -v ackLoss="$ACK_LOSS" "$study_awk_link$study_awk_curves"'
  function at(name, w, p,    a) {
    upper = ""; a = ackLoss == "" ? p : ackLoss
    if (name == "stop-and-wait") lower = stopAndWait((1 - p) * (1 - a))
    else if (name == "selective-repeat") lower = selectiveRepeat(w, (1 - p) * (1 - a))
    else goBackN(w, p, 1 / (1 - p), a, 1 / (1 - a))
    return sprintf("%.6f,%s", lower, upper == "" ? "" : sprintf("%.6f", upper))
  }
  FILENAME == ARGV[1] { link(); next }
  !(($1, $2) in series) {
    series[$1, $2]
    if (!printed++) print "protocol,window,loss,curve,curve_data_loss,ack_loss" > curves
    for (i = 0; i <= 200; i++) printf "%s,%s,%.6g,%s,%s\n", $1, $2, i * right / 200,
      at($1, $2, i * right / 200), (ackLoss == "" ? sprintf("%.6g", i * right / 200) : ackLoss) > curves
    printf "\n\n" > curves
  }
  { print $1 "," $2 "," $3 "," $4 "," $5 "," $6 "," $7 "," at($1, $2, $3) "," \
      (ackLoss == "" ? $8 : sprintf("%.6g", 1 - (1 - $9) * (1 - $10) / (1 - ackLoss))) "," \
      (ackLoss == "" ? $3 : ackLoss) }' \
  "$work/link.stats" "$work/summary.csv" >"$csv"
study_need_gnuplot "$runs" "$csv" "$curves"

# A series per protocol and window in a colour of its own, Go-Back-N's band
# between its two curves; where no ACK is lost, one curve, P = p.
free=$(awk -v a="${ACK_LOSS:-1}" 'BEGIN { print a == 0 }')
if [ -z "$ACK_LOSS" ]; then
  loss_words="P = 1 - (1 - p)^2, the chance that a frame or its ACK is lost"
  axis='frame loss probability p, data and ACKs alike (a point at the share of frames its runs lost)'
elif [ "$free" = 1 ]; then
  loss_words="ACK_LOSS = 0: no ACK is lost, as the textbook assumes, so an attempt fails with p alone and Go-Back-N has one curve"
  axis='data frame loss probability p, no ACK lost (a point at the share of data frames its runs lost)'
else
  loss_words="P = 1 - (1 - p)(1 - a), the chance that a frame or its ACK is lost, the ACKs apart at a = $ACK_LOSS (ACK_LOSS)"
  axis="data frame loss probability p, ACKs lost with a = $ACK_LOSS (a point at the p whose attempts, beside a, fail as often as in its runs)"
fi
plot=() i=0 points=(9 5 7 11 13 15)
while IFS=, read -r protocol window; do
  lc="lc rgb '${study_colours[i % 8]}'" curve="'$curves' index $i using 3:4 with lines lw 2 $lc"
  title="${study_names[$protocol]}, W = $window" small=$(awk -v w="$window" -v k="$k" 'BEGIN { print w < k }')
  measured="'$csv' skip 1 using 10:(strcol(1) eq '$protocol' && \$2 == $window ? \$5 : 1/0):6:7 with yerrorbars pt ${points[i % 6]} ps 0.8 $lc title '$title: measured'"
  case $protocol in
    stop-and-wait)
      plot+=("$curve title 'stop-and-wait: (1 - $([ "$free" = 1 ] && echo p || echo P)) / K'" "${measured/, W = 1/}") ;;
    go-back-n)
      formula=$([ "$small" = 0 ] && echo '(1 - P) / (1 + (c - 1) P)' || echo 'W (1 - P) / (K (1 - P + W P))')
      if [ "$free" = 1 ]; then
        plot+=("$curve title '$title: ${formula//P/p}'" "$measured")
      else
        plot=("'$curves' index $i using 3:4:5 with filledcurves $lc title '$title: the band its runs lie in'"
          "${plot[@]}" "$curve title '$title: $formula'"
          "'$curves' index $i using 3:5 with lines lw 2 dt 2 $lc title '$title: the same with P = p, lost ACKs free'"
          "$measured")
      fi ;;
    selective-repeat)
      formula=$([ "$small" = 0 ] && echo '1 - P' || echo 'W (1 - P) / K')
      [ "$small" = 1 ] || [ "$window" -ge "$selective_repeat" ] ||
        formula+=", which a window under six tries of a frame falls below at high loss: a frame that needs more holds the window, and the link idles"
      [ "$free" = 0 ] || formula=${formula//P/p}
      plot+=("$curve title '$title: $formula'" "$measured") ;;
  esac
  i=$((i + 1))
done < <(tail -n +2 "$csv" | cut -d, -f1,2 | uniq)

study_picture "$out/arq.png" 1000 760 "ARQ on a lossy link: utilization against frame loss p" \
  "$(study_link_words)" "$loss_words" \
  "$(wc -w <<<"$SEEDS") runs of $duration ticks a point (the first round trip brings no ACK), mean and 95% interval" <<GNUPLOT
set xlabel '$axis'
set ylabel 'utilization (acknowledged x Td / duration)'
set xrange [-0.01:$right]
set yrange [0:1.05]
set grid
set key top right box opaque noenhanced
set style fill transparent solid 0.2 noborder
$(study_plot "${plot[@]}")
GNUPLOT
echo "Wrote $runs, $csv, $curves and $out/arq.png" >&2
