#!/usr/bin/env bash
# Standard input that cannot be read, closed or a directory, ends the session
# as the end of input does, with the same output as an empty input, but with
# a failure status and one line on standard error.
#
#   failed_input.sh BINARY
set -u
binary=$(realpath "$1")
sessions=$(cd "$(dirname "$0")" && pwd)
PATH="$sessions/bin:$PATH"
cd "$(mktemp -d /tmp/linksim_input.XXXXXX)" && trap 'rm -rf "$PWD"' EXIT

failures=0
check() {  # what, the reason it must give, the command that runs linksim
  local what=$1 reason=$2 status=0 err
  shift 2
  err=$("$@" 2>&1 >output) || status=$?
  if [ "$status" != 1 ] || [ "$err" != "linksim: read error: $reason" ] ||
    ! cmp -s output "$sessions/empty.out"; then
    printf '%s: exit status %s, standard error:\n%s\n' "$what" "$status" "$err"
    diff "$sessions/empty.out" output
    failures=$((failures + 1))
  fi
}
closed() { "$binary" <&-; }
directory() { "$binary" </; }
check "closed input" "Bad file descriptor" closed
check "a directory" "Is a directory" directory
[ "$failures" = 0 ]
