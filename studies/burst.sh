#!/usr/bin/env bash
# Link utilization of the three ARQ protocols on a link that loses a tenth
# of its frames, in runs of mean length b from independent loss to 20.
#
#   studies/burst.sh OUTDIR
#
# Writes OUTDIR/burst_runs.csv, a row per run; OUTDIR/burst.csv, a row per
# point (its runs' mean utilization with a 95% interval by Student's t,
# and the curves' figures below); OUTDIR/burst.png. Without gnuplot it
# writes the CSVs, says how to get the picture and exits with status 1.
# The runs are linksim-arq's: the source tree's release build, built or
# brought up to date first, or else the one installed;
# LINKSIM_ARQ_PROGRAM names another to use as it is. The sweep can be
# changed: LOSS (0.1), BURSTS (1 / (1 - LOSS), each frame lost on its own,
# then 2 3 5 8 12 20), SEEDS (1 to 20), DURATION (50,000 ticks), as in
# BURSTS="2 20" SEEDS="1 2 3" studies/burst.sh out.
#
# The channel (LINKSIM_BURST=b, LINKSIM_LOSS=p): each direction a chain
# that stays bad, losing frames, with probability 1 - 1/b and turns bad
# with probability r = p / (b (1 - p)), stepped once per frame; it is bad p
# of the time whatever b. After n frames a chain bad now is bad with
# probability p + (1 - p) l^n, l = 1 - 1/b - r = 1 - 1/(b (1 - p)): with
# b = 1 / (1 - p), l = 0 and each frame is lost on its own.
#
# The link is the ARQ study's (studies/arq.sh): every stage a whole number
# of ticks, Td 10, Ta 1, P 1, A 40, a round trip T = 93, K = T / Td = 9.3,
# the derived timeout T - P, a packet a tick; the windows are its own:
# Go-Back-N 16, Selective Repeat 32. q = (1 - p)^2 is the chance that a
# frame and its ACK both arrive, P = 1 - q.
#
# Stop-and-wait: (1 - P) Td M / L, flat in b. Each attempt takes T ticks,
# whether it succeeds or not (the timer fires in the very tick its ACK
# would have been read), so M = ceil(L / T) - 1 of them end within a run
# of L ticks. An attempt succeeds when its data frame and its ACK arrive.
# Each chain is bad p of the time in the long run, and the two are
# independent, so q of the attempts succeed in the long run however the
# losses cluster: bursts move the failures about, not their number.
#
# Selective Repeat: (1 - P)(1 - T / L), flat in b. Every frame sent, new
# or again, acknowledges a packet when it and its ACK arrive, q of them in
# the long run whatever b, as for stop-and-wait, and the link is busy but
# for the first round trip (T / L), as long as the window has room. A
# packet hit by a burst fails try after try: its tries are about ceil(K)
# = 10 frames apart, and a chain bad now is still bad 10 frames later with
# probability p + (1 - p) l^10, 0.1 for independent loss but 0.61 for
# b = 20, so it holds the window's oldest place for longer. But the frames
# sent again meanwhile keep the link busy without taking room in the
# window, and a window of 32 stalls no more under bursts than under
# independent loss: measured, the link is busy 99.2% of the time with
# independent loss and 99.7% to 100% with b = 2 to 20.
#
# Go-Back-N: a band. A lost data frame costs c = ceil(K) = 10 frame times:
# its timer fires T - P after it started, and it goes again once the frame
# on the link has left; the frames between are dropped by the sink
# whatever became of them. Counting trials, a trial a frame sent in turn:
# after an arrival the next trial is the next frame, bad with probability
# r; after a loss it is the frame sent again, c frames later, bad with
# probability B = p + (1 - p) l^c. The trials' outcomes are a two-state
# chain, losses r / (r + 1 - B) of the trials, each taking c frame times,
# so the utilization is
#   upper(b) = (1 - B) / (1 - B + c r)     (lost ACKs cost nothing),
# which for b = 1 / (1 - p) is the textbook's (1 - p) / (1 + (c - 1) p),
# and grows towards 1 - p as bursts lengthen: a burst costs a go-back
# however many frames it takes, since those lost during the go-back cost
# nothing more. A lost ACK costs a go-back too where no later cumulative
# ACK comes before the oldest frame's timer fires; charging every lost ACK
# as a lost frame, with the ACK chain stepped once per frame beside the
# data chain, gives the lower curve: a trial fails when either chain is
# bad, and the pair of states (data, ACK) is a four-state chain stepped
# once after an arrival and c times after a loss; its stationary share s
# of arrivals gives
#   lower(b) = s / (s + c (1 - s)),
# the textbook's (1 - P) / (1 + (c - 1) P) for b = 1 / (1 - p). Both are
# computed by this script, the chain solved by iteration.
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

# A burst or seed named twice is run once: twice would count its runs twice.
once() { tr -s '[:space:]' '\n' <<<"$1" | awk 'NF && !seen[$0]++'; }
loss=${LOSS:-0.1}
awk -v p="$loss" 'BEGIN { exit !(p ~ /^(0|0?\.[0-9]+)$/ && p > 0 && p < 1) }' ||
  { echo "$0: LOSS must be a decimal number above 0 and below 1" >&2; exit 2; }
independent=$(awk -v p="$loss" 'BEGIN { printf "%.17g", 1 / (1 - p) }')
bursts=$(once "${BURSTS:-$independent 2 3 5 8 12 20}")
seeds=$(once "${SEEDS:-$(seq 1 20)}")
duration=${DURATION:-50000}
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

processing=1 delay=40 bit_rate=100 data=960 overhead=40 ack=100 rate=1
read -r td t c < <(awk -v p=$processing -v a=$delay -v b=$bit_rate \
  -v d=$data -v o=$overhead -v k=$ack 'BEGIN {
    td = (d + o) / b; t = td + k / b + 2 * a + 2 * p
    c = int(t / td); if (c < t / td) c++
    print td, t, c }')
declare -A windows=([stop-and-wait]=1 [go-back-n]=16 [selective-repeat]=32)
protocols=(stop-and-wait go-back-n selective-repeat)

work=$(mktemp -d /tmp/linksim_burst.XXXXXX)
trap 'rm -rf "$work"' EXIT
printf '%s\n' "Propagation Delay $delay" "Processing Delay $processing" \
  "Bit Rate $bit_rate" "Data Packet Size $data" \
  "Data Packet Overhead $overhead" "ACK Size $ack" \
  "Simulation Duration $duration" "Packet Rate $rate" >"$work/link.txt"
# The screen is not cleared between prompts: clear is a no-op here.
mkdir "$work/bin" && printf '#!/bin/sh\n' >"$work/bin/clear" &&
  chmod +x "$work/bin/clear"
i=0
for protocol in "${protocols[@]}"; do
  for burst in $bursts; do
    i=$((i + 1))
    echo "$i $protocol ${windows[$protocol]} $burst"
  done
done >"$work/points"
total=$(wc -l <"$work/points")

# One point, a protocol at a burst length: a run per seed, each appending
# its row to the point's stats file. A run that fails, or that linksim-arq
# refuses, stops the study: it measured nothing.
run_point() {
  local index=$1 protocol=$2 window=$3 burst=$4 seed
  local stats=$work/$index.stats
  # Stop-and-wait reads no window, and would warn of one.
  [ "$protocol" != stop-and-wait ] || window=
  for seed in $seeds; do
    [ ! -e "$work/failed" ] || return 1
    if ! printf 'load %s\n\nrun\n\n\nexit\n' "$work/link.txt" |
      env ${window:+LINKSIM_WINDOW=$window} LINKSIM_ARQ=$protocol LINKSIM_LOSS=$loss \
        LINKSIM_BURST=$burst LINKSIM_SEED=$seed LINKSIM_STATS=$stats \
        PATH="$work/bin:$PATH" "$program" >"$stats.out" 2>&1 ||
      ! grep -q 'Simulation completed successfully' "$stats.out"; then
      echo "$protocol, burst $burst, seed $seed: the run failed:" >&2
      cat "$stats.out" >&2
      touch "$work/failed"
      return 1
    fi
  done
  awk -F, -v i="$index" -v n="$total" '
    NR == 1 { for (c = 1; c <= NF; c++) col[$c] = c; next }
    { u += $col["utilization"]; runs++ }
    END { printf "[%d/%d] %s, burst %s: mean utilization %.4f over %d runs\n",
      i, n, $col["protocol"], $col["burst"], u / runs, runs }' "$stats" >&2
}
export -f run_point
export work seeds loss total program

echo "Running $total points of $(wc -w <<<"$seeds") seeds on $(nproc) cores" >&2
xargs -P "$(nproc)" -L 1 bash -c 'run_point "$@"' _ <"$work/points" ||
  { echo "$0: a run failed; nothing written" >&2; exit 1; }

# Every run's row, its figures taken from the stats by column name.
runs=$out/burst_runs.csv
echo "protocol,window,loss,burst,seed,duration,acknowledged,data_sent,data_resent,data_lost,acks_lost,timeouts,utilization" >"$runs"
while read -r index _; do
  awk -F, 'NR == 1 { for (c = 1; c <= NF; c++) col[$c] = c; next }
    { printf "%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s\n", $col["protocol"],
      $col["window"], $col["loss"], $col["burst"], $col["seed"],
      $col["duration"], $col["acknowledged"], $col["data_sent"],
      $col["data_resent"], $col["data_lost"], $col["acks_lost"],
      $col["timeouts"], $col["utilization"] }' "$work/$index.stats"
done <"$work/points" >>"$runs"

# The curves of the opening comment, by the mean burst length b at the
# loss p, for the points and for the picture.
curves=$(cat <<'AWK'
# P(bad after n steps | bad now), or | good now.
function badAfter(n, wasBad) {
  return wasBad ? p + (1 - p) * lam ^ n : p - p * lam ^ n
}
# Sets stopAndWait, selective, lower and upper for b.
function curves(b,    d, a, it, n, bd, ba, change, big, s) {
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
  attempts = int(l / t); if (attempts < l / t) attempts++
  stopAndWait = (1 - p) ^ 2 * td * (attempts - 1) / l
  selective = (1 - p) ^ 2 * (1 - t / l)
}
AWK
)

# Each point's mean with its 95% interval, Student's t over the seeds, and
# the curves at its burst length.
csv=$out/burst.csv
echo "protocol,window,loss,burst,runs,mean,ci95_low,ci95_high,stop_and_wait,selective_repeat,go_back_n_lower,go_back_n_upper" >"$csv"
tail -n +2 "$runs" | awk -F, -v td="$td" -v t="$t" -v c="$c" -v l="$duration" \
  -v p="$loss" "$curves"'
  BEGIN {
    # Two-sided 95% quantiles of Student t by degrees of freedom; between
    # two rows the smaller count is taken, which widens the interval.
    split("12.706 4.303 3.182 2.776 2.571 2.447 2.365 2.306 2.262 2.228 " \
          "2.201 2.179 2.160 2.145 2.131 2.120 2.110 2.101 2.093 2.086 " \
          "2.080 2.074 2.069 2.064 2.060 2.056 2.052 2.048 2.045 2.042", q, " ")
    q[40] = 2.021; q[60] = 2.000; q[120] = 1.980
  }
  function quantile(df) {
    if (df <= 30) return q[df]
    if (df >= 1000) return 1.960
    return df >= 120 ? q[120] : df >= 60 ? q[60] : df >= 40 ? q[40] : q[30]
  }
  {
    key = $1 "," $2 "," $3 "," $4
    if (!(key in runs)) order[++points] = key
    runs[key]++; sum[key] += $13; squares[key] += $13 * $13
  }
  END {
    for (i = 1; i <= points; i++) {
      key = order[i]; split(key, f, ","); curves(f[4])
      n = runs[key]; mean = sum[key] / n
      variance = (squares[key] - n * mean * mean) / (n - 1)
      half = quantile(n - 1) * sqrt(variance > 0 ? variance : 0) / sqrt(n)
      printf "%s,%d,%.6f,%.6f,%.6f,%.6f,%.6f,%.6f,%.6f\n", key, n, mean,
        mean - half, mean + half, stopAndWait, selective, lower, upper
    }
  }' >>"$csv"

# The measured points stand; only the picture needs gnuplot.
if ! command -v gnuplot >/dev/null; then
  echo "Wrote $runs and $csv, but no picture: gnuplot is not installed." >&2
  echo "For $out/burst.png: apt-get install -y gnuplot-nox, and run this again." >&2
  exit 1
fi

# The curves drawn smooth, on 100 burst lengths spread evenly on the
# picture's logarithmic scale from the shortest to the longest.
read -r left right < <(awk 'NR == 1 || $1 < lo { lo = $1 } NR == 1 || $1 > hi { hi = $1 }
  END { print lo, hi }' <<<"$bursts")
awk -v td="$td" -v t="$t" -v c="$c" -v l="$duration" -v p="$loss" \
  -v lo="$left" -v hi="$right" "$curves"'BEGIN {
    for (i = 0; i <= 100; i++) {
      b = lo * (hi / lo) ^ (i / 100); curves(b)
      printf "%.6g,%.6f,%.6f,%.6f,%.6f\n", b, stopAndWait, selective, lower, upper
    }
  }' >"$work/curves.dat"
# A tic at each burst length measured.
tics=$(awk '{ printf "%s\"%.3g\" %s", (NR > 1 ? ", " : ""), $1, $1 }' \
  <<<"$bursts")
terminal=png
gnuplot -e 'set terminal pngcairo' 2>/dev/null && terminal=pngcairo
gnuplot <<GNUPLOT
set terminal $terminal size 1000,700 font ',11'
set output '$out/burst.png'
set datafile separator ','
set title "ARQ on a link that loses frames in bursts: utilization against the mean burst length\\n" . \
  "long-run frame loss p = $loss; Td = $td, T = $t ticks; $(wc -w <<<"$seeds") runs of $duration ticks per point, mean and 95% interval"
set xlabel 'mean length of a run of lost frames, b (frames; the first point: each lost on its own, b = 1 / (1 - p))'
set ylabel 'utilization (acknowledged x Td / duration)'
set logscale x
set xtics ($tics)
set xrange [$left / 1.1:$right * 1.1]
set yrange [0:1.05]
set grid
set key at graph 0.98, graph 0.43 box opaque
set style fill transparent solid 0.2 noborder
csv = '$csv'
curves = '$work/curves.dat'
sel(name, v) = strcol(1) eq name ? v : 1/0
plot \
  curves using 1:4:5 with filledcurves lc rgb '#d95f02' title 'Go-Back-N: the band between its curves', \
  curves using 1:5 with lines lw 2 lc rgb '#d95f02' title 'Go-Back-N, lost ACKs free: (1 - B) / (1 - B + c r)', \
  curves using 1:4 with lines lw 2 dt 2 lc rgb '#d95f02' title 'Go-Back-N, every lost ACK a go-back', \
  curves using 1:3 with lines lw 2 lc rgb '#1b9e77' title 'Selective Repeat: (1 - P)(1 - T / L)', \
  curves using 1:2 with lines lw 2 lc rgb '#7570b3' title 'stop-and-wait: (1 - P) Td M / L', \
  csv skip 1 using 4:(sel('selective-repeat', \$6)):7:8 with yerrorbars pt 7 ps 0.8 lc rgb '#1b9e77' title 'Selective Repeat, W = 32: measured', \
  csv skip 1 using 4:(sel('go-back-n', \$6)):7:8 with yerrorbars pt 5 ps 0.8 lc rgb '#d95f02' title 'Go-Back-N, W = 16: measured', \
  csv skip 1 using 4:(sel('stop-and-wait', \$6)):7:8 with yerrorbars pt 9 ps 1 lc rgb '#7570b3' title 'stop-and-wait: measured'
GNUPLOT
echo "Wrote $runs, $csv and $out/burst.png" >&2
