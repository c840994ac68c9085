#!/usr/bin/env bash
# Runs the ARQ study on a small sweep and the timeline with the given
# programs, and checks what they write: the CSV headers, a row per run and
# per point, each point's interval around its runs' mean, every point within
# the bounds its protocol's opening comment derives, the trace the timeline
# is drawn from, and both PNGs.
#
#   arq_study_test.sh STOP_AND_WAIT GO_BACK_N SELECTIVE_REPEAT
set -euo pipefail
export LINKSIM_STOP_AND_WAIT=$1 LINKSIM_GO_BACK_N=$2 LINKSIM_SELECTIVE_REPEAT=$3
study=$(cd "$(dirname "$0")/../studies" && pwd)
out=$(mktemp -d /tmp/linksim_arq_test.XXXXXX)
trap 'rm -rf "$out"' EXIT
fail() { echo "$*"; exit 1; }

seeds=6 duration=20000
for script in arq timeline; do
  LOSSES="0 0.05 0.3" SEEDS="$(seq 1 $seeds)" DURATION=$duration \
    bash "$study/$script.sh" "$out" 2>"$out/log" ||
    { cat "$out/log"; fail "$script.sh failed"; }
  [ "$(head -c 8 "$out/$script.png" | od -An -tx1 | tr -d ' \n')" = \
    89504e470d0a1a0a ] || fail "$script.sh wrote no PNG"
done

[ "$(head -n 1 "$out/arq_runs.csv")" = \
  protocol,window,loss,seed,timeout,duration,acknowledged,frames_sent,utilization ] ||
  fail "wrong header in arq_runs.csv"
[ "$(head -n 1 "$out/arq.csv")" = \
  protocol,window,loss,runs,mean,ci95_low,ci95_high,textbook ] ||
  fail "wrong header in arq.csv"
[ "$(tail -n +2 "$out/arq.csv" | wc -l)" = 9 ] || fail "expected 9 points"

# The link's Td = 10 and T = 93. Each run: utilization from its counts,
# no more acknowledged than sent, no more sent than the link carries in its
# duration, the derived timeout T - P.
awk -F, -v seeds=$seeds -v l=$duration '
  function off(x, y) { return x - y > 1e-6 || y - x > 1e-6 }
  function bad(why) { printf "%s: %s\n", why, $0; failed = 1 }
  FNR == 1 { next }
  FILENAME == ARGV[1] {
    key = $1 "," $3; runs[key]++
    if (!(key in low) || $9 < low[key]) low[key] = $9
    if (!(key in high) || $9 > high[key]) high[key] = $9
    if ($5 != 92 || $6 != l || $7 > $8 || $8 > l / 10 + 1 ||
        off($9, $7 * 10 / l))
      bad("run miscounted")
    next
  }
  {
    key = $1 "," $3; p = $3; q = (1 - p) ^ 2; start = 93 / l
    if ($4 != seeds || runs[key] != seeds) bad("not a run per seed")
    # The mean of the runs, inside its interval; a point whose runs differ
    # has an interval of some width.
    if ($5 < low[key] - 1e-6 || $5 > high[key] + 1e-6 || $6 > $5 || $7 < $5 ||
        (high[key] > low[key] && $7 - $6 < 1e-4)) bad("wrong mean or interval")
    # Stop-and-wait is the textbook, but for the attempt the end of the run
    # cuts short: within T / L. Selective Repeat is below it, by the start
    # of the run (T / L) and window stalls, (1 - q)^2 q at most. Go-Back-N
    # is between its curves with P = 1 - q and P = p. A 95% interval
    # misses one time in twenty, so it is taken twice as wide, which misses
    # a few times in a thousand: new random draws fail no sound protocol.
    half = $7 - $5
    if ($1 == "go-back-n") {
      lower = start * q / (q + (1 - q) * 9.3); upper = (1 - p) / (1 + 8.3 * p)
    } else {
      lower = $8 * (1 - start) - ($1 == "selective-repeat") * (1 - q) ^ 2 * q
      upper = $8
    }
    if ($5 + 2 * half < lower - 1e-6 || $5 - 2 * half > upper + 1e-6)
      bad("out of bounds")
  }
  END { exit failed }' "$out/arq_runs.csv" "$out/arq.csv"

# The timeline is drawn from a run that shows what the picture is about.
[ "$(head -n 1 "$out/timeline.csv")" = clock,node,event,frame,sequence,packet ] ||
  fail "wrong header in timeline.csv"
for event in lost,data lost,ack resend,data timeout,data; do
  grep -q ",$event," "$out/timeline.csv" || fail "timeline: no $event"
done
