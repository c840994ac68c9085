#!/usr/bin/env bash
# k-bit sequence numbers, one table: for each protocol and k, the largest
# window k allows never hands up a wrong packet over SEEDS lossy seeds
# (default 10), with a timeout short of the round trip and with one far
# shorter; it acknowledges the very packets, at the very clocks, that 31
# bits do; and the next window is warned of at start and, its first
# window's ACKs lost by name, hands up a wrong packet, which the summary,
# the stats and the trace's deliver rows all show, and which linksim-check
# catches where it passes every safe run's trace.
#
#   sequence_bits_test.sh LINKSIM_ARQ LINKSIM_CHECK
set -euo pipefail
program=$(realpath "$1")
check=$(realpath "$2")
work=$(mktemp -d /tmp/linksim_sequence_bits.XXXXXX)
trap 'rm -rf "$work"' EXIT
export PATH="$(cd "$(dirname "$0")" && pwd)/sessions/bin:$PATH"
# The ARQ study's link: Td 10, a round trip of 93 ticks, 9.3 frames.
printf '%s\n' "Propagation Delay 40" "Processing Delay 1" "Bit Rate 100" \
  "Data Packet Size 960" "Data Packet Overhead 40" "ACK Size 100" \
  "Simulation Duration 2000" "Packet Rate 1" >"$work/link.txt"
session=$(printf 'load %s\n\nrun\n\n\nexit' "$work/link.txt")
# OUT VARIABLE=VALUE...: a session's output and stats row in OUT.*, in a
# subshell that becomes the program, with no env or pipe's writer to start.
run() {
  local out=$1
  shift
  rm -f "$out.stats"
  (export "$@" LINKSIM_STATS="$out.stats" LINKSIM_TRACE="$out.trace" &&
    exec "$program" <<<"$session" >"$out.out" 2>"$out.err")
}
# OUT's wrong deliveries three ways: the stats column, the summary's
# figure, and the deliver rows whose packet is not the next in order.
wrong() {
  awk -F, 'FILENAME ~ /stats$/ { if (FNR == 1) for (c = 1; c <= NF; c++) at[$c] = c
      else stats = $at["misdelivered"]; next }
    FILENAME ~ /out$/ { if (/^summary: misdelivered: /) summary = $0; next }
    $3 == "deliver" { traced += $6 != n++ }
    END { sub(/^summary: misdelivered: /, "", summary); sub(/ of .*/, "", summary)
      print stats, summary, traced + 0 }' "$1.stats" "$1.out" "$1.trace"
}

failures=0
fail() { echo "$*"; failures=$((failures + 1)); }
# Protocol, k, the largest window k allows (stop-and-wait has no other).
for row in "go-back-n 3 7" "selective-repeat 3 4" "go-back-n 2 3" \
  "selective-repeat 2 2" "stop-and-wait 1 1"; do
  read -r protocol k safe <<<"$row"
  windowed=yes windows=("$safe" $((safe + 1)))
  [ "$protocol" != stop-and-wait ] || windowed= windows=("$safe")
  for timeout in 85 30; do
    for ((seed = 1; seed <= ${SEEDS:-10}; seed++)); do
      for window in "${windows[@]}"; do
        name="$protocol k=$k W=$window timeout $timeout seed $seed"
        run "$work/k" LINKSIM_ARQ="$protocol" LINKSIM_SEQUENCE_BITS="$k" \
          ${windowed:+LINKSIM_WINDOW=$window} LINKSIM_LOSS=0.2 \
          LINKSIM_SEED="$seed" LINKSIM_TIMEOUT="$timeout" ||
          fail "$name: status $?"
        [[ $(<"$work/k.out") == *'Simulation completed successfully'* ]] ||
          fail "$name: the run did not complete"
        read -r misdelivered summary traced < <(wrong "$work/k")
        [ "$summary" = "$misdelivered" ] && [ "$traced" = "$misdelivered" ] ||
          fail "$name: misdelivered $misdelivered, summary $summary, trace $traced"
        verdict=0 expected=1
        "$check" "$work/k.trace" >/dev/null || verdict=$?
        [ "$misdelivered" != 0 ] || expected=0
        [ "$verdict" = "$expected" ] ||
          fail "$name: linksim-check says $verdict, $misdelivered misdelivered"
        if [ "$window" = "$safe" ]; then
          # The far shorter timeout is warned of, and nothing else.
          far=
          [ "$timeout" = 85 ] || far="linksim: warning: a timeout of $timeout is far below the round trip of 93: frames will be sent again before their ACKs can come back"
          [ "$misdelivered" = 0 ] && [ "$(<"$work/k.err")" = "$far" ] ||
            fail "$name: $misdelivered misdelivered: $(cat "$work/k.err")"
          [ "$timeout" = 85 ] && [ "$seed" -le 3 ] || continue
          run "$work/wide" LINKSIM_ARQ="$protocol" \
            ${windowed:+LINKSIM_WINDOW=$window} LINKSIM_LOSS=0.2 \
            LINKSIM_SEED="$seed" LINKSIM_TIMEOUT="$timeout"
          cmp -s <(grep '^acknowledged' "$work/k.out") \
            <(grep '^acknowledged' "$work/wide.out") ||
            fail "$name: not what 31 bits acknowledge"
        else
          grep -q "warning: a window of $window is too large for $k-bit" \
            "$work/k.err" || fail "$name: no warning"
        fi
      done
    done
  done
  # The first window's ACKs lost: its packets go again, and a sink whose
  # numbers have come round takes the first of them for a new one.
  for window in "${windows[@]}"; do
    name="$protocol k=$k W=$window, its first window's ACKs lost"
    run "$work/k" LINKSIM_ARQ="$protocol" LINKSIM_SEQUENCE_BITS="$k" \
      ${windowed:+LINKSIM_WINDOW=$window} LINKSIM_TIMEOUT=85 \
      LINKSIM_DROP="ack:$(seq -s, 1 "$window")" || fail "$name: status $?"
    read -r misdelivered summary traced < <(wrong "$work/k")
    verdict=0
    "$check" "$work/k.trace" >/dev/null || verdict=$?
    expected=1
    [ "$window" != "$safe" ] || expected=0
    [ $((misdelivered > 0)) = "$expected" ] && [ "$verdict" = "$expected" ] &&
      [ "$summary" = "$misdelivered" ] && [ "$traced" = "$misdelivered" ] ||
      fail "$name: misdelivered $misdelivered (summary $summary, trace" \
        "$traced), linksim-check says $verdict"
  done
done
[ "$failures" = 0 ]
