#!/usr/bin/env bash
# Start-up and memory: runs linksim from start to exit on a scripted session
# (load examples/link.txt, run, exit) under GNU time, several times, and
# prints the peak resident memory and the median wall time. "clear" is the
# sessions' stub, so the figures are linksim's own (plus one small shell per
# prompt, which is what the program really starts: GNU time's peak counts
# the process and every child it waited for).
#
# Usage: scripts/measure_memory.sh [build-dir] [runs]
# Exits 1 when the peak resident memory is above 4 MiB.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
runs=${2:-5}
limit_kib=4096

[ -x "$build/linksim" ] || { echo "no $build/linksim; build first" >&2; exit 2; }
binary=$(realpath "$build/linksim")
stub=$(realpath tests/sessions/bin)
[ -x /usr/bin/time ] || { echo "needs GNU time: apt-get install time" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp examples/link.txt "$work/link.txt"
# load; the pause; run; the key after the settings summary; the pause; exit.
printf 'load link.txt\n\nrun\n\n\nexit\n' >"$work/session"

peak=0
times=()
cd "$work"
for ((i = 0; i < runs; i++)); do
  start=$(date +%s%N)
  PATH="$stub:$PATH" /usr/bin/time -v -o time.txt "$binary" <session >output.txt
  end=$(date +%s%N)
  grep -q 'Simulation completed successfully' output.txt ||
    { echo "the session did not complete:" >&2; cat output.txt >&2; exit 2; }
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' time.txt)
  if ((rss > peak)); then peak=$rss; fi
  times+=($(((end - start) / 1000)))
done
median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")

echo "runs: $runs"
echo "peak resident memory: $peak KiB (limit $limit_kib KiB)"
echo "median time from start to exit: $median us (under GNU time)"
((peak <= limit_kib))
