#!/usr/bin/env bash
# Runs the ARQ study on a small sweep and the timeline with the given
# linksim-arq, and checks what they write: the CSV headers, a row per run
# and per point, each point's interval around its runs' mean, every point
# within the bounds its protocol's opening comment derives, the textbook's
# curves for the study's link and for one given with windows too small to
# cover it, the traces the timelines are drawn from, the PNGs, what a
# study does without gnuplot, and every script's --help.
#
#   arq_study_test.sh LINKSIM_ARQ
set -euo pipefail
export LINKSIM_ARQ_PROGRAM=$1
study=$(cd "$(dirname "$0")/../studies" && pwd)
out=$(mktemp -d /tmp/linksim_arq_test.XXXXXX)
trap 'rm -rf "$out"' EXIT
fail() { echo "$*"; exit 1; }
is_png() {
  [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
    fail "no PNG in $1"
}

for script in "$study"/*.sh "$study/linksim-study"; do
  for option in --help -h; do
    bash "$script" $option >"$out/help" 2>"$out/log" && [ ! -s "$out/log" ] &&
      grep -q OUTDIR "$out/help" || fail "$script $option: no usage on stdout"
  done
  bash "$script" a b 2>/dev/null && fail "$script a b: no usage error"
  [ $? = 2 ] || fail "$script a b: not status 2"
done

# A variable left in the environment reaches no run: the runs' timeout is
# still the derived one.
seeds=6 duration=20000
LINKSIM_TIMEOUT=1 LOSSES="0 0.05 0.3" SEEDS="$(seq 1 $seeds)" \
  DURATION=$duration bash "$study/arq.sh" "$out" 2>"$out/log" ||
  { cat "$out/log"; fail "arq.sh failed"; }
is_png "$out/arq.png"
grep -q 'LINKSIM_TIMEOUT is not passed' "$out/log" || fail "no word of LINKSIM_TIMEOUT"

[ "$(head -n 1 "$out/arq.csv")" = \
  protocol,window,loss,runs,mean,ci95_low,ci95_high,textbook_any_loss,textbook_data_loss ] ||
  fail "wrong header in arq.csv"
[ "$(tail -n +2 "$out/arq.csv" | wc -l)" = 9 ] || fail "expected 9 points"

# The link's Td = 10 and T = 93, K = 9.3. Each run: utilization from its
# counts, no more acknowledged than sent, no more sent than the link
# carries in its duration, the derived timeout T - P.
awk -F, -v seeds=$seeds -v l=$duration '
  function off(x, y) { return x - y > 1e-6 || y - x > 1e-6 }
  function bad(why) { printf "%s: %s\n", why, $0; failed = 1 }
  FNR == 1 { for (i = 1; i <= NF; i++) c[$i] = i; next }
  FILENAME == ARGV[1] {
    u = $c["utilization"]; key = $1 "," $3; runs[key]++
    if (!(key in low) || u < low[key]) low[key] = u
    if (!(key in high) || u > high[key]) high[key] = u
    sent = $c["data_sent"] + $c["data_resent"]
    if ($c["timeout"] != 92 || $c["duration"] != l ||
        $c["acknowledged"] > sent || sent > l / 10 + 1 ||
        off(u, $c["acknowledged"] * 10 / l))
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
    any = $1 == "stop-and-wait" ? q / 9.3 : $1 == "go-back-n" ? q / (1 + 8.3 * (1 - q)) : q
    data = $1 == "go-back-n" ? (1 - p) / (1 + 8.3 * p) : ""
    if (off($8, any) || (data == "" ? $9 != "" : off($9, data))) bad("wrong textbook")
    # Stop-and-wait is the textbook, but for the attempt the end of the run
    # cuts short: within T / L. Selective Repeat is below it, by the start
    # of the run (T / L) and window stalls, (1 - q)^2 q at most. Go-Back-N
    # is between its curves with P = 1 - q and P = p. A 95% interval
    # misses one time in twenty, so it is taken twice as wide, which misses
    # a few times in a thousand: new random draws fail no sound protocol.
    half = $7 - $5
    if ($1 == "go-back-n") {
      lower = start * q / (q + (1 - q) * 9.3); upper = $9
    } else {
      lower = $8 * (1 - start) - ($1 == "selective-repeat") * (1 - q) ^ 2 * q
      upper = $8
    }
    if ($5 + 2 * half < lower - 1e-6 || $5 - 2 * half > upper + 1e-6)
      bad("out of bounds")
  }
  END { exit failed }' "$out/arq_runs.csv" "$out/arq.csv"

# Another link, the example settings (K = 21.92 / 8.64), and windows for
# Go-Back-N alone, one below K: the window-limited curve.
LINK=$study/../examples/link.txt PROTOCOLS=go-back-n WINDOWS="2 go-back-n=8" \
  LOSSES=0.1 SEEDS="1 2" bash "$study/arq.sh" "$out" 2>"$out/log" ||
  { cat "$out/log"; fail "arq.sh on examples/link.txt failed"; }
tail -n +2 "$out/arq.csv" | awk -F, '
  function off(x, y) { return x - y > 1e-6 || y - x > 1e-6 }
  {
    k = 21.92 / 8.64; w[++n] = $2
    if ($2 == 2) any = 2 * 0.81 / (k * (0.81 + 2 * 0.19))
    else any = 0.81 / (1 + (k - 1) * 0.19)
    if ($1 != "go-back-n" || off($8, any) || $4 != 2) { print "wrong point: " $0; exit 1 }
  }
  END { if (w[1] != 2 || w[2] != 8 || n != 2) { print "not windows 2 and 8"; exit 1 } }'

# The timelines are drawn from runs that show what each picture is about.
for protocol in go-back-n selective-repeat; do
  PROTOCOL=$protocol bash "$study/timeline.sh" "$out/$protocol" 2>"$out/log" ||
    { cat "$out/log"; fail "timeline.sh failed for $protocol"; }
  is_png "$out/$protocol/timeline.png"
  [ "$(head -n 1 "$out/$protocol/timeline.csv")" = clock,node,event,frame,sequence,packet ] ||
    fail "wrong header in timeline.csv"
  events="lost,data lost,ack resend,data timeout,data"
  [ $protocol = go-back-n ] && events+=" discard,data" || events+=" buffer,data"
  for event in $events; do
    grep -q ",$event," "$out/$protocol/timeline.csv" || fail "$protocol: no $event"
  done
done

# Without gnuplot: the trace all the same, a word of what is missing, and
# status 1.
mkdir "$out/path"
for dir in ${PATH//:/ }; do ln -s "$dir"/* "$out/path/" 2>/dev/null || true; done
rm "$out/path/gnuplot"
PATH=$out/path bash "$study/timeline.sh" "$out/plain" 2>"$out/log" &&
  fail "timeline.sh without gnuplot: status 0"
[ $? = 1 ] && [ -s "$out/plain/timeline.csv" ] && [ ! -e "$out/plain/timeline.png" ] &&
  grep -q 'gnuplot is not installed' "$out/log" || fail "timeline.sh without gnuplot"
