#!/usr/bin/env bash
# Builds linksim and runs every check, each a labelled CTest test:
#   check     unit, e2e, valgrind, protocol, bench, package, lint, terminal
#   debug     unit, e2e, protocol
#   sanitize  unit, e2e, protocol (ASan + UBSan)
#   fuzz      fuzz (FUZZ_SECONDS per target, default 10)
# First it installs what the machine lacks: as root with apt-get, otherwise
# it prints the apt-get line to run and stops. LINKSIM_WERROR=ON makes
# warnings errors. Nothing is skipped: a missing tool fails.
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
for preset in check debug sanitize fuzz; do
  echo "== $preset"
  options=(-DLINKSIM_WERROR="${LINKSIM_WERROR:-OFF}")
  [ "$preset" = fuzz ] && options+=(-DLINKSIM_FUZZ_SECONDS="${FUZZ_SECONDS:-10}")
  cmake --preset "$preset" "${options[@]}" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
