#!/usr/bin/env bash
# Builds linksim and runs every test. LINKSIM_WERROR=ON makes warnings errors.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=2
werror=${LINKSIM_WERROR:-OFF}

echo "== Release build and tests"
cmake -S . -B build -DLINKSIM_WERROR="$werror" >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --output-on-failure
bash scripts/bench_smoke.sh build
