#!/usr/bin/env bash
# The protocols on links and variables chosen to break them, a row each;
# no_rate's 2^53 ticks end within the test's timeout only if skipped. The
# FIFO's reader may not have opened it when the first run starts: until it
# has, the run is refused, as a FIFO nobody reads is, and tried again.
#   odd_runs_test.sh SLIDING_WINDOW STOP_AND_WAIT GO_BACK_N SELECTIVE_REPEAT
set -u
sw=$(realpath "$1") saw=$(realpath "$2") gbn=$(realpath "$3") sr=$(realpath "$4")
export PATH="$(cd "$(dirname "$0")" && pwd)/sessions/bin:$PATH"
# Freed memory would count in the peak; the tree's other options stay.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=0
cd "$(mktemp -d /tmp/linksim_odd.XXXXXX)" && trap 'rm -rf "$PWD"' EXIT
keys=("Processing Delay" "Propagation Delay" "Bit Rate" "Data Packet Size"
  "Data Packet Overhead" "ACK Size" "Simulation Duration" "Packet Rate")
while read -r name values; do  # P A BIT-RATE DATA OVERHEAD ACK DURATION RATE
  paste -d ' ' <(printf '%s\n' "${keys[@]}") <(printf '%s\n' $values) >$name
done <<'LINKS'
big 0.3 800000000000000 10 800 1 7 9007199254740992 1
odd 0.7 0.2 13 0.5 0.5 1.0 970886640926770 1.0299863628266524e-15
slow_acks 1 5 100 700 100 1000 400 2
short 1 5 100 99 1 1000 30000 2
long 1 5 100 99 1 1000 300000 2
plain 1 5 100 800 64 128 500 2
plain_5000 1 5 100 800 64 128 5000 2
no_tick 1 5 100 800 64 128 nan 2
no_rate 1 5 100 800 64 128 9007199254740992 nan
flood 1 5 100 800 64 128 1000000 1000000000
LINKS
run() {  # PROGRAM LINK...: runs each link in turn; sets status, out, err
  local input="load $2\n\nrun\n\n\n" file && status=0
  for file in "${@:3}"; do input+="load $file\ny\nrun\n\n\n"; done
  printf "${input}exit\n" | /usr/bin/time -o mem -f %M "$1" >out 2>err ||
    status=$?
}
column() {  # NAME FILE: the last row's value of the column NAME
  awk -F, -v name="$1" 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == name) c = i }
    END { print $c }' "$2"
}
# The FIFO's reader may open it after the program looks for one: until it
# has, the program refuses the FIFO (status 2), and is started again.
with_reader() {  # READER COMMAND...: runs COMMAND once READER has the FIFO
  eval "$1 &" && reader=$! && for try in {1..100}; do
    eval "${*:2}"; [ $status != 2 ] && break; sleep 0.1
  done; [ $status != 2 ] || kill $reader; wait $reader
}
mkfifo fifo && LINKSIM_WINDOW=8 run "$sw" big && mv out big.out
rows=(  # PROGRAMS@COMMAND@CHECK, run for each program in turn as $p
  'gbn sr@LINKSIM_WINDOW=8 run $p big@cmp -s out big.out'
  'saw@LINKSIM_TRACE=t run $p odd@! grep -q timeout t && [ $status = 0 ]'
  'saw@LINKSIM_LOSS=0.3 LINKSIM_SEED=3 LINKSIM_TRACE=t run $p slow_acks@[ "$(grep -m1 timeout t)" = 30.000000,source,timeout,data,0,0 ]'
  'saw gbn sr@LINKSIM_TIMEOUT=2 run $p short; mv mem short.mem; LINKSIM_TIMEOUT=2 run $p long@(( $(<mem) * 4 < $(<short.mem) * 5 + 4096 ))'
  'gbn@LINKSIM_TRACE=fifo run $p plain@[ $status = 2 ] && grep -q "(fifo: no process reads it)$" err'
  'sr@cat fifo >got & reader=$!; for try in {1..100}; do LINKSIM_TRACE=fifo run $p plain; [ $status != 2 ] && break; sleep 0.1; done; [ $status != 2 ] || kill $reader; wait $reader@[ "$(grep -c acknowledged got)" = 56 ] && [ $status = 0 ]'
  'saw@LINKSIM_TRACE=out run $p plain@[ $status = 2 ] && grep -q "standard output" err'
  'gbn@printf "exit\n" | LINKSIM_TRACE=/dev/stdout $p 2>err | cat >out; status=${PIPESTATUS[1]}@[ $status = 2 ] && [ ! -s out ]'
  'sr@LINKSIM_TRACE=/dev/full run $p plain@[ $status = 1 ] && grep -q "Returning to OS" out'
  'gbn@with_reader "head -c 1 fifo >/dev/null" LINKSIM_TRACE=fifo run $p plain_5000@[ $status = 1 ] && grep -q "trace fifo: Broken pipe" err && grep -q "^summary: packets" out'
  'sr@with_reader "cat fifo >got" LINKSIM_STATS=fifo run $p plain@[ "$(head -c 22 got)" = protocol,window,loss,b ] && [ $status = 0 ]'
  'saw gbn sr@LINKSIM_TRACE=one LINKSIM_STATS=./one run $p plain@[ $status = 2 ] && grep -q "must name two files" err && [ ! -e one ]'
  'saw@LINKSIM_LOSS=-0 LINKSIM_STATS=s run $p plain@[ "$(column loss s)" = 0 ]'
  'sw saw gbn sr@rm -f s; LINKSIM_ARRIVALS=poisson LINKSIM_STATS=s run $p plain@column arrived s >>arrived; (( $(column arrived s) - $(column acknowledged s) == $(column waiting s) ))'
  'saw@LINKSIM_ARRIVALS=poisson run $p flood@grep -q "^summary: arrivals: about 1000000" out'
  'saw gbn sr@LINKSIM_TIMEOUT=1 run $p plain@grep -qx "linksim: warning: a timeout of 1 is far below the round trip of 21.92: frames will be sent again before their ACKs can come back" err && grep -q "completed successfully" out'
  'saw@LINKSIM_TIMEOUT=11 run $p plain@[ ! -s err ]'
  'saw@LINKSIM_ARQ=go-back-n run $p plain@[ "$(cat err)" = "linksim: warning: LINKSIM_ARQ is ignored: only linksim-arq reads it" ]'
  'gbn sr@LINKSIM_SEQUENCE_BITS=1 LINKSIM_LOSS=0.3 LINKSIM_ARRIVALS=poisson LINKSIM_TRACE=t run $p plain_5000@awk -F, "\$4 == \"data\" && \$3 ~ /send/ { last = \$1 } END { exit !(last > 4900) }" t'
  'saw gbn sr@LINKSIM_TRACE=t run $p plain no_tick@[ "$(head -n1 t) $(tail -n+2 t)" = "clock,node,event,frame,sequence,packet 0.000000,source,end,data,0,0" ] && [ $status = 0 ]'
  'sw saw gbn sr@run $p no_rate@grep -q "completed successfully" out && [ $status = 0 ]'
)
failures=0
for row in "${rows[@]}"; do
  IFS='@' read -r programs command check <<<"$row"
  for name in $programs; do
    p=${!name} && eval "$command" && eval "$check" ||
      { echo "$name: $command"; failures=$((failures + 1)); }
  done
done
# Poisson arrivals are the seed's, whatever the protocol: the same count.
[ "$(sort -u arrived | wc -l)" = 1 ] || { echo "arrivals differ: $(<arrived)"; failures=$((failures + 1)); }
[ "$failures" = 0 ]
