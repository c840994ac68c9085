#!/usr/bin/env bash
# Measures the run loop's cases of docs/performance.md in one run, each two
# ways side by side: the wall time per unit that the benchmark library
# reports (the median of REPS interleaved repetitions, blurred by whatever
# else the machine runs), and the instructions per unit that callgrind counts
# inside the case's "measured" function (exact, and the same on a loaded
# machine). Prints a Markdown table; exits 1 if a case gave no figure.
#
#   bench/measure.sh [BUILD_DIR]     (default: build-check; REPS=15)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-check}/bench
reps=${REPS:-15}
command -v valgrind >/dev/null || { echo "valgrind is not installed" >&2; exit 1; }
work=$(mktemp -d /tmp/linksim_measure.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Program and case; callgrind's runs use the smaller argument of each pair.
cases=(
  "linksim_bench_every_tick BM_FloorLoop/1000000"
  "linksim_bench_every_tick BM_RunLoopEveryTick/1000000"
  "linksim_bench_every_tick BM_DesignLoopOutOfLineHooks/1000000"
  "linksim_bench BM_RunLoopEmpty/53"
)
for protocol in stop_and_wait go_back_n selective_repeat; do
  for name in BM_PerAck/0 BM_PerAck/1 BM_PerAck/2 BM_PerAck/3 BM_PerFrame/0 \
    BM_PerFrame/10; do
    cases+=("linksim_bench_$protocol $name")
  done
done
for protocol in stop-and-wait go-back-n selective-repeat; do
  for name in BM_PerAck/0 BM_PerAck/1 BM_PerAck/2 BM_PerAck/3; do
    cases+=("LINKSIM_ARQ=$protocol linksim_bench_arq $name")
  done
done
for window in 8 512 4096 32768 65536; do
  cases+=("linksim_bench_go_back_n BM_Window/$window")
done
for window in 8 4096 65536; do
  cases+=("linksim_bench_go_back_n BM_SameTick/$window")
done

# Prints the value of column `column` (a counter's name) of the row named
# `row` in benchmark CSV on standard input.
column() {
  awk -F, -v row="\"$1\"" -v want="\"$2\"" '
    NR == 1 { for (i = 1; i <= NF; i++) if ($i == want) c = i; next }
    $1 == row && c { print $c }'
}

# The counter that names a case's unit: ticks, acks, frames or runs.
unit_of() { head -n 1 "$1" | grep -o '"\(ticks\|acks\|frames\|runs\)"' | tr -d '"'; }

printf '| Case | Unit | Wall time per unit (median of %s) | Instructions per unit |\n' "$reps"
printf '|---|---|---|---|\n'
failed=0
for entry in "${cases[@]}"; do
  # A case may start with the variables its program reads at start.
  read -r -a words <<<"$entry"
  variables=("${words[@]:0:${#words[@]}-2}")
  program=${words[-2]}
  name=${words[-1]}
  binary=$build/$program
  [ -x "$binary" ] || {
    echo "$binary is not built: configure with -DLINKSIM_MEASURE=ON" >&2
    exit 1
  }
  env "${variables[@]}" "$binary" --benchmark_filter="^$name\$" --benchmark_repetitions="$reps" \
    --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true --benchmark_format=csv \
    >"$work/wall.csv" 2>/dev/null
  env "${variables[@]}" valgrind --tool=callgrind --toggle-collect='*measured*' \
    --callgrind-out-file="$work/cg.out" "$binary" \
    --benchmark_filter="^$name\$" --benchmark_min_time=0 \
    --benchmark_format=csv >"$work/count.csv" 2>/dev/null
  units=$(unit_of "$work/count.csv")
  unit=${units%s}
  # One repetition has no aggregates: its own row is the figure.
  seconds=$(column "${name}_median" "time_per_$unit" <"$work/wall.csv")
  [ -n "$seconds" ] || seconds=$(column "$name" "time_per_$unit" <"$work/wall.csv")
  count=$(column "$name" "$units" <"$work/count.csv")
  iterations=$(awk -F, -v row="\"$name\"" '$1 == row { print $2 }' \
    "$work/count.csv")
  instructions=$(awk '/^totals:/ { print $2 }' "$work/cg.out")
  if [ -z "$seconds" ] || [ -z "$count" ] || [ -z "$instructions" ]; then
    echo "| $program $name | no figure |" && failed=1 && continue
  fi
  label="${program#linksim_bench_} $name"
  [ "${#variables[@]}" -gt 0 ] && label="arq ${variables[*]#LINKSIM_ARQ=} $name"
  awk -v name="$label" -v unit="$unit" -v s="$seconds" -v n="$count" \
    -v it="$iterations" -v ir="$instructions" 'BEGIN {
      ns = s * 1e9
      printf "| `%s` | %s | %s ns | %.1f |\n", name, unit,
        (ns < 10 ? sprintf("%.3g", ns) : sprintf("%.0f", ns)), ir / (it * n)
    }'
done
exit "$failed"
