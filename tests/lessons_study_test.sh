#!/usr/bin/env bash
# Runs the three lessons' studies on small sweeps with the given
# linksim-arq and holds what they write to what their curves promise: the
# CSV headers and a row per point; no wrong delivery up to each limit and
# every run past it, for k = 4 too (its link stretched to a round trip of
# more than 16 frames), and the timeline's run handing up a wrong packet;
# each protocol's utilization under bursts on its curve or within its band;
# each protocol loaded to its own capacity, stop-and-wait's delay within
# its interval or two ticks of Pollaczek-Khinchine's, and the windows'
# without loss of M/D/1's; and the three pictures.
#
#   lessons_study_test.sh LINKSIM_ARQ
set -euo pipefail
export LINKSIM_ARQ_PROGRAM=$1
studies=$(cd "$(dirname "$0")/../studies" && pwd)
out=$(mktemp -d /tmp/linksim_lessons_test.XXXXXX)
trap 'rm -rf "$out"' EXIT
fail() { echo "$*"; exit 1; }
study() {  # SCRIPT KNOB=VALUE...: runs it, and checks its picture
  local script=$1
  shift
  bash "$studies/$script.sh" "$out" "$@" 2>"$out/log" || { cat "$out/log"; fail "$script.sh failed"; }
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

# Past the limit every run goes wrong, as the curve says (BITS, the knob's
# old name, still sets it).
study window_limits BITS=2 SEEDS="1 2 3"
header "$out/window_limits.csv" \
  protocol,sequence_bits,window,limit,runs,wrong,share,ci95_low,ci95_high,curve
points "$out/window_limits.csv" 8 'ok = c["runs"] == 3 && c["curve"] == (c["window"] > c["limit"]) &&
  c["wrong"] == 3 * c["curve"] && c["ci95_low"] <= c["share"] && c["share"] <= c["ci95_high"]'
awk -F, '$3 == "deliver" && $6 != n++ { found = 1 } END { exit !found }' \
  "$out/window_limits_timeline.csv" || fail "the timeline shows no wrong delivery"
study window_limits SEQUENCE_BITS=4 SEEDS="1 2"
awk -F, '$1 == "go-back-n" && $3 >= 14 || $1 == "selective-repeat" && ($3 == 8 || $3 == 9) { n++
    if ($10 != ($3 > $4) || $6 != 2 * $10) { print; bad = 1 } }
  END { exit bad || n != 5 }' "$out/window_limits.csv" || fail "k = 4 does not go wrong past its limits"

# The 95% intervals are taken twice as wide, as in the ARQ study's test.
study burst BURSTS="2 20" SEEDS="1 2 3 4" DURATION=20000
header "$out/burst.csv" \
  protocol,window,loss,burst,runs,mean,ci95_low,ci95_high,stop_and_wait,selective_repeat,go_back_n_lower,go_back_n_upper,lost,ack_loss
points "$out/burst.csv" 6 'm = c["mean"]; h = 2 * (c["ci95_high"] - m) + 1e-6
  low = c["go_back_n_lower"]; high = c["go_back_n_upper"]
  if (c["protocol"] == "stop-and-wait") low = high = c["stop_and_wait"]
  if (c["protocol"] == "selective-repeat") low = high = c["selective_repeat"]
  ok = low <= m + h && m - h <= high'

# Each protocol's packet rate is the load times what it carries when always
# busy, on the study's link (Td 5, D 12): stop-and-wait (1 - P) / 12, a
# window without loss 1 / 5, Selective Repeat (1 - P) / 5 with loss.
study delay LOADS="0.3 0.7" SEEDS="1 2 3 4" DURATION=100000
header "$out/delay.csv" \
  protocol,window,loss,load,runs,mean,ci95_low,ci95_high,closed_form,lost,closed_form_lost
points "$out/delay.csv" 12 'f = c["closed_form"]; d = c["mean"] - f
  slack = c["protocol"] == "stop-and-wait" ? 2 : 0.2
  near = c["ci95_low"] <= f && f <= c["ci95_high"] || -slack < d && d < slack
  ok = f == "" ? c["protocol"] != "stop-and-wait" && c["loss"] > 0 : near'
awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) c[$i] = i; next }
  { q = (1 - $c["loss"]) ^ 2; rate = $c["packet_rate"]; p = $c["protocol"]
    load = p == "stop-and-wait" ? rate * 12 / q : p == "go-back-n" && q < 1 ? "" : rate * 5 / q
    if (load != "" && load != 0.3 && load != 0.7 && (load - 0.3) ^ 2 > 1e-18 && (load - 0.7) ^ 2 > 1e-18) {
      print "not loaded to its capacity: " $0; bad = 1 } }
  END { exit bad }' "$out/delay_runs.csv" || fail "a protocol not loaded to its own capacity"
