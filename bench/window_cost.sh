#!/usr/bin/env bash
# What a window of W frames in flight costs per acknowledged packet, for the
# sliding-window example (every frame in outgoingQueue from its start, in
# the order they start) and for go-back-n (the kit's link holds each frame
# until it is due), on a link 50,000 ticks long each way
# with a frame a tick (Td 1, Ta 0.1, P 1, a packet a tick). Each figure is
# the difference of two whole runs of the program, a longer and a shorter
# one, divided by the ACKs the longer one adds: instructions counted by
# callgrind, and the median CPU time of three runs. Prints a Markdown table.
#
#   bench/window_cost.sh [BUILD_DIR] [WINDOW...]
#        (default: build-check, and 8 512 4096 32768 65536)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build-check}")
shift || true
windows=${*:-8 512 4096 32768 65536}
command -v valgrind >/dev/null || { echo "valgrind is not installed" >&2; exit 1; }
work=$(mktemp -d /tmp/linksim_window_cost.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" && printf '#!/bin/sh\n' >"$work/bin/clear" &&
  chmod +x "$work/bin/clear"
export PATH="$work/bin:$PATH"

round=100004  # the round trip, in ticks: 2 (A + P) + Td + Ta, rounded up

# Writes the link with `duration` to link.txt.
link() {
  printf '%s\n' "Propagation Delay 50000" "Processing Delay 1" \
    "Bit Rate 1000" "Data Packet Size 960" "Data Packet Overhead 40" \
    "ACK Size 100" "Simulation Duration $1" "Packet Rate 1" >"$work/link.txt"
}

# Prints "SHORT LONG": two durations of whole rounds, the longer adding
# about `extra` ACKs with window W. Whole rounds, so that both nodes' work
# for each ACK falls within the difference.
durations() {
  local window=$1 extra=$2
  echo "$((2 * round)) $(((2 + (extra + window - 1) / window) * round))"
}

# Runs PROGRAM with window W on the link, its output on standard output.
run() {
  local program=$1 window=$2
  shift 2
  printf 'load %s\n\nrun\n\n\nexit\n' "$work/link.txt" |
    LINKSIM_WINDOW=$window "$@" "$program"
}

# Prints the ACKs and the instructions of a run of PROGRAM with window W
# and duration D.
count() {
  link "$3"
  run "$1" "$2" valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" \
    >"$work/out" 2>/dev/null
  echo "$(grep -c 'acknowledged packet' "$work/out" || true)" \
    "$(awk '/^totals:/ { print $2 }' "$work/cg.out")"
}

# Prints the ACKs and the median CPU seconds of three runs of PROGRAM with
# window W and duration D.
clock() {
  link "$3"
  local acks
  acks=$(run "$1" "$2" | grep -c 'acknowledged packet' || true)
  echo "$acks $(for _ in 1 2 3; do
    TIMEFORMAT='%3U %3S'
    { time run "$1" "$2" >/dev/null; } 2>&1 | awk '{ print $1 + $2 }'
  done | sort -n | sed -n 2p)"
}

printf '| W | sliding window: instructions per ACK | us per ACK | go-back-n: instructions per ACK | us per ACK |\n'
printf '|---|---|---|---|---|\n'
for window in $windows; do
  row="| $window"
  for program in linksim_sliding_window linksim_go_back_n; do
    # Callgrind counts 2,000 ACKs exactly; the clock needs some 0.2 s.
    read -r short long < <(durations "$window" 2000)
    read -r a1 i1 < <(count "$build/$program" "$window" "$short")
    read -r a2 i2 < <(count "$build/$program" "$window" "$long")
    read -r short long < <(durations "$window" 200000)
    read -r b1 s1 < <(clock "$build/$program" "$window" "$short")
    read -r b2 s2 < <(clock "$build/$program" "$window" "$long")
    row+=$(awk -v a="$((a2 - a1))" -v i="$((i2 - i1))" -v b="$((b2 - b1))" \
      -v s="$s2 - $s1" 'BEGIN {
        split(s, t, " - ")
        printf " | %.0f | %.2f", i / a, (t[1] - t[2]) * 1e6 / b
      }')
  done
  echo "$row |"
done
