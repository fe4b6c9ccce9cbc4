#!/usr/bin/env bash
# Builds and runs every test: the warnings-as-errors build, the ASan+UBSan
# build, then every further check in scripts/checks/ (in name order).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
scripts/deps.sh
jobs=$(nproc)

run_suite() {  # name, build dir, extra cmake arguments...
  local name=$1 dir=$2
  shift 2
  echo "=== $name"
  cmake -S . -B "$dir" -DUDM_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" -LE 'slow|crosscheck')
}

run_suite "tests" build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Allocation-failure tests need malloc to fail rather than abort.
export ASAN_OPTIONS="allocator_may_return_null=1:detect_leaks=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
run_suite "tests under ASan+UBSan" build/sanitize -DCMAKE_BUILD_TYPE=Debug -DUDM_SANITIZE=ON -DUDM_BUILD_BENCH=OFF

for check in scripts/checks/*.sh; do
  [[ -e "$check" ]] || continue
  echo "=== $(basename "$check" .sh)"
  bash "$check"
done
echo "=== all tests passed"
