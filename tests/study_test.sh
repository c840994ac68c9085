#!/usr/bin/env bash
# Runs the utilization study on a small sweep with the given sliding-window
# program and checks its output: the CSV header, one row per point, every
# point's ACK count within the bounds the example derives (no more than the
# closed form allows before the end of the run, no fewer than the closed form
# plus a tick per hop does), the two computed columns, and a PNG.
#
#   study_test.sh PROGRAM
set -euo pipefail
program=$(realpath "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(mktemp -d /tmp/linksim_study_test.XXXXXX)
trap 'rm -rf "$out"' EXIT

LINKSIM_SLIDING_WINDOW=$program WINDOWS="1 2 3 5 8 13" DELAYS="3 10 45" \
  DURATION=3000 bash "$root/studies/utilization.sh" "$out" 2>/dev/null

header=window,propagation_delay,processing_delay,bit_rate,data_size,overhead,ack_size,duration,acknowledged,utilization,textbook
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
    td = ($5 + $6) / b; t = td + $7 / b + 2 * a + 2 * p
    most = 0; while (closed(most) < l) most++
    least = 0; while (closed(least) + 2 * (int(least / w) + 1) < l) least++
    textbook = w * td / t; if (textbook > 1) textbook = 1
    if (n < least || n > most || off($10, n * td / l) || off($11, textbook)) {
      printf "point %s: %d acknowledged, bounds %d to %d\n", $0, n, least, most
      bad = 1
    }
  }
  END { exit bad }'
