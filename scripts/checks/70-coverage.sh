#!/usr/bin/env bash
# Builds the project with gcov instrumentation, runs the test suite and
# measures which lines and branches of the plug-in, the model and the
# platform layer it reaches. Fails below 95% of lines or 90% of branches.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build/coverage
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DUDM_WERROR=ON -DUDM_COVERAGE=ON \
  -DUDM_BUILD_BENCH=OFF -DUDM_BUILD_HOST=OFF >/dev/null
cmake --build "$build" -j "$jobs" >/dev/null
find "$build" -name '*.gcda' -delete
(cd "$build" && ctest -j "$jobs" -LE 'slow|crosscheck' --output-on-failure >/dev/null)

# Throw branches are the compiler's exception edges (nothing here throws),
# unreachable ones are those gcov marks as never possible.
gcovr --root . --object-directory "$build" \
  --filter 'plugin/' --filter 'model/' --filter 'platform/' \
  --exclude-throw-branches --exclude-unreachable-branches \
  --txt "$build/coverage.txt" --print-summary \
  --fail-under-line 95 --fail-under-branch 90 | tee "$build/summary.txt" || {
  status=$?
  cat "$build/coverage.txt"
  echo "70-coverage: below 95% of lines or 90% of branches" >&2
  exit $status
}
