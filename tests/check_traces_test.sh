#!/usr/bin/env bash
# Every shipped protocol's traces keep every promise linksim-check checks,
# with and without loss (for those that lose frames), on the example link
# and one whose frames are shorter than a tick, over a few seeds; and on the
# example link with bursty loss, with frames dropped by name and with
# Poisson arrivals. Cut short anywhere, within its rows or its end row, such
# a trace is incomplete, not judged.
#
#   check_traces_test.sh LINKSIM_ARQ LINKSIM_CHECK PROTOCOL...
set -euo pipefail
arq=$(realpath "$1")
check=$(realpath "$2")
protocols=("${@:3}")
work=$(mktemp -d /tmp/linksim_check_traces.XXXXXX)
trap 'rm -rf "$work"' EXIT
export PATH="$(cd "$(dirname "$0")" && pwd)/sessions/bin:$PATH"
root=$(cd "$(dirname "$0")/.." && pwd)
cp "$root/examples/link.txt" "$work/link.txt"
printf '%s\n' "Propagation Delay 0.2" "Processing Delay 0.1" "Bit Rate 100" \
  "Data Packet Size 48" "Data Packet Overhead 4" "ACK Size 10" \
  "Simulation Duration 1000" "Packet Rate 5" >"$work/short.txt"

# LINK VARIABLE=VALUE...: a session on LINK, its trace in trace.csv, in a
# subshell that becomes linksim-arq, with no env or pipe's writer to start.
run() {
  local session
  printf -v session 'load %s\n\nrun\n\n\nexit' "$work/$1.txt"
  (export "${@:2}" LINKSIM_TRACE="$work/trace.csv" &&
    exec "$arq" <<<"$session" >/dev/null)
}

failures=0
lossless=()  # the protocols that warn that they ignore a loss
for protocol in "${protocols[@]}"; do
  (export LINKSIM_ARQ=$protocol LINKSIM_LOSS=0.1 && exec "$arq" <<<exit 2>&1 \
    >/dev/null) | grep -q 'LINKSIM_LOSS is ignored' && lossless+=("$protocol")
done
for link in link short; do
  for protocol in "${protocols[@]}"; do
    lossy=true
    [[ " ${lossless[*]} " == *" $protocol "* ]] && lossy=false
    for loss in 0 0.1 0.4; do
      $lossy || [ "$loss" = 0 ] || continue
      for seed in 1 2 3; do
        variables=(LINKSIM_ARQ=$protocol)
        $lossy && variables+=(LINKSIM_LOSS=$loss LINKSIM_SEED=$seed)
        run "$link" "${variables[@]}"
        if ! "$check" "$work/trace.csv" >"$work/verdict"; then
          echo "$protocol on $link, loss $loss, seed $seed: $(cat "$work/verdict")"
          failures=$((failures + 1))
        fi
        $lossy || break
      done
    done
  done
done
for protocol in "${protocols[@]}"; do
  for variables in "LINKSIM_LOSS=0.3 LINKSIM_BURST=5" \
    "LINKSIM_ARRIVALS=poisson LINKSIM_LOSS=0.2" \
    "LINKSIM_DROP=data:1,2,5,6,7 LINKSIM_ACK_LOSS=0.2"; do
    [[ " ${lossless[*]} " != *" $protocol "* ]] ||
      variables=LINKSIM_ARRIVALS=poisson
    for seed in 1 2; do
      # shellcheck disable=SC2086  # the variables are words of their own
      run link LINKSIM_ARQ=$protocol $variables LINKSIM_SEED=$seed
      "$check" "$work/trace.csv" >"$work/verdict" || {
        echo "$protocol, $variables, seed $seed: $(cat "$work/verdict")"
        failures=$((failures + 1))
      }
    done
  done
done
run link LINKSIM_ARQ=go-back-n LINKSIM_LOSS=0.2 LINKSIM_SEED=3
size=$(stat -c %s "$work/trace.csv")
for cut in 1 2036 $((size / 2)) $((size - 30)) $((size - 2)); do
  head -c "$cut" "$work/trace.csv" >"$work/cut.csv"
  verdict=0
  "$check" "$work/cut.csv" >"$work/verdict" || verdict=$?
  [ "$verdict" = 2 ] && grep -q ': incomplete: ' "$work/verdict" || {
    echo "cut at byte $cut of $size: $verdict: $(cat "$work/verdict")"
    failures=$((failures + 1))
  }
done
[ "$failures" = 0 ]
