#!/usr/bin/env bash
# Builds the Debian package the way the README does, from the release preset
# in a scratch tree, and checks it: the tree builds linksim and no test, the
# package's name, fields and contents (the program, its manual page and the
# example settings) are what a Debian user expects, and the binary it holds,
# extracted with dpkg -x, passes every golden session.
#
#   tests/package_test.sh VERSION [CMAKE_OPTION...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
version=$1
shift

for tool in dpkg dpkg-deb readelf; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed"; exit 1; }
done

work=$(mktemp -d /tmp/linksim_package.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "package test FAILED: $*"; exit 1; }

tree=$work/build
cmake --preset release -B "$tree" "$@" >"$work/configure.log" ||
  { cat "$work/configure.log"; fail "configure"; }
cmake --build "$tree" >"$work/build.log" ||
  { cat "$work/build.log"; fail "build"; }
(cd "$tree" && cpack) >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }

# The tree a newcomer builds first must need nothing but a compiler.
if grep -qiE '^(GTEST|benchmark)_' "$tree/CMakeCache.txt"; then
  fail "the release tree looks for GoogleTest or Google Benchmark"
fi
ctest --test-dir "$tree" -N | grep -qx 'Total Tests: 0' ||
  fail "the release tree has tests"

arch=$(dpkg --print-architecture)
deb=$tree/linksim_${version}_${arch}.deb
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$tree"/*.deb)"

field() { dpkg-deb -f "$deb" "$1"; }
expect_field() {
  local got
  got=$(field "$1")
  [ "$got" = "$2" ] || fail "$1 is '$got', not '$2'"
}
expect_field Package linksim
expect_field Version "$version"
expect_field Architecture "$arch"
expect_field Section science
expect_field Priority optional
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] ||
  fail "Maintainer '$(field Maintainer)' is no 'name <address>'"
# dpkg-shlibdeps ran: the libraries the binary links are declared.
depends=$(field Depends)
for lib in libc6 libstdc++6; do
  [[ $depends =~ (^|, )"$lib (>= "[0-9] ]] ||
    fail "Depends '$depends' lacks a versioned $lib"
done
description=$(field Description)
[ "$(printf '%s\n' "$description" | head -n 1)" != "" ] ||
  fail "no short description"
[ "$(printf '%s\n' "$description" | wc -l)" -ge 3 ] ||
  fail "no long description"
if printf '%s\n' "$description" | awk 'length > 80 { bad = 1 } END { exit !bad }'; then
  fail "a description line is longer than 80 columns"
fi

# Files only, with their modes and owners; directories come with them.
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6 }' >"$work/files"
cat >"$work/expected" <<'EOF'
-rwxr-xr-x root/root ./usr/bin/linksim
-rw-r--r-- root/root ./usr/share/doc/linksim/examples/link.txt
-rw-r--r-- root/root ./usr/share/man/man1/linksim.1.gz
EOF
diff -u "$work/expected" "$work/files" || fail "the package holds other files"

dpkg -x "$deb" "$work/root"
binary=$work/root/usr/bin/linksim
if readelf -S "$binary" | grep -q '\.symtab'; then
  fail "usr/bin/linksim is not stripped"
fi
gzip -dc "$work/root/usr/share/man/man1/linksim.1.gz" | cmp -s - docs/linksim.1 ||
  fail "linksim.1.gz is not docs/linksim.1, gzipped"
# The manual page's examples load it by this path.
cmp -s "$work/root/usr/share/doc/linksim/examples/link.txt" examples/link.txt ||
  fail "usr/share/doc/linksim/examples/link.txt is not examples/link.txt"

for input in tests/sessions/*.in; do
  bash tests/sessions/run_session.sh "$binary" "$(basename "$input" .in)" ||
    fail "the packaged linksim fails a session"
done
echo "package test passed: $(basename "$deb")"
