#!/usr/bin/env bash
# Makes the Debian package from a built release tree and checks it: the
# release preset, which a newcomer builds first, configures with no test
# and no test library; the package's name, fields and contents (the
# programs, their manual pages, the README and the manual with its
# pictures, the copyright and the changelog, the example settings, the
# studies, the exercise sets and the page) are what a Debian user expects,
# and lintian finds no error or warning in it; the manual's links, and the
# files the manual pages and every --help name, are where it installs them;
# the linksim it holds, extracted with dpkg -x, passes every golden
# session; and its other commands work from there: linksim-arq with a
# protocol and a trace, linksim-check on that trace, linksim-study in an
# empty directory, linksim-exercise and linksim-lab.
#
#   tests/package_test.sh VERSION TREE [CMAKE_OPTION...]
#
# TREE is a Release tree already built, the check tree in the test: its
# programs are built with the release preset's flags, so cpack packages
# them as they are, not built a second time; the package and cpack's
# staging go to a scratch directory, not into TREE.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$1
tree=$2
shift 2

for tool in dpkg dpkg-deb dpkg-parsechangelog readelf lintian; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed"; exit 1; }
done

work=$(mktemp -d /tmp/linksim_package.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "package test FAILED: $*"; exit 1; }

grep -qx 'CMAKE_BUILD_TYPE:STRING=Release' "$tree/CMakeCache.txt" ||
  fail "$tree is not a Release tree"
# The tree a newcomer builds first must need nothing but a compiler.
release=$work/release
cmake --preset release -B "$release" "$@" >"$work/configure.log" ||
  { cat "$work/configure.log"; fail "configure"; }
if grep -qiE '^(GTEST|benchmark)_' "$release/CMakeCache.txt"; then
  fail "the release tree looks for GoogleTest or Google Benchmark"
fi
ctest --test-dir "$release" -N | grep -qx 'Total Tests: 0' ||
  fail "the release tree has tests"
(cd "$tree" && cpack -B "$work/package") >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }

arch=$(dpkg --print-architecture)
deb=$work/package/linksim_${version}_${arch}.deb
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$work/package")"

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
# awk, which the studies need, is on every Debian system; linksim-lab may
# start sensible-browser; gnuplot draws the studies' pictures, but is not
# required.
[[ $depends =~ (^|, )"sensible-utils"(,|$) ]] || fail "Depends '$depends' lacks sensible-utils"
[[ ! $depends =~ awk ]] || fail "Depends '$depends' names awk"
expect_field Suggests "gnuplot-nox | gnuplot"
description=$(field Description)
[ "$(printf '%s\n' "$description" | head -n 1)" != "" ] ||
  fail "no short description"
[ "$(printf '%s\n' "$description" | wc -l)" -ge 3 ] ||
  fail "no long description"
if printf '%s\n' "$description" | awk 'length > 80 { bad = 1 } END { exit !bad }'; then
  fail "a description line is longer than 80 columns"
fi
programs="linksim linksim-arq linksim-check linksim-study linksim-exercise linksim-lab"
pages=$programs
studies=$(for study in studies/*.sh; do study=${study#studies/} && echo "${study%.sh}" | tr _ -; done)
for name in $programs $studies; do
  grep -qw -- "$name" <<<"$description" || fail "the description does not name $name"
done

# Files only, with their modes and owners; directories come with them.
manual=$(ls docs/*.md docs/*.png)
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | sort >"$work/files"
{
  for program in $programs; do echo "-rwxr-xr-x root/root ./usr/bin/$program"; done
  for page in $pages; do
    echo "-rw-r--r-- root/root ./usr/share/man/man1/$page.1.gz"
  done
  for file in examples/link.txt README.md copyright changelog.gz $manual; do
    echo "-rw-r--r-- root/root ./usr/share/doc/linksim/$file"
  done
  for study in studies/*.sh; do
    echo "-rwxr-xr-x root/root ./usr/share/linksim/$study"
  done
  echo "-rw-r--r-- root/root ./usr/share/linksim/studies/study.bash"
  for set in exercises/*.txt; do
    echo "-rw-r--r-- root/root ./usr/share/linksim/$set"
  done
  echo "-rw-r--r-- root/root ./usr/share/linksim/lab.html"
} | sort >"$work/expected"
diff -u "$work/expected" "$work/files" || fail "the package holds other files"

dpkg -x "$deb" "$work/root"
bin=$work/root/usr/bin
binary=$bin/linksim
for program in $programs; do
  case $program in linksim-study | linksim-lab) continue ;; esac
  if readelf -S "$bin/$program" | grep -q '\.symtab'; then
    fail "usr/bin/$program is not stripped"
  fi
done
for page in $pages; do
  gzip -dc "$work/root/usr/share/man/man1/$page.1.gz" | cmp -s - "docs/$page.1" ||
    fail "$page.1.gz is not docs/$page.1, gzipped"
done
cmp -s "$work/root/usr/share/linksim/lab.html" "$tree/lab.html" ||
  fail "usr/share/linksim/lab.html is not the page the tree made"
# The manual pages' examples load it by this path.
doc=$work/root/usr/share/doc/linksim
cmp -s "$doc/examples/link.txt" examples/link.txt ||
  fail "usr/share/doc/linksim/examples/link.txt is not examples/link.txt"
for file in README.md copyright $manual; do
  source=${file/#copyright/packaging\/copyright}
  cmp -s "$doc/$file" "$source" || fail "usr/share/doc/linksim/$file is not $source"
done
gzip -dc "$doc/changelog.gz" | cmp -s - packaging/changelog ||
  fail "changelog.gz is not packaging/changelog, gzipped"
[ "$(dpkg-parsechangelog -l packaging/changelog -S Version)" = "$version" ] ||
  fail "the changelog's last entry is not version $version"
# Lintian's errors and warnings; its notes (a page kept beside the data it
# needs, the default build flags) are left.
lintian --fail-on error,warning --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log"; fail "lintian"; }

# Every link of the installed manual reaches a file it installs, and an
# anchor a heading of that page, spelt as a Markdown renderer makes it.
anchors() {
  sed -n 's/^#\{1,6\} //p' "$1" | tr 'A-Z' 'a-z' | sed 's/[^a-z0-9 _-]//g; s/ /-/g'
}
for page in "$doc/README.md" "$doc"/docs/*.md; do
  while read -r target; do
    file=${target%%#*} anchor=${target#"$file"}
    [ -n "$file" ] && file=$(dirname "$page")/$file || file=$page
    [ -e "$file" ] || fail "${page#"$doc"/} links to ${target}, which is not installed"
    [ -z "$anchor" ] || anchors "$file" | grep -qxF -- "${anchor#\#}" ||
      fail "${page#"$doc"/} links to ${target}, which has no such heading"
  done < <(grep -o '](\([^)]*\))' "$page" | sed 's/^](//; s/)$//' | grep -v '^[a-z]*:')
done
# Every installed file a manual page or a --help names is there, and no
# --help names the source tree. A study's help names its guide.
for path in $(for page in $pages; do gzip -dc "$work/root/usr/share/man/man1/$page.1.gz"; done |
                sed 's/\\-/-/g' | grep -o '/usr/share/[A-Za-z0-9_./-]*[A-Za-z0-9_/]'); do
  [ -e "$work/root$path" ] || fail "a manual page names $path, which is not installed"
done
# linksim takes no argument: the console alone.
helps=$(for program in ${programs#linksim }; do echo "$program --help"; done
        for study in $studies; do echo "linksim-study $study --help"; done)
while read -r program arguments; do
  "$bin/$program" $arguments >"$work/help" 2>&1 || fail "$program $arguments: status $?"
  for path in $(grep -o "$work/root/[A-Za-z0-9_./-]*" "$work/help"); do
    [ -e "$path" ] || fail "$program $arguments names ${path#"$work/root"}, which is not installed"
  done
  ! grep -qiE 'source tree|studies/[a-z_]*\.sh|\.cpp|build/' "$work/help" ||
    fail "$program $arguments names the source tree"
  [ "$arguments" = --help ] ||
    grep -qx "What the picture shows, and why: $doc/docs/lab.md" "$work/help" ||
    fail "$program $arguments does not name the lab guide"
done <<<"$helps"

for input in tests/sessions/*.in; do
  bash tests/sessions/run_session.sh "$binary" "$(basename "$input" .in)" ||
    fail "the packaged linksim fails a session"
done

# The lab, from the package alone, in an empty directory: Go-Back-N on the
# example link with loss and a trace, the trace checked, and a study.
mkdir "$work/empty"
cd "$work/empty"
LINKSIM_ARQ=go-back-n LINKSIM_LOSS=0.1 LINKSIM_TRACE=trace.csv \
  "$bin/linksim-arq" "$work/root/usr/share/doc/linksim/examples/link.txt" \
  >arq.out 2>&1 || { cat arq.out; fail "the packaged linksim-arq failed"; }
grep -q '^summary: packets: [1-9][0-9]* acknowledged' arq.out &&
  grep -q ',lost,' trace.csv || { cat arq.out; fail "linksim-arq ran no lossy run"; }
"$bin/linksim-check" trace.csv | grep -q ': ok: ' ||
  fail "the packaged linksim-check fails linksim-arq's trace"
mkdir study && cd study
status=0
"$bin/linksim-study" timeline out 2>../study.log || status=$?
if command -v gnuplot >/dev/null; then
  [ $status = 0 ] && [ -s out/timeline.png ] || status=99
else
  [ $status = 1 ] && grep -q 'gnuplot is not installed' ../study.log || status=99
fi
[ $status != 99 ] && [ -s out/timeline.csv ] ||
  { cat ../study.log; fail "the packaged linksim-study timeline failed"; }
# An exercise from the package: a student's key row, written as answers,
# grades as full marks with the packaged linksim-arq.
cd "$work/empty"
set=$work/root/usr/share/linksim/exercises/window_limit.txt
echo s1234567 >class.txt
"$bin/linksim-exercise" key "$set" class.txt >key.csv &&
  "$bin/linksim-exercise" sheet "$set" s1234567 | grep -q '^## Questions$' ||
  fail "the packaged linksim-exercise fails its key or its sheet"
questions=$(head -n 1 key.csv | tr , '\n' | grep -c '^q')
tail -n 1 key.csv | tr , '\n' | tail -n "$questions" >answers.txt
"$bin/linksim-exercise" grade "$set" s1234567 answers.txt | tail -n 1 |
  grep -qx "score: $questions of $questions" ||
  fail "the packaged linksim-exercise does not grade its own key as right"
# linksim-lab prints the page's address where no browser can be started,
# and starts the one BROWSER names, with the scenario, where one can.
page="file://$work/root/usr/share/linksim/lab.html"
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$bin/linksim-lab" 'LINKSIM_WINDOW=4')" = "$page#LINKSIM_WINDOW=4" ] ||
  fail "linksim-lab without a display does not print the page's address"
printf '#!/bin/sh\necho "$1" >"%s/opened"\n' "$work" >"$work/browser" && chmod +x "$work/browser"
DISPLAY=:99 BROWSER="$work/browser" "$bin/linksim-lab"
for _ in 1 2 3 4 5 6 7 8 9 10; do [ -s "$work/opened" ] && break; sleep 0.1; done
[ "$(cat "$work/opened" 2>/dev/null)" = "$page" ] || fail "linksim-lab does not start BROWSER"
echo "package test passed: $(basename "$deb")"
