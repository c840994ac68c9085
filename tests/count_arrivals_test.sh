#!/usr/bin/env bash
# The manual's first protocol, used as an author would: the copy in
# docs/protocols.md is examples/protocols/count_arrivals.cpp byte for byte;
# copied to a directory outside the source tree and named relative to the
# directory cmake runs in, it is found and compiles, finding
# "protocol_kit.h"; and a session of two runs of examples/link.txt counts
# what the page says each time. The session runs PROGRAM, the tree's own
# build of the file, linked as every protocol is: linking it outside the
# tree meant building all of linksim again, four fifths of this test's time.
#
#   count_arrivals_test.sh PROGRAM [CMAKE_OPTION...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program=$(realpath "$1")
shift
name=examples/protocols/count_arrivals.cpp
work=$(mktemp -d /tmp/linksim_count_arrivals.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "count_arrivals test FAILED: $*"; exit 1; }

# The page's copy: the first cpp block after the file is first named.
awk -v name="$name" '
  index($0, name) { named = 1 }
  named && !inside && $0 == "```cpp" { inside = 1; next }
  inside && $0 == "```" { exit }
  inside { print }' "$root/docs/protocols.md" >"$work/count_arrivals.cpp"
cmp -s "$root/$name" "$work/count_arrivals.cpp" ||
  fail "the copy in docs/protocols.md differs from $name"

(cd "$work" && cmake -G "Unix Makefiles" -S "$root" -B build \
  -DCMAKE_BUILD_TYPE=Release -DLINKSIM_PROTOCOL=count_arrivals.cpp "$@") \
  >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configure"; }
# Make's TARGET/fast builds the protocol's object alone, not the libraries
# it is linked with.
cmake --build "$work/build" --target linksim_protocol/fast >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "compile"; }

# 864-bit packets, one a tick, each due 14.64 ticks after it is made, so
# those of clocks 0 to 485 arrive by the last tick, 499.
mkdir "$work/run" && cp "$root/examples/link.txt" "$work/run/"
counts=$(cd "$work/run" && PATH="$root/tests/sessions/bin:$PATH" \
  "$program" <"$root/tests/sessions/protocol/link.in" |
  grep -ao '[0-9]* packets arrived' | tr '\n' ,)
[ "$counts" = "486 packets arrived,486 packets arrived," ] ||
  fail "two runs counted '$counts'"
