#!/usr/bin/env bash
# A variable of the protocol kit that holds no value the protocol can use
# ends the program before it writes a line: one line on standard error
# naming the variable and what it accepts, exit status 2. The values at the
# edges of what each accepts are taken, and a file accepted is not made
# before a run writes it. Only the variables that match PATTERN are tried:
# those the protocol reads.
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
bits="LINKSIM_SEQUENCE_BITS must be a whole number from 1 to 31"
burst="LINKSIM_BURST must be a decimal number from 1 up"
arrivals="LINKSIM_ARRIVALS must be periodic or poisson"
drop="LINKSIM_DROP must be a drop list such as 'data:3,7 ack:2'"
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
  "LINKSIM_SEQUENCE_BITS|0|$bits" "LINKSIM_SEQUENCE_BITS|32|$bits"
  "LINKSIM_SEQUENCE_BITS|+3|$bits" "LINKSIM_SEQUENCE_BITS||$bits"
  "LINKSIM_BURST|0.99|$burst" "LINKSIM_BURST|inf|$burst"
  "LINKSIM_BURST|5|LINKSIM_BURST needs LINKSIM_LOSS"
  "LINKSIM_ARRIVALS|Poisson|$arrivals" "LINKSIM_ARRIVALS||$arrivals"
  "LINKSIM_ACK_LOSS|1|LINKSIM_ACK_LOSS $rate"
  "LINKSIM_ACK_LOSS|-0.1|LINKSIM_ACK_LOSS $rate"
  "LINKSIM_DROP||$drop" "LINKSIM_DROP| |$drop" "LINKSIM_DROP|data|$drop"
  "LINKSIM_DROP|data:|$drop" "LINKSIM_DROP|data:0|$drop"
  "LINKSIM_DROP|data:03|$drop" "LINKSIM_DROP|data:3,|$drop"
  "LINKSIM_DROP|data:3,,4|$drop" "LINKSIM_DROP|Data:3|$drop"
  "LINKSIM_DROP|data:3;ack:2|$drop" "LINKSIM_DROP|data:-1|$drop"
  "LINKSIM_DROP|data:3 ack|$drop" "LINKSIM_DROP|:3|$drop"
  "LINKSIM_DROP|data:99999999999999999999|$drop"
  "LINKSIM_DROP|nak:1|LINKSIM_DROP names nak, which is no kind of frame here: the kinds are data and ack"
)
accepted=(
  "LINKSIM_WINDOW|1" "LINKSIM_WINDOW|65536" "LINKSIM_WINDOW|0065536"
  "LINKSIM_LOSS|0" "LINKSIM_LOSS|-0" "LINKSIM_LOSS|0.999" "LINKSIM_LOSS|.5"
  "LINKSIM_LOSS|1e-3" "LINKSIM_BER|0.0001" "LINKSIM_SEED|0"
  "LINKSIM_SEED|18446744073709551615" "LINKSIM_TIMEOUT|0.5"
  "LINKSIM_TIMEOUT|1e6" "LINKSIM_TRACE|$out/trace.csv" "LINKSIM_STATS|$out/stats.csv"
  "LINKSIM_SEQUENCE_BITS|1" "LINKSIM_SEQUENCE_BITS|031"
  "LINKSIM_ARRIVALS|poisson" "LINKSIM_ARRIVALS|periodic"
  "LINKSIM_ACK_LOSS|0" "LINKSIM_ACK_LOSS|0.999" "LINKSIM_DROP|data:3,7 ack:2"
  "LINKSIM_DROP| ack:1  data:9223372036854775807 "
)

# Runs the binary with VARIABLE=VALUE... set; sets status and err. The
# command substitution's subshell becomes the binary, with no env or pipe's
# writer to start.
try() {
  status=0
  err=$(export "$@" && exec "$binary" <<<exit 2>&1 >"$out/stdout") ||
    status=$?
}

failures=0
for row in "${refused[@]}"; do
  IFS='|' read -r variable value message <<<"$row"
  [[ $variable =~ $pattern ]] || continue
  try "$variable=$value"
  if [ "$status" != 2 ] || [[ "$err" != "linksim: $message"* ]] ||
    [[ $err == *$'\n'* ]] || [ -s "$out/stdout" ]; then
    printf '%s="%s": status %s, standard error "%s"\n' "$variable" "$value" \
      "$status" "$err"
    failures=$((failures + 1))
  fi
done
for row in "${accepted[@]}"; do
  IFS='|' read -r variable value <<<"$row"
  [[ $variable =~ $pattern ]] || continue
  try "$variable=$value"
  if [ "$status" != 0 ]; then
    printf '%s="%s" was refused: %s\n' "$variable" "$value" "$err"
    failures=$((failures + 1))
  fi
  # A session without a run writes no file.
  if [[ $variable == *_TRACE || $variable == *_STATS ]] && [ -e "$value" ]; then
    echo "$variable=$value: a session of no run made the file"
    failures=$((failures + 1))
  fi
done
# Variables refused together, and the message's start, or accepted ("").
together=(
  "LINKSIM_LOSS=0.1 LINKSIM_BER=0.1|LINKSIM_LOSS and LINKSIM_BER cannot both be set"
  "LINKSIM_BER=0.1 LINKSIM_BURST=2|LINKSIM_BURST cannot be set with LINKSIM_BER"
  "LINKSIM_LOSS=0.8 LINKSIM_BURST=3.9|LINKSIM_BURST must be at least LINKSIM_LOSS / (1 - LINKSIM_LOSS) = 4"
  "LINKSIM_LOSS=0.8 LINKSIM_BURST=4|" "LINKSIM_LOSS=0 LINKSIM_BURST=1|"
  "LINKSIM_LOSS=0.1 LINKSIM_ACK_LOSS=0.8 LINKSIM_BURST=3.9|LINKSIM_BURST must be at least LINKSIM_ACK_LOSS / (1 - LINKSIM_ACK_LOSS) = 4"
  "LINKSIM_LOSS=0.1 LINKSIM_ACK_LOSS=0.8 LINKSIM_BURST=4|"
  "LINKSIM_BER=0.001 LINKSIM_ACK_LOSS=0|"
)
for row in "${together[@]}"; do
  IFS='|' read -r variables message <<<"$row"
  [[ $variables =~ $pattern ]] && [[ LINKSIM_LOSS =~ $pattern ]] || continue
  # shellcheck disable=SC2086  # the variables are words of their own
  try $variables
  if [ -n "$message" ]; then
    [ "$status" = 2 ] && [[ "$err" == "linksim: $message"* ]] && continue
  elif [ "$status" = 0 ]; then
    continue
  fi
  echo "$variables: status $status, standard error \"$err\""
  failures=$((failures + 1))
done
[ "$failures" = 0 ]
