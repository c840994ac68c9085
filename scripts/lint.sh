#!/usr/bin/env bash
# Static checks: the formatting of every C++ file (.clang-format), clang-tidy
# (.clang-tidy) and cppcheck over the program's own code in src/, both from
# build-lint/compile_commands.json. Any finding fails the stage; a missing tool is
# reported as skipped.
set -euo pipefail
cd "$(dirname "$0")/.."

werror=${LINKSIM_WERROR:-OFF}
status=0
mapfile -t all_files < <(find src tests -name '*.cpp' -o -name '*.h' | sort)
mapfile -t src_files < <(find src -name '*.cpp' | sort)

# A build tree of its own, without link-time optimisation: clang-tidy reads
# the compile commands, and gcc's LTO flags mean nothing to it.
cmake -S . -B build-lint -DLINKSIM_IPO=OFF -DLINKSIM_BENCH=OFF \
  -DLINKSIM_WERROR="$werror" >/dev/null

echo "== clang-format"
if command -v clang-format >/dev/null; then
  if clang-format --dry-run --Werror "${all_files[@]}"; then
    echo "clang-format: ${#all_files[@]} files formatted"
  else
    echo "clang-format: files differ; run clang-format -i on them"
    status=1
  fi
else
  echo "clang-format: SKIPPED, not installed"
fi

echo "== clang-tidy"
if command -v clang-tidy >/dev/null; then
  if report=$(clang-tidy -p build-lint --quiet "${src_files[@]}" 2>&1); then
    echo "clang-tidy: clean (${#src_files[@]} files)"
  else
    printf '%s\n' "$report" | grep -vE '^[0-9]+ warnings? generated' || true
    status=1
  fi
else
  echo "clang-tidy: SKIPPED, not installed"
fi

echo "== cppcheck"
if command -v cppcheck >/dev/null; then
  # useStlAlgorithm: it asks for std::find_if over loops that print and
  # return at the first match, which would read worse.
  if cppcheck --project=build-lint/compile_commands.json \
    --file-filter='src/*' \
    --enable=warning,style,performance,portability --std=c++17 \
    --inline-suppr --suppress=missingIncludeSystem \
    --suppress=useStlAlgorithm --error-exitcode=1 -q; then
    echo "cppcheck: clean"
  else
    status=1
  fi
else
  echo "cppcheck: SKIPPED, not installed"
fi
exit "$status"
