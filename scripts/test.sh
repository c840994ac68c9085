#!/usr/bin/env bash
# Builds linksim and runs every check, each a labelled CTest test:
#   check     unit, e2e, valgrind, protocol, bench, package, lint, terminal
#   debug     unit, e2e, protocol
#   sanitize  unit, e2e, protocol (ASan + UBSan)
#   fuzz      fuzz (FUZZ_SECONDS per target, default 10)
# First it installs what the machine lacks: as root with apt-get, otherwise
# it prints the apt-get line to run and stops. LINKSIM_WERROR=ON makes
# warnings errors. Nothing is skipped: a missing tool fails. It ends with a
# summary, each tree's tests passed and failed and the whole time, and with
# status 1 if any tree failed to configure, build or pass.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
need() { command -v "$1" >/dev/null || missing+=("$2"); }
need cmake cmake
need make make
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
need file file
need /usr/bin/time time
need readelf binutils
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

export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}
# Every tree is tried even after one fails, so that the summary covers all
# of them; any failure still fails the script.
summary=()
failed=0
log=$(mktemp /tmp/linksim_ctest.XXXXXX)
trap 'rm -f "$log"' EXIT
for preset in check debug sanitize fuzz; do
  echo "== $preset"
  options=(-DLINKSIM_WERROR="${LINKSIM_WERROR:-OFF}")
  [ "$preset" = fuzz ] && options+=(-DLINKSIM_FUZZ_SECONDS="${FUZZ_SECONDS:-10}")
  if ! cmake --preset "$preset" "${options[@]}" >/dev/null; then
    summary+=("$preset: configure FAILED")
    failed=1
    continue
  fi
  if ! cmake --build --preset "$preset"; then
    summary+=("$preset: build FAILED")
    failed=1
    continue
  fi
  status=0
  ctest --preset "$preset" | tee "$log" || status=$?
  # ctest's own count: "N% tests passed, F tests failed out of T".
  counts=$(sed -nE 's/^[0-9]+% tests passed, ([0-9]+) tests? failed out of ([0-9]+)$/\2 \1/p' "$log")
  if [ -n "$counts" ]; then
    read -r total failures <<<"$counts"
    summary+=("$preset: $((total - failures)) passed, $failures failed")
  else
    summary+=("$preset: tests did not run")
  fi
  if [ "$status" != 0 ] || [ "${failures:-1}" != 0 ]; then failed=1; fi
  unset failures
done

echo "== Summary"
printf '%s\n' "${summary[@]}"
verdict=passed
[ "$failed" = 0 ] || verdict=FAILED
echo "all trees: $verdict in $((SECONDS / 60)) min $((SECONDS % 60)) s"
exit "$failed"
