#!/usr/bin/env bash
# Without loss, go-back-n and selective-repeat write what the sliding-window
# example writes with the same window, byte for byte, and stop-and-wait what
# it writes with a window of 1: the sliding-window example puts every frame
# into outgoingQueue when it starts, the kit's link holds it until the tick
# it is due. On the links the protocol tests use, frames of 0.52 ticks
# among them, and on CASES random links (default 120) with windows up to
# 4096, whole, binary and decimal stages alike. And linksim-arq, given each
# protocol's name, writes what that protocol's program writes, the trace
# and the stats row included, with and without loss, on the first four
# fixed links.
#
#   identity_test.sh SLIDING_WINDOW STOP_AND_WAIT GO_BACK_N SELECTIVE_REPEAT
#                    LINKSIM_ARQ NAME=PROGRAM...
set -euo pipefail
reference=$(realpath "$1")
stop_and_wait=$(realpath "$2")
arq=("$(realpath "$3")" "$(realpath "$4")")
chooser=$(realpath "$5")
presets=()
for pair in "${@:6}"; do presets+=("${pair%%=*} $(realpath "${pair#*=}")"); done
work=$(mktemp -d /tmp/linksim_identity.XXXXXX)
trap 'rm -rf "$work"' EXIT
export PATH="$(cd "$(dirname "$0")" && pwd)/sessions/bin:$PATH"

# P A bit-rate data overhead ack duration rate window
{
  cat <<'LINKS'
1 5 100 800 64 128 500 2 8
1 5 100 800 64 128 500 2 1
1 4 100 400 100 200 3000 2 4
1 4 100 400 100 200 300 2 2
2 3 64 192 64 64 1000 1 16
0.5 2.25 8 21 4 3 3000 1 3
0.25 1.5 16 4 1 1 1000 1 5
0.1 0.2 100 48 4 10 1000 5 16
1 40 100 960 40 100 20000 1 32
LINKS
  # Random links, each stage whole, a binary fraction or a decimal one, and
  # durations that keep each run to some thousands of frames.
  awk -v cases="${CASES:-120}" 'BEGIN {
    srand(20261209)
    for (i = 0; i < cases; i++) {
      p = stage(5); a = stage(200); rate = 0.5 + rand() * 4
      bits = 10 + int(rand() * 990); data = 1 + int(rand() * 2000)
      overhead = int(rand() * 100); ack = 1 + int(rand() * 300)
      td = (data + overhead) / bits
      duration = int((20 + rand() * 400) * (td < 1 ? 1 : td) + 2 * a)
      printf "%s %s %d %d %d %d %d %.3f %d\n", p, a, bits, data, overhead,
        ack, duration, rate, int(2 ^ (rand() * 12.01))
    }
  }
  function stage(most, kind) {
    kind = int(rand() * 3)
    if (kind == 0) return 1 + int(rand() * most)
    if (kind == 1) return (1 + int(rand() * most * 8)) / 8
    return sprintf("%.2f", 0.01 + rand() * most)
  }'
} >"$work/links"

# Every run loads the link, runs it, passes both pauses and exits.
session=$(printf 'load %s\n\nrun\n\n\nexit' "$work/link.txt")
# PROGRAM [WINDOW]: the session's output. It becomes the program, with no
# env or pipe's writer to start, so it runs in a subshell.
run() {
  [ -z "${2:-}" ] || export LINKSIM_WINDOW=$2
  exec "$1" <<<"$session" 2>&1
}

failures=0
fixed=0
while read -r p a bits data overhead ack duration rate window; do
  fixed=$((fixed + 1))
  printf '%s\n' "Propagation Delay $a" "Processing Delay $p" \
    "Bit Rate $bits" "Data Packet Size $data" \
    "Data Packet Overhead $overhead" "ACK Size $ack" \
    "Simulation Duration $duration" "Packet Rate $rate" >"$work/link.txt"
  expected=$(run "$reference" "$window")
  programs=("${arq[@]}")
  [ "$window" = 1 ] && programs+=("$stop_and_wait")
  for program in "${programs[@]}"; do
    # Stop-and-wait has no window, and would warn of one.
    asked=$window
    [ "$program" = "$stop_and_wait" ] && asked=
    if [ "$(run "$program" "$asked")" != "$expected" ]; then
      echo "$(basename "$program") differs: P $p A $a bit rate $bits," \
        "data $data + $overhead, ACK $ack, duration $duration," \
        "rate $rate, window $window"
      failures=$((failures + 1))
    fi
  done
  [ "$fixed" -gt 4 ] && continue
  for preset in "${presets[@]}"; do
    read -r name program <<<"$preset"
    for loss in 0 0.25; do
      rm -f "$work/a.stats" "$work/b.stats"
      for file in a b; do
        export LINKSIM_LOSS=$loss LINKSIM_SEED=$fixed \
          LINKSIM_TRACE=$work/$file.trace LINKSIM_STATS=$work/$file.stats
        if [ "$file" = a ]; then
          (LINKSIM_ARQ=$name run "$chooser" "$window") >"$work/a.out"
        else
          (run "$program" "$window") >"$work/b.out"
        fi
      done
      unset LINKSIM_LOSS LINKSIM_SEED LINKSIM_TRACE LINKSIM_STATS
      for file in out trace stats; do
        cmp -s "$work/a.$file" "$work/b.$file" || {
          echo "linksim-arq's $name differs in its $file: link $fixed," \
            "loss $loss"
          failures=$((failures + 1))
        }
      done
    done
  done
done <"$work/links"
[ "$failures" = 0 ]
