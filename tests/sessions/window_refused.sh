#!/usr/bin/env bash
# A window LINKSIM_WINDOW does not allow ends the program before it writes a
# line: one line on standard error, exit status 2. The bounds themselves are
# accepted.
#
#   window_refused.sh BINARY
set -u
binary=$(realpath "$1")
PATH="$(cd "$(dirname "$0")" && pwd)/bin:$PATH"
message="linksim: LINKSIM_WINDOW must be a whole number from 1 to 65536"

out=$(mktemp /tmp/linksim_window.XXXXXX)
trap 'rm -f "$out"' EXIT
failures=0
for window in 0 65537 -1 +8 " 8" 8x abc 1e3 "" 99999999999999999999; do
  status=0
  err=$(printf 'exit\n' | LINKSIM_WINDOW="$window" "$binary" 2>&1 >"$out") ||
    status=$?
  if [ "$status" != 2 ] || [ "$err" != "$message" ] || [ -s "$out" ]; then
    printf 'window "%s": status %s, standard error "%s"\n' "$window" "$status" "$err"
    failures=$((failures + 1))
  fi
done
for window in 1 65536 0065536; do
  if ! printf 'exit\n' | LINKSIM_WINDOW="$window" "$binary" >/dev/null; then
    echo "window \"$window\" was refused"
    failures=$((failures + 1))
  fi
done
[ "$failures" = 0 ]
