#!/usr/bin/env bash
# linksim-check as a program: each verdict on its stream with its exit
# status, standard input as "-", and what keeps it from checking (a file it
# cannot read, a bad command line, a verdict or usage it cannot write, a
# trace too large for the memory) on standard error with status 2.
#
#   trace_check_test.sh BINARY [SANITIZED]   (SANITIZED 1: no memory limit,
#                                             which the sanitizers' own
#                                             reservations exceed)
set -u
binary=$(realpath "$1")
sanitized=${2:-0}
cd "$(mktemp -d /tmp/linksim_check.XXXXXX)" && trap 'rm -rf "$PWD"' EXIT

header=clock,node,event,frame,sequence,packet
printf '%s\n1.000000,source,send,data,0,0\n5.000000,sink,receive,data,0,0\n5.000000,sink,deliver,data,0,0\n' \
  "$header" >cut.csv
{ cat cut.csv && echo 5.000000,source,end,data,0,3; } >valid.csv
printf '%s\n1.000000,sink,deliver,data,0,0\n1.0,source,end,data,0,1\n' \
  "$header" >broken.csv
printf '%s\n1.000000,source,send,data,0\n' "$header" >short.csv
mkfifo gone
counts="3 rows, send 1, resend 0, receive 1, lost 0, deliver 1, acknowledged 0, timeout 0, discard 0, buffer 0"

failures=0
# What, the status, standard output and a pattern for standard error (empty:
# nothing on it) it must give, then the command.
check() {
  local what=$1 status=$2 out=$3 err=$4 got=0
  shift 4
  "$@" >out 2>err || got=$?
  if [ "$got" != "$status" ] || [ "$(cat out)" != "$out" ] ||
    if [ -z "$err" ]; then [ -s err ]; else ! grep -q -- "$err" err; fi; then
    printf '%s: status %s (want %s)\nstdout: %s\nstderr: %s\n' "$what" \
      "$got" "$status" "$(cat out)" "$(cat err)"
    failures=$((failures + 1))
  fi
}
check "valid" 0 "linksim-check: valid.csv: ok: $counts" "" \
  "$binary" valid.csv
check "standard input" 0 "linksim-check: (standard input): ok: $counts" "" \
  "$binary" - <valid.csv
check "broken" 1 \
  "linksim-check: broken.csv:2: packet 0 delivered, but the sink received no data frame holding it" \
  "" "$binary" broken.csv
check "cut short" 2 \
  "linksim-check: cut.csv:4: incomplete: the trace ends with no end row: its run was cut short" \
  "" "$binary" cut.csv
check "not a trace" 2 \
  "linksim-check: short.csv:2: not a trace: 5 fields, where a row has 6" "" \
  "$binary" short.csv
check "missing" 2 "" \
  "^linksim-check: cannot read missing.csv: No such file or directory$" \
  "$binary" missing.csv
check "directory" 2 "" "^linksim-check: cannot read .: Is a directory$" \
  "$binary" .
check "no argument" 2 "" "^usage: linksim-check TRACE" "$binary"
check "two arguments" 2 "" "^usage: linksim-check TRACE" \
  "$binary" valid.csv valid.csv
check "unknown option" 2 "" "^linksim-check: unknown option -v" \
  "$binary" -v
check "empty name" 2 "" "^linksim-check: the trace's name is empty$" \
  "$binary" ""
check "help" 0 "usage: linksim-check TRACE" "" \
  bash -c 'set -o pipefail; "$0" --help | head -n 1' "$binary"
[ -w /dev/full ] && check "output lost" 2 "" "cannot write the verdict" \
  bash -c '"$0" valid.csv >/dev/full' "$binary"
[ -w /dev/full ] && check "help lost" 2 "" \
  "^linksim-check: cannot write the usage: No space left on device$" \
  bash -c '"$0" --help >/dev/full' "$binary"
# Standard output a pipe whose reader has gone, SIGPIPE as it comes.
check "reader gone" 2 "" \
  "^linksim-check: cannot write the verdict: Broken pipe$" \
  bash -c 'exec 3<>gone >gone 3<&- env --default-signal=PIPE "$0" valid.csv' \
  "$binary"
# A million frames in flight, in 20 MB.
[ "$sanitized" = 1 ] || check "out of memory" 2 "" \
  "^linksim-check: cannot check (standard input):[0-9]*: out of memory, holding [0-9]* frames in flight$" \
  bash -c '{ echo "$1" && seq -f 1,sink,send,ack,0,%.0f 1000000; } |
    (ulimit -v 20000 && exec "$0" -)' "$binary" "$header"
[ "$failures" = 0 ]
