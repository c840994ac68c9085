#!/usr/bin/env bash
# How fast linksim-check reads and checks a large trace, beside Python's csv
# module merely reading it: the goal is at least ten times as fast. It
# generates a valid trace of ROWS rows (a Go-Back-N-like exchange on a lossy
# link: window 8, 4-bit sequence numbers, a tenth of frames lost, discards,
# resends and timeouts) and its end row, then gives for each command the
# median wall time and CPU time of REPS runs, the file in the page cache,
# and for linksim-check the instructions callgrind counts for the whole run.
# Prints a Markdown table; exits 1 if linksim-check fails the trace or a
# figure is missing. bench/trace_check_bench.cpp times the same with the
# benchmark library, beside merely reading the file.
#
#   bench/check_speed.sh [BUILD_DIR]   (default: build-check; ROWS=1000000,
#                                       REPS=5)
set -euo pipefail
if [ "${1:-}" = --help ]; then
  sed -n '2,/^set /{/^set /d;s/^# \{0,1\}//;p}' "$0"
  exit 0
fi
cd "$(dirname "$0")/.."
check=${1:-build-check}/linksim-check
rows=${ROWS:-1000000}
reps=${REPS:-5}
[ -x "$check" ] || { echo "no program $check: build it first" >&2; exit 1; }
command -v python3 >/dev/null || { echo "python3 is not installed" >&2; exit 1; }
# The interpreter itself, not a wrapper script that would add its own start.
python=$(python3 -c 'import sys; print(sys.executable)')
command -v valgrind >/dev/null || { echo "valgrind is not installed" >&2; exit 1; }
work=$(mktemp -d /tmp/linksim_check_speed.XXXXXX)
trap 'rm -rf "$work"' EXIT
trace=$work/trace.csv

# Rounds of Go-Back-N: the source sends its window, the sink takes each
# frame (receive, or lost), delivers the one it expects and discards the
# rest, answering each with a cumulative ACK; the ACKs come back, some lost;
# what the window still holds then times out and goes again.
awk -v rows="$rows" 'BEGIN {
  srand(25); W = 8; M = 16; loss = 0.1; t = 0
  print "clock,node,event,frame,sequence,packet"
  n = 0; base = 0; next_ = 0; sent = 0; expected = 0
  while (n < rows) {
    np = 0
    for (p = next_; p < base + W; p++) {
      row("source", p < sent ? "resend" : "send", "data", p)
      pend[np++] = p
      t += 0.5
    }
    if (base + W > sent) sent = base + W
    next_ = base + W
    t += 5; na = 0
    for (i = 0; i < np; i++) {
      p = pend[i]; t += 1
      if (rand() < loss) { row("sink", "lost", "data", p); continue }
      row("sink", "receive", "data", p)
      if (p == expected) { row("sink", "deliver", "data", p); expected++ }
      else row("sink", "discard", "data", p)
      if (expected > 0) { row("sink", "send", "ack", expected - 1); ack[na++] = expected - 1 }
    }
    t += 5
    for (i = 0; i < na; i++) {
      a = ack[i]; t += 1
      if (rand() < loss) { row("source", "lost", "ack", a); continue }
      row("source", "receive", "ack", a)
      for (; base <= a; base++) row("source", "acknowledged", "data", base)
    }
    if (base < next_) { t += 10; row("source", "timeout", "data", base); next_ = base }
  }
  printf "%.6f,source,end,data,0,%d\n", t, n
}
function row(node, event, frame, p) {
  printf "%.6f,%s,%s,%s,%d,%d\n", t, node, event, frame, p % M, p; n++
}' >"$trace"
traced=$(($(wc -l <"$trace") - 2))  # less the header and the end row

"$check" "$trace" >"$work/verdict" || { cat "$work/verdict"; exit 1; }

# The medians of REPS runs of a command: its wall time and its CPU time
# (user and system), in seconds. On a shared machine the wall time waits for
# the CPU as well; the CPU time does not.
medians() {
  local runs=$work/runs
  : >"$runs"
  for _ in $(seq "$reps"); do
    { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>&1; } 2>>"$runs"
  done
  awk '{ wall[NR] = $1; cpu[NR] = $2 + $3 }
    function median(a, n,   i, j, t) {
      for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j - 1] > a[j]; j--) {
        t = a[j]; a[j] = a[j - 1]; a[j - 1] = t
      }
      return a[int((n + 1) / 2)]
    }
    END { printf "%.4f %.4f\n", median(wall, NR), median(cpu, NR) }' "$runs"
}
cat "$trace" >/dev/null  # into the page cache
read -r check_wall check_cpu < <(medians "$check" "$trace")
read -r python_wall python_cpu < <(medians "$python" -c \
  'import csv,sys; sum(1 for _ in csv.reader(open(sys.argv[1])))' "$trace")
read -r start_wall start_cpu < <(medians "$python" -c 'import csv')
valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" \
  "$check" "$trace" >/dev/null 2>&1
instructions=$(awk '/^totals:/ { print $2 }' "$work/cg.out")
[ -n "$check_cpu" ] && [ -n "$python_cpu" ] && [ -n "$instructions" ] ||
  { echo "a figure is missing" >&2; exit 1; }

echo "Trace: $traced rows, $(stat -c %s "$trace") bytes; $(cat "$work/verdict")"
echo
printf '| Command | Wall time | CPU time | Per row (CPU) | Instructions per row |\n'
printf '|---|---|---|---|---|\n'
awk -v rows="$traced" -v cw="$check_wall" -v cc="$check_cpu" \
  -v pw="$python_wall" -v pc="$python_cpu" -v sw="$start_wall" \
  -v sc="$start_cpu" -v ir="$instructions" -v reps="$reps" 'BEGIN {
  printf "| `linksim-check TRACE` | %.3f s | %.3f s | %.0f ns | %.1f |\n", cw, cc, cc / rows * 1e9, ir / rows
  printf "| Python csv reading it | %.3f s | %.3f s | %.0f ns | |\n", pw, pc, pc / rows * 1e9
  printf "| (Python starting, importing csv) | %.3f s | %.3f s | | |\n", sw, sc
  printf "\nMedians of %d runs. linksim-check is %.1f times as fast as Python csv merely\n", reps, pw / cw
  printf "reading the trace in wall time, %.1f times in CPU time (goal: 10).\n", pc / cc
}'
