#!/usr/bin/env bash
# Runs the end-to-end tests and the scripted sessions once more with linksim
# under valgrind: any memory error, and any heap block not freed at exit
# (still reachable included), fails this stage.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v valgrind >/dev/null; then
  echo "== valgrind: SKIPPED, valgrind is not installed"
  exit 0
fi

werror=${LINKSIM_WERROR:-OFF}
logs=$(mktemp -d /tmp/linksim_valgrind.XXXXXX)
trap 'rm -rf "$logs"' EXIT

echo "== End-to-end tests under valgrind"
cmake -S . -B build -DLINKSIM_WERROR="$werror" >/dev/null
cmake --build build -j2

# -q leaves a log empty unless valgrind found something.
export LINKSIM_WRAPPER="valgrind -q --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all --error-exitcode=99 --log-file=$logs/vg.%p.log"
status=0
ctest --test-dir build -j2 --output-on-failure || status=$?

runs=$(find "$logs" -name 'vg.*.log' | wc -l)
if [ "$runs" = 0 ]; then
  echo "valgrind never ran: no end-to-end test picked up LINKSIM_WRAPPER"
  status=1
fi
for log in "$logs"/vg.*.log; do
  if [ -s "$log" ]; then
    echo "valgrind report $log:"
    cat "$log"
    status=1
  fi
done
[ "$status" = 0 ] && echo "valgrind: clean ($runs processes checked)"
exit "$status"
