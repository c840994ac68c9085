#!/usr/bin/env bash
# Mean delay against offered load, with Poisson arrivals.
#
# The mean delay from a packet's arrival to its delivery against the load
# rho, for stop-and-wait, Go-Back-N and Selective Repeat with Poisson
# arrivals (LINKSIM_ARRIVALS=poisson), without loss and at a loss of 0.1,
# the mean of many seeds with its 95% interval; each protocol loaded up to
# its own capacity, what it carries always busy (the ARQ study's curve;
# Go-Back-N's lower one). Stop-and-wait is a single server, over
# Pollaczek-Khinchine for its service time; a window without loss is M/D/1
# at the transmitter; with loss the windows are measured only.
#
# Writes into OUTDIR delay_runs.csv (each run's stats row), delay.csv (a
# row per point), delay_curves.csv and delay.png; their columns: man
# linksim-study.
set -euo pipefail
# shellcheck source=studies/study.bash
source "$(dirname "${BASH_SOURCE[0]}")/study.bash"
study_is_load() { study_is_number "$1" 1e-300 1; }
study_knob LOADS '0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8 0.9' load... "the offered loads, each 0 < rho < 1, a share of each protocol's capacity"
study_knob LOSSES '0 0.1' loss... "the frame loss probabilities, each 0 <= p < 1"
study_knob 'WINDOW WINDOWS' 8 window "Go-Back-N's and Selective Repeat's window, from 1 to 65536 (or as WINDOWS)"
study_common_knobs 200000 "$(seq 1 20)"
study_start "$@"

# The study's own link, unless LINK names one: P 1, A 2, Td 5, Ta 1.
own=("Propagation Delay" 2 "Data Packet Size" 450 "Data Packet Overhead" 50)
[ -z "$LINK" ] || own=()
study_probe "${own[@]}"
study_link_figures
[ "$whole" = 1 ] || echo "$study_name: warning: the link's stages are not whole" \
  "numbers of ticks: the closed forms only approach the runs" >&2

# A point per protocol, loss and load, at rho times the packets a tick the
# protocol carries when always busy.
i=0
for protocol in stop-and-wait go-back-n selective-repeat; do
  window=$([ "$protocol" = stop-and-wait ] && echo 1 || echo "$WINDOW")
  for loss in $LOSSES; do
    for load in $LOADS; do
      i=$((i + 1))
      study_settings "$work/$i.txt" "${own[@]}" "Packet Rate" "$(awk -F, -v w="$window" \
        -v name="$protocol" -v p="$loss" -v rho="$load" "$study_awk_link$study_awk_curves"' {
        link(); longRun = 1; q = (1 - p) ^ 2; goBackN(w, p, 1 / (1 - p), p, 1 / (1 - p))
        u = name == "stop-and-wait" ? stopAndWait(q) : name == "go-back-n" ? lower : selectiveRepeat(w, q)
        printf "%.17g\n", rho * u / td }' "$work/link.stats")"
      point="LINKSIM_ARQ=$protocol LINKSIM_LOSS=$loss LINKSIM_ARRIVALS=poisson"
      [ "$protocol" = stop-and-wait ] || point+=" LINKSIM_WINDOW=$window"
      echo "$work/$i.txt $protocol,$window,$loss,$load $point"
    done
  done
done >"$work/points"
study_sweep protocol,window,loss,load delay_mean

# The closed forms: stop-and-wait's at any loss, attempts of D ticks
# until one succeeds, at lambda = rho (1 - P) / D: Pollaczek-Khinchine's
# wait, lambda E[S^2] / (2 (1 - rho)), the clock's rounding, (1 + lambda /
# 3) / (2 + lambda), D p / (1 - p) for the attempts before the first whose
# data frame arrives, and Hd; a window's without loss, M/D/1 at the
# transmitter at lambda = rho / Td (the lab guide, Delay against load).
# shellcheck disable=SC2016
closed='
  function closedForm(name, p, rho,    P, lambda, es2) {
    P = 1 - (1 - p) ^ 2
    if (name == "stop-and-wait") {
      lambda = rho * (1 - P) / dd; es2 = dd * dd * (1 + P) / (1 - P) ^ 2
      return lambda * es2 / (2 * (1 - rho)) + (1 + lambda / 3) / (2 + lambda) + dd * p / (1 - p) + hd
    }
    if (p > 0 || w * td < dd) return ""
    lambda = rho / td
    return rho * td / (2 * (1 - rho)) + (1 + lambda / 3) / (2 + lambda) + hd
  }'
# Each point with its closed form at p and at the share of frames its runs
# lost (the seeds' luck, which every load replays); the curves a block per
# loss.
csv=$out/delay.csv curves=$out/delay_curves.csv
awk -F, -v header=protocol,window,loss,load,runs,mean,ci95_low,ci95_high,closed_form,lost,closed_form_lost \
  -v curves="$curves" -v w="$WINDOW" "$study_awk_link$closed"'
  function form(name, p, rho,    f) { f = closedForm(name, p, rho); return f == "" ? "" : sprintf("%.4f", f) }
  FILENAME == ARGV[1] { link(); next }
  {
    printf "%s,%s,%s,%s,%s,%.4f,%.4f,%.4f,%s,%s,%s\n", $1, $2, $3, $4, $5, $6, $7, $8,
      form($1, $3, $4), $9, form($1, $9, $4)
    if (!($3 in seen)) order[++m] = $3; seen[$3]
  }
  END {
    print "loss,load,stop_and_wait,window" > curves
    for (i = 1; i <= m; i++) {
      for (j = 1; j < 400; j++) printf "%s,%.4f,%s,%s\n", order[i], j / 400,
        form("stop-and-wait", order[i], j / 400), form("go-back-n", order[i], j / 400) > curves
      printf "\n\n" > curves
    }
  }' "$work/link.stats" "$work/summary.csv" >"$csv"
study_need_gnuplot "$runs" "$csv" "$curves"

# Per loss: stop-and-wait's curve and points in a colour of its own, the
# windows' points beside them, and the windows' curve without loss.
plot=() i=0
for loss in $LOSSES; do
  lc="lc rgb '${study_colours[i % 8]}'" block="'$curves' index $i using 2"
  select="'$csv' skip 1 using 4:(strcol(1) eq '%s' && \$3 == $loss ? \$6 : 1/0):7:8 with yerrorbars"
  # shellcheck disable=SC2059  # the protocol goes into the format
  plot+=("$block:3 with lines lw 2 $lc title 'stop-and-wait, p = $loss: Pollaczek-Khinchine'"
    "$(printf "$select" stop-and-wait) pt 9 ps 1.2 $lc title 'stop-and-wait, p = $loss: measured'"
    "$(printf "$select" go-back-n) pt $((5 + 2 * (i % 2))) ps 0.8 lc rgb '#1b9e77' title 'Go-Back-N, W = $WINDOW, p = $loss: measured'"
    "$(printf "$select" selective-repeat) pt $((4 + 2 * (i % 2))) ps 0.8 lc rgb '#1f78b4' title 'Selective Repeat, W = $WINDOW, p = $loss: measured'")
  [ "$loss" = 0 ] || plot+=("'$csv' skip 1 using (\$4 - 0.015):(strcol(1) eq 'stop-and-wait' && \$3 == $loss ? \$11 : 1/0):(0.03):(0) with vectors nohead lw 3 $lc title 'the same, at the share of frames each point''s runs lost (its seeds'' luck)'")
  [ "$loss" != 0 ] || plot+=("$block:4 with lines lw 2 dt 2 lc rgb '#1b9e77' title 'a window, p = 0: M/D/1 at the transmitter'")
  i=$((i + 1))
done
top=$(awk -F, 'NR > 1 && $8 > m { m = $8 } END { print m * 1.1 }' "$csv")
study_picture "$out/delay.png" 1000 760 \
  "Delay against offered load with Poisson arrivals, each protocol loaded up to its own capacity" \
  "$([ -n "$LINK" ] && echo "the link of $(basename "$LINK")" || echo "the study's link"): Td = $td ticks a data frame; Hd = $hd ticks from hand-over to the sink, D = $dd to the ACK's return" \
  "rho: the packet rate over the protocol's capacity when always busy: (1 - P) / D packets a tick for stop-and-wait" \
  "P = 1 - (1 - p)^2, the chance that a frame or its ACK is lost; $(wc -w <<<"$SEEDS") runs of $duration ticks a point, mean and 95% interval" \
  "(near rho = 1 a queue grows so long that these runs pin its mean down less well than the interval says)" <<GNUPLOT
set xlabel "offered load rho (a share of each protocol's capacity)" noenhanced
set ylabel 'mean delay from arrival to delivery (ticks)'
set xrange [0:1]
set yrange [0:$top]
set grid
set key top left box opaque noenhanced
$(study_plot "${plot[@]}")
GNUPLOT
echo "Wrote $runs, $csv, $curves and $out/delay.png" >&2
