#!/usr/bin/env bash
# Runs one golden session: NAME.in is standard input to BINARY, and the test
# passes when standard output is NAME.out byte for byte and the program ends
# with status 0. It runs in a fresh directory holding files/ and
# examples/link.txt, with the stub clear of bin/ first on PATH. NAME:OUTPUT
# compares with OUTPUT.out instead, for one input that several programs run.
#
#   run_session.sh BINARY NAME[:OUTPUT]
#
# LINKSIM_WRAPPER, when set, goes in front of the binary (valgrind). UPDATE=1
# rewrites NAME.out from what the binary wrote.
set -euo pipefail

binary=$(realpath "$1")
name=${2%%:*}
expected=${2#*:}
sessions=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d /tmp/linksim_session.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/run"
cp -r "$sessions/files/." "$sessions/../../examples/link.txt" "$work/run/"

read -r -a wrapper <<<"${LINKSIM_WRAPPER:-}"
status=0
(cd "$work/run" && PATH="$sessions/bin:$PATH" "${wrapper[@]}" "$binary" \
  <"$sessions/$name.in" >"$work/actual") || status=$?

if [ "${UPDATE:-0}" = 1 ]; then
  cp "$work/actual" "$sessions/$expected.out"
fi
if [ "$status" != 0 ]; then
  echo "$name: exit status $status"
  exit 1
fi
if ! cmp -s "$work/actual" "$sessions/$expected.out"; then
  echo "$name: output differs from $expected.out"
  diff "$sessions/$expected.out" "$work/actual" | head -40 || true
  exit 1
fi
