#!/usr/bin/env bash
# Runs the scripted console sessions of tests/sessions against a linksim
# binary: each NAME.in is standard input, NAME.out the exact expected standard
# output, and the program must end with status 0.
#
#   scripts/run_sessions.sh BINARY            check every session
#   scripts/run_sessions.sh --update BINARY   rewrite the .out files
#
# LINKSIM_WRAPPER, when set, is put in front of the binary (for example a
# valgrind command line). Each session runs in a fresh directory holding the
# files of tests/sessions/files and examples/link.txt, with a stub "clear"
# first on PATH that prints [clear] instead of clearing.
set -euo pipefail

update=0
if [ "${1:-}" = "--update" ]; then
  update=1
  shift
fi
binary=$(realpath "${1:?usage: run_sessions.sh [--update] BINARY}")
root=$(cd "$(dirname "$0")/.." && pwd)
sessions=$root/tests/sessions

work=$(mktemp -d /tmp/linksim_sessions.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
printf '#!/bin/sh\nprintf "[clear]"\n' >"$work/bin/clear"
chmod +x "$work/bin/clear"

read -r -a wrapper <<<"${LINKSIM_WRAPPER:-}"
failures=0
for input in "$sessions"/*.in; do
  name=$(basename "$input" .in)
  dir=$work/$name
  mkdir "$dir"
  cp -r "$sessions/files/." "$dir/"
  cp "$root/examples/link.txt" "$dir/"
  status=0
  (cd "$dir" && PATH="$work/bin:$PATH" "${wrapper[@]}" "$binary" \
    <"$input" >"$work/$name.actual") || status=$?
  if [ "$update" = 1 ]; then
    cp "$work/$name.actual" "$sessions/$name.out"
  fi
  if [ "$status" != 0 ]; then
    echo "FAIL $name: exit status $status"
    failures=$((failures + 1))
  elif ! cmp -s "$work/$name.actual" "$sessions/$name.out"; then
    echo "FAIL $name: output differs from $name.out"
    diff "$sessions/$name.out" "$work/$name.actual" | head -20 || true
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
done
[ "$failures" = 0 ]
