#!/usr/bin/env bash
# Output that cannot be written, to a full disk or a closed standard output,
# must end with a failure status and one line on standard error.
#
#   lost_output.sh BINARY
set -u
binary=$(realpath "$1")
PATH="$(cd "$(dirname "$0")" && pwd)/bin:$PATH"
cd "$(mktemp -d /tmp/linksim_lost.XXXXXX)" && trap 'rm -rf "$PWD"' EXIT

failures=0
expect() {  # what, exit status, standard error, the reason it must give
  if [ "$2" != 1 ] || [ "$3" != "linksim: write error: $4" ]; then
    printf '%s: exit status %s, standard error:\n%s\n' "$1" "$2" "$3"
    failures=$((failures + 1))
  fi
}
status=0
err=$(printf 'help\n\nexit\n' | "$binary" 2>&1 >/dev/full) || status=$?
expect "full disk" "$status" "$err" "No space left on device"
status=0
err=$("$binary" </dev/null 2>&1 >&-) || status=$?
expect "closed output" "$status" "$err" "Bad file descriptor"
[ "$failures" = 0 ]
