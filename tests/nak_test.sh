#!/usr/bin/env bash
# The worked example of a frame of a protocol's own, stop-and-wait with NAKs,
# on examples/link.txt run ten times as long, with a timeout of 60 ticks
# against a round trip of 23. On a lossy link, by frame and by bit, over
# several seeds: every trace passes linksim-check; the sink answers each
# damaged data frame with a NAK and nothing else, and the summary counts the
# NAKs the trace shows; the source sends frames again before their timers
# fire, and so more packets are acknowledged than plain stop-and-wait
# acknowledges on the same links and seeds. On a link that loses nothing it
# writes what stop-and-wait writes, but for its NAKs' summary line. The
# guide shows the file as it is.
#
#   nak_test.sh STOP_AND_WAIT_NAK STOP_AND_WAIT LINKSIM_CHECK
set -euo pipefail
nak=$(realpath "$1")
plain=$(realpath "$2")
check=$(realpath "$3")
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/linksim_nak.XXXXXX)
trap 'rm -rf "$work"' EXIT
export PATH="$root/tests/sessions/bin:$PATH"
fail() { echo "NAK test FAILED: $*"; exit 1; }
for program in "$nak" "$plain" "$check"; do
  [ -x "$program" ] || fail "no program $program"
done

# The guide's copy: the first cpp block after the file is first named.
guide=docs/protocols.md
name=examples/protocols/stop_and_wait_nak.cpp
awk -v name="$name" '
  index($0, name) { named = 1 }
  named && !inside && $0 == "```cpp" { inside = 1; next }
  inside && $0 == "```" { exit }
  inside { print }' "$root/$guide" >"$work/guide.cpp"
cmp -s "$root/$name" "$work/guide.cpp" || fail "$guide's copy differs from $name"

cd "$work"
sed 's/^Simulation Duration .*/Simulation Duration 5000/' \
  "$root/examples/link.txt" >link.txt
printf 'load link.txt\n\nrun\n\n\nexit\n' >session.in
run() { "$@" <session.in >out.txt 2>&1 || fail "$* exited $?"; }
# The count before WORD ending a clause on the summary line starting PREFIX.
summary() {
  grep "^summary: $1" out.txt | grep -o "[0-9]* $2\(,\|$\)" | cut -d' ' -f1
}
rows() { grep -c "$1" trace.csv || true; }

totals=(0 0)
for lossy in LOSS=0.2:1 LOSS=0.2:2 LOSS=0.2:3 BER=0.0003:1 BER=0.0003:2; do
  seed=${lossy#*:}
  unset LINKSIM_LOSS LINKSIM_BER
  export "LINKSIM_${lossy%:*}" LINKSIM_SEED=$seed LINKSIM_TIMEOUT=60
  LINKSIM_TRACE=trace.csv run "$nak"
  "$check" trace.csv >check.txt || fail "$lossy: $(cat check.txt)"
  naks=$(rows ',sink,send,nak,')
  damaged=$(rows ',sink,lost,data,')
  # One data frame is on the link at a time: one NAK at most is yet to go.
  { [ "$naks" -gt 0 ] && [ "$naks" -le "$damaged" ] &&
    [ "$naks" -ge $((damaged - 1)) ]; } ||
    fail "$lossy: $naks NAKs sent for $damaged damaged data frames"
  # Plain stop-and-wait resends only on a timeout.
  [ "$(rows ',source,resend,data,')" -gt "$(rows ',source,timeout,')" ] ||
    fail "$lossy: no frame went again before its timer fired"
  [ "$(summary 'nak frames' sent)" = "$naks" ] &&
    [ "$(summary 'nak frames' lost)" = "$(rows ',source,lost,nak,')" ] ||
    fail "$lossy: the summary's NAKs differ from the trace's"
  totals[0]=$((totals[0] + $(summary packets acknowledged)))
  run "$plain"
  totals[1]=$((totals[1] + $(summary packets acknowledged)))
done
[ "${totals[0]}" -gt "${totals[1]}" ] ||
  fail "${totals[0]} packets acknowledged with NAKs, ${totals[1]} without"

unset LINKSIM_LOSS LINKSIM_BER
run "$nak"
grep -v '^summary: nak frames: 0 sent, 0 sent again, 0 lost$' out.txt >nak.txt
run "$plain"
cmp -s nak.txt out.txt || fail "without loss it writes other lines"
