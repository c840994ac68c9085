#!/usr/bin/env bash
# A variable of the protocol kit that holds no value the protocol can use
# ends the program before it writes a line: one line on standard error
# naming the variable and what it accepts, exit status 2. The values at the
# edges of what each accepts are taken. Only the variables that match
# PATTERN are tried: those the protocol reads.
#
#   refused.sh BINARY PATTERN     (an extended regular expression)
set -u
binary=$(realpath "$1")
pattern=$2
PATH="$(cd "$(dirname "$0")" && pwd)/bin:$PATH"
out=$(mktemp -d /tmp/linksim_refused.XXXXXX)
trap 'rm -rf "$out"' EXIT

window="LINKSIM_WINDOW must be a whole number from 1 to 65536"
rate="must be a decimal number from 0 up to but not including 1"
seed="LINKSIM_SEED must be a whole number from 0 to 18446744073709551615"
timeout="LINKSIM_TIMEOUT must be a finite number above 0"
trace="LINKSIM_TRACE must name a file that can be written"
# Variable, value, and the start of the message; a value of "-" unsets.
refused=(
  "LINKSIM_WINDOW|0|$window" "LINKSIM_WINDOW|65537|$window"
  "LINKSIM_WINDOW|-1|$window" "LINKSIM_WINDOW|+8|$window"
  "LINKSIM_WINDOW| 8|$window" "LINKSIM_WINDOW|8x|$window"
  "LINKSIM_WINDOW|1e3|$window" "LINKSIM_WINDOW||$window"
  "LINKSIM_WINDOW|99999999999999999999|$window"
  "LINKSIM_LOSS|1|LINKSIM_LOSS $rate" "LINKSIM_LOSS|-0.1|LINKSIM_LOSS $rate"
  "LINKSIM_LOSS|nan|LINKSIM_LOSS $rate" "LINKSIM_LOSS|inf|LINKSIM_LOSS $rate"
  "LINKSIM_LOSS|0x0.1|LINKSIM_LOSS $rate" "LINKSIM_LOSS|0.1 |LINKSIM_LOSS $rate"
  "LINKSIM_LOSS| 0.1|LINKSIM_LOSS $rate" "LINKSIM_LOSS|0.1%|LINKSIM_LOSS $rate"
  "LINKSIM_LOSS||LINKSIM_LOSS $rate" "LINKSIM_BER|1.5|LINKSIM_BER $rate"
  "LINKSIM_BER|1e-3e|LINKSIM_BER $rate"
  "LINKSIM_SEED|-1|$seed" "LINKSIM_SEED|18446744073709551616|$seed"
  "LINKSIM_SEED|1.5|$seed" "LINKSIM_SEED||$seed"
  "LINKSIM_TIMEOUT|0|$timeout" "LINKSIM_TIMEOUT|-1|$timeout"
  "LINKSIM_TIMEOUT|inf|$timeout" "LINKSIM_TIMEOUT|1e999|$timeout"
  "LINKSIM_TIMEOUT|10 ticks|$timeout"
  "LINKSIM_TRACE||$trace" "LINKSIM_TRACE|$out|$trace"
  "LINKSIM_TRACE|$out/missing/trace.csv|$trace"
)
accepted=(
  "LINKSIM_WINDOW|1" "LINKSIM_WINDOW|65536" "LINKSIM_WINDOW|0065536"
  "LINKSIM_LOSS|0" "LINKSIM_LOSS|-0" "LINKSIM_LOSS|0.999" "LINKSIM_LOSS|.5"
  "LINKSIM_LOSS|1e-3" "LINKSIM_BER|0.0001" "LINKSIM_SEED|0"
  "LINKSIM_SEED|18446744073709551615" "LINKSIM_TIMEOUT|0.5"
  "LINKSIM_TIMEOUT|1e6" "LINKSIM_TRACE|$out/trace.csv"
)

# Runs the binary with `variable` set to `value`; sets status and err.
try() {
  status=0
  err=$(printf 'exit\n' | env "$1=$2" "$binary" 2>&1 >"$out/stdout") ||
    status=$?
}

failures=0
for row in "${refused[@]}"; do
  IFS='|' read -r variable value message <<<"$row"
  [[ $variable =~ $pattern ]] || continue
  try "$variable" "$value"
  if [ "$status" != 2 ] || [[ "$err" != "linksim: $message"* ]] ||
    [ "$(printf '%s\n' "$err" | wc -l)" != 1 ] || [ -s "$out/stdout" ]; then
    printf '%s="%s": status %s, standard error "%s"\n' "$variable" "$value" \
      "$status" "$err"
    failures=$((failures + 1))
  fi
done
for row in "${accepted[@]}"; do
  IFS='|' read -r variable value <<<"$row"
  [[ $variable =~ $pattern ]] || continue
  try "$variable" "$value"
  if [ "$status" != 0 ]; then
    printf '%s="%s" was refused: %s\n' "$variable" "$value" "$err"
    failures=$((failures + 1))
  fi
done
if [[ LINKSIM_LOSS =~ $pattern ]]; then
  status=0
  err=$(printf 'exit\n' | LINKSIM_LOSS=0.1 LINKSIM_BER=0.1 "$binary" 2>&1 \
    >/dev/null) || status=$?
  [ "$status" = 2 ] &&
    [ "$err" = "linksim: LINKSIM_LOSS and LINKSIM_BER cannot both be set" ] ||
    { echo "LINKSIM_LOSS and LINKSIM_BER together: $status, $err"; failures=$((failures + 1)); }
fi
[ "$failures" = 0 ]
