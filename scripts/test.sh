#!/usr/bin/env bash
# Builds linksim and runs every check, each a labelled CTest test:
#   check     e2e, valgrind, protocol, bench, package, lint, terminal
#             (Release, as shipped; no GoogleTest program)
#   sanitize  unit, e2e, protocol (clang, ASan + UBSan)
#   fuzz      fuzz (FUZZ_SECONDS per target, default 2; CI runs 60)
#   web       web: the lab's page, built by Emscripten, in headless
#             Chromium, held to the native programs
#   debug     unit, e2e, protocol, built by gcc without sanitizers; only
#             when LINKSIM_TREES names it, as CI does
#   measure   measure: the check tree's instruction counts, which check no
#             figure; only with LINKSIM_MEASURE=ON, as CI runs it, which
#             also builds every benchmark (and its bench test), not only the
#             shipped program's
# The trees are built and tested side by side, so that one tree's
# serial steps (a link, its slowest test) leave no core idle, and the lint
# tests run while the check tree builds; the lint tests and the fuzz tree's
# build at the lowest priority, filling what the others leave idle. Each
# tree's output is shown whole when it ends.
# First it installs what the machine lacks: as root with apt-get, otherwise
# it prints the apt-get line to run and stops. LINKSIM_WERROR=ON makes
# warnings errors; LINKSIM_LONG_SWEEPS=ON runs the protocol tests' whole
# sweeps, three times as long. Nothing is skipped: a missing tool fails. It
# ends with a summary, each tree's tests passed and failed and its time, and
# the whole time, and with status 1 if any tree failed to configure, build
# or pass.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
need() { command -v "$1" >/dev/null || missing+=("$2"); }
need cmake cmake
need make make
need ninja ninja-build
need g++ g++
need clang++ clang
need valgrind valgrind
need tmux tmux
need clear ncurses-bin
need clang-tidy clang-tidy
need clang-format clang-format
need cppcheck cppcheck
need groff groff-base
need gnuplot gnuplot-nox
need dpkg-shlibdeps dpkg-dev
need lintian lintian
need file file
need /usr/bin/time time
need readelf binutils
need emcc emscripten
need chromium chromium
need chromedriver chromium-driver
[ -d /usr/lib/python3/dist-packages/selenium ] || missing+=(python3-selenium)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' \
  >/dev/null || missing+=(libclang-rt-14-dev)
if [ ${#missing[@]} -gt 0 ]; then
  install="apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
  if [ "$(id -u)" != 0 ]; then
    echo "Missing: ${missing[*]}. Install them (as root) and run again:" >&2
    echo "  $install" >&2
    exit 1
  fi
  echo "== Installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# glibc's allocator asks the kernel for huge pages, so clang and clang-tidy
# fault half as often; where a fault costs some 10 us, as on the two-core
# machine this is timed on, the builds and the lint take 5 to 12% less
# time. The programs under test behave the same.
export GLIBC_TUNABLES=${GLIBC_TUNABLES:+$GLIBC_TUNABLES:}glibc.malloc.hugetlb=1

measuring=${LINKSIM_MEASURE:-OFF}
case $measuring in
  ON | OFF) ;;
  *) echo "LINKSIM_MEASURE must be ON or OFF, not '$measuring'" >&2; exit 2 ;;
esac
werror=${LINKSIM_WERROR:-OFF}
# The protocol tests' whole sweeps, where CI runs them; a third otherwise.
sweeps=${LINKSIM_LONG_SWEEPS:-OFF}
case $sweeps in
  ON | OFF) ;;
  *) echo "LINKSIM_LONG_SWEEPS must be ON or OFF, not '$sweeps'" >&2; exit 2 ;;
esac
# The debug tree runs the sanitize tree's tests, built by gcc without
# sanitizers: what it checks, the sanitize tree checks too, so CI alone
# runs it (LINKSIM_TREES="check debug sanitize fuzz web").
read -r -a trees <<<"${LINKSIM_TREES:-check sanitize fuzz web}"
# Each tree but fuzz builds and tests with an equal share of the cores, one
# job at least: the trees run at once, and more jobs than cores only take
# turns, which cost a two-core machine a sixth more CPU time.
builds=0
for preset in "${trees[@]}"; do [ "$preset" = fuzz ] || builds=$((builds + 1)); done
share=$(($(nproc) / (builds > 0 ? builds : 1)))
[ "$share" -gt 0 ] || share=1
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$share}
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$share}
# Every LINKSIM_ variable, these included, is kept from the tests: the
# protocols would warn of the script's own, and run another experiment
# than a test asks for with one of theirs.
while read -r variable; do unset "$variable"; done < <(compgen -e LINKSIM_)
work=$(mktemp -d /tmp/linksim_ctest.XXXXXX)
declare -A lane  # the process group of each tree still running: its preset
# A tree still running when the script ends is ended with it, whole.
cleanup() {
  local pid
  set +m  # no notice of each tree ended
  for pid in "${!lane[@]}"; do kill -- "-$pid" 2>/dev/null || true; done
  wait
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

minutes() { echo "$(($1 / 60)) min $(($1 % 60)) s"; }

# Runs ctest with the options given, its output into NAME.log and its
# summary into NAME.summary: ctest's own count ("N% tests passed, F tests
# failed out of T") and the time; at the niceness PRIORITY, if set. Returns
# 1 unless every test ran and passed.
tests() {
  local name=$1 start=$SECONDS status=0 counts total failures
  shift
  nice -n "${priority:-0}" ctest "$@" >"$work/$name.log" 2>&1 || status=$?
  counts=$(sed -nE 's/^[0-9]+% tests passed, ([0-9]+) tests? failed out of ([0-9]+)$/\2 \1/p' \
    "$work/$name.log")
  if [ -z "$counts" ]; then
    echo "$name: tests did not run" >"$work/$name.summary"
    return 1
  fi
  read -r total failures <<<"$counts"
  echo "$name: $((total - failures)) passed, $failures failed;" \
    "tests $(minutes $((SECONDS - start)))" >"$work/$name.summary"
  [ "$status" = 0 ] && [ "$failures" = 0 ]
}

# Configures, builds and tests tree PRESET: what it writes goes to
# PRESET.build.log and PRESET.log, its summary to PRESET.summary. Returns 1
# if any step failed.
tree() {
  local preset=$1 start=$SECONDS status=0 lint= line
  local options=(-DLINKSIM_WERROR="$werror" -DLINKSIM_LONG_SWEEPS="$sweeps"
    -DLINKSIM_MEASURE="$measuring")
  local rest=()
  [ "$preset" = fuzz ] && options+=(-DLINKSIM_FUZZ_SECONDS="${FUZZ_SECONDS:-2}")
  exec >"$work/$preset.build.log" 2>&1
  # A tree configured for make, as the test trees once were, would refuse
  # the preset's Ninja: it is configured afresh.
  if [ -f "build-$preset/CMakeCache.txt" ] &&
    ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "build-$preset/CMakeCache.txt"; then
    rm -rf "build-$preset/CMakeCache.txt" "build-$preset/CMakeFiles"
  fi
  if ! cmake --preset "$preset" "${options[@]}" >/dev/null; then
    echo "$preset: configure FAILED" >"$work/$preset.summary"
    return 1
  fi
  # The lint tests read the sources and the compile commands alone, so they
  # run while the tree builds, from their own directory (tests/lint), where
  # ctest meets no test binary that may be half linked; at the lowest
  # priority, on every core, in the time the trees leave idle.
  if [ "$preset" = check ]; then
    priority=19 tests lint --test-dir build-check/tests/lint \
      --parallel "$(nproc)" --output-on-failure --no-tests=error &
    lint=$!
    rest=(-E '^lint\.')
  fi
  # The fuzz tree, the smallest, builds in the time the others leave idle;
  # its tests, which fuzz for a set time, run at the usual priority.
  local build_priority=0
  [ "$preset" = fuzz ] && build_priority=19
  if ! nice -n "$build_priority" cmake --build --preset "$preset"; then
    echo "$preset: build FAILED" >"$work/$preset.summary"
    if [ -n "$lint" ]; then wait "$lint" || true; fi
    return 1
  fi
  tests "$preset" --preset "$preset" "${rest[@]}" || status=1
  line=$(cat "$work/$preset.summary")
  echo "$line, with the build $(minutes $((SECONDS - start)))" >"$work/$preset.summary"
  # The measurements need the tree built, and run after its tests, not
  # beside them: two ctest runs in one tree list the test binaries' tests at
  # once, into the same files, and one could find a list half written and
  # run fewer tests without a word.
  if [ "$preset" = check ] && [ "$measuring" = ON ]; then
    tests measure --preset measure || status=1
  fi
  if [ -n "$lint" ]; then wait "$lint" || status=1; fi
  return "$status"
}

# Each tree in a process group of its own, so that it can be ended whole.
set -m
echo "== ${trees[*]}: side by side; each tree's output when it ends"
for preset in "${trees[@]}"; do
  tree "$preset" </dev/null &
  lane[$!]=$preset
done

# Every tree runs to its end even after another fails, so that the summary
# covers all of them; any failure still fails the script.
failed=0
while [ ${#lane[@]} -gt 0 ]; do
  status=0
  wait -n -p pid "${!lane[@]}" || status=$?
  preset=${lane[$pid]}
  unset "lane[$pid]"
  [ "$status" = 0 ] || failed=1
  echo "== $preset"
  cat "$work/$preset.build.log"
  if [ -f "$work/$preset.log" ]; then cat "$work/$preset.log"; fi
  if [ "$preset" = check ]; then
    for part in lint measure; do
      if [ -f "$work/$part.log" ]; then
        echo "== $part (check)"
        cat "$work/$part.log"
      fi
    done
  fi
done

echo "== Summary"
for preset in "${trees[@]}"; do
  cat "$work/$preset.summary"
  if [ "$preset" = check ] && [ -f "$work/lint.summary" ]; then cat "$work/lint.summary"; fi
done
if [ "$measuring" = ON ]; then
  if [ -f "$work/measure.summary" ]; then
    cat "$work/measure.summary"
  else
    echo "measure: did not run, the check tree did not build"
    failed=1
  fi
fi
verdict=passed
[ "$failed" = 0 ] || verdict=FAILED
echo "all trees: $verdict in $(minutes "$SECONDS")"
exit "$failed"
