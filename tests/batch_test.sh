#!/usr/bin/env bash
# linksim-arq FILE: one run, with nothing of the console's. Each protocol,
# lossy, writes the run's own lines, trace and stats, byte for byte those of
# the same run at the prompt; then a row per way it ends: its status, its
# standard error, nothing on standard output but for a run or the help, and
# standard input, whose writer never writes, never read.
#
#   batch_test.sh LINKSIM_ARQ
set -u
arq=$(realpath "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
export PATH="$root/tests/sessions/bin:$PATH"
cd "$(mktemp -d /tmp/linksim_batch.XXXXXX)" && trap 'rm -rf "$PWD"' EXIT
cp "$root/examples/link.txt" link.txt
sed 's/^Bit Rate .*/Bit Rate 0/' link.txt >rejected.txt
# Over the console's 255 characters; cut there, it would name abcd.
long=$(printf 'd%.0s' {1..250}) && mkdir "$long" &&
  cp rejected.txt "$long/abcd" && cp link.txt "$long/abcdefg"
failures=0
fail() { echo "$*"; failures=$((failures + 1)); }

for protocol in stop-and-wait go-back-n selective-repeat sliding-window; do
  export LINKSIM_ARQ=$protocol LINKSIM_LOSS=0.2 LINKSIM_SEED=3
  rm -f console.stats batch.stats
  (LINKSIM_TRACE=console.trace LINKSIM_STATS=console.stats exec "$arq" \
    <<<$'load link.txt\n\nrun\n\n\nexit' >console.out 2>/dev/null)
  (LINKSIM_TRACE=batch.trace LINKSIM_STATS=batch.stats exec "$arq" link.txt \
    >batch.out 2>/dev/null) || fail "$protocol: status $?"
  # The run's lines, the first after the pause's prompt.
  sed -n 's/^Press any key to continue\.\.\.//; /^acknowledged\|^summary: /p' \
    console.out | cmp -s - batch.out || fail "$protocol: other lines"
  for file in trace stats; do
    cmp -s console.$file batch.$file || fail "$protocol: another $file"
  done
done
unset LINKSIM_LOSS LINKSIM_SEED

# Arguments (as the shell reads them), variables, status, standard error's
# first line, and where standard output goes.
rows=(
  "link.txt@-@0@"
  "missing.txt@-@3@Error in opening settings file"
  "rejected.txt@-@3@Invalid value for Bit Rate (0.000000)"
  "''@-@3@No topology file mentioned to load"
  "$long/abcdefg@-@3@Error in opening settings file"
  "link.txt link.txt@-@2@usage: linksim-arq [SETTINGS_FILE]"
  "link.txt@LINKSIM_WINDOW=0@2@linksim: LINKSIM_WINDOW must be a whole number from 1 to 65536"
  "link.txt@-@1@linksim: write error: No space left on device@/dev/full"
  "--help@LINKSIM_WINDOW=0@0@"
  "-h@-@1@linksim: write error: No space left on device@/dev/full"
)
mkfifo input && exec 3<>input
for row in "${rows[@]}"; do
  IFS='@' read -r arguments variables status message output <<<"$row"
  eval "words=($arguments)" && rm -f out
  (export LINKSIM_ARQ=go-back-n ${variables#-} &&
    exec timeout 10 "$arq" "${words[@]}" <input >"${output:-out}" 2>err)
  got=$?
  [ "$got" = "$status" ] && [ "$(head -n1 err)" = "$message" ] &&
    { [ "$status" = 0 ] || [ ! -s out ]; } ||
    fail "linksim-arq $arguments: status $got, \"$(head -n1 err)\""
done
# The help, before any variable is read: the usage, and every variable the
# manual page lists.
"$arq" --help >out 2>/dev/null && [ "$(head -n1 out)" = "usage: linksim-arq [SETTINGS_FILE]" ] ||
  fail "linksim-arq --help: no usage"
for name in $(sed -n 's/^\.B \(LINKSIM_[A-Z][A-Z_]*\)$/\1/p' "$root/docs/linksim-arq.1" | sort -u); do
  grep -q "^  $name " out || fail "linksim-arq --help does not list $name"
done
[ "$failures" = 0 ]
