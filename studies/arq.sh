#!/usr/bin/env bash
# The ARQ protocols' utilization against frame loss.
#
# Link utilization of the ARQ protocols against the frame loss probability
# p, measured over many seeds, over the textbook's curves. With Td the time
# a data frame takes on the link, T = Td + Ta + 2A + 2P the round trip,
# K = T / Td and P the chance that a frame must go again: stop-and-wait
# (1 - P) / K; Go-Back-N (1 - P) / (1 + (K - 1) P) with a window W >= K,
# and W (1 - P) / (K (1 - P + W P)) with a smaller one; Selective Repeat
# 1 - P, and W (1 - P) / K with W < K. P = 1 - (1 - p)^2, the chance that a
# frame or its ACK is lost; for Go-Back-N also P = p, as if a lost ACK cost
# nothing: its runs lie between the two.
#
#   studies/arq.sh OUTDIR     installed: linksim-study arq OUTDIR
#
# Writes OUTDIR/arq_runs.csv, a row per run (linksim-arq's LINKSIM_STATS
# row: the settings, the link, the counts and the utilization,
# acknowledged x Td / duration), OUTDIR/arq.csv, a row per point,
#   protocol,window,loss,runs,mean,ci95_low,ci95_high,textbook_any_loss,textbook_data_loss
# (the mean utilization of its runs, its 95% interval by Student's t, the
# textbook's figure with P = 1 - (1 - p)^2, and Go-Back-N's with P = p,
# empty for the others), and OUTDIR/arq.png. Without gnuplot it writes the
# CSVs, says how to get the picture and exits with status 1. A run that
# fails, or that linksim-arq refuses, stops the study with status 1 before
# it writes anything.
#
# Knobs, as environment variables:
#   PROTOCOLS  stop-and-wait, go-back-n, selective-repeat: which to run
#              (default: the three)
#   WINDOWS    the windows, from 1 to 65536: W for Go-Back-N and Selective
#              Repeat alike, go-back-n=W or selective-repeat=W for one; a
#              protocol given several runs each (default: the smallest
#              power of two that covers a round trip, W Td >= T, for
#              Go-Back-N, and a frame's second try, W Td >= 2 (T + Td),
#              for Selective Repeat; on the study's link 16 and 32)
#   LOSSES     the frame loss probabilities, each 0 <= p < 1 (default:
#              0 0.02 0.05 0.1 0.2 0.3 0.4 0.5)
#   SEEDS      the seeds, two or more (default: 1 to 20)
#   LINK       a settings file for the link, as examples/link.txt; the
#              curves follow it (default: Td 10, Ta 1, P 1, A 40, a packet
#              a tick: T = 93, K = 9.3)
#   DURATION   ticks per run (default: 20000, or LINK's own)
#   LINKSIM_ARQ_PROGRAM  the linksim-arq to run (default: in the source
#              tree the release tree's, built or brought up to date first;
#              installed, the one on PATH)
# The curves take a source that always has a packet to send; a link whose
# packet rate is below one per Td is run all the same, with a warning.

# How each protocol departs from its curve, as measured with the defaults
# on the study's link (T = 93 ticks, K = 9.3):
# - Stop-and-wait is its curve, in the mean: every attempt takes T ticks,
#   whether it succeeds or not, since the derived timeout fires in the very
#   tick the ACK would have been read, and succeeds with probability 1 - P.
#   Only the attempt that the end of the run cuts short is missing (215
#   attempts of 93 ticks fit in 20,000, the 216th does not): 0.1075 against
#   0.10753 at p = 0, and elsewhere the curve lies within each point's
#   interval (0.0882 against 0.0871 at 0.1).
# - Go-Back-N lies between its two curves, near neither at middling loss:
#   0.754 at p = 0.02 (between 0.723 and 0.841), 0.442 at 0.1 (0.314 and
#   0.492), 0.091 at 0.5 (0.035 and 0.097). The lower curve charges every
#   lost frame or ACK a go-back of K frame times. On the discrete clock a
#   go-back costs 10 (the timer fires at T - P = 92, and the resend waits
#   for the frame on the link) after a lost data frame, and 9 after a lost
#   ACK (the next frame's cumulative ACK comes before its resend would
#   start). But many losses cost nothing: a data frame lost while a go-back
#   is under way, or one the sink would have discarded anyway; an ACK lost
#   while the oldest frame's timer, restarted by its resend, still runs
#   when the next cumulative ACK comes. With seed 3 at p = 0.1, 205 data
#   frames and 168 ACKs were lost, and 117 go-backs came of them. At low
#   loss the losses come apart, each costs its go-back, and the run nears
#   the lower curve; at high loss they come in clusters, a go-back for
#   each, and it nears the upper one (P = p, as if no lost ACK cost
#   anything).
# - Selective Repeat sits a little below 1 - P: 0.9955 at p = 0, the start
#   of the run (the first ACK comes after T: T / L = 0.5%); 0.803 against
#   0.810 at p = 0.1, 0.227 against 0.250 at 0.5. The rest is window stalls:
#   a packet that takes three tries or more holds the window's oldest place
#   for longer than a window of 32 covers, and the link idles, 1985 of its
#   2000 frame times used at p = 0.1 and 1863 at 0.5.
set -euo pipefail
# shellcheck source=studies/study.bash
source "$(dirname "${BASH_SOURCE[0]}")/study.bash"
study_start 20000 "$@"

# A loss, seed or window named twice is run once: twice would count its
# runs twice. Losses are compared as numbers, seeds as whole numbers.
losses=$(study_words "${LOSSES:-0 0.02 0.05 0.1 0.2 0.3 0.4 0.5}")
for loss in $losses; do
  study_decimal "$loss" 0 1 || study_fail "LOSSES: $loss: each must be 0 <= p < 1"
done
losses=$(awk '!seen[sprintf("%.17g", $0 + 0)]++' <<<"$losses")
seeds=$(study_words "${SEEDS:-$(seq 1 20)}")
for seed in $seeds; do
  study_seed "$seed" ||
    study_fail "SEEDS: $seed: each must be a whole number from 0 to 2^64 - 1"
done
seeds=$(awk '{ key = $0; sub(/^0+/, "", key) } !seen[key]++' <<<"$seeds")
# Two runs at least: an interval needs a spread to be measured.
[ "$(wc -w <<<"$seeds")" -ge 2 ] || study_fail "SEEDS must name two seeds or more"
protocols=()
for protocol in $(study_words "${PROTOCOLS:-stop-and-wait go-back-n selective-repeat}"); do
  case $protocol in
    stop-and-wait | go-back-n | selective-repeat) ;;
    *) study_fail "PROTOCOLS must name stop-and-wait, go-back-n or selective-repeat, not $protocol" ;;
  esac
  [[ " ${protocols[*]} " == *" $protocol "* ]] || protocols+=("$protocol")
done
declare -A windows=([stop-and-wait]=1)
for word in ${WINDOWS:-}; do
  case $word in
    go-back-n=* | selective-repeat=*) named=("${word%%=*}") ;;
    *=*) study_fail "WINDOWS: $word: only go-back-n and selective-repeat have a window" ;;
    *) named=(go-back-n selective-repeat) ;;
  esac
  study_whole "${word#*=}" 1 65536 ||
    study_fail "WINDOWS: $word: a window is a whole number from 1 to 65536"
  for protocol in "${named[@]}"; do
    window=$((10#${word#*=}))
    [[ " ${windows[$protocol]:-} " == *" $window "* ]] ||
      windows[$protocol]+="${windows[$protocol]:+ }$window"
  done
done

# The link, as linksim-arq reads it: a run of one tick says in its stats.
study_settings "$work/link.txt"
study_settings "$work/probe.txt" "Simulation Duration" 1
study_run "$0: the link" "$work/probe.txt" "$work/probe.out" \
  LINKSIM_STATS="$work/probe.stats" || exit 1
read -r go_back_n selective_repeat busy < <(awk -F, "$study_awk_stats"' END {
  for (g = 1; g * td < t && g < 65536; g *= 2);
  for (s = 1; s * td < 2 * (t + td) && s < 65536; s *= 2);
  print g, s, ($col["packet_rate"] * td >= 1) }' "$work/probe.stats")
: "${windows[go-back-n]:=$go_back_n}" "${windows[selective-repeat]:=$selective_repeat}"
[ "$busy" = 1 ] || echo "$0: warning: the link's packet rate is below one" \
  "per Td: the source leaves the link idle, which the curves do not count" >&2

i=0
for protocol in "${protocols[@]}"; do
  for window in ${windows[$protocol]}; do
    for loss in $losses; do
      i=$((i + 1)) && echo "$i $protocol $window $loss"
    done
  done
done >"$work/points"
total=$(wc -l <"$work/points")

# One point, a protocol with a window at a loss: a run per seed, each
# appending its row to the point's stats file. A run that fails stops the
# study: it measured nothing. The points not yet started then end at once,
# and xargs waits for those that have.
run_point() {
  local index=$1 protocol=$2 window=$3 loss=$4 seed name=$work/$1
  local variables=(LINKSIM_ARQ="$protocol" LINKSIM_LOSS="$loss"
    LINKSIM_STATS="$name.stats")
  [ "$protocol" = stop-and-wait ] || variables+=(LINKSIM_WINDOW="$window")
  for seed in $seeds; do
    [ ! -e "$work/failed" ] || return 1
    if ! study_run "$protocol, window $window, loss $loss, seed $seed" \
      "$work/link.txt" "$name.out" "${variables[@]}" LINKSIM_SEED="$seed"; then
      touch "$work/failed"
      return 1
    fi
  done
  rm -f "$name.out"
  awk -F, "$study_awk_stats"' { u += $col["utilization"]; n++ } END {
    printf "[%d/%d] %s, window %s, loss %s: mean utilization %.4f over %d runs\n",
      i, total, $col["protocol"], w, $col["loss"], u / n, n }' \
    i="$index" total="$total" w="$window" "$name.stats" >&2
}
export -f run_point
export seeds total study_awk_stats

echo "Running $total points of $(wc -w <<<"$seeds") seeds on $(nproc) cores" >&2
xargs -P "$(nproc)" -L 1 bash -c 'run_point "$@"' _ <"$work/points" ||
  { echo "$0: a run failed; nothing written" >&2; exit 1; }

runs=$out/arq_runs.csv
while read -r index _; do echo "$work/$index.stats"; done <"$work/points" |
  xargs awk 'FNR > 1 || NR == 1' >"$runs"

# Each point's mean with its 95% interval, Student's t over the seeds, and
# the textbook's figures for its protocol and window.
csv=$out/arq.csv
echo "protocol,window,loss,runs,mean,ci95_low,ci95_high,textbook_any_loss,textbook_data_loss" >"$csv"
awk -F, "$study_awk_stats$study_awk_t95"'
  # The textbook utilization of protocol name with window w when a frame
  # must go again with probability P, on a link of K = T / Td.
  function textbook(name, w, P) {
    if (name == "stop-and-wait") return (1 - P) / K
    if (name == "go-back-n")
      return w >= K ? (1 - P) / (1 + (K - 1) * P) : w * (1 - P) / (K * (1 - P + w * P))
    return w >= K ? 1 - P : w * (1 - P) / K
  }
  {
    key = $col["protocol"] "," $col["window"] "," $col["loss"]
    if (!(key in n)) order[++points] = key
    u = $col["utilization"]
    n[key]++; sum[key] += u; squares[key] += u * u
    K = k
  }
  END {
    for (i = 1; i <= points; i++) {
      key = order[i]; split(key, f, ",")
      mean = sum[key] / n[key]
      variance = (squares[key] - n[key] * mean * mean) / (n[key] - 1)
      half = quantile(n[key] - 1) * sqrt(variance > 0 ? variance : 0) / sqrt(n[key])
      data = f[1] == "go-back-n" ? sprintf("%.6f", textbook(f[1], f[2], f[3])) : ""
      printf "%s,%d,%.6f,%.6f,%.6f,%.6f,%s\n", key, n[key], mean, mean - half,
        mean + half, textbook(f[1], f[2], 1 - (1 - f[3]) ^ 2), data
    }
  }' "$runs" >>"$csv"

study_need_gnuplot "$runs" "$csv"

read -r td t k duration < <(awk -F, "$study_awk_stats"' END {
  print td, t, k, $col["duration"] }' "$runs")
# From 0 to the largest loss, 0.5 at least, with room for the points.
right=$(awk 'BEGIN { m = 0.5 } $1 > m { m = $1 } END { print m + 0.01 }' \
  <<<"$losses")
# A series per protocol and window: its curves and its points, in a colour
# of its own (with a window each: stop-and-wait purple, Go-Back-N orange,
# Selective Repeat green), Go-Back-N's band between its two curves.
colours=('#7570b3' '#d95f02' '#1b9e77' '#e7298a' '#66a61e' '#e6ab02' '#a6761d' '#666666')
points=(9 5 7 11 13 15)
plot=() i=0
while IFS=, read -r protocol window; do
  colour=${colours[i % ${#colours[@]}]} pt=${points[i % ${#points[@]}]}
  i=$((i + 1))
  small=$(awk -v w="$window" -v k="$k" 'BEGIN { print w < k }')
  select="csv skip 1 using 3:(strcol(1) eq '$protocol' && \$2 == $window ? \$5 : 1/0):6:7 with yerrorbars pt $pt ps 0.8 lc rgb '$colour'"
  case $protocol in
    stop-and-wait)
      plot+=("on(x, sw(lost(x))) with lines lw 2 lc rgb '$colour' title 'stop-and-wait: (1 - P) / K'"
        "$select title 'stop-and-wait: measured'") ;;
    go-back-n)
      formula='(1 - P) / (1 + (K - 1) P)'
      [ "$small" = 0 ] || formula='W (1 - P) / (K (1 - P + W P))'
      plot=("'+' using 1:(on(\$1, gbn(lost(\$1), $window))):(gbn(\$1, $window)) with filledcurves lc rgb '$colour' title 'Go-Back-N, W = $window: the band its truth lies in'"
        "${plot[@]}"
        "on(x, gbn(lost(x), $window)) with lines lw 2 lc rgb '$colour' title 'Go-Back-N, W = $window: $formula'"
        "on(x, gbn(x, $window)) with lines lw 2 dt 2 lc rgb '$colour' title 'Go-Back-N, W = $window: the same with P = p'"
        "$select title 'Go-Back-N, W = $window: measured'") ;;
    selective-repeat)
      formula='1 - P'
      [ "$small" = 0 ] || formula='W (1 - P) / K'
      plot+=("on(x, sr(lost(x), $window)) with lines lw 2 lc rgb '$colour' title 'Selective Repeat, W = $window: $formula'"
        "$select title 'Selective Repeat, W = $window: measured'") ;;
  esac
done < <(tail -n +2 "$csv" | cut -d, -f1,2 | awk '!seen[$0]++')
link="the study's link"
[ -z "${LINK:-}" ] || link="the link of $(basename "$LINK")"

terminal=$(study_terminal)
{
  cat <<GNUPLOT
set terminal $terminal size 1000,700 font ',11'
set output '$out/arq.png'
set datafile separator ','
set title noenhanced "ARQ on a lossy link: utilization against frame loss\\n" . \
  "$link: Td = $td, T = $t ticks, K = T / Td = $k, P = 1 - (1 - p)^2\\n" . \
  "$(wc -w <<<"$seeds") runs of $duration ticks per point, mean and 95% interval"
set xlabel 'frame loss probability p (data and ACKs alike)'
set ylabel 'utilization (acknowledged x Td / duration)'
set xrange [-0.01:$right]
set yrange [0:1.05]
set samples 500
set grid
set key top right box opaque noenhanced
K = $k
lost(p) = 1 - (1 - p)**2
# The curves start at p = 0: nothing to the left of it.
on(p, u) = p < 0 ? 1/0 : u
sw(P) = (1 - P) / K
gbn(P, W) = W >= K ? (1 - P) / (1 + (K - 1) * P) : W * (1 - P) / (K * (1 - P + W * P))
sr(P, W) = W >= K ? 1 - P : W * (1 - P) / K
set style fill transparent solid 0.2 noborder
csv = '$csv'
GNUPLOT
  study_plot "${plot[@]}"
} | gnuplot
echo "Wrote $runs, $csv and $out/arq.png" >&2
