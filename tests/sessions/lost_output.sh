#!/usr/bin/env bash
# Output that cannot be written, to a full disk, a closed standard output or
# a pipe nobody reads, must end linksim at once, even with input that never
# ends: a failure status and one line on standard error. A linksim that
# carried on would never end here; the test's timeout turns that into a
# failure.
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
err=$(yes help | "$binary" 2>&1 >/dev/full) || status=$?
expect "full disk" "$status" "$err" "No space left on device"
status=0
err=$("$binary" </dev/null 2>&1 >&-) || status=$?
expect "closed output" "$status" "$err" "Bad file descriptor"
# With SIGPIPE ignored, a write to a pipe whose reader has gone fails.
(
  trap '' PIPE
  yes 2>/dev/null | "$binary" 2>errors
  echo $? >status
) | true
expect "reader gone" "$(cat status)" "$(cat errors)" "Broken pipe"
[ "$failures" = 0 ]
