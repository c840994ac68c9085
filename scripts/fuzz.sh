#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang (in build-fuzz) and
# runs each for FUZZ_SECONDS (default 60) on a copy of its checked-in seed
# corpus, so the checkout stays as it is. Loading the corpus replays every
# seed first, so crashes found earlier and kept there are regression cases.
# A crash, leak, timeout or failed property fails the stage and leaves the
# input under /tmp; add it to tests/fuzz/corpus/<target>/ once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-"settings lines queue console"}
werror=${LINKSIM_WERROR:-OFF}

probe=$(mktemp -d /tmp/linksim_fuzzprobe.XXXXXX)
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
  >"$probe/probe.cpp"
if ! command -v clang++ >/dev/null ||
  ! clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" \
    -o "$probe/probe" 2>/dev/null; then
  rm -rf "$probe"
  echo "== Fuzzing: SKIPPED, clang++ with libFuzzer is not available"
  exit 0
fi
rm -rf "$probe"

echo "== Fuzzing: ${seconds}s per target ($targets)"
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release \
  -DLINKSIM_FUZZ=ON -DLINKSIM_TESTS=OFF -DLINKSIM_WERROR="$werror" >/dev/null
cmake --build build-fuzz -j2 --target $(printf 'fuzz_%s ' $targets)

failed=0
for target in $targets; do
  work=$(mktemp -d "/tmp/linksim_fuzz_$target.XXXXXX")
  cp -r "$root/tests/fuzz/corpus/$target" "$work/corpus"
  dict=()
  [ -f "$root/tests/fuzz/$target.dict" ] &&
    dict=(-dict="$root/tests/fuzz/$target.dict")
  seeds=$(find "$work/corpus" -type f | wc -l)
  # TMPDIR: the target's scratch files stay with its log when it fails.
  if TMPDIR=$work "$root/build-fuzz/tests/fuzz/fuzz_$target" "${dict[@]}" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$work/" "$work/corpus" >"$work/log" 2>&1; then
    echo "fuzz_$target: $(grep -o 'Done [0-9]* runs.*' "$work/log"), corpus $seeds -> $(find "$work/corpus" -type f | wc -l) inputs"
    rm -rf "$work"
  else
    echo "fuzz_$target: FAILED; log and input kept in $work"
    grep -E -A30 '==ERROR|property failed|runtime error|ERROR: libFuzzer' \
      "$work/log" | head -60 || tail -40 "$work/log"
    ls "$work" | grep -E '^(crash|leak|timeout|oom)-' || true
    failed=1
  fi
done
exit "$failed"
