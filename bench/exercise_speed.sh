#!/usr/bin/env bash
# Measures linksim-exercise against its goals (a sheet or a grading under
# 50 ms, the key of a class of 300 under 5 s) on each shipped set that
# linksim-arq can run, two ways side by side: the wall time of the whole
# command (the median of REPS runs, blurred by whatever else the machine
# runs) and the instructions callgrind counts in it, the command's own and
# its runs of linksim-arq added up (exact, the same on a loaded machine).
# The key of 300 is timed alone: callgrind would start 300 runs; its
# instructions per student are those of a key of 5. Prints a Markdown
# table; exits 1 if a case gave no figure.
#
#   bench/exercise_speed.sh [BUILD_DIR]     (default: build-check; REPS=11)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build-check}")
reps=${REPS:-11}
command -v valgrind >/dev/null || { echo "valgrind is not installed" >&2; exit 1; }
work=$(mktemp -d /tmp/linksim_exercise_speed.XXXXXX)
trap 'rm -rf "$work"' EXIT
program=$build/linksim-exercise

for i in $(seq 300); do echo "s$((1000000 + i))"; done >"$work/class"
head -n 5 "$work/class" >"$work/five"

# The median wall time of `reps` runs of the command, in ms.
wall() {
  local runs=$1 i start times=()
  shift
  for ((i = 0; i < runs; i++)); do
    start=$EPOCHREALTIME
    "$@" >/dev/null
    times+=("$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", (b - a) * 1000 }')")
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'
}

# The instructions of the command and every process it starts.
instructions() {
  rm -f "$work"/callgrind.*
  valgrind --tool=callgrind --trace-children=yes \
    --callgrind-out-file="$work/callgrind.%p" "$@" >/dev/null 2>"$work/valgrind.log"
  cat "$work"/callgrind.* | awk '/^summary:/ { sum += $2 } END { print sum + 0 }'
}

echo "| set | case | wall time | instructions |"
echo "|---|---|---|---|"
status=0
for set in stop_and_wait window_limit; do
  file=exercises/$set.txt
  "$program" key "$file" "$work/five" >"$work/key.csv"
  tail -n 1 "$work/key.csv" | tr , '\n' |
    tail -n "$(head -n 1 "$work/key.csv" | tr , '\n' | grep -c '^q')" >"$work/answers"
  student=$(tail -n 1 "$work/five")
  while IFS='|' read -r name runs arguments; do
    # shellcheck disable=SC2086
    ms=$(wall "$runs" "$program" $arguments)
    count=-
    if [ "$name" != "key of 300" ]; then
      # shellcheck disable=SC2086
      count=$(instructions "$program" $arguments)
      [ "$count" -gt 0 ] || status=1
    fi
    [ -n "$ms" ] || status=1
    printf '| %s | %s | %s ms | %s |\n' "$set" "$name" "$ms" "$count"
  done <<CASES
sheet|$reps|sheet $file $student
grade|$reps|grade $file $student $work/answers
key of 5|1|key $file $work/five
key of 300|3|key $file $work/class
CASES
done
exit $status
