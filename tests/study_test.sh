#!/usr/bin/env bash
# Runs the utilization study on a small sweep of a link of its own with the
# given linksim-arq, its knobs given as words, and checks its output: the
# CSV header, one row per point, on the link given, every point's ACK count
# within the bounds the protocol derives (no more than the closed form
# allows before the end of the run, no fewer than the closed form plus a
# tick per hop does), the computed columns, the curve the point itself on
# these whole-tick stages, and a PNG.
#
#   study_test.sh LINKSIM_ARQ
set -euo pipefail
program=$(realpath "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(mktemp -d /tmp/linksim_study_test.XXXXXX)
trap 'rm -rf "$out"' EXIT

# A link of its own, whose delay and duration the sweep overrides.
printf '%s\n' "Propagation Delay 999" "processing delay 2" "Bit Rate 200" \
  "Data Packet Size 1960" "Data Packet Overhead 40" "ACK Size 200" \
  "Simulation Duration 1" "Packet Rate 1" >"$out/link.txt"
LINKSIM_ARQ_PROGRAM=$program WINDOWS="1 2 3 5 8 13" bash "$root/studies/utilization.sh" \
  "$out" DELAYS="3 10 45" LINK="$out/link.txt" DURATION=3000 2>/dev/null

header=window,propagation_delay,processing_delay,bit_rate,data_size,overhead,ack_size,duration,acknowledged,utilization,textbook,curve
[ "$(head -n 1 "$out/utilization.csv")" = "$header" ] ||
  { echo "wrong CSV header"; exit 1; }
[ "$(tail -n +2 "$out/utilization.csv" | wc -l)" = 18 ] ||
  { echo "expected 18 points"; exit 1; }
[ "$(head -c 8 "$out/utilization.png" | od -An -tx1 | tr -d ' \n')" = \
  89504e470d0a1a0a ] || { echo "no PNG written"; exit 1; }

tail -n +2 "$out/utilization.csv" | awk -F, '
  function closed(k) {
    return t + k * td + int(k / w) * (t > w * td ? t - w * td : 0)
  }
  function off(x, y) { return x - y > 1e-6 || y - x > 1e-6 }
  {
    w = $1; a = $2; p = $3; b = $4; l = $8; n = $9
    if (p != 2 || b != 200 || l != 3000) { print "not the link given"; bad = 1 }
    td = ($5 + $6) / b; t = td + $7 / b + 2 * a + 2 * p
    most = 0; while (closed(most) < l) most++
    least = 0; while (closed(least) + 2 * (int(least / w) + 1) < l) least++
    textbook = w * td / t; if (textbook > 1) textbook = 1
    if (n < least || n > most || off($10, n * td / l) || off($11, textbook) || off($12, $10)) {
      printf "point %s: %d acknowledged, bounds %d to %d\n", $0, n, least, most
      bad = 1
    }
  }
  END { exit bad }'
