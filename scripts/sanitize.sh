#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer
# (LINKSIM_SANITIZE=ON, in build-sanitize) and runs the whole test suite again:
# the unit tests in process, the end-to-end tests and sessions against the
# sanitized linksim. The first error ends the process that hit it; every
# report is also logged, and any report fails this stage even where a test
# did not look at the exit status.
set -euo pipefail
cd "$(dirname "$0")/.."

werror=${LINKSIM_WERROR:-OFF}
logs=$(mktemp -d /tmp/linksim_sanitize.XXXXXX)
trap 'rm -rf "$logs"' EXIT

echo "== Sanitizer build (ASan + UBSan) and tests"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug \
  -DLINKSIM_SANITIZE=ON -DLINKSIM_WERROR="$werror" >/dev/null
cmake --build build-sanitize -j2

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1:log_path=$logs/asan"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$logs/ubsan"
status=0
ctest --test-dir build-sanitize -j2 --output-on-failure || status=$?

if compgen -G "$logs/*" >/dev/null; then
  echo "Sanitizer reports:"
  cat "$logs"/*
  status=1
fi
[ "$status" = 0 ] && echo "Sanitizer build: clean"
exit "$status"
