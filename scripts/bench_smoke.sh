#!/usr/bin/env bash
# Smoke test of linksim_bench: every case once, for a minimal time, to show
# that the benchmark builds and runs and that no case reports an error. It
# asserts nothing about speed; the figures are in docs/performance.md.
#
# Usage: scripts/bench_smoke.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
bench="$build/bench/linksim_bench"

if [ ! -x "$bench" ]; then
  # Outside CI a machine without Google Benchmark builds no benchmark.
  if [ "${CI:-}" != true ] &&
     grep -q '^LINKSIM_BENCH:BOOL=OFF' "$build/CMakeCache.txt" 2>/dev/null; then
    echo "== Benchmark smoke: skipped (Google Benchmark not found)"
    exit 0
  fi
  echo "linksim_bench was not built in $build" >&2
  exit 1
fi

echo "== Benchmark smoke (one short pass, no timing checked)"
output=$(mktemp)
trap 'rm -f "$output"' EXIT
"$bench" --benchmark_min_time=0.001 | tee "$output"
if grep -q 'ERROR OCCURRED' "$output"; then
  echo "a benchmark case reported an error" >&2
  exit 1
fi
