#!/usr/bin/env bash
# Builds linksim and runs every test. LINKSIM_WERROR=ON makes warnings errors.
# After the release build's tests come the robustness stages, each a script
# of its own: the sanitizer build, valgrind, fuzzing, the real-terminal test
# and the static checks. A stage whose tool is missing says so and passes.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=2
werror=${LINKSIM_WERROR:-OFF}

echo "== Release build and tests"
cmake -S . -B build -DLINKSIM_WERROR="$werror" >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --output-on-failure
bash scripts/bench_smoke.sh build

# --- Robustness stages -------------------------------------------------------
bash scripts/sanitize.sh
bash scripts/valgrind.sh
bash scripts/tmux_test.sh build/linksim
bash scripts/lint.sh
bash scripts/fuzz.sh
# -----------------------------------------------------------------------------
