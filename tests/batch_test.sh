#!/usr/bin/env bash
# linksim-arq FILE: one run of the settings file, with nothing of the
# console's. Each protocol, lossy, writes on standard output the run's own
# lines, byte for byte those of the same run at the prompt, and the same
# trace and stats; then a table of command lines and what each must end
# with: its status, its standard error, and nothing on standard output but
# for a run.
#
#   batch_test.sh LINKSIM_ARQ
set -u
arq=$(realpath "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
export PATH="$root/tests/sessions/bin:$PATH"
cd "$(mktemp -d /tmp/linksim_batch.XXXXXX)" && trap 'rm -rf "$PWD"' EXIT
cp "$root/examples/link.txt" link.txt
sed 's/^Bit Rate .*/Bit Rate 0/' link.txt >rejected.txt
# A name longer than the console's field, whose first 255 characters name
# another file: cut, it would run that one.
long=$(printf 'd%.0s' {1..250})
mkdir "$long" && cp rejected.txt "$long/abcd" && cp link.txt "$long/abcdefg"

failures=0
fail() { echo "$*"; failures=$((failures + 1)); }

session=$'load link.txt\n\nrun\n\n\nexit'
for protocol in stop-and-wait go-back-n selective-repeat sliding-window; do
  for mode in console batch; do
    rm -f "$mode.stats"
    (export LINKSIM_ARQ=$protocol LINKSIM_LOSS=0.2 LINKSIM_SEED=3 \
      LINKSIM_TRACE=$mode.trace LINKSIM_STATS=$mode.stats &&
      if [ $mode = console ]; then
        exec "$arq" <<<"$session" >console.out 2>/dev/null
      else
        exec "$arq" link.txt >batch.out 2>batch.err
      fi) || fail "$protocol: the run ended with status $?"
  done
  # The console's lines around the run's, and its pause's prompt before them.
  sed -n 's/^Press any key to continue\.\.\.//; /^acknowledged\|^summary: /p' \
    console.out >run.out
  cmp -s run.out batch.out || fail "$protocol writes other lines in a batch"
  [ "$protocol" = sliding-window ] || [ ! -s batch.err ] ||
    fail "$protocol: $(<batch.err)"
  for file in trace stats; do
    cmp -s console.$file batch.$file || fail "$protocol: another $file"
  done
done

# The arguments (as the shell reads them), variables, the status, standard
# error's first line ("" for none), and where standard output goes.
rows=(
  "link.txt@LINKSIM_ARQ=go-back-n@0@"
  "missing.txt@-@3@Error in opening settings file"
  "rejected.txt@-@3@Invalid value for Bit Rate (0.000000)"
  "''@-@3@No topology file mentioned to load"
  "$long/abcdefg@-@3@Error in opening settings file"
  "link.txt link.txt@-@2@usage: linksim-arq [SETTINGS_FILE]"
  "link.txt@LINKSIM_ARQ=go-back-n LINKSIM_WINDOW=0@2@linksim: LINKSIM_WINDOW must be a whole number from 1 to 65536"
  "link.txt@-@1@linksim: write error: No space left on device@/dev/full"
)
# Standard input has a writer that never writes: a batch that read it would
# wait until the timeout ends it.
mkfifo input && exec 3<>input
for row in "${rows[@]}"; do
  IFS='@' read -r arguments variables status message output <<<"$row"
  [ "$variables" = - ] && variables=
  eval "words=($arguments)"
  rm -f out
  # shellcheck disable=SC2086  # the variables are words of their own
  (export LINKSIM_ARQ=go-back-n $variables &&
    exec timeout 10 "$arq" "${words[@]}" <input >"${output:-out}" 2>err)
  got=$?
  [ "$got" = "$status" ] && [ "$(head -n1 err)" = "$message" ] &&
    { [ "$status" = 0 ] || [ ! -s out ]; } ||
    fail "linksim-arq $arguments ($variables): status $got, \"$(head -n1 err)\""
done
exec 3>&-
[ "$failures" = 0 ]
