#!/usr/bin/env bash
# The ARQ protocols' utilization against the mean length of loss bursts.
#
# Link utilization of stop-and-wait, Go-Back-N and Selective Repeat on a
# link that loses a tenth of its frames in the long run, in bursts of mean
# length b from independent loss to 20 frames (LINKSIM_BURST), measured
# over many seeds, over the curves below: stop-and-wait and Selective
# Repeat flat, at (1 - P) Td M / L and (1 - P)(1 - T / L); Go-Back-N
# within a band that rises towards Selective Repeat as bursts lengthen.
#
#   studies/burst.sh OUTDIR     installed: linksim-study burst OUTDIR
#
# Writes OUTDIR/burst_runs.csv, a row per run (linksim-arq's LINKSIM_STATS
# row), OUTDIR/burst.csv, a row per point,
#   protocol,window,loss,burst,runs,mean,ci95_low,ci95_high,stop_and_wait,selective_repeat,go_back_n_lower,go_back_n_upper
# (the mean utilization of its runs, its 95% interval by Student's t, and
# the curves at its burst length), and OUTDIR/burst.png. Without gnuplot it
# writes the CSVs, says how to get the picture and exits with status 1. A
# run that fails, or that linksim-arq refuses, stops the study with status
# 1 before it writes anything.
#
# Knobs, as environment variables:
#   LOSS      the long-run frame loss p, 0 < p < 1 (default: 0.1)
#   BURSTS    the mean burst lengths, each at least 1 and p / (1 - p)
#             (default: 1 / (1 - p), each frame lost on its own, then 2 3
#             5 8 12 20)
#   SEEDS     the seeds, two or more (default: 1 to 20)
#   LINK      a settings file for the link, as examples/link.txt; the
#             curves follow it, exactly where every stage is a whole number
#             of ticks (default: Td 10, Ta 1, P 1, A 40, a packet a tick:
#             T = 93, K = 9.3)
#   DURATION  ticks per run (default: 50000, or LINK's own)
#   LINKSIM_ARQ_PROGRAM  the linksim-arq to run (default: in the source
#             tree the release tree's, built or brought up to date first;
#             installed, the one on PATH)
# The windows are the ARQ study's: for Go-Back-N the smallest power of two
# that covers a round trip, for Selective Repeat a frame's second try (16
# and 32 on the study's link).

# The channel (LINKSIM_BURST=b, LINKSIM_LOSS=p): each direction a chain
# that stays bad, losing frames, with probability 1 - 1/b and turns bad
# with probability r = p / (b (1 - p)), stepped once per frame; it is bad p
# of the time whatever b. After n frames a chain bad now is bad with
# probability p + (1 - p) l^n, l = 1 - 1/b - r = 1 - 1/(b (1 - p)), and a
# chain good now with probability p - p l^n: with b = 1 / (1 - p), l = 0
# and each frame is lost on its own.
#
# The link: Td and Ta the frames' times on it, T = Td + Ta + 2A + 2P the
# textbook's round trip, and where every stage is a whole number of ticks
# an attempt of stop-and-wait takes D = T ticks whether it succeeds or
# not (the derived timeout fires in the very tick its ACK would have been
# read), and a lost frame under Go-Back-N costs c = ceil(T / Td) frame
# times (its timer fires T - P after it started, and it goes again once
# the frame on the link has left). q = (1 - p)^2 is the long-run share of
# frames that arrive and whose ACK does too, P = 1 - q.
#
# Stop-and-wait: (1 - P) Td M / L, flat in b. M = ceil(L / D) - 1
# attempts end within a run of L ticks, and an attempt succeeds when its
# data frame and its ACK arrive. Each chain is bad p of the time in the
# long run, and the two are independent, so q of the attempts succeed
# however the losses cluster: bursts move the failures about, not their
# number.
#
# Selective Repeat: (1 - P)(1 - T / L), flat in b. Every frame sent, new
# or again, acknowledges a packet when it and its ACK arrive, q of them in
# the long run whatever b, as for stop-and-wait, and the link is busy but
# for the first round trip as long as the window has room. A packet hit by
# a burst fails try after try, its tries c frames apart (a chain bad now
# is still bad 10 frames later with probability 0.1 for independent loss,
# 0.61 for b = 20), and holds the window's oldest place for longer; but
# the frames sent again meanwhile keep the link busy without taking room
# in the window. Measured with the defaults, the link is busy 99.2% of the
# time with independent loss and 99.7% to 100% with b = 2 to 20.
#
# Go-Back-N: a band. Counting trials, a trial a frame sent in turn: after
# an arrival the next trial is the next frame, lost with probability r;
# after a loss it is the same frame again, c frames later, lost with
# probability B = p + (1 - p) l^c; the frames between are dropped by the
# sink whatever became of them. The outcomes are a two-state chain, losses
# r / (r + 1 - B) of the trials, each taking c frame times, so
#   upper(b) = (1 - B) / (1 - B + c r)     (lost ACKs cost nothing),
# which for b = 1 / (1 - p) is the textbook's (1 - p) / (1 + (c - 1) p),
# and grows towards 1 - p as bursts lengthen: a burst costs a go-back
# however many frames it takes, since those lost during the go-back cost
# nothing more. A lost ACK costs a go-back too where no later cumulative
# ACK comes before the oldest frame's timer fires; charging every lost ACK
# as a lost frame, with the ACK chain stepped once per frame beside the
# data chain, a trial fails when either chain is bad: the pair of states
# is a four-state chain stepped once after an arrival and c times after a
# loss, and its stationary share s of arrivals gives
#   lower(b) = s / (s + c (1 - s)),
# the textbook's (1 - P) / (1 + (c - 1) P) for b = 1 / (1 - p), the chain
# solved by iteration. Measured with the defaults, Go-Back-N rises from
# 0.44 to 0.80 between b = 1.1 and 20, a third of the way up its band.
set -euo pipefail
# shellcheck source=studies/study.bash
source "$(dirname "${BASH_SOURCE[0]}")/study.bash"
study_start 50000 "$@"

loss=${LOSS:-0.1}
study_decimal "$loss" 0 1 && awk -v p="$loss" 'BEGIN { exit !(p > 0) }' ||
  study_fail "LOSS must be a decimal number, 0 < p < 1"
least=$(awk -v p="$loss" 'BEGIN { printf "%.17g", p / (1 - p) }')
bursts=$(study_words "${BURSTS:-$(awk -v p="$loss" 'BEGIN { printf "%.17g", 1 / (1 - p) }') 2 3 5 8 12 20}")
for burst in $bursts; do
  study_decimal "$burst" 1 1e300 &&
    awk -v b="$burst" -v least="$least" 'BEGIN { exit !(b * (1 + 1e-12) >= least) }' ||
    study_fail "BURSTS: $burst: each must be at least 1 and LOSS / (1 - LOSS) = $least"
done
# A burst or seed named twice is run once: twice would count its runs twice.
bursts=$(awk '!seen[sprintf("%.17g", $0 + 0)]++' <<<"$bursts")
seeds=$(study_words "${SEEDS:-$(seq 1 20)}")
for seed in $seeds; do
  study_seed "$seed" ||
    study_fail "SEEDS: $seed: each must be a whole number from 0 to 2^64 - 1"
done
seeds=$(awk '{ key = $0; sub(/^0+/, "", key) } !seen[key]++' <<<"$seeds")
[ "$(wc -w <<<"$seeds")" -ge 2 ] || study_fail "SEEDS must name two seeds or more"

# The link, as linksim-arq reads it: a run of one tick says in its stats.
study_settings "$work/link.txt"
study_settings "$work/probe.txt" "Simulation Duration" 1
study_run "$0: the link" "$work/probe.txt" "$work/probe.out" \
  LINKSIM_STATS="$work/probe.stats" || exit 1
read -r go_back_n selective_repeat < <(awk -F, "$study_awk_stats"' END {
  for (g = 1; g * td < t && g < 65536; g *= 2);
  for (s = 1; s * td < 2 * (t + td) && s < 65536; s *= 2);
  print g, s }' "$work/probe.stats")
declare -A windows=([stop-and-wait]=1 [go-back-n]=$go_back_n
  [selective-repeat]=$selective_repeat)

i=0
for protocol in stop-and-wait go-back-n selective-repeat; do
  for burst in $bursts; do
    i=$((i + 1)) && echo "$i $protocol ${windows[$protocol]} $burst"
  done
done >"$work/points"
total=$(wc -l <"$work/points")

# One point, a protocol at a burst length: a run per seed, each appending
# its row to the point's stats file. A run that fails stops the study: it
# measured nothing.
run_point() {
  local index=$1 protocol=$2 window=$3 burst=$4 seed name=$work/$1
  local variables=(LINKSIM_ARQ="$protocol" LINKSIM_LOSS="$loss"
    LINKSIM_BURST="$burst" LINKSIM_STATS="$name.stats")
  [ "$protocol" = stop-and-wait ] || variables+=(LINKSIM_WINDOW="$window")
  for seed in $seeds; do
    [ ! -e "$work/failed" ] || return 1
    if ! study_run "$protocol, burst $burst, seed $seed" "$work/link.txt" \
      "$name.out" "${variables[@]}" LINKSIM_SEED="$seed"; then
      touch "$work/failed"
      return 1
    fi
  done
  rm -f "$name.out"
  awk -F, "$study_awk_stats"' { u += $col["utilization"]; n++ } END {
    printf "[%d/%d] %s, burst %s: mean utilization %.4f over %d runs\n",
      i, total, $col["protocol"], $col["burst"], u / n, n }' \
    i="$index" total="$total" "$name.stats" >&2
}
export -f run_point
export seeds total loss study_awk_stats

echo "Running $total points of $(wc -w <<<"$seeds") seeds on $(nproc) cores" >&2
xargs -P "$(nproc)" -L 1 bash -c 'run_point "$@"' _ <"$work/points" ||
  { echo "$0: a run failed; nothing written" >&2; exit 1; }

runs=$out/burst_runs.csv
while read -r index _; do echo "$work/$index.stats"; done <"$work/points" |
  xargs awk 'FNR > 1 || NR == 1' >"$runs"

# The curves of the opening comment at burst length b, for a link of td,
# t and a run of l ticks, at the loss p: sets stopAndWait, selective, lower
# and upper.
# shellcheck disable=SC2016  # awk's variables, not the shell's
curves='
  # P(bad after n steps | bad now), or | good now.
  function badAfter(n, wasBad) {
    return wasBad ? p + (1 - p) * lam ^ n : p - p * lam ^ n
  }
  function curves(b,    c, d, a, it, n, bd, ba, change, big, s, attempts) {
    c = int(t / td); if (c < t / td) c++
    r = p / (b * (1 - p)); lam = 1 - 1 / (b * (1 - p))
    big = badAfter(c, 1)
    upper = (1 - big) / (1 - big + c * r)
    # The four states (data, ACK), 1 for bad, by iteration from the
    # stationary start: a step after an arrival (0, 0), c after a loss.
    for (d = 0; d <= 1; d++) for (a = 0; a <= 1; a++)
      pi[d, a] = (d ? p : 1 - p) * (a ? p : 1 - p)
    for (it = 0; it < 100000; it++) {
      for (d = 0; d <= 1; d++) for (a = 0; a <= 1; a++) next_[d, a] = 0
      for (d = 0; d <= 1; d++) for (a = 0; a <= 1; a++) {
        n = d || a ? c : 1
        bd = badAfter(n, d); ba = badAfter(n, a)
        next_[1, 1] += pi[d, a] * bd * ba
        next_[1, 0] += pi[d, a] * bd * (1 - ba)
        next_[0, 1] += pi[d, a] * (1 - bd) * ba
        next_[0, 0] += pi[d, a] * (1 - bd) * (1 - ba)
      }
      change = 0
      for (d = 0; d <= 1; d++) for (a = 0; a <= 1; a++) {
        change += next_[d, a] > pi[d, a] ? next_[d, a] - pi[d, a] : pi[d, a] - next_[d, a]
        pi[d, a] = next_[d, a]
      }
      if (change < 1e-14) break
    }
    s = pi[0, 0]
    lower = s / (s + c * (1 - s))
    attempts = int(l / dd); if (attempts < l / dd) attempts++
    stopAndWait = (1 - p) ^ 2 * td * (attempts - 1) / l
    selective = (1 - p) ^ 2 * (1 - t / l)
  }
  # The ticks of an attempt of stop-and-wait, each hop ceil(P + A + X)
  # for a frame of X ticks on the link.
  function attempt(    hd, ha) {
    hd = $col["processing_delay"] + $col["propagation_delay"] + td
    ha = $col["processing_delay"] + $col["propagation_delay"] + ta
    return (int(hd) + (hd > int(hd))) + (int(ha) + (ha > int(ha)))
  }'

# Each point's mean with its 95% interval, Student's t over the seeds, and
# the curves at its burst length.
csv=$out/burst.csv
echo "protocol,window,loss,burst,runs,mean,ci95_low,ci95_high,stop_and_wait,selective_repeat,go_back_n_lower,go_back_n_upper" >"$csv"
awk -F, "$study_awk_stats$study_awk_t95$curves"'
  {
    key = $col["protocol"] "," $col["window"] "," $col["loss"] "," $col["burst"]
    if (!(key in n_)) order[++points] = key
    u = $col["utilization"]
    n_[key]++; sum[key] += u; squares[key] += u * u
    p = $col["loss"]; l = $col["duration"]; dd = attempt()
  }
  END {
    for (i = 1; i <= points; i++) {
      key = order[i]; split(key, f, ","); curves(f[4])
      n = n_[key]; mean = sum[key] / n
      variance = (squares[key] - n * mean * mean) / (n - 1)
      half = quantile(n - 1) * sqrt(variance > 0 ? variance : 0) / sqrt(n)
      printf "%s,%d,%.6f,%.6f,%.6f,%.6f,%.6f,%.6f,%.6f\n", key, n, mean,
        mean - half, mean + half, stopAndWait, selective, lower, upper
    }
  }' "$runs" >>"$csv"

study_need_gnuplot "$runs" "$csv"

# The curves drawn smooth, on 100 burst lengths spread evenly on the
# picture's logarithmic scale from the shortest measured to the longest.
read -r left right < <(sort -g <<<"$bursts" | sed -n '1p;$p' | paste -sd ' ')
awk -F, "$study_awk_stats$curves"' END {
    p = $col["loss"]; l = $col["duration"]; dd = attempt()
    for (i = 0; i <= 100; i++) {
      b = lo * (hi / lo) ^ (i / 100); curves(b)
      printf "%.6g,%.6f,%.6f,%.6f,%.6f\n", b, stopAndWait, selective, lower, upper
    }
    printf "%s %s %d\n", td, t, l > info
  }' lo="$left" hi="$right" info="$work/info" "$runs" >"$work/curves.csv"
read -r td t duration <"$work/info"
# A tic at each burst length measured.
tics=$(awk '{ printf "%s\"%.3g\" %s", (NR > 1 ? ", " : ""), $1, $1 }' \
  <<<"$bursts")
link="the study's link"
[ -z "${LINK:-}" ] || link="the link of $(basename "$LINK")"

terminal=$(study_terminal)
gnuplot <<GNUPLOT
set terminal $terminal size 1000,700 font ',11'
set output '$out/burst.png'
set datafile separator ','
set title noenhanced "ARQ on a link that loses frames in bursts: utilization against the mean burst length\\n" . \
  "$link: Td = $td, T = $t ticks; long-run frame loss p = $loss, P = 1 - (1 - p)^2\\n" . \
  "$(wc -w <<<"$seeds") runs of $duration ticks per point, mean and 95% interval"
set xlabel 'mean length of a run of lost frames, b (frames; b = 1 / (1 - p): each lost on its own)' noenhanced
set ylabel 'utilization (acknowledged x Td / duration)'
set logscale x
set xtics ($tics)
set xrange [$left / 1.1:$right * 1.1]
set yrange [0:1.05]
set grid
set key at graph 0.98, graph 0.43 box opaque noenhanced
set style fill transparent solid 0.2 noborder
csv = '$csv'
curves = '$work/curves.csv'
sel(name, v) = strcol(1) eq name ? v : 1/0
plot \
  curves using 1:4:5 with filledcurves lc rgb '#d95f02' title 'Go-Back-N: the band between its curves', \
  curves using 1:5 with lines lw 2 lc rgb '#d95f02' title 'Go-Back-N, lost ACKs free: (1 - B) / (1 - B + c r)', \
  curves using 1:4 with lines lw 2 dt 2 lc rgb '#d95f02' title 'Go-Back-N, every lost ACK a go-back', \
  curves using 1:3 with lines lw 2 lc rgb '#1b9e77' title 'Selective Repeat: (1 - P)(1 - T / L)', \
  curves using 1:2 with lines lw 2 lc rgb '#7570b3' title 'stop-and-wait: (1 - P) Td M / L', \
  csv skip 1 using 4:(sel('selective-repeat', \$6)):7:8 with yerrorbars pt 7 ps 0.8 lc rgb '#1b9e77' title 'Selective Repeat, W = ${windows[selective-repeat]}: measured', \
  csv skip 1 using 4:(sel('go-back-n', \$6)):7:8 with yerrorbars pt 5 ps 0.8 lc rgb '#d95f02' title 'Go-Back-N, W = ${windows[go-back-n]}: measured', \
  csv skip 1 using 4:(sel('stop-and-wait', \$6)):7:8 with yerrorbars pt 9 ps 1 lc rgb '#7570b3' title 'stop-and-wait: measured'
GNUPLOT
echo "Wrote $runs, $csv and $out/burst.png" >&2
