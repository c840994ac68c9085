#!/usr/bin/env bash
# Runs the three lessons' studies on small sweeps with the given
# linksim-arq and holds what they write to their opening comments: the
# CSV headers and a row per point; no wrong delivery up to each limit and
# some past it, and the timeline's run handing up a wrong packet; each
# protocol's utilization under bursts on its curve or within its band;
# stop-and-wait's delay within its interval or two ticks of
# Pollaczek-Khinchine's, and the windows' without loss of M/D/1's; and the
# three pictures.
#
#   lessons_study_test.sh LINKSIM_ARQ
set -euo pipefail
export LINKSIM_ARQ_PROGRAM=$1
studies=$(cd "$(dirname "$0")/../studies" && pwd)
out=$(mktemp -d /tmp/linksim_lessons_test.XXXXXX)
trap 'rm -rf "$out"' EXIT
fail() { echo "$*"; exit 1; }
study() {  # SCRIPT VARIABLE=VALUE...: runs it, and checks its picture
  local script=$1
  shift
  env "$@" bash "$studies/$script.sh" "$out" 2>"$out/log" ||
    { cat "$out/log"; fail "$script.sh failed"; }
  [ "$(head -c 8 "$out/$script.png" | od -An -tx1 | tr -d ' \n')" = \
    89504e470d0a1a0a ] || fail "$script.sh wrote no PNG"
}
header() {  # FILE HEADER
  [ "$(head -n 1 "$1")" = "$2" ] || fail "wrong header in $(basename "$1")"
}
# Checks each point of CSV (after its header) with the awk CHECK, which
# sees the columns by name in c[] and sets ok; POINTS rows are expected.
points() {  # CSV POINTS CHECK
  awk -F, -v points="$2" 'NR == 1 { for (i = 1; i <= NF; i++) name[i] = $i; next }
    { for (i = 1; i <= NF; i++) c[name[i]] = $i; '"$3"' }
    !ok { print FILENAME ": " $0; bad = 1 }
    END { if (NR - 1 != points) { print FILENAME ": " NR - 1 " points"; bad = 1 }
      exit bad }' "$1" || fail "a point out of bounds"
}

study window_limits BITS=2 SEEDS="1 2 3" DURATION=2000
header "$out/window_limits.csv" \
  protocol,sequence_bits,window,limit,runs,wrong,share,ci95_low,ci95_high
points "$out/window_limits.csv" 8 'ok = c["runs"] == 3 &&
  (c["window"] <= c["limit"] ? c["wrong"] == 0 : c["wrong"] > 0) &&
  c["ci95_low"] <= c["share"] && c["share"] <= c["ci95_high"]'
awk -F, '$3 == "deliver" && $6 != n++ { found = 1 } END { exit !found }' \
  "$out/window_limits_timeline.csv" || fail "the timeline shows no wrong delivery"

# The 95% intervals are taken twice as wide, as in the ARQ study's test.
study burst BURSTS="2 20" SEEDS="1 2 3 4" DURATION=20000
header "$out/burst.csv" \
  protocol,window,loss,burst,runs,mean,ci95_low,ci95_high,stop_and_wait,selective_repeat,go_back_n_lower,go_back_n_upper
points "$out/burst.csv" 6 'm = c["mean"]; h = 2 * (c["ci95_high"] - m) + 1e-6
  low = c["go_back_n_lower"]; high = c["go_back_n_upper"]
  if (c["protocol"] == "stop-and-wait") low = high = c["stop_and_wait"]
  if (c["protocol"] == "selective-repeat") low = high = c["selective_repeat"]
  ok = low <= m + h && m - h <= high'

study delay LOADS="0.3 0.7" SEEDS="1 2 3 4" DURATION=100000
header "$out/delay.csv" \
  protocol,window,loss,load,runs,mean,ci95_low,ci95_high,closed_form
points "$out/delay.csv" 12 'f = c["closed_form"]; d = c["mean"] - f
  slack = c["protocol"] == "stop-and-wait" ? 2 : 0.2
  near = c["ci95_low"] <= f && f <= c["ci95_high"] || -slack < d && d < slack
  ok = f == "" ? c["protocol"] != "stop-and-wait" && c["loss"] > 0 : near'
