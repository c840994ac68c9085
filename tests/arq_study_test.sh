#!/usr/bin/env bash
# Runs the ARQ study on small sweeps and the timeline with the given
# linksim-arq, and checks what they write: every script's --help and its
# refusal of a misspelled knob (one table, no run made); the CSV headers, a
# row per run and per point, each point's interval around its runs' mean,
# the curves against their closed forms, every point on its curves (taken
# where the picture sets it, at the share of frames its runs lost) on the
# study's link and on examples/link.txt, whose stages are not whole ticks,
# with no ACK lost within its very interval; each curve the same in both
# studies; the timelines' traces, a drop list's exactly its frames lost; an
# interrupted study leaving no scratch directory; a study without gnuplot.
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
  ! grep -q 'studies/[a-z_]*\.sh\|opening comment' "$out/help" || fail "$script --help names the source tree"
done
bash "$study/linksim-study" arq 2>/dev/null && fail "linksim-study arq: no usage error"

# A misspelled or foreign knob, as a word after OUTDIR, is refused before
# any run with its name and the study's knobs; in the environment, warned
# of by name (the bad value after it then stops the study). Each row: the
# study, its words, the environment, what standard error must hold.
while IFS='|' read -r name words environment expected; do
  # shellcheck disable=SC2086  # the row's words are several
  env $environment bash "$study/$name.sh" "$out/refused" $words 2>"$out/log" &&
    fail "$name $words: ran"
  [ $? = 2 ] && grep -qF -- "$expected" "$out/log" && [ -z "$(ls -A "$out/refused" 2>/dev/null)" ] ||
    { cat "$out/log"; fail "$name $words ($environment): not refused as expected"; }
done <<'TABLE'
arq|WINDOW=8||WINDOW is no knob of this study (WINDOWS?); its knobs: PROTOCOLS WINDOWS LOSSES
arq|LOSSES=0.1 SEEDS=1||SEEDS must name two seeds or more
arq|PROTOCOLS=go-back-m||PROTOCOLS: go-back-m:
arq|LOSSES=1|WINDOW=8 LOSS=0.3 PROTOCOL=go-back-n|WINDOW is a knob of delay/timeline, not of this one (WINDOWS?)
arq|LOSSES=1|PROTOCL=go-back-n|PROTOCL is no knob of this study (PROTOCOLS?)
arq|LOSSES=1|SEQUENCE_BITS=3|SEQUENCE_BITS is a knob of timeline/window-limits, not of this one
burst|BURST=3||BURST is no knob of this study (BURSTS?)
burst|BURSTS=0.05||BURSTS: 0.05:
delay|LOADS=1||LOADS: 1: the offered loads
delay|LOADS=1|DURATON=5|DURATON is no knob of this study (DURATION?)
timeline|PROTOCOLS=go-back-n,selective-repeat||PROTOCOL: go-back-n,selective-repeat:
timeline|FORMAT=gif||FORMAT: gif: png, svg or pdf
timeline|FROM=300 TO=200|SEEDS=5|FROM and TO must be ticks of the run
utilization|DELAY=5||DELAY is no knob of this study (DELAYS?)
window_limits|SEQUENCE_BIT=3||SEQUENCE_BIT is no knob of this study (SEQUENCE_BITS?)
window_limits|LOSS=1|SEEDS=1|LOSS: 1: the frame loss probability
arq|ACK_LOSS=1||ACK_LOSS: 1: the ACKs' loss
burst|ACK_LOSS=0.6 BURSTS=1.2||BURSTS: 1.2:
burst|ACK_LOSS=0.99||ACK_LOSS: 0.99: its bursts are longer than 20 frames
timeline|DROP=data:0||DROP: data:0: the frames to lose
timeline|DROP=data:3,|ACK_LOSS=0|ACK_LOSS is a knob of arq/burst, not of this one
timeline|PROTOCOL=sliding-window DROP=ack:1||DROP: the sliding window loses no frame
TABLE

# A variable left in the environment reaches no run: the runs' timeout is
# still the derived one.
seeds=6 duration=20000
LINKSIM_TIMEOUT=1 bash "$study/arq.sh" "$out" LOSSES="0 0.05 0.3" SEEDS="$(seq 1 $seeds)" \
  2>"$out/log" || { cat "$out/log"; fail "arq.sh failed"; }
is_png "$out/arq.png"
grep -q 'LINKSIM_TIMEOUT is not passed' "$out/log" || fail "no word of LINKSIM_TIMEOUT"
[ "$(head -n 1 "$out/arq.csv")" = \
  protocol,window,loss,runs,mean,ci95_low,ci95_high,curve,curve_data_loss,lost,ack_loss ] ||
  fail "wrong header in arq.csv"
[ "$(tail -n +2 "$out/arq.csv" | wc -l)" = 9 ] || fail "expected 9 points"

# Checks every point of arq.csv (OUTDIR) against its curves in arq_curves.csv,
# taken at the share of frames its runs lost: within WIDTH times its
# interval (twice by default, which misses a few times in a thousand) of
# the curve, or of Go-Back-N's band; at no loss of either frame, where every
# seed runs alike, the curve exactly.
on_curves() { # OUTDIR [WIDTH]
  awk -F, -v width="${2:-2}" 'FNR == 1 { next }
    FILENAME ~ /curves/ { key = $1 "," $2; n[key]++; x[key, n[key]] = $3
      lo[key, n[key]] = $4; hi[key, n[key]] = $5 == "" ? $4 : $5; next }
    {
      key = $1 "," $2; for (i = 2; i < n[key] && x[key, i] < $10; i++);
      f = ($10 - x[key, i - 1]) / (x[key, i] - x[key, i - 1])
      low = lo[key, i - 1] + f * (lo[key, i] - lo[key, i - 1])
      high = hi[key, i - 1] + f * (hi[key, i] - hi[key, i - 1]); half = width * ($7 - $5) + 1e-6
      if ($3 == 0 && $11 == 0 ? $5 - $8 > 1e-6 || $8 - $5 > 1e-6 : $5 + half < low || $5 - half > high) {
        printf "off its curves (%.4f to %.4f): %s\n", low, high, $0; bad = 1
      }
    }
    END { exit bad }' "$1/arq_curves.csv" "$1/arq.csv" || fail "a point off its curves in $1"
}
on_curves "$out"

# The link's Td = 10 and T = 93, K = 9.3, c = 10 frame times a go-back; a
# run's last tick is 19999. Each run: utilization from its counts, no more
# acknowledged than sent, no more sent than the link carries in its
# duration, the derived timeout T - P. Each point: a run per seed, the mean
# inside its interval, which has a width where the runs differ; its curves
# the closed forms for runs of 20000 ticks: stop-and-wait's 215 attempts,
# 1991 frames' ACKs in time for the windows, Selective Repeat less a little
# for the packets held up at the end.
awk -F, -v seeds=$seeds -v l=$duration '
  function off(x, y) { return x - y > 1e-6 || y - x > 1e-6 }
  function bad(why) { printf "%s: %s\n", why, $0; failed = 1 }
  FNR == 1 { for (i = 1; i <= NF; i++) c[$i] = i; next }
  FILENAME == ARGV[1] {
    u = $c["utilization"]; key = $1 "," $3; runs[key]++
    if (!(key in low) || u < low[key]) low[key] = u
    if (!(key in high) || u > high[key]) high[key] = u
    sent = $c["data_sent"] + $c["data_resent"]
    if ($c["timeout"] != 92 || $c["duration"] != l || $c["acknowledged"] > sent ||
        sent > l / 10 + 1 || off(u, $c["acknowledged"] * 10 / l)) bad("run miscounted")
    next
  }
  {
    key = $1 "," $3; p = $3; q = (1 - p) ^ 2; cap = 1991 * 10 / l
    if ($4 != seeds || runs[key] != seeds) bad("not a run per seed")
    if ($5 < low[key] - 1e-6 || $5 > high[key] + 1e-6 || $6 > $5 || $7 < $5 ||
        (high[key] > low[key] && $7 - $6 < 1e-4)) bad("wrong mean or interval")
    if ($1 == "stop-and-wait") wrong = off($8, q * 2150 / l) || $9 != ""
    else if ($1 == "go-back-n")
      wrong = off($8, cap * q / (q + 10 * (1 - q))) || off($9, cap * (1 - p) / (1 + 9 * p))
    else wrong = $8 > cap * q + 1e-6 || $8 < cap * q - 0.01 || $9 != ""
    if (wrong) bad("wrong curve")
  }
  END { exit failed }' "$out/arq_runs.csv" "$out/arq.csv" || fail "arq.csv is wrong"

# The manual page's example, on examples/link.txt: each hop rounds up to a
# whole tick, a round trip takes 23 ticks, not 21.92, and the curves follow.
bash "$study/arq.sh" "$out/example" LINK="$study/../examples/link.txt" SEEDS="1 2 3" \
  LOSSES="0 0.1 0.3" 2>"$out/log" || { cat "$out/log"; fail "arq.sh on examples/link.txt failed"; }
on_curves "$out/example"

# No ACK lost: no run loses one, Go-Back-N's band is one curve, and every
# point lies within its very interval of its curve.
bash "$study/arq.sh" "$out/free" ACK_LOSS=0 LOSSES="0 0.1 0.3" SEEDS="$(seq 1 $seeds)" \
  2>"$out/log" || { cat "$out/log"; fail "arq.sh ACK_LOSS=0 failed"; }
on_curves "$out/free" 1
awk -F, 'FNR == 1 { for (i = 1; i <= NF; i++) c[$i] = i; next }
  FILENAME ~ /runs/ ? $c["acks_lost"] != 0 : $11 != 0 || $9 != "" && $9 != $8 { print; bad = 1 }
  END { exit bad }' "$out/free/arq_runs.csv" "$out/free/arq.csv" || fail "an ACK lost, or a band, at ACK_LOSS=0"

# One derivation of each curve: the burst study's at independent loss are
# the ARQ study's, for runs of the same length, with the ACKs lost alike
# and with none lost.
for knob in ACK_LOSSES= ACK_LOSS=0; do
  bash "$study/burst.sh" "$out" LOSS=0.1 BURSTS=1.1111111111111112 SEEDS="1 2" DURATION=20000 $knob \
    2>"$out/log" && bash "$study/arq.sh" "$out" LOSSES=0.1 SEEDS="1 2" $knob 2>>"$out/log" ||
    { cat "$out/log"; fail "$knob: burst.sh or arq.sh failed"; }
  awk -F, 'NR == FNR { if (FNR > 1) a[$1] = $8 " " $9; next }
    FNR > 1 { b["stop-and-wait"] = $9 " "; b["selective-repeat"] = $10 " "; b["go-back-n"] = $11 " " $12 }
    END { for (k in a) if (a[k] != b[k]) { print k ": " a[k] " against " b[k]; bad = 1 }; exit bad }' \
    "$out/arq.csv" "$out/burst.csv" || fail "$knob: the ARQ and the burst study draw different curves"
done

# The timelines are drawn from runs that show what each picture is about.
for protocol in go-back-n selective-repeat; do
  bash "$study/timeline.sh" "$out/$protocol" PROTOCOL=$protocol 2>"$out/log" ||
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
bash "$study/timeline.sh" "$out/slide" FORMAT=svg ORIENTATION=landscape FROM=50 TO=250 \
  2>"$out/log" && grep -q '<svg' "$out/slide/timeline.svg" || fail "no landscape SVG"

# A drop list loses exactly the n-th frames each way it names, as the title
# says. Each row: the list, other knobs, the data frames and ACKs lost in
# their order, a packet handed up out of turn or not, the title's words.
while IFS='|' read -r drop knobs data acks wrong words; do
  # shellcheck disable=SC2086  # the row's knobs are several
  DROP=$drop bash "$study/timeline.sh" "$out/drop" FORMAT=svg $knobs 2>"$out/log" ||
    { cat "$out/log"; fail "timeline.sh $drop $knobs failed"; }
  awk -F, -v data="$data" -v acks="$acks" -v wrong="$wrong" '
    $3 == "lost" || $3 == "receive" { n = ++seen[$4]; if ($3 == "lost") lost[$4] = lost[$4] " " n }
    $3 == "deliver" && $6 != handed++ { out = 1 }
    END { exit lost["data"] != data || lost["ack"] != acks || out != wrong }' \
    "$out/drop/timeline.csv" && grep -qF "$words" "$out/drop/timeline.svg" ||
    fail "timeline.sh $drop $knobs: not the frames named lost, or not said so"
done <<'TABLE'
data:3,5|LOSS=0| 3 5||0|the 3rd and 5th data frames put on it, and no other
data:3 ack:2,5|| 3| 2 5|0|the 3rd data frame and the 2nd and 5th ACKs put on it
ack:1|PROTOCOL=selective-repeat SEQUENCE_BITS=2 WINDOW=3|| 1|1|loses the 1st ACK put on it
TABLE

# An interrupted study, by Ctrl-C to its process group or a TERM to it alone,
# leaves no scratch directory behind, nor a run going.
mkdir "$out/tmp"
for signal in INT TERM; do
  set -m
  TMPDIR=$out/tmp bash "$study/delay.sh" "$out/stopped" 2>/dev/null &
  pid=$!
  set +m
  # Once the sweep runs: before it, bash may let a Ctrl-C pass that comes
  # just as one of the study's short commands ends by itself.
  for _ in $(seq 100); do
    compgen -G "$out/tmp/linksim_study.*/numbered" >/dev/null && break
    sleep 0.1
  done
  sleep 0.2
  if [ $signal = INT ]; then kill -INT -- "-$pid"; else kill -TERM "$pid"; fi
  wait "$pid" && fail "delay.sh went on after $signal"
  [ -z "$(ls -A "$out/tmp")" ] || fail "SIG$signal left $(ls "$out/tmp")"
  sleep 0.05
  ! pgrep -f "$out/tmp/" >/dev/null || fail "SIG$signal left runs going"
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
