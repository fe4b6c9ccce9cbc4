#!/usr/bin/env bash
# Builds the project with gcov instrumentation (preset coverage), runs the plug-in's and the
# platform's tests and measures which lines and branches of abi/, plugin/, model/
# and platform/ they reach. Fails below 95% of lines or 90% of branches.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$PWD/build/coverage
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))

cmake --preset coverage >/dev/null
find "$build" -name '*.gcda' -delete  # stale counts clash with a rebuilt object
cmake --build --preset coverage -j "$jobs" >/dev/null
find "$build" -name '*.gcda' -delete  # test discovery ran the binaries while building

# The reference host's and simulator's tests measure the host, and the
# cross-checks need outside tools: they stay out, as slow cases do.
mapfile -t binaries < <(find "$build/tests" -type f -executable -name '*_tests' \
  -not -path '*/tests/host/*' -not -path '*/tests/simulation/*' -not -name '*crosscheck*' | sort)
for binary in "${binaries[@]}"; do
  if ! (cd "$(dirname "$binary")" && "./$(basename "$binary")" --gtest_brief=1 '--gtest_filter=-*Slow*' \
        >"$build/$(basename "$binary").out" 2>&1); then
    cat "$build/$(basename "$binary").out" >&2
    echo "70-coverage: $(basename "$binary") failed" >&2
    exit 1
  fi
done

# Throw branches are the compiler's exception edges (nothing here throws),
# unreachable ones are those gcov marks as never possible.
status=0
gcovr --root . --object-directory "$build" \
  --filter 'abi/' --filter 'plugin/' --filter 'model/' --filter 'platform/' \
  --exclude-throw-branches --exclude-unreachable-branches \
  --txt "$build/coverage.txt" --print-summary \
  --fail-under-line 95 --fail-under-branch 90 >"$build/summary.txt" || status=$?
cat "$build/summary.txt"
if ((status != 0)); then
  cat "$build/coverage.txt"
  echo "70-coverage: below 95% of lines or 90% of branches" >&2
  exit "$status"
fi
